// The real VigilNT's schedules on libfaketime's clock, in Berlin's zone and a network of the
// test's own: across the spring change, the "Scheduled shutdown" alarm, 2038, steps of the clock
// and a long gap. The shutdowns are of a load segment (the agent runs idle), so that the agent
// runs on.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <optional>
#include <random>

#include "agent/engine/os_services.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/core/scoped_time_zone.h"
#include "tests/support/private_network.h"

namespace {

using testing_support::ScopedTimeZone;
using testing_support::ScpConsole;

constexpr const char* kAgentIp = "127.0.0.1";
constexpr int64_t kLast32BitSecond = 2147483647;

schedule_struct SegmentEntry(int64_t start, uint8_t repeat = SCHED_DAILY) {
  schedule_struct e;
  e.frequency = repeat;
  e.startTime = static_cast<uint32_t>(start);
  e.segmentOnly = 1;
  return e;
}

class AgentScheduleClockTest : public ConsoleNetworkTest {
 protected:
  bool Start(int64_t at) {
    EXPECT_TRUE(agent_.UseFakeClock(at)) << "libfaketime is not installed (scripts/deps installs it)";
    return agent_.Start({"-b", "-x", "5"}, {"TZ=Europe/Berlin"}) && WaitUntilServing(agent_);
  }
  // Branch 1 of the block as the agent answers a GET (asked again after "Get Resend").
  template <class Block>
  std::optional<Block> Get() {
    for (int attempt = 0; attempt < 10; ++attempt) {
      const auto m = Ask(*console_, kAgentIp, testing_support::GetFrame({Block::kBlockId, 1}), 2000);
      Block b;
      std::vector<uint8_t> none;
      if (m && m->type == SCP_DATA && b.ConvertMessage(none, *m) >= 0) return b;
    }
    return std::nullopt;
  }
  // Waits (bounded) until the agent's next shutdown and next test are at the times given.
  bool NextAt(int64_t shutdown, int64_t test) {
    auto at = [&] {
      const auto s = Get<SchedShutdownBlock>();
      const auto t = Get<BatteryTestBlock>();
      return s && t && s->GetShutdownTime() == shutdown && t->GetNextTestTime() == test;
    };
    return AgentProcess::WaitFor(at, 20000);
  }
  int Set(KT_SCP& image, uint8_t block) {
    const auto m = Ask(*console_, kAgentIp, SetFrameOf(image, {block, 1}));
    return m && m->type == SCP_STATUS && m->data.size() == 1 ? m->data[0] : -1;
  }
  int SetEntries(std::vector<schedule_struct> entries) {
    KT_SCP image;
    image.schedShutdown.SetEntries(static_cast<int>(entries.size()), entries.data());
    return Set(image, SchedShutdownBlock::kBlockId);
  }
  int SetDailyTest(int64_t next) {
    KT_SCP image;
    image.batteryTest.SetMode(BatteryTestBlock::kModeOn);
    image.batteryTest.SetNextTestTime(next);
    image.batteryTest.SetIntervalDays(1);
    return Set(image, BatteryTestBlock::kBlockId);
  }
  bool Alarm13(bool on) { return WaitForAlarm(*console_, kAgentIp, ALARM_SCHEDULED_SHUTDOWN, on); }

