// A master agent on 127.0.0.1 with a simulated Smart-UPS and its client agents on 127.0.0.2
// (the right password) and 127.0.0.3 (a wrong one), all real VigilNT processes in a network of
// the test's own: the power events and a scheduled shutdown reach the clients and take effect
// once each.
#include <signal.h>

#include <gtest/gtest.h>

#include <ctime>

#include "core/scp/password.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::ScpConsole;
using testing_support::SimulatedUps;

constexpr const char* kMasterIp = "127.0.0.1";
constexpr const char* kClientIp = "127.0.0.2";
constexpr const char* kWrongIp = "127.0.0.3";

class MasterClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
    consoleOwner_ = std::make_unique<ScpConsole>("127.0.0.9");
    console_ = consoleOwner_.get();
    ASSERT_TRUE(console_->ok());
    ASSERT_TRUE(client_.Start({"-b"}));
    ASSERT_TRUE(wrong_.Start({"-b"}));
    ASSERT_TRUE(WaitUntilServing(client_));
    ASSERT_TRUE(WaitUntilServing(wrong_));
  }
  void TearDown() override {
    for (AgentProcess* a : {&master_, &client_, &wrong_}) {
      a->Signal(SIGTERM);
      EXPECT_EQ(a->Wait(60000), 0);
    }
  }
  // Sends the master a client list (configuration branch 9 or 10).
  void ConfigureClients(int branch, uint8_t warn, uint8_t shut, uint8_t timeShut) {
    KT_SCP image;
    {
      auto lock = image.Lock();
      KT_NetClientList& list =
          branch == 9 ? image.config.PowerEventClients() : image.config.ScheduledShutdownClients();
      list.Add(IpAddressOf(kClientIp), KT_Password::kDefaultPassword, warn, shut, timeShut);
      list.Add(IpAddressOf(kWrongIp), "Tulip4", warn, shut, timeShut);
    }
    const auto answer = Ask(*console_, kMasterIp, SetFrameOf(image, {4, static_cast<uint8_t>(branch)}));
    ASSERT_TRUE(answer) << master_.Stderr();
    ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  }
  bool WaitForTrace(AgentProcess& agent, const std::string& text, size_t times = 1) {
    return AgentProcess::WaitFor([&] { return Count(agent.Stderr(), text) >= times; }, 60000);
  }
  // Lets the master run a few more turns, so that a command sent twice would have arrived. On
  // low battery the master shuts itself down too, and its network thread may end first: then
  // nothing more can be sent either.
  void SeveralMasterTurns() {
    const size_t turns = Count(master_.Stderr(), "NETWORK THREAD IS ALIVE");
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] {
          const std::string err = master_.Stderr();
          return Count(err, "NETWORK THREAD IS ALIVE") >= turns + 4 || Count(err, "exiting network thread") > 0;
        },
        60000))
        << master_.TraceDump();
  }
  // The wrongly configured client refused every command: event 36 logged (its alarm 24 is
  // one the action engine clears once handled), nothing obeyed.
  void ExpectRefusedByWrongClient() {
    EXPECT_TRUE(WaitForTrace(wrong_, "Shutdown command received from the master"));
    EXPECT_EQ(Count(wrong_.Stderr(), "ActivateNetworkShutdown"), 0u);
    EXPECT_GE(EventsOf(*console_, kWrongIp, EVENT_REMOTE_SHUTDOWN_FAILED), 1u);
  }

  AgentProcess master_{AgentSettings(kMasterIp)};
  AgentProcess client_{AgentSettings(kClientIp)};
  AgentProcess wrong_{AgentSettings(kWrongIp)};
  // Made in SetUp, inside the test's own network.
  std::unique_ptr<ScpConsole> consoleOwner_;
  ScpConsole* console_ = nullptr;
};

TEST_F(MasterClientTest, OutageReturnAndLowBatteryReachTheClientAndTakeEffectOnce) {
  SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  ASSERT_TRUE(master_.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(WaitForTrace(master_, "Inside SERIAL thread")) << master_.Stderr();
  ASSERT_TRUE(WaitUntilServing(master_));
  ConfigureClients(9, 2, 3, 1);

  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(WaitForTrace(client_, "Received UF Shutdown Command!")) << master_.Stderr();
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_REMOTE_SHUTDOWN));
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_ON_BATTERY));
  // The master repeats the command while the outage lasts (every 10 s): the client stays told.
  SeveralMasterTurns();
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_ON_BATTERY));
  EXPECT_NE(client_.Stderr().find("OnBatteryShutdownTime to 3"), std::string::npos);
  EXPECT_NE(client_.Stderr().find("Admin Warn Delay = 2 minutes"), std::string::npos);

  ASSERT_TRUE(ups.Do("mains ok"));
  ASSERT_TRUE(WaitForTrace(client_, "Received UR Command!"));
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_REMOTE_SHUTDOWN, false));
  SeveralMasterTurns();
  // Repeated too: only the first is taken.
  const std::string trace = client_.Stderr();
  EXPECT_EQ(Count(trace, "Received UR Command!") - Count(trace, "no outage from the master is held"), 1u);

  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(WaitForTrace(client_, "Received LB Shutdown Command!"));
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_LOW_BATTERY));
  SeveralMasterTurns();
  EXPECT_EQ(Count(client_.Stderr(), "Received LB Shutdown Command!"), 1u);

  ExpectRefusedByWrongClient();
}

TEST_F(MasterClientTest, ScheduledShutdownAndItsCancellationReachTheClient) {
  // The schedule needs no UPS: the master runs idle.
  ASSERT_TRUE(master_.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(master_));
  ConfigureClients(10, 5, 3, 1);  // lead (1 + 5) minutes

  KT_SCP image;
  {
    auto lock = image.Lock();
    schedule_struct entry;
    entry.startTime = static_cast<uint32_t>(std::time(nullptr) + 300);
    entry.restartValue = 600;
    image.schedShutdown.SetEntries(1, &entry);
  }
  auto answer = Ask(*console_, kMasterIp, SetFrameOf(image, {24, 1}));
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  ASSERT_TRUE(WaitForTrace(client_, "remote_scheduled_shutdown = ")) << master_.Stderr();
  EXPECT_TRUE(AgentProcess::WaitFor(
      [&] { return Count(client_.Stdout(), "Remote Scheduled shutdown in Progress.") == 1; }, 10000));
  EXPECT_NE(client_.Stderr().find("warn_delay = 5"), std::string::npos);
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_REMOTE_SHUTDOWN));

  {
    auto lock = image.Lock();
    image.schedShutdown.SetEntries(0, nullptr);
  }
  answer = Ask(*console_, kMasterIp, SetFrameOf(image, {24, 1}));
  ASSERT_TRUE(answer);
  ASSERT_TRUE(WaitForTrace(client_, "Received SHUTDOWN_CANCEL Command!"));
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIp, ALARM_REMOTE_SHUTDOWN, false));
  SeveralMasterTurns();
  EXPECT_EQ(Count(client_.Stderr(), "Received SHUTDOWN_CANCEL Command!"), 1u);
  EXPECT_EQ(Count(client_.Stderr(), "remote_scheduled_shutdown = "), 1u);
  EXPECT_TRUE(AgentProcess::WaitFor(
      [&] { return Count(client_.Stdout(), "Remote Scheduled shutdown was cancelled.") == 1; }, 10000));

  ExpectRefusedByWrongClient();
}

}  // namespace
