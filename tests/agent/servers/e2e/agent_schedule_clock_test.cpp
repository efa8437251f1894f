// The real VigilNT's schedules on libfaketime's clock, in Berlin's zone and a network of the
// test's own: a daily scheduled shutdown and a daily battery test at 02:30 run at 03:30 on the
// day clocks go forward and at 02:30 again the day after, also when the agent stopped and
// started in between; the "Scheduled shutdown" alarm follows the entry when a SET or a step of
// the clock moves it away; and both schedules run at and past 2038-01-19 03:14:07 UTC, the last
// second a signed 32-bit time holds. The shutdowns are of a load segment (the agent runs idle,
// without a UPS), so that the agent goes on running.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <optional>

#include "agent/engine/os_services.h"
#include "core/scp/scp.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/core/scoped_time_zone.h"
#include "tests/support/private_network.h"

namespace {

using testing_support::GetFrame;
using testing_support::InDirectory;
using testing_support::ScopedTimeZone;
using testing_support::ScpConsole;

constexpr const char* kAgentIp = "127.0.0.1";
constexpr int64_t kLast32BitSecond = 2147483647;  // 2038-01-19 03:14:07 UTC

schedule_struct DailySegmentEntry(int64_t start, uint8_t repeat = SCHED_DAILY) {
  schedule_struct e;
  e.frequency = repeat;
  e.startTime = static_cast<uint32_t>(start);
  e.segmentOnly = 1;
  e.segment = 1;
  return e;
}

class AgentScheduleClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
    console_ = std::make_unique<ScpConsole>("127.0.0.9");
    ASSERT_TRUE(console_->ok());
  }
  bool Start(int64_t at) {
    if (!agent_.UseFakeClock(at)) {
      ADD_FAILURE() << "libfaketime is not installed (scripts/deps installs it)";
      return false;
    }
    return agent_.Start({"-b", "-x", "5"}, {"TZ=Europe/Berlin"}) && WaitUntilServing(agent_);
  }
  // Branch 1 of the block as the agent answers a GET (asked again after "Get Resend").
  template <class Block>
  std::optional<Block> Get() {
    for (int attempt = 0; attempt < 10; ++attempt) {
      const auto m = Ask(*console_, kAgentIp, GetFrame({Block::kBlockId, 1}), 2000);
      if (!m || m->type != SCP_DATA) continue;
      Block b;
      std::vector<uint8_t> none;
      if (b.ConvertMessage(none, *m) >= 0) return b;
    }
    return std::nullopt;
  }
  int64_t NextShutdown() {
    const auto b = Get<SchedShutdownBlock>();
    return b ? b->GetShutdownTime() : -1;
  }
  int64_t NextTest() {
    const auto b = Get<BatteryTestBlock>();
    return b ? static_cast<int64_t>(b->GetNextTestTime()) : -1;
  }
  // Waits (bounded) until the agent's next shutdown and next test are the times given.
  bool BothAt(int64_t shutdown, int64_t test) {
    return AgentProcess::WaitFor([&] { return NextShutdown() == shutdown && NextTest() == test; }, 20000);
  }
  // The answer to a SET of the image's branch 1 of the block.
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
  bool Alarm13(bool active) { return WaitForAlarm(*console_, kAgentIp, ALARM_SCHEDULED_SHUTDOWN, active); }

  ScopedTimeZone zone_{"Europe/Berlin"};
  AgentProcess agent_{AgentSettings(kAgentIp)};
  std::unique_ptr<ScpConsole> console_;  // made in the test's network
};

