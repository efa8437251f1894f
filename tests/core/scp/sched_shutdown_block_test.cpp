#include "core/scp/sched_shutdown_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/scp/battery_test_block.h"
#include "core/scp/local_calendar.h"
#include "core/scp/scp_frame.h"
#include "tests/core/scoped_time_zone.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::ScopedTimeZone;
using testing_support::TempDir;

schedule_struct Entry(uint8_t repeat, uint16_t param, int64_t start) {
  schedule_struct e;
  e.frequency = repeat;
  e.frequencyParam = param;
  e.startTime = static_cast<uint32_t>(start);
  return e;
}

// Advances a block holding one entry and answers the new shutdown time.
int64_t AdvanceOnce(const schedule_struct& e) {
  SchedShutdownBlock b;
  b.SetEntries(1, &e);
  EXPECT_EQ(b.AdvanceSchedule(), 1);
  return b.GetShutdownTime();
}

// The block as an agent that stopped (the computer shut down) and started again has it, its
// record file read by a new block, then sent back whole by a console. The file holds more than
// the block's data only while the gap has moved the time.
template <class Block>
void Restart(Block& b, uint8_t id, bool moved) {
  KT_RecordWriter plain;
  KT_RecordWriter file;
  ASSERT_GT(b.ConvertBlock(CONVERT_ENCODE, &plain, nullptr), 0);
  ASSERT_GT(b.ConvertBlock(CONVERT_ENCODE, &file, nullptr), 0);
  ASSERT_GE(b.ConvertFileTrailer(CONVERT_ENCODE, &file, nullptr), 0);
  EXPECT_EQ(file.Data() != plain.Data(), moved);
  Block fresh;
  KT_RecordReader in(file.Data());
  ASSERT_GE(fresh.ConvertBlock(CONVERT_DECODE, nullptr, &in), 0);
  fresh.ConvertFileTrailer(CONVERT_DECODE, nullptr, &in);
  Bytes reply;
  KT_ScpMessage m;
  ASSERT_EQ(fresh.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {id, 1})), 1);
  ASSERT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  ASSERT_GE(fresh.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {id, 1}, m.data)), 0);
  b = fresh;
}

// Daily, weekly and every-3-days shutdowns and battery tests run once on each of their days at
// the time they were set to across both changes of four zones: at the time the gap moved it to
// on the day clocks go forward (02:30 to 03:30; where the gap crosses midnight, a Saturday's
// 23:30 to Sunday 00:30, and the schedule goes on from Saturday), and at the first of two where
// the time comes twice.
TEST(RepeatingSchedules, KeepTheTimeOfDayTheyWereSetToAcrossEveryChange) {
  TempDir dir;
  const struct {
    const char* zone;
    LocalDate day;  // of the change: the set time does not exist that day, or comes twice
    int hour;       // the set time, hour:30
    int runDay;     // that day's run: days after `day`, and its hour
    int runHour;
    bool gap;
    bool twice;
  } changes[] = {{"Europe/Berlin", {2027, 3, 28}, 2, 0, 3, true, false},
                 {"Europe/Berlin", {2027, 10, 31}, 2, 0, 2, false, true},
                 {"America/New_York", {2027, 3, 14}, 2, 0, 3, true, false},
                 {"America/New_York", {2027, 11, 7}, 2, 0, 2, false, false},
                 {"America/Nuuk", {2027, 3, 27}, 23, 1, 0, true, false},
                 {"America/Nuuk", {2027, 10, 30}, 23, 0, 23, false, true},
                 {"America/Scoresbysund", {2027, 3, 27}, 23, 1, 0, true, false},
                 {"America/Scoresbysund", {2027, 10, 30}, 23, 0, 23, false, true}};
  const struct {
    uint8_t type;
    int days;
  } repeats[] = {{SCHED_DAILY, 1}, {SCHED_WEEKLY, 7}, {SCHED_EVERY_N, 3}};
  std::string skipped;
  for (const auto& c : changes) {
    ScopedTimeZone zone(c.zone);
    // Time zone data older than the zone's present rules (Greenland's are recent) may put that
    // day's change elsewhere: the row is tried only where the set time is missing, or comes
    // twice, as the row expects, next to a change.
    const auto reads = [&](int64_t t) {
      const struct tm p = ScopedTimeZone::Parts(t);
      return p.tm_mday == c.day.day && p.tm_hour == c.hour && p.tm_min == 30;
    };
    const int64_t set = ScopedTimeZone::Local(c.day.year, c.day.month, c.day.day, c.hour, 30);
    const bool twice = reads(set) && (reads(set - 3600) || reads(set + 3600));
    if (reads(set) == c.gap || twice != c.twice ||
        ScopedTimeZone::Parts(set - 7200).tm_gmtoff == ScopedTimeZone::Parts(set + 7200).tm_gmtoff) {
      skipped += std::string(skipped.empty() ? "" : ", ") + c.zone + " " + std::to_string(c.day.month) + "/" +
                 std::to_string(c.day.year);
      continue;
    }
    for (const auto& r : repeats) {
      SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.day.month) + ", repeat " + std::to_string(r.type));
      // Two runs before the change day, the change day (k = 2), two after.
      const LocalDate first = AddDays(c.day, -2 * r.days);
      auto runsAt = [&](int64_t t, int k) {
        const LocalDate d = AddDays(first, k * r.days + (k == 2 ? c.runDay : 0));
        const struct tm tm = ScopedTimeZone::Parts(t);
        EXPECT_EQ(std::vector<int>({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec}),
                  std::vector<int>({d.year, d.month, d.day, k == 2 ? c.runHour : c.hour, 30, 0}))
            << k;
        if (c.twice && k == 2) {
          EXPECT_EQ(tm.tm_isdst, 1) << "the first of the two";
        }
      };
      const int64_t start = ScopedTimeZone::Local(first.year, first.month, first.day, c.hour, 30);
      SchedShutdownBlock shutdowns;
      // Weekly on the weekday of the change.
      const uint16_t param = r.type == SCHED_WEEKLY    ? static_cast<uint16_t>(WeekdayOf(c.day))
                             : r.type == SCHED_EVERY_N ? static_cast<uint16_t>(r.days)
                                                       : 0;
      const schedule_struct e = Entry(r.type, param, start);
      shutdowns.SetEntries(1, &e);
      ScopedManualClock clock(start - 60);
      BatteryTestBlock tests;
      ASSERT_EQ(tests.SetMode(1) + tests.SetNextTestTime(start) + tests.SetIntervalDays(r.days), 3);
      for (int k = 0; k < 5; ++k) {
        const bool moved = c.gap && k + 1 == 2;
        runsAt(shutdowns.GetShutdownTime(), k);
        ASSERT_EQ(shutdowns.AdvanceSchedule(), 1);
        Restart(shutdowns, SchedShutdownBlock::kBlockId, moved);
        const int64_t due = tests.GetNextTestTime();
        runsAt(due, k);
        clock->Set(due);
        EXPECT_EQ(tests.IsTestDue(), 1) << k;
        Restart(tests, BatteryTestBlock::kBlockId, moved);
        clock->Set(due + 3600);  // not again that day, also where the hour comes twice
        EXPECT_EQ(tests.IsTestDue(), 0) << k;
      }
    }
  }
  if (!skipped.empty())
    GTEST_SKIP() << "this system's time zone data change the clocks elsewhere: " << skipped;
}

