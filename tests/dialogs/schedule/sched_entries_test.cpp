// The scheduled-shutdown entry rules on their own, under TZ=Europe/Berlin and the C locale, on
// the manual clock.
#include "dialogs/schedule/sched_entries.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/scp/local_calendar.h"
#include "platform/clock.h"

namespace {

using namespace sched_entries;

int64_t At(int y, int mo, int d, int h, int mi) {
  return LocalMoment(LocalDate{y, mo, d}, h, mi);
}

class SchedEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    old_tz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    std::setlocale(LC_ALL, "C");
    clock_.Set(At(2026, 3, 25, 10, 0));  // a Wednesday
    platform::SetClock(&clock_);
  }
  void TearDown() override {
    platform::SetClock(nullptr);
    if (old_tz_)
      setenv("TZ", old_tz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  platform::ManualClock clock_;
  std::optional<std::string> old_tz_;
};

TEST_F(SchedEntriesTest, OrdinalsAndDurations) {
  const std::pair<int, const char*> ordinals[] = {{1, "1st"},   {2, "2nd"},   {3, "3rd"},   {4, "4th"},
                                                  {11, "11th"}, {12, "12th"}, {13, "13th"}, {21, "21st"},
                                                  {22, "22nd"}, {23, "23rd"}, {31, "31st"}};
  for (const auto& [n, text] : ordinals) EXPECT_EQ(Ordinal(n), text);

  struct Case {
    uint32_t seconds;
    int model;
    const char* text;
  };
  const Case durations[] = {
      {86400, 0, "24 hours "},
      {90000, 0, "25 hours "},
      {172800, 0, "2 days "},
      {9000, 0, "2 hours 30 minutes "},
      {172800 + 60, 0, "2 days 1 minutes "},
      {3661, 0, "1 hours 1 minutes "},
      {3661, 15, "1 hours 1 minutes 1 seconds "},
      {7500, 15, "2 hours 5 minutes "},
      {7200, 15, "2 hours "},
      {86430, 15, "24 hours 30 seconds "},
      {45, 15, "45 seconds "},
  };
  for (const Case& c : durations)
    EXPECT_EQ(DurationText(c.seconds, c.model), c.text) << c.seconds << " " << c.model;
}

TEST_F(SchedEntriesTest, EntryTexts) {
  const uint32_t start = static_cast<uint32_t>(At(1997, 3, 5, 21, 0));
  const SchedLoadState three{true, 3, 0};
  const SchedLoadState none{false, 0, 0};
  struct Case {
    schedule_struct e;
    SchedLoadState load;
    const char* text;
  };
  const Case cases[] = {
      // Two blanks before LOAD: the duration ends in one.
      {{SCHED_DAILY, 1, start, 2, 9000, 1, 1},
       three,
       "SHUTDOWN: Daily, except on weekends, starting March 5, 1997 at 9:00 PM. RESTART: after 2 hours 30 "
       "minutes  LOAD CONTROL: only turn off load segment: 2."},
      {{SCHED_ONCE, 0, start, 3, static_cast<int32_t>(start), -1, 0},
       none,
       "SHUTDOWN: Once on March 5, 1997 at 9:00 PM (after shutting down Operating System). RESTART: "
       "immediately."},
      {{SCHED_ONCE, 0, start, 0, 0, 3, 0},
       three,
       "SHUTDOWN: Once on March 5, 1997 at 9:00 PM (after shutting down Operating System). RESTART: "
       "immediately. LOAD CONTROL: turn off ALL load segments."},
      {{SCHED_MONTHLY, 31, start, 0, 1800, -1, 0},
       none,
       "SHUTDOWN: Monthly on the 31st starting on March 5, 1997 at 9:00 PM (after shutting down Operating "
       "System). RESTART: the same day at 9:30 PM."},
      {{SCHED_WEEKLY, 1, start, 1, 12 * 3600 + 5 * 60, -1, 0},
       none,
       "SHUTDOWN: Weekly on Monday starting on March 5, 1997 at 9:00 PM (after shutting down Operating "
       "System). RESTART: the next day at 9:05 AM."},
      {{SCHED_EVERY_N, 3, start, 3, static_cast<int32_t>(start + 86400 * 2 + 3600 * 3), 9, 1},
       SchedLoadState{true, 12, 0},
       "SHUTDOWN: Every 3 days starting on March 5, 1997 at 9:00 PM. RESTART: on March 8, 1997 at 12:00 AM "
       "LOAD CONTROL: only turn off load segment: 10."},
      {{SCHED_DAILY, 0, start, 2, 0, -1, 0},
       none,
       "SHUTDOWN: Daily starting March 5, 1997 at 9:00 PM (after shutting down Operating System). RESTART: "
       "immediately."},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildDescription(c.e, c.load).toStdString(), c.text);
}

TEST_F(SchedEntriesTest, TwelveHourTimes) {
  struct Index {
    int h, m, index, pm;
  };
  for (const Index& c : {Index{0, 0, 0, 0}, Index{12, 0, 0, 1}, Index{9, 15, 37, 0}, Index{13, 45, 7, 1},
                         Index{23, 59, 47, 1}}) {
    int index = -1, pm = -1;
    GetIndexesFromTime(At(2026, 3, 25, c.h, c.m), index, pm);
    EXPECT_EQ(index, c.index) << c.h << ":" << c.m;
    EXPECT_EQ(pm, c.pm) << c.h << ":" << c.m;
  }
  EXPECT_EQ(GetTimeString(At(2026, 3, 25, 9, 5)), "9:05");
  EXPECT_EQ(GetTimeString(At(2026, 3, 25, 12, 30)), "12:30");
  EXPECT_EQ(GetTimeString(At(2026, 3, 25, 0, 15)), "12:15");

  struct Typed {
    const char* text;
    int pm;
    bool reads;
    int64_t moment;
  };
  const Typed typed[] = {
      {"12:00", 0, true, At(2026, 3, 25, 0, 0)},   // midnight
      {"12:00", 1, true, At(2026, 3, 25, 12, 0)},  // noon
      {"9:05", 1, true, At(2026, 3, 25, 21, 5)},
      {"13:30", 0, true, At(2026, 3, 25, 13, 30)},
      {"9:75", 0, true, 0},  // not 10:15
      {"13:75", 1, true, 0},
      {"24:00", 0, true, 0},
      {"9", 0, false, 0},
      {"", 0, false, 0},
      {"ab:cd", 0, false, 0},
  };
  for (const Typed& c : typed) {
    int64_t t = -1;
    EXPECT_EQ(SetTime(t, QString::fromLatin1(c.text), c.pm), c.reads) << c.text;
    if (c.reads) {
      EXPECT_EQ(t, c.moment) << c.text;
    }
  }
}

TEST_F(SchedEntriesTest, ListOrderAndDuplicates) {
  auto entry = [](uint32_t start) { return schedule_struct{SCHED_ONCE, 0, start, 2, 0, -1, 0}; };
  const std::vector<SchedListRow> rows = {{"a", entry(100)}, {"b", entry(200)}, {"c", entry(0x80000000u)}};
  struct Case {
    const char* text;
    uint32_t start;
    bool check;
    int place;
    const char* refusal;
  };
  const Case cases[] = {
      {"x", 50, true, 0, ""},
      {"x", 150, true, 1, ""},
      {"x", 0x90000000u, true, 3, ""},  // unsigned: after 0x80000000
      {"x", 0x7FFFFFFFu, true, 2, ""},
      {"b", 300, true, -1, "This entry has already been made."},
      {"y", 200, true, -1, "An entry with this start time has already been made."},
      {"b", 200, false, 2, ""},  // from the agent: listed as it comes, after its equal
  };
  for (const Case& c : cases) {
    QString refusal;
    EXPECT_EQ(ListPlace(rows, c.text, entry(c.start), c.check, &refusal), c.place)
        << c.text << " " << c.start;
    EXPECT_EQ(refusal.toStdString(), c.refusal);
  }
}

TEST_F(SchedEntriesTest, EntryCheckMessages) {
  const uint32_t now = static_cast<uint32_t>(platform::Now());
  struct Case {
    schedule_struct e;
    const char* message;
  };
  const Case cases[] = {
      {{SCHED_ONCE, 0, 0, 2, 0, -1, 0}, "Invalid start time!"},
      {{SCHED_ONCE, 0, now + 60, 3, 0, -1, 0}, "Invalid restart time!"},
      {{SCHED_ONCE, 0, now - 60, 2, 0, -1, 0}, "The start time is before the current time!"},
      {{SCHED_ONCE, 0, now + 60, 3, static_cast<int32_t>(now - 60), -1, 0},
       "The restart time is before the current time!"},
      {{SCHED_ONCE, 0, now + 600, 3, static_cast<int32_t>(now + 60), -1, 0},
       "The restart time is before the start time!"},
      {{SCHED_ONCE, 0, now + 600, 3, static_cast<int32_t>(now + 600), -1, 0}, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CheckMessage(SchedShutdownBlock::ValidateScheduleEntry(c.e)).toStdString(), c.message);
}

TEST_F(SchedEntriesTest, PostponementKeepsTheRestartMoment) {
  const uint32_t start = static_cast<uint32_t>(At(2026, 3, 26, 21, 0));
  struct Case {
    uint8_t mode;
    int32_t value;
    uint32_t delay;
    uint8_t mode_after;
    int32_t value_after;
  };
  const Case cases[] = {
      {0, 1200, 1800, 0, 0},  // same day +20 minutes, postponed by 30: immediately
      {0, 3600, 1800, 0, 1800},
      {1, 43200, 600, 1, 42600},
      {2, 7200, 1800, 2, 5400},
      {2, 1800, 1800, 0, 0},
      {3, static_cast<int32_t>(start + 3600), 1800, 3, static_cast<int32_t>(start + 3600)},
      {3, static_cast<int32_t>(start + 1800), 1800, 0, 0},
  };
  for (const Case& c : cases) {
    schedule_struct e{SCHED_ONCE, 0, start, c.mode, c.value, -1, 0};
    Postpone(e, c.delay);
    EXPECT_EQ(e.startTime, start + c.delay);
    EXPECT_EQ(e.restartMode, c.mode_after) << int(c.mode) << " " << c.value;
    EXPECT_EQ(e.restartValue, c.value_after) << int(c.mode) << " " << c.value;
  }
  schedule_struct e{SCHED_ONCE, 0, start, 0, 1200, -1, 0};
  Postpone(e, 1800);
  EXPECT_TRUE(BuildDescription(e, SchedLoadState{}).endsWith(" RESTART: immediately."));
}

TEST_F(SchedEntriesTest, StartDatesOfTheFrequencies) {
  const int64_t wednesday = At(2026, 3, 25, 10, 0);
  // Skip weekends: Saturday and Sunday go to Monday (across the change to summer time), same time.
  EXPECT_EQ(SkipWeekends(At(2026, 3, 28, 21, 15)), At(2026, 3, 30, 21, 15));
  EXPECT_EQ(SkipWeekends(At(2026, 3, 29, 21, 15)), At(2026, 3, 30, 21, 15));
  EXPECT_EQ(SkipWeekends(At(2026, 3, 27, 21, 15)), At(2026, 3, 27, 21, 15));
  // Weekly: the first matching date from today, today included.
  EXPECT_EQ(WeeklyStart(wednesday, At(2026, 4, 2, 22, 45), 3), At(2026, 3, 25, 22, 45));
  EXPECT_EQ(WeeklyStart(wednesday, At(2026, 3, 25, 22, 45), 1), At(2026, 3, 30, 22, 45));
  EXPECT_EQ(WeeklyStart(wednesday, At(2026, 3, 25, 22, 45), 2), At(2026, 3, 31, 22, 45));
  // Monthly: the 31st skips April; the 25th is today.
  EXPECT_EQ(MonthlyStart(At(2026, 4, 1, 8, 0), At(2026, 4, 1, 8, 0), 31), At(2026, 5, 31, 8, 0));
  EXPECT_EQ(MonthlyStart(wednesday, At(2026, 3, 30, 7, 0), 25), At(2026, 3, 25, 7, 0));
  EXPECT_EQ(MonthlyStart(At(2026, 2, 1, 8, 0), At(2026, 2, 1, 8, 0), 30), At(2026, 3, 30, 8, 0));
  // Calendar dates.
  EXPECT_FALSE(IsValidDate(2026, 2, 31));
  EXPECT_FALSE(IsValidDate(2026, 2, 29));
  EXPECT_TRUE(IsValidDate(2028, 2, 29));
  EXPECT_FALSE(IsValidDate(2026, 13, 1));
  EXPECT_EQ(WithDate(wednesday, 2026, 2, 31), 0);
  EXPECT_EQ(WithDate(wednesday, 2026, 4, 30), At(2026, 4, 30, 10, 0));
}

TEST_F(SchedEntriesTest, NumbersOfTheEdits) {
  struct Days {
    const char* text;
    bool ok;
    uint16_t days;
  };
  for (const Days& c :
       {Days{"", false, 0}, Days{"0", false, 0}, Days{"70000", false, 0}, Days{"-1", false, 0},
        Days{"x", false, 0}, Days{"1", true, 1}, Days{"65535", true, 65535}, Days{" 7 ", true, 7}}) {
    uint16_t n = 0;
    EXPECT_EQ(ParseEveryNDays(QString::fromLatin1(c.text), n), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(n, c.days);
    }
  }
  struct After {
    const char *d, *h, *m;
    bool ok;
    int32_t seconds;
  };
  const After afters[] = {
      {"", "", "", true, 0},        {"1", "2", "3", true, 93780},      {"-1", "", "", false, 0},
      {"", "-5", "", false, 0},     {"30000", "", "", false, 0},       {"24855", "", "", true, 2147472000},
      {"24855", "4", "", false, 0}, {"", "", "99999999999", false, 0}, {"1x", "", "", false, 0},
  };
  for (const After& c : afters) {
    int32_t s = -1;
    EXPECT_EQ(ParseRestartAfter(c.d, c.h, c.m, s), c.ok) << c.d << " " << c.h << " " << c.m;
    if (c.ok) {
      EXPECT_EQ(s, c.seconds);
    }
  }
}

}  // namespace
