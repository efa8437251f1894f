#include "core/scp/sched_shutdown_block.h"

#include <map>
#include <new>
#include <tuple>

#include "core/scp/local_calendar.h"
#include "platform/clock.h"

namespace {

// Longest search for a monthly day: any day 1..31 comes round within two months.
constexpr int kMaxMonthlySteps = 62;

// A moment as the record keeps it: 32 unsigned bits.
bool FitsRecord(int64_t t) { return t > 0 && t <= static_cast<int64_t>(UINT32_MAX); }

}  // namespace

SchedShutdownBlock::SchedShutdownBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 1);
  SetRefreshPeriod(kRefreshNever);
}

int SchedShutdownBlock::GetRoute(int /*branch*/) { return ROUTE_AGENT; }

void SchedShutdownBlock::Reset() {
  entries_.clear();
  entries_.shrink_to_fit();
  kept_.clear();
  current_ = -1;
}

bool SchedShutdownBlock::Replace(std::vector<schedule_struct>& table) {
  // The old entries that have a kept time, by their fields (few; a table can be large).
  auto fields = [](const schedule_struct& e) {
    return std::make_tuple(e.frequency, e.frequencyParam, e.startTime, e.restartMode, e.restartValue,
                           e.segment, e.segmentOnly);
  };
  std::vector<int> kept;
  try {
    std::multimap<decltype(fields(schedule_struct{})), int> old;
    for (size_t j = 0; j < entries_.size(); ++j) {
      if (kept_[j] >= 0) old.emplace(fields(entries_[j]), kept_[j]);
    }
    kept.assign(table.size(), -1);
    for (size_t i = 0; i < table.size() && !old.empty(); ++i) {
      const auto match = old.find(fields(table[i]));
      if (match == old.end()) continue;
      kept[i] = match->second;
      old.erase(match);
    }
  } catch (const std::bad_alloc&) {
    LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_NO_MEMORY, GetSocketError());
    return false;
  }
  entries_ = std::move(table);
  kept_ = std::move(kept);
  SelectCurrent();
  return true;
}

int SchedShutdownBlock::SetEntries(int count, const schedule_struct* entries) {
  std::vector<schedule_struct> table;
  if (count > 0 && entries != nullptr) {
    // Copy first: the source may be the block's own array.
    try {
      table.assign(entries, entries + count);
    } catch (const std::bad_alloc&) {
      LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_SET_ENTRIES, CODE_NO_MEMORY, GetSocketError());
      return -1;
    }
  }
  if (!Replace(table)) return -1;
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  return 0;
}

int SchedShutdownBlock::GetEntries(const schedule_struct*& out) const {
  out = entries_.empty() ? nullptr : entries_.data();
  return static_cast<int>(entries_.size());
}

const schedule_struct* SchedShutdownBlock::GetEntry(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= entries_.size()) return nullptr;
  return &entries_[static_cast<size_t>(i)];
}

int SchedShutdownBlock::GetTimeOfDay(int i) const {
  const schedule_struct* e = GetEntry(i);
  return e != nullptr ? ScheduleTimeOfDay(e->startTime, kept_[static_cast<size_t>(i)]) : -1;
}

int64_t SchedShutdownBlock::GetShutdownTime() const {
  const schedule_struct* e = GetEntry(current_);
  return e != nullptr ? static_cast<int64_t>(e->startTime) : 0;
}

int64_t SchedShutdownBlock::GetRestartTime() const {
  const schedule_struct* e = GetEntry(current_);
  if (e == nullptr) return 0;
  if (e->restartMode == kRestartAtMoment) return static_cast<int64_t>(static_cast<uint32_t>(e->restartValue));
  return static_cast<int64_t>(e->startTime) + e->restartValue;
}

int32_t SchedShutdownBlock::GetSegment() const {
  const schedule_struct* e = GetEntry(current_);
  return e != nullptr ? e->segment : 0;
}

uint32_t SchedShutdownBlock::GetLoadSegmentFlag() const {
  const schedule_struct* e = GetEntry(current_);
  return e != nullptr ? e->segmentOnly : 0;
}

void SchedShutdownBlock::SelectCurrent() {
  current_ = -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    // Smallest shutdown time as an unsigned number; the first of equal ones wins.
    if (current_ < 0 || entries_[i].startTime < entries_[static_cast<size_t>(current_)].startTime) {
      current_ = static_cast<int>(i);
    }
  }
}