class SchedInBerlin : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedTimeZone zone_{"Europe/Berlin"};
};

TEST_F(SchedInBerlin, WeeklyKeepsTheLocalTimeAcrossTheSpringChange) {
  // Monday 23 March 2026 22:30 CET; clocks go forward on Sunday 29 March.
  const int64_t start = ScopedTimeZone::Local(2026, 3, 23, 22, 30);
  const int64_t next = AdvanceOnce(Entry(SCHED_WEEKLY, 1, start));
  EXPECT_EQ(next, ScopedTimeZone::Local(2026, 3, 30, 22, 30));
  EXPECT_EQ(next - start, 7 * 86400 - 3600);  // one hour less of real time
  const struct tm tm = ScopedTimeZone::Parts(next);
  EXPECT_EQ(tm.tm_wday, 1);
  EXPECT_EQ(tm.tm_hour, 22);
  EXPECT_EQ(tm.tm_min, 30);
  EXPECT_EQ(tm.tm_sec, 0);

  // Seconds of the old time are dropped; Sunday is weekday 7.
  const int64_t sunday = AdvanceOnce(Entry(SCHED_WEEKLY, 7, start + 17));
  EXPECT_EQ(sunday, ScopedTimeZone::Local(2026, 3, 29, 22, 30));
}

TEST_F(SchedInBerlin, MonthlyThirtyFirstSkipsShortMonths) {
  const int64_t jan = ScopedTimeZone::Local(2026, 1, 31, 3, 15);
  const int64_t mar = AdvanceOnce(Entry(SCHED_MONTHLY, 31, jan));
  EXPECT_EQ(mar, ScopedTimeZone::Local(2026, 3, 31, 3, 15));  // past February, into summer time
  EXPECT_EQ(ScopedTimeZone::Parts(mar).tm_isdst, 1);
  EXPECT_EQ(AdvanceOnce(Entry(SCHED_MONTHLY, 31, mar)), ScopedTimeZone::Local(2026, 5, 31, 3, 15));
  // Day 29 in a common year waits for March.
  EXPECT_EQ(AdvanceOnce(Entry(SCHED_MONTHLY, 29, jan)), ScopedTimeZone::Local(2026, 3, 29, 3, 15));
}