  ScopedTimeZone zone_{"Europe/Berlin"};
  AgentProcess agent_{AgentSettings(kAgentIp)};
};

TEST_F(AgentScheduleClockTest, SchedulesKeepTheirTimeOfDayAndRunPast2038AndTheAlarmFollowsThem) {
  // Daily at 02:30 from Saturday 27 March 2027; clocks go forward on Sunday at 02:00.
  const int64_t saturday = ScopedTimeZone::Local(2027, 3, 27, 2, 30);
  {
    KT_SCP image;
    const schedule_struct e = SegmentEntry(saturday);
    image.schedShutdown.SetEntries(1, &e);
    image.batteryTest.SetMode(BatteryTestBlock::kModeOn);
    image.batteryTest.SetNextTestTime(saturday);
    image.batteryTest.SetIntervalDays(1);
    testing_support::InDirectory in(agent_.Dir());
    KT_OSServices files(image);
    ASSERT_EQ(files.WriteSchedShutdownFile() + files.WriteBatteryTestFile(), 2);
  }
  ASSERT_TRUE(Start(saturday - 3)) << agent_.TraceDump();
  const int64_t sunday = ScopedTimeZone::Local(2027, 3, 28, 3, 30);  // 02:30 moved by the gap
  ASSERT_TRUE(NextAt(sunday, sunday)) << agent_.TraceDump();
  // The computer went down with the shutdown and comes back on Sunday.
  agent_.Signal(SIGTERM);
  ASSERT_EQ(agent_.Wait(30000), 0);
  ASSERT_TRUE(Start(sunday - 3)) << agent_.TraceDump();
  const int64_t monday = ScopedTimeZone::Local(2027, 3, 29, 2, 30);
  EXPECT_TRUE(NextAt(monday, monday)) << agent_.TraceDump();
  EXPECT_EQ(Count(agent_.Stderr(), "Time to shutdown the system"), 2u);  // Saturday's and Sunday's

  // An entry an hour ahead raises the alarm; moved to the next day, or left behind by a step of
  // the clock, it no longer does.
  const int64_t now = agent_.FakeNow();
  for (const bool step : {false, true}) {
    ASSERT_EQ(SetEntries({SegmentEntry(monday), SegmentEntry(now + 3600, SCHED_ONCE)}), SCP_SET_OK);
    EXPECT_TRUE(Alarm13(true));
    if (step) {
      agent_.SetFakeClock(now + 2 * 3600);
    } else {
      ASSERT_EQ(SetEntries({SegmentEntry(monday), SegmentEntry(now + 86389, SCHED_ONCE)}), SCP_SET_OK);
    }
    EXPECT_TRUE(Alarm13(false)) << agent_.TraceDump();
  }

  // Schedules that could never run are refused and change nothing; ones at the last second of
  // 32 bits are taken, run, and move on past it.
  EXPECT_EQ(SetDailyTest(-1), SCP_SET_FAILED);  // no next test
  EXPECT_EQ(SetEntries({SegmentEntry(0)}), SCP_SET_FAILED);
  EXPECT_EQ(SetEntries({SegmentEntry(saturday, SCHED_WEEKLY)}), SCP_SET_FAILED);  // no weekday
  EXPECT_TRUE(NextAt(monday, monday));
  ASSERT_EQ(SetDailyTest(kLast32BitSecond), SCP_SET_OK);
  ASSERT_EQ(SetEntries({SegmentEntry(kLast32BitSecond - 1)}), SCP_SET_OK);
  agent_.SetFakeClock(kLast32BitSecond - 4);
  const int64_t next = ScopedTimeZone::Local(2038, 1, 20, 4, 14);  // the same local time, seconds 0
  ASSERT_TRUE(NextAt(next, next)) << agent_.TraceDump();
  agent_.SetFakeClock(next - 3);
  EXPECT_TRUE(NextAt(next + 86400, next + 86400)) << agent_.TraceDump();
  // The battery information reset by a console then keeps that moment.
  KT_SCP image;
  image.batteryInfo.SetResetTime(next + 60);
  ASSERT_EQ(Set(image, BatteryInfoBlock::kBlockId), SCP_SET_OK);
  EXPECT_EQ(int64_t{Get<BatteryInfoBlock>().value_or(BatteryInfoBlock()).GetResetTime()}, next + 60);

  agent_.Signal(SIGTERM);
  EXPECT_EQ(agent_.Wait(30000), 0);
}

// A test and a shutdown whose time a step of the clock jumped over by 1 or 12 s run once; a
// clock moved on by 103 days moves both on to their next time from now, with no error record; a
// one-time shutdown set a few seconds in the past (a console a little behind) runs, one an hour
// past is refused. A batt_tst.dat of junk found at the start is said and kept aside.
TEST_F(AgentScheduleClockTest, JumpedOverSchedulesRunOnceLongPastOnesMoveOnAndJunkIsKeptAside) {
  std::vector<uint8_t> junk(300);
  std::mt19937 random(62);
  for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
  testing_support::WriteFileBytes(agent_.File(kBatteryTestFileName), junk);
  const int64_t t = ScopedTimeZone::Local(2027, 6, 7, 2, 30);
  ASSERT_TRUE(Start(t - 60)) << agent_.TraceDump();
  EXPECT_TRUE(Contains(agent_.Stderr(), "Record file batt_tst.dat is damaged")) << agent_.TraceDump();
  EXPECT_EQ(testing_support::ReadFileBytes(agent_.File("batt_tst.dat.bad")), junk);
  ASSERT_EQ(SetEntries({SegmentEntry(t)}), SCP_SET_OK);
  ASSERT_EQ(SetDailyTest(t), SCP_SET_OK);
  constexpr int64_t kDay = 86400;  // summer time all along
  for (const int64_t day : {0, 1}) {
    agent_.SetFakeClock(t + day * kDay + (day == 0 ? 1 : 12));
    EXPECT_TRUE(NextAt(t + (day + 1) * kDay, t + (day + 1) * kDay)) << agent_.TraceDump();
    EXPECT_EQ(Count(agent_.Stderr(), "Time to shutdown the system"), static_cast<size_t>(day + 1));
    EXPECT_EQ(Count(agent_.Stderr(), "Time for battery test"), static_cast<size_t>(day + 1));
  }
  const size_t errors = testing_support::ReadFileBytes(agent_.File(kErrorLogName)).size();
  agent_.SetFakeClock(t + 105 * kDay + 3600);
  EXPECT_TRUE(NextAt(t + 106 * kDay, t + 106 * kDay)) << agent_.TraceDump();
  EXPECT_EQ(Count(agent_.Stderr(), "Battery test time is passed current time"), 1u);
  EXPECT_EQ(Count(agent_.Stderr(), "IGNORE"), 1u);
  EXPECT_EQ(testing_support::ReadFileBytes(agent_.File(kErrorLogName)).size(), errors);

  EXPECT_EQ(SetEntries({SegmentEntry(agent_.FakeNow() - 3600, SCHED_ONCE)}), SCP_SET_FAILED);
  ASSERT_EQ(SetEntries({SegmentEntry(agent_.FakeNow() - 5, SCHED_ONCE)}), SCP_SET_OK);
  EXPECT_TRUE(AgentProcess::WaitFor(
      [&] { return Count(agent_.Stderr(), "Time to shutdown the system") == 3; }, 20000));
  agent_.Signal(SIGTERM);
  EXPECT_EQ(agent_.Wait(30000), 0);
}

}  // namespace