namespace {

// The first date after `date` that the entry's repeat gives; false when it gives none.
bool NextRepeatDate(const schedule_struct& entry, LocalDate& date) {
  const unsigned param = entry.frequencyParam;
  switch (entry.frequency) {
    case SCHED_MONTHLY: {
      if (param < 1 || param > 31) return false;
      int steps = 0;
      do {
        date = AddDays(date, 1);
        if (++steps > kMaxMonthlySteps) return false;
      } while (static_cast<unsigned>(date.day) != param);
      return true;
    }
    case SCHED_WEEKLY:
      if (param < 1 || param > 7) return false;
      date = AddDays(date, 1);
      while (static_cast<unsigned>(WeekdayOf(date)) != param) date = AddDays(date, 1);
      return true;
    case SCHED_EVERY_N:
      if (param == 0) return false;
      date = AddDays(date, param);
      return true;
    case SCHED_DAILY:
      date = AddDays(date, 1);
      if (param != 0) {
        while (WeekdayOf(date) >= 6) date = AddDays(date, 1);
      }
      return true;
    default:
      return false;
  }
}

}  // namespace

int64_t SchedShutdownBlock::NextOccurrence(const schedule_struct& entry, int minuteOfDay, int64_t notBefore) {
  LocalDate date;
  int hour = 0;
  int minute = 0;
  if (entry.startTime == 0 || !LocalDateOf(entry.startTime, date, hour, minute)) return -1;
  if (minuteOfDay < 0) minuteOfDay = hour * 60 + minute;
  // Counted from the date the entry was due on, also where the gap moved its time past midnight.
  if (minuteOfDay >= kMinutesPerDay || !ScheduleDateOf(entry.startTime, minuteOfDay, date)) return -1;
  LocalDate target;
  if (notBefore > static_cast<int64_t>(entry.startTime) && LocalDateOf(notBefore, target, hour, minute)) {
    // Far behind (a computer off for months): on to a couple of days before `notBefore` at
    // once. Daily, weekly and monthly dates do not depend on where the count starts; every N
    // days keeps its step.
    const int64_t behind = DaysFromCivil(target) - 2 - DaysFromCivil(date);
    if (behind > 0 && entry.frequency == SCHED_EVERY_N && entry.frequencyParam != 0) {
      date = AddDays(date, behind / entry.frequencyParam * entry.frequencyParam);
    } else if (behind > 0) {
      date = AddDays(date, behind);
    }
  }
  for (;;) {
    if (!NextRepeatDate(entry, date)) return -1;
    const int64_t next = LocalMoment(date, minuteOfDay / 60, minuteOfDay % 60);
    // Always strictly later, and representable in the record.
    if (next <= static_cast<int64_t>(entry.startTime) || !FitsRecord(next)) return -1;
    if (next >= notBefore) return next;
  }
}

int SchedShutdownBlock::AdvanceSchedule(int64_t notBefore) {
  if (GetEntry(current_) == nullptr) return 0;
  const size_t index = static_cast<size_t>(current_);
  const schedule_struct& entry = entries_[index];
  bool remove = entry.frequency == SCHED_ONCE;
  const int timeOfDay = GetTimeOfDay(current_);
  int64_t next = -1;
  if (!remove) {
    next = NextOccurrence(entry, timeOfDay, notBefore);
    if (next < 0) {
      // A repeat that cannot move on would stay due for ever and hide every later entry.
      LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_CANNOT_REPEAT, entry.frequency);
      remove = true;
    }
  }
  if (remove) {
    try {
      std::vector<schedule_struct> table;
      std::vector<int> kept;
      table.reserve(entries_.size() - 1);
      kept.reserve(entries_.size() - 1);
      for (size_t i = 0; i < entries_.size(); ++i) {
        if (i == index) continue;
        table.push_back(entries_[i]);
        kept.push_back(kept_[i]);
      }
      entries_ = std::move(table);
      kept_ = std::move(kept);
    } catch (const std::bad_alloc&) {
      LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_NO_MEMORY, GetSocketError());
      return -1;
    }
  } else {
    entries_[index].startTime = static_cast<uint32_t>(next);
    // Where the gap moved this date's shutdown, the entry keeps its own time for the next.
    kept_[index] = KeptTimeFor(next, timeOfDay);
  }
  SelectCurrent();
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  return 1;
}