TEST_F(SchedInBerlin, DailySkipsTheWeekendAcrossTheAutumnChange) {
  // Friday 23 October 2026 21:00 CEST; clocks go back on Sunday 25 October.
  const int64_t friday = ScopedTimeZone::Local(2026, 10, 23, 21, 0);
  const int64_t monday = AdvanceOnce(Entry(SCHED_DAILY, 1, friday));
  EXPECT_EQ(monday, ScopedTimeZone::Local(2026, 10, 26, 21, 0));
  EXPECT_EQ(monday - friday, 3 * 86400 + 3600);
  EXPECT_EQ(ScopedTimeZone::Parts(monday).tm_hour, 21);
  EXPECT_EQ(AdvanceOnce(Entry(SCHED_DAILY, 0, friday)), ScopedTimeZone::Local(2026, 10, 24, 21, 0));
  EXPECT_EQ(AdvanceOnce(Entry(SCHED_EVERY_N, 3, friday)), ScopedTimeZone::Local(2026, 10, 26, 21, 0));
}

TEST_F(SchedInBerlin, RepeatsThatCannotAdvanceAreRemovedNotLooped) {
  // Each of these arrives through a SET or sch_shut.dat without validation; none may hang
  // AdvanceSchedule or stay due for ever in front of the good entry.
  const int64_t t = ScopedTimeZone::Local(2026, 6, 1, 12, 0);
  const schedule_struct good = Entry(SCHED_WEEKLY, 3, t + 86400);
  for (const schedule_struct& bad : {Entry(SCHED_MONTHLY, 0, t), Entry(SCHED_MONTHLY, 32, t),
                                     Entry(SCHED_WEEKLY, 0, t), Entry(SCHED_WEEKLY, 8, t),
                                     Entry(SCHED_EVERY_N, 0, t), Entry(9, 1, t), Entry(SCHED_DAILY, 1, 0)}) {
    SCOPED_TRACE(static_cast<int>(bad.frequency) * 1000 + bad.frequencyParam);
    SchedShutdownBlock b;
    const schedule_struct table[] = {good, bad};
    b.SetEntries(2, table);
    EXPECT_EQ(b.GetCurrentIndex(), 1);
    EXPECT_EQ(b.AdvanceSchedule(), 1);
    EXPECT_EQ(b.errorClass, ERR_SCHED_SHUTDOWN_BLOCK);
    EXPECT_EQ(b.code, SchedShutdownBlock::CODE_CANNOT_REPEAT);
    ASSERT_EQ(b.GetCount(), 1);
    EXPECT_EQ(b.GetShutdownTime(), t + 86400);
  }
}

TEST_F(SchedInBerlin, OneTimeEntryGoesAndTheNextBecomesCurrent) {
  const int64_t t = ScopedTimeZone::Local(2026, 6, 1, 12, 0);
  SchedShutdownBlock b;
  const schedule_struct only = Entry(SCHED_ONCE, 0, t);
  b.SetEntries(1, &only);
  EXPECT_EQ(b.AdvanceSchedule(), 1);
  EXPECT_EQ(b.GetCount(), 0);
  EXPECT_EQ(b.GetShutdownTime(), 0);
  EXPECT_EQ(b.GetCurrentIndex(), -1);
  EXPECT_EQ(b.AdvanceSchedule(), 0);

  // The smallest time is current (first of equal ones); times compare as unsigned numbers.
  const schedule_struct table[] = {Entry(SCHED_ONCE, 0, 0x90000000u), Entry(SCHED_ONCE, 0, t),
                                   Entry(SCHED_DAILY, 0, t), Entry(SCHED_ONCE, 0, t + 60)};
  b.SetEntries(4, table);
  EXPECT_EQ(b.GetCurrentIndex(), 1);
  EXPECT_EQ(b.AdvanceSchedule(), 1);
  EXPECT_EQ(b.GetCount(), 3);
  EXPECT_EQ(b.GetCurrentIndex(), 1);  // the daily entry, now at index 1
  EXPECT_EQ(b.AdvanceSchedule(), 1);  // daily moves to tomorrow
  EXPECT_EQ(b.GetShutdownTime(), t + 60);
}

