#include "agent/protocols/contact_closure.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using protocol_testing::ClockPump;
using protocol_testing::Scripted;
using testing_support::ReadFileBytes;
using testing_support::ScopedManualClock;
using testing_support::SimulatedUps;
using testing_support::TempDir;

namespace {

constexpr int kContactCode = 2;
const std::string kEcho("AB\0", 3);
constexpr int kCts = KT_SerialPort::kCts;
constexpr int kDcd = KT_SerialPort::kDcd;

class ContactScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    auto lock = scp_.Lock();
    scp_.config.SetNoLoopbackTest(0);  // the cable test reads CTS
  }

  std::vector<int> Alarms() {
    std::vector<int> out;
    for (int a : {ALARM_ON_BATTERY, ALARM_LOW_BATTERY, ALARM_LOST_UPS_COMM}) {
      if (scp_.upsStatus.IsAlarmSet(a) == 1) out.push_back(a);
    }
    return out;
  }

  TempDir dir_;
  KT_SCP scp_;
  Scripted<KT_ContactClosure> ups_{scp_};
};

TEST_F(ContactScripted, TwoSamplesDecideTheAlarms) {
  struct Case {
    const char* what;
    std::vector<std::string> replies;  // per echo test
    std::deque<int> lines;             // ControlCheck answers in turn, then CTS and DCD on
    int result;
    std::vector<int> alarms;           // before: 1, 2 and 7 set
  } cases[] = {
      {"echo at once", {kEcho}, {}, 1, {}},
      {"no echo, battery good", {"", ""}, {kCts, kCts | kDcd, kCts, kCts | kDcd}, 1, {ALARM_ON_BATTERY}},
      {"no echo, battery low", {"", ""}, {kCts, kCts, kCts, kCts}, 1, {ALARM_ON_BATTERY, ALARM_LOW_BATTERY}},
      {"low in one sample only", {"", ""}, {kCts, kCts, kCts, kCts | kDcd}, 1, {ALARM_ON_BATTERY}},
      {"cable missing in one sample", {""}, {0, kCts, kCts}, 1, {}},
      {"cable missing twice", {}, {0, 0}, 1, {ALARM_LOW_BATTERY, ALARM_ON_BATTERY, ALARM_LOST_UPS_COMM}},
      {"noise instead of the echo", {"XY\n", "XY\n"}, {kCts, kCts | kDcd, kCts, kCts | kDcd}, 1, {ALARM_ON_BATTERY}},
  };
  for (Case& c : cases) {
    scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
    scp_.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
    scp_.upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
    ups_.replies.assign(c.replies.begin(), c.replies.end());
    ups_.line_script = c.lines;
    EXPECT_EQ(ups_.UpdateStatus(), c.result) << c.what;
    std::vector<int> expected = c.alarms;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Alarms(), expected) << c.what;
  }
}

TEST_F(ContactScripted, AFailingPortIsNotTakenForABatteryRun) {
  ups_.fail_writes = true;
  EXPECT_EQ(ups_.UpdateStatus(), -1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);
  EXPECT_EQ(ups_.ProtocolError().errorClass, ERR_CONTACT_CLOSURE);
  EXPECT_EQ(ups_.ProtocolError().function, 1);

  ups_.fail_writes = false;
  ups_.fail_reads = true;
  EXPECT_EQ(ups_.EchoTest(), -1);
  EXPECT_EQ(ups_.Probe(), -1);

  ups_.fail_reads = false;
  ups_.line_script = {-1};
  EXPECT_EQ(ups_.BatteryContactOpen(), -1);
  EXPECT_EQ(ups_.ProtocolError().function, 2);
}

TEST_F(ContactScripted, EchoTestReadsExactlyTheEcho) {
  ups_.replies = {kEcho + "rest"};
  EXPECT_EQ(ups_.EchoTest(), 0);
  EXPECT_EQ(ups_.writes.back(), kEcho);
  EXPECT_EQ(ups_.line, "rest");  // only the three bytes of the echo were read
  ups_.replies = {"AB"};
  EXPECT_EQ(ups_.Probe(), 1);
  ups_.replies = {"A"};
  EXPECT_EQ(ups_.Probe(), 0);
  ups_.replies = {};
  EXPECT_EQ(ups_.Probe(), 0);
}

// ---- against the simulated contact-closure UPS ----

class ContactOnTheLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << sim_.error();
    {
      auto lock = scp_.Lock();
      scp_.config.SetNoLoopbackTest(0);
    }
    ASSERT_EQ(ups_.Configure(sim_.device(), kContactCode), 0);
  }

  TempDir dir_;
  SimulatedUps sim_{"contact"};
  KT_SCP scp_;
  KT_ContactClosure ups_{scp_};
};

TEST_F(ContactOnTheLine, StatusFollowsTheContacts) {
  ScopedManualClock clock;
  ClockPump pump(*clock);
  EXPECT_EQ(ups_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);

  ASSERT_TRUE(sim_.Do("mains fail"));
  EXPECT_EQ(ups_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOW_BATTERY), 0);

  ASSERT_TRUE(sim_.Do("battery low"));
  EXPECT_EQ(ups_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOW_BATTERY), 1);

  ASSERT_TRUE(sim_.Do("cable pulled"));
  EXPECT_EQ(ups_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 1);

  ASSERT_TRUE(sim_.Do("cable connected"));
  ASSERT_TRUE(sim_.Do("mains ok"));
  ASSERT_TRUE(sim_.Do("battery ok"));
  EXPECT_EQ(ups_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 0);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOW_BATTERY), 0);
}

// The echo test ends as soon as the three bytes are back: the clock never has to move.
TEST_F(ContactOnTheLine, EchoTestNeedsNoTimeOut) {
  ScopedManualClock clock;
  const uint64_t before = clock->TickMs();
  auto echo = std::async(std::launch::async, [this] { return ups_.EchoTest(); });
  if (echo.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    clock->AdvanceMs(10000);  // let a read that waits for its time-out end
  }
  EXPECT_EQ(echo.get(), 0);
  EXPECT_EQ(clock->TickMs(), before);
}

TEST_F(ContactOnTheLine, RaisedInterfacePowerKeepsTheCableTestPassing) {
  const size_t from = sim_.LogCount();
  EXPECT_EQ(ups_.RaiseInterfacePower(), 0);
  EXPECT_TRUE(sim_.WaitForLog("LINES DTR=1 RTS=1", from));
  EXPECT_EQ(ups_.IsCableConnected(), 1);
}

}  // namespace