bool SchedShutdownBlock::CanRun() const {
  const int64_t now = platform::Now();
  for (const schedule_struct& e : entries_) {
    if (e.startTime == 0) return false;
    const unsigned param = e.frequencyParam;
    switch (e.frequency) {
      case SCHED_ONCE:
        // Past its grace, the agent would only drop it.
        if (static_cast<int64_t>(e.startTime) + kScheduleGraceSeconds < now) return false;
        break;
      case SCHED_DAILY:
        break;
      case SCHED_MONTHLY:
        if (param < 1 || param > 31) return false;
        break;
      case SCHED_WEEKLY:
        if (param < 1 || param > 7) return false;
        break;
      case SCHED_EVERY_N:
        if (param == 0) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

int SchedShutdownBlock::ValidateScheduleEntry(const schedule_struct& entry) {
  const int64_t now = platform::Now();
  if (entry.startTime == 0) return SCHED_BAD_START;
  if (static_cast<int64_t>(entry.startTime) < now) return SCHED_START_PAST;
  if (entry.restartMode == kRestartAtMoment) {
    const int64_t restart = static_cast<uint32_t>(entry.restartValue);
    if (restart == 0) return SCHED_BAD_RESTART;
    if (restart < now) return SCHED_RESTART_PAST;
    if (restart < static_cast<int64_t>(entry.startTime)) return SCHED_RESTART_BEFORE_START;
  }
  return SCHED_VALID;
}

int SchedShutdownBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out,
                                     KT_RecordReader* in) {
  if (branch != 1) {
    LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_BAD_BRANCH, branch);
    return -1;
  }
  if (field != 1) {
    LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_BAD_FIELD, field);
    return -1;
  }
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr || out->Put32(static_cast<uint32_t>(entries_.size())) < 0) return -1;
    for (const schedule_struct& e : entries_) {
      if (out->Put8(e.frequency) < 0 || out->Put16(e.frequencyParam) < 0 || out->Put32(e.startTime) < 0 ||
          out->Put8(e.restartMode) < 0 || out->Put32(static_cast<uint32_t>(e.restartValue)) < 0 ||
          out->Put32(e.segmentOnly) < 0 || out->Put32(static_cast<uint32_t>(e.segment)) < 0) {
        return -1;
      }
    }
    return 0;
  }

  if (in == nullptr) return -1;
  uint32_t count = 0;
  if (in->Get32(count) < 0) return -1;
  // The count must be backed by the bytes that follow before anything is allocated.
  if (count > in->Remaining() / kSchedEntryBytes) {
    LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_BAD_COUNT, static_cast<int32_t>(count));
    return -1;
  }
  std::vector<schedule_struct> table;
  try {
    table.resize(count);
  } catch (const std::bad_alloc&) {
    LogError(ERR_SCHED_SHUTDOWN_BLOCK, FN_CONVERT, CODE_NO_MEMORY, GetSocketError());
    return -1;
  }
  for (schedule_struct& e : table) {
    uint32_t segment = 0;
    uint32_t restart = 0;
    if (in->Get8(e.frequency) < 0 || in->Get16(e.frequencyParam) < 0 || in->Get32(e.startTime) < 0 ||
        in->Get8(e.restartMode) < 0 || in->Get32(restart) < 0 || in->Get32(e.segmentOnly) < 0 ||
        in->Get32(segment) < 0) {
      return -1;
    }
    e.restartValue = static_cast<int32_t>(restart);
    e.segment = static_cast<int32_t>(segment);
  }
  return Replace(table) ? 0 : -1;
}

int SchedShutdownBlock::ConvertFileTrailer(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    std::vector<KeptTime> kept;
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (kept_[i] >= 0) kept.push_back({static_cast<uint16_t>(i), entries_[i].startTime, kept_[i]});
    }
    return WriteKeptTimes(*out, kept);
  }
  if (in == nullptr) return -1;
  for (const KeptTime& k : ReadKeptTimes(*in)) {
    if (k.index < entries_.size() && entries_[k.index].startTime == k.moment) kept_[k.index] = k.minuteOfDay;
  }
  return 0;
}