TEST(SchedShutdownBlock, CurrentEntryTimesAndSetEntriesFromItsOwnArray) {
  SchedShutdownBlock b;
  EXPECT_EQ(b.GetRestartTime(), 0);
  schedule_struct e = Entry(SCHED_ONCE, 0, 5000);
  e.restartMode = 1;
  e.restartValue = 600;
  e.segment = 2;
  e.segmentOnly = 1;
  schedule_struct e2 = Entry(SCHED_ONCE, 0, 7000);
  e2.restartMode = kRestartAtMoment;
  e2.restartValue = 9000;
  const schedule_struct table[] = {e2, e};
  b.SetEntries(2, table);
  EXPECT_EQ(b.GetShutdownTime(), 5000);
  EXPECT_EQ(b.GetRestartTime(), 5600);
  EXPECT_EQ(b.GetSegment(), 2);
  EXPECT_EQ(b.GetLoadSegmentFlag(), 1u);

  const schedule_struct* own = nullptr;
  ASSERT_EQ(b.GetEntries(own), 2);
  EXPECT_EQ(b.SetEntries(2, own), 0);  // the block's own array, freed and copied in one step
  ASSERT_EQ(b.GetCount(), 2);
  EXPECT_EQ(*b.GetEntry(0), e2);
  EXPECT_EQ(*b.GetEntry(1), e);
  EXPECT_EQ(b.GetEntry(2), nullptr);
  EXPECT_EQ(b.SetEntries(0, nullptr), 0);
  EXPECT_EQ(b.GetEntries(own), 0);
  EXPECT_EQ(own, nullptr);
}

TEST(SchedShutdownBlock, ValidationResultsInTheirOrder) {
  ScopedManualClock clock(100000);
  auto with = [](int64_t start, uint8_t mode, int64_t restart) {
    schedule_struct e = Entry(SCHED_ONCE, 0, start);
    e.restartMode = mode;
    e.restartValue = static_cast<int32_t>(restart);
    return SchedShutdownBlock::ValidateScheduleEntry(e);
  };
  EXPECT_EQ(with(0, 0, 0), 1);
  EXPECT_EQ(with(99999, kRestartAtMoment, 0), 3);  // the start is tested first
  EXPECT_EQ(with(100000, 0, -50), 0);              // only kind 3 looks at the restart
  EXPECT_EQ(with(100500, kRestartAtMoment, 0), 2);
  EXPECT_EQ(with(100500, kRestartAtMoment, 99000), 4);
  EXPECT_EQ(with(100500, kRestartAtMoment, 100200), 5);
  EXPECT_EQ(with(100500, kRestartAtMoment, 100500), 0);  // restart at the shutdown moment
}

TEST(SchedShutdownBlock, RecordLayoutPutsTheFlagBeforeTheSegment) {
  SchedShutdownBlock b;
  schedule_struct e = Entry(SCHED_WEEKLY, 0x0102, 0x11223344);
  e.restartMode = 3;
  e.restartValue = 0x55667788;
  e.segmentOnly = 1;
  e.segment = 2;
  b.SetEntries(1, &e);
  Bytes reply;
  ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {24, 1, 1})), 1);
  KT_ScpMessage m;
  ASSERT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  const Bytes expected{0, 0, 0, 1, 2, 1, 2, 0x11, 0x22, 0x33, 0x44, 3, 0x55, 0x66, 0x77, 0x88, 0, 0, 0, 1, 0, 0, 0, 2};
  EXPECT_EQ(m.data, expected);

  SchedShutdownBlock copy;
  ASSERT_GE(copy.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {24, 1}, expected)), 0);
  ASSERT_EQ(copy.GetCount(), 1);
  EXPECT_EQ(*copy.GetEntry(0), e);
  EXPECT_EQ(copy.GetCurrentIndex(), 0);
  EXPECT_NE(copy.Branches().GetTime(1), 0);
}

TEST(SchedShutdownBlock, CountsNotBackedByTheBytesAreRefused) {
  TempDir dir;
  SchedShutdownBlock b;
  const schedule_struct e = Entry(SCHED_ONCE, 0, 5000);
  b.SetEntries(1, &e);
  Bytes reply;
  // A count of 0x7FFFFFFF with one entry's bytes, and one entry with a byte missing.
  Bytes huge{0x7F, 0xFF, 0xFF, 0xFF};
  huge.resize(4 + kSchedEntryBytes, 0);
  EXPECT_LT(b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {24, 1, 1}, huge)), 0);
  EXPECT_EQ(b.code, SchedShutdownBlock::CODE_BAD_COUNT);
  Bytes short_entry{0, 0, 0, 1};
  short_entry.resize(4 + kSchedEntryBytes - 1, 0);
  EXPECT_LT(b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {24, 1, 1}, short_entry)), 0);
  ASSERT_EQ(b.GetCount(), 1);
  EXPECT_EQ(b.GetShutdownTime(), 5000);
  // Other fields and branches are refused with their error records.
  EXPECT_LT(b.ConvertField(1, 2, CONVERT_DECODE, nullptr, nullptr), 0);
  EXPECT_EQ(b.code, SchedShutdownBlock::CODE_BAD_FIELD);
  EXPECT_LT(b.ConvertField(2, 1, CONVERT_DECODE, nullptr, nullptr), 0);
  EXPECT_EQ(b.code, SchedShutdownBlock::CODE_BAD_BRANCH);
}

}  // namespace
