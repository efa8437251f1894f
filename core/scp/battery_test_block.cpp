#include "core/scp/battery_test_block.h"

#include "core/scp/local_calendar.h"
#include "platform/clock.h"

BatteryTestBlock::BatteryTestBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 4);
  SetRefreshPeriod(kRefreshNever);
  Reset();
}

int BatteryTestBlock::Refuse(int32_t function, int32_t code, int32_t value) {
  LogError(ERR_BATTERY_TEST_BLOCK, function, code, value);
  return -1;
}

void BatteryTestBlock::Reset() {
  mode_ = kNotConfigured;
  next_test_ = kNoTime;
  kept_ = -1;
  interval_ = 255;
  run_now_ = 255;
  branches_.SetFieldState(0, 0, FIELD_UNCHANGED);
  branches_.SetFieldState(1, 0, FIELD_UNCHANGED);
}

int BatteryTestBlock::GetRoute(int branch) {
  if (branch == 0 || branch == 1) return ROUTE_AGENT;
  return Refuse(FN_GET_ROUTE, 1, branch);
}

int BatteryTestBlock::SetMode(int m) {
  if (m != kModeOff && m != kModeOn && m != kNotConfigured) return Refuse(FN_SET_MODE, 1, m);
  mode_ = static_cast<uint8_t>(m);
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  return 1;
}

int BatteryTestBlock::SetNextTestTime(int64_t t) {
  if (t == -1) t = kNoTime;
  if (t <= 0 || t > static_cast<int64_t>(kNoTime)) {
    return Refuse(FN_SET_NEXT_TEST, 1, static_cast<int32_t>(t));
  }
  if (static_cast<uint32_t>(t) != next_test_) kept_ = -1;
  next_test_ = static_cast<uint32_t>(t);
  branches_.SetFieldState(1, 2, FIELD_CHANGED);
  return 1;
}

int BatteryTestBlock::SetIntervalDays(int d) {
  if (d < 1 || d > 255) return Refuse(FN_SET_INTERVAL, 1, d);
  interval_ = static_cast<uint8_t>(d);
  branches_.SetFieldState(1, 3, FIELD_CHANGED);
  return 1;
}

int BatteryTestBlock::SetRunNow(int v) {
  if (v < 1 || v > 255) return Refuse(FN_SET_RUN_NOW, 1, v);
  run_now_ = static_cast<uint8_t>(v);
  branches_.SetFieldState(1, 4, FIELD_CHANGED);
  return 1;
}

int64_t BatteryTestBlock::GetNextTest() {
  if (mode_ == kNotConfigured) return -1;
  if (mode_ == kModeOff) return 0;
  return ComputeNextTest();
}

int BatteryTestBlock::GetTimeOfDay() const { return ScheduleTimeOfDay(next_test_, kept_); }

bool BatteryTestBlock::CanRun() {
  if (mode_ != kModeOn) return true;
  if (next_test_ == 0 || next_test_ == kNoTime || interval_ == 0) return false;
  return ComputeNextTest() >= 0;
}

int64_t BatteryTestBlock::ComputeNextTest() { return FirstFrom(platform::Now()); }

int64_t BatteryTestBlock::FirstFrom(int64_t from) {
  const int64_t stored = next_test_;
  if (stored >= from) return stored;
  if (interval_ == 0) {
    // An interval of 0 never moves the time on.
    Refuse(FN_COMPUTE_NEXT, 2, 0);
    return -1;
  }
  const int timeOfDay = GetTimeOfDay();
  LocalDate date;
  LocalDate target;
  int hour = 0;
  int minute = 0;
  if (timeOfDay >= 0 && ScheduleDateOf(stored, timeOfDay, date) && LocalDateOf(from, target, hour, minute)) {
    // However long the computer was off or the clock was moved: on by whole intervals to a
    // couple of days before `from` at once, then interval by interval.
    const int64_t behind = DaysFromCivil(target) - 2 - DaysFromCivil(date);
    int64_t steps = behind > 0 ? behind / interval_ : 0;
    for (;;) {
      ++steps;
      const int64_t t = LocalMoment(AddDays(date, steps * interval_), timeOfDay / 60, timeOfDay % 60);
      if (t <= stored || t >= static_cast<int64_t>(kNoTime)) break;
      if (t >= from) return t;
    }
  }
  Refuse(FN_COMPUTE_NEXT, 1, static_cast<int32_t>(next_test_));
  return -1;
}