TEST_F(AgentScheduleClockTest, SchedulesKeepTheirTimeOfDayAndRunPast2038AndTheAlarmFollowsThem) {
  // Daily at 02:30 from Saturday 27 March 2027; clocks go forward on Sunday at 02:00.
  const int64_t saturday = ScopedTimeZone::Local(2027, 3, 27, 2, 30);
  {
    KT_SCP image;
    const schedule_struct e = DailySegmentEntry(saturday);
    image.schedShutdown.SetEntries(1, &e);
    image.batteryTest.SetMode(BatteryTestBlock::kModeOn);
    image.batteryTest.SetNextTestTime(saturday);
    image.batteryTest.SetIntervalDays(1);
    InDirectory in(agent_.Dir());
    KT_OSServices files(image);
    ASSERT_EQ(files.WriteSchedShutdownFile(), 1);
    ASSERT_EQ(files.WriteBatteryTestFile(), 1);
  }
  ASSERT_TRUE(Start(saturday - 3)) << agent_.TraceDump();
  const int64_t sunday = ScopedTimeZone::Local(2027, 3, 28, 3, 30);  // 02:30 moved by the gap
  ASSERT_TRUE(BothAt(sunday, sunday)) << agent_.TraceDump();
  // The computer went down with the shutdown and comes back on Sunday.
  agent_.Signal(SIGTERM);
  ASSERT_EQ(agent_.Wait(30000), 0);
  ASSERT_TRUE(Start(sunday - 3)) << agent_.TraceDump();
  const int64_t monday = ScopedTimeZone::Local(2027, 3, 29, 2, 30);
  EXPECT_TRUE(BothAt(monday, monday)) << NextShutdown() << " " << NextTest() << "\n" << agent_.TraceDump();
  EXPECT_EQ(Count(agent_.Stderr(), "Time to shutdown the system"), 2u);  // Saturday's and Sunday's

  // An entry an hour ahead raises the alarm; moved to the next day, the alarm goes.
  const int64_t now = agent_.FakeNow();
  const schedule_struct daily = DailySegmentEntry(monday);
  ASSERT_EQ(SetEntries({daily, DailySegmentEntry(now + 3600, SCHED_ONCE)}), SCP_SET_OK);
  EXPECT_TRUE(Alarm13(true));
  ASSERT_EQ(SetEntries({daily, DailySegmentEntry(now + 86389, SCHED_ONCE)}), SCP_SET_OK);
  EXPECT_TRUE(Alarm13(false)) << agent_.TraceDump();
  // One an hour ahead that a step of the clock leaves behind is skipped, and the alarm goes.
  ASSERT_EQ(SetEntries({daily, DailySegmentEntry(now + 3600, SCHED_ONCE)}), SCP_SET_OK);
  EXPECT_TRUE(Alarm13(true));
  agent_.SetFakeClock(now + 2 * 3600);
  EXPECT_TRUE(Alarm13(false)) << agent_.TraceDump();
  EXPECT_EQ(NextShutdown(), monday);

  // A test that could never run is refused and changes nothing; one at the last second of
  // 32 bits is taken, and so is a daily shutdown just before it.
  EXPECT_EQ(SetDailyTest(1000), SCP_SET_FAILED);
  EXPECT_EQ(NextTest(), monday);
  ASSERT_EQ(SetDailyTest(kLast32BitSecond), SCP_SET_OK);
  ASSERT_EQ(SetEntries({DailySegmentEntry(kLast32BitSecond - 1)}), SCP_SET_OK);
  agent_.SetFakeClock(kLast32BitSecond - 4);
  // Both ran and moved on to the next day at the same local time (seconds 0), and again.
  const int64_t next = ScopedTimeZone::Local(2038, 1, 20, 4, 14);
  ASSERT_TRUE(BothAt(next, next)) << NextShutdown() << " " << NextTest() << "\n" << agent_.TraceDump();
  agent_.SetFakeClock(next - 3);
  EXPECT_TRUE(BothAt(next + 86400, next + 86400)) << agent_.TraceDump();
  // The battery information reset by a console then keeps that moment.
  KT_SCP image;
  ASSERT_EQ(image.batteryInfo.SetResetTime(next + 60), 1);
  ASSERT_EQ(Set(image, BatteryInfoBlock::kBlockId), SCP_SET_OK);
  const auto info = Get<BatteryInfoBlock>();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->GetResetTime(), static_cast<uint32_t>(next + 60));
  BatteryInfoBlock stored;
  ASSERT_TRUE(ReadBatteryInfo(agent_.File(kBatteryInfoFileName), stored));
  EXPECT_EQ(stored.GetResetTime(), static_cast<uint32_t>(next + 60));

  agent_.Signal(SIGTERM);
  EXPECT_EQ(agent_.Wait(30000), 0);
}

}  // namespace