void BatteryTestBlock::StoreNextTest(int64_t t, int timeOfDay) {
  next_test_ = static_cast<uint32_t>(t);
  // Where the gap moved the next test, the schedule keeps its own time for the one after.
  kept_ = KeptTimeFor(t, timeOfDay);
  branches_.SetFieldState(1, 2, FIELD_CHANGED);
}

int BatteryTestBlock::IsTestDue() {
  if (run_now_ == 1) {
    run_now_ = 0;
    branches_.SetFieldState(1, 4, FIELD_CHANGED);
    return TEST_DUE;
  }
  if (mode_ == kNotConfigured) return TEST_NONE;
  if (mode_ == kModeOff) return TEST_NOT_YET;
  const int64_t now = platform::Now();
  const int timeOfDay = GetTimeOfDay();
  // A test whose time was jumped over by less than the grace is still due; the first time that
  // is not further past than that is the one to wait for.
  const int64_t t = FirstFrom(now - kScheduleGraceSeconds);
  // Without a next test time there is nothing to be due; answering "due" here would start a
  // test on every pass of the monitor loop.
  if (t < 0) return TEST_NONE;
  if (t >= now + kDueWindowSeconds) {
    if (t == static_cast<int64_t>(next_test_)) return TEST_NOT_YET;
    StoreNextTest(t, timeOfDay);
    return TEST_MOVED_ON;
  }
  const int64_t next = AddLocalDays(t, interval_, timeOfDay);
  if (next <= t || next >= static_cast<int64_t>(kNoTime)) {
    Refuse(FN_COMPUTE_NEXT, 1, static_cast<int32_t>(t));
    return TEST_NONE;
  }
  StoreNextTest(next, timeOfDay);
  return TEST_DUE;
}

int BatteryTestBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out,
                                   KT_RecordReader* in) {
  if (branch != 1) return Refuse(FN_CONVERT, 2, branch);
  KT_FieldIO io(direction, out, in);
  switch (field) {
    case 1: {
      uint8_t mode = mode_;
      const int r = io.U8(mode);
      if (r < 0) return r;
      if (mode != kModeOff && mode != kModeOn && mode != kNotConfigured) return Refuse(FN_CONVERT, 3, mode);
      mode_ = mode;
      return r;
    }
    case 2: {
      const uint32_t before = next_test_;
      const int r = io.U32(next_test_);
      if (next_test_ != before) kept_ = -1;
      return r;
    }
    case 3: {
      uint8_t interval = interval_;
      const int r = io.U8(interval);
      if (r < 0) return r;
      if (interval == 0) return Refuse(FN_CONVERT, 3, 0);
      interval_ = interval;
      return r;
    }
    case 4: return io.U8(run_now_);
    default: return Refuse(FN_CONVERT, 1, field);
  }
}

int BatteryTestBlock::ConvertFileTrailer(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    if (kept_ < 0) return 0;
    return WriteKeptTimes(*out, {KeptTime{0, next_test_, kept_}});
  }
  if (in == nullptr) return -1;
  // The file holds the block's data and at most the kept time of its one schedule. More is no
  // file an agent wrote: junk, judged as data that does not decode. A damaged kept time alone
  // costs only that time.
  if (in->Remaining() > KeptTimesBytes(1)) return Refuse(FN_CONVERT, 4, static_cast<int32_t>(in->Remaining()));
  for (const KeptTime& k : ReadKeptTimes(*in)) {
    if (k.index == 0 && k.moment == next_test_) kept_ = k.minuteOfDay;
  }
  return 0;
}
