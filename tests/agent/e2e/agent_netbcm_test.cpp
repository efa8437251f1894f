// The agent in communication mode 9 against the simulated BCM network adapter on a loopback
// port: the NetBCM thread identifies and polls the UPS, a mains failure is counted, a low
// battery shuts the system down (a harmless stand-in) and switches the UPS off only after the
// whole operating-system shutdown time, and the agent stops cleanly.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "agent/engine/daemon.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"
#include "tests/support/scp_console.h"
#include "tools/netbcm_adapter.h"

namespace {

constexpr const char* kAccessCode = "Zq9x2p";

class AgentNetBcmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A network of the test's own spares the wait for the machine's port 7010; without one the
    // agent takes the machine lock.
    std::string error;
    testing_support::EnterPrivateNetwork(error);
    netbcmsim::AdapterOptions options;
    options.bind = "127.0.0.1";
    options.port = 0;
    adapter = std::make_unique<netbcmsim::NetBcmAdapter>(options);
    ASSERT_EQ(adapter->Start(&error), 0) << error;
    ASSERT_TRUE(adapter->Do(std::string("set access ") + kAccessCode));
  }
  std::string AdapterName() const { return "127.0.0.1:" + std::to_string(adapter->port()); }
  std::string Tail() const { return agent.TraceDump(); }

  std::unique_ptr<netbcmsim::NetBcmAdapter> adapter;
  AgentProcess agent;
};

TEST_F(AgentNetBcmTest, PollsTheAdapterAndCountsAMainsFailure) {
  ASSERT_TRUE(agent.Start({"-b", "-x", "9", "-c", AdapterName(), "-s", kAccessCode}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "NetBCMThread updating status"); }, 60000))
      << Tail();
  // Identified: the default actions went to notify.dat; meters follow.
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return platform::RecordFile::Exists(agent.File(kNotifyFileName)); }, 30000));
  ASSERT_TRUE(adapter->WaitFor("REQ meters", 30000));
  EXPECT_TRUE(adapter->Entries("DENIED").empty());
  EXPECT_FALSE(Contains(agent.Stdout(), "Unable to communicate with Network Adapter"));

  ASSERT_TRUE(adapter->Do("mains fail"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return OutagesInFile(agent.File(kBatteryInfoFileName)) == 1; }, 60000))
      << Tail();
  ASSERT_TRUE(adapter->Do("mains ok"));

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
  EXPECT_TRUE(Contains(agent.Stderr(), "+++++++++++++Exiting NetBCM Thread"));
  EXPECT_EQ(OutagesInFile(agent.File(kBatteryInfoFileName)), 1);
}

// "VigilNT -b -x 9 -c ADAPTER" without -s: an adapter still on its factory access code.
TEST_F(AgentNetBcmTest, WithoutAWriteCommunityTheFactoryAccessCodeReachesTheAdapter) {
  ASSERT_TRUE(adapter->Do("set access KelpR3"));
  ASSERT_TRUE(agent.Start({"-b", "-x", "9", "-c", AdapterName()}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "NetBCMThread updating status"); }, 60000))
      << Tail();
  ASSERT_TRUE(adapter->WaitFor("REQ status", 30000));
  EXPECT_TRUE(adapter->Entries("DENIED").empty());
  EXPECT_FALSE(Contains(agent.Stderr(), "Exiting NetBCM Thread")) << Tail();
  EXPECT_FALSE(Contains(agent.Stderr(), "IDLE MODE STATE set at")) << Tail();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

// An adapter that stops answering: its thread waits out its retries of the status query for
// minutes, but once the adapter has been silent for longer than the communication time-out
// (120 s) the agent reports the lost communication instead of "System Normal", until the
// adapter answers again.
TEST_F(AgentNetBcmTest, ASilentAdapterIsALostCommunicationUntilItAnswersAgain) {
  ASSERT_TRUE(agent.Start({"-b", "-x", "9", "-c", AdapterName(), "-s", kAccessCode}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "NetBCMThread updating status"); }, 60000))
      << Tail();
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), kSystemNormalText); }, 60000)) << Tail();

  ASSERT_TRUE(adapter->Do("silence on"));
  const std::string lost = std::string(GetAlarmText(ALARM_LOST_UPS_COMM)) + " set at";
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), lost); }, 240000)) << Tail();
  EXPECT_TRUE(Contains(agent.Stderr(), "Tremona: ERROR no answer from the network adapter for")) << Tail();
  // The loss stays reported while the adapter is silent.
  const size_t lossAt = agent.Stderr().find(lost);
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr().substr(lossAt), lost) >= 3; }, 60000))
      << Tail();
  EXPECT_EQ(agent.Stderr().find(kSystemNormalText, lossAt), std::string::npos) << Tail();

  ASSERT_TRUE(adapter->Do("silence off"));
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return agent.Stderr().find(kSystemNormalText, lossAt) != std::string::npos; },
                                    90000))
      << Tail();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0) << Tail();
}

// The adapter timing set on an agent that no console has asked for its UPS information yet is
// kept, not answered "Set OK" and dropped: read back at once, and after a restart by the first
// request the agent gets.
TEST_F(AgentNetBcmTest, TimingSetOnAFreshAgentIsKeptThroughARestart) {
  const std::vector<uint8_t> key{4, 12};
  const std::vector<uint8_t> timing{0, 0, 0, 5, 0, 0, 0, 60};  // polling 5 s, time-out 60 s
  testing_support::ScpConsole console("127.0.0.9");
  ASSERT_TRUE(console.ok());
  // The agent's answer to one frame (status pushes passed over).
  auto ask = [&](const std::vector<uint8_t>& frame) -> std::optional<KT_ScpMessage> {
    if (!console.Send("127.0.0.1", 7010, frame)) return std::nullopt;
    while (const auto bytes = console.Receive(5000)) {
      if (testing_support::IsStatusPush(*bytes)) continue;
      return testing_support::Decode(*bytes);
    }
    return std::nullopt;
  };
  for (const bool restarted : {false, true}) {
    SCOPED_TRACE(restarted ? "restarted" : "fresh");
    const size_t before = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");
    ASSERT_TRUE(agent.Start(
        restarted ? std::vector<std::string>{"-b"}
                  : std::vector<std::string>{"-b", "-x", "9", "-c", AdapterName(), "-s", kAccessCode}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > before; }, 60000))
        << Tail();
    if (!restarted) {
      const auto answer = ask(testing_support::SetFrame(key, timing));
      ASSERT_TRUE(answer.has_value()) << Tail();
      EXPECT_EQ(answer->type, SCP_STATUS);
      EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
    }
    const auto data = ask(testing_support::GetFrame(key));
    ASSERT_TRUE(data.has_value()) << Tail();
    EXPECT_EQ(data->type, SCP_DATA);
    EXPECT_EQ(data->data, timing);
    agent.Signal(SIGTERM);
    ASSERT_EQ(agent.Wait(60000), 0) << Tail();
  }
}

TEST_F(AgentNetBcmTest, LowBatterySwitchesTheUpsOffAfterTheWholeShutdownTime) {
  // config.dat: mode 9 on the adapter, and an operating system that needs 300 s to shut down.
  {
    KT_SCP scp;
    scp.config.SetCommMode(COMM_NETBCM_ADAPTER);
    scp.config.SetAdapterName(AdapterName().c_str());
    scp.config.SetWriteCommunity(kAccessCode);
    scp.config.SetOsShutdownTime(300);
    KT_RecordWriter writer;
    writer.Put8(202);
    scp.config.SetFileConversion(true);
    ASSERT_GE(scp.config.ConvertBlock(CONVERT_ENCODE, &writer, nullptr), 0);
    scp.config.SetFileConversion(false);
    testing_support::WriteFileBytes(agent.File(kConfigFileName), writer.Take());
  }
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(adapter->WaitFor("REQ meters", 60000)) << Tail();

  ASSERT_TRUE(adapter->Do("mains fail"));
  ASSERT_TRUE(adapter->Do("battery low"));
  // The shutdown sequence sends the UPS-off command before the system goes down: every
  // segment's restart delay, then the output off after 5 minutes -- one delay byte cannot
  // carry 300 s, and the UPS must not go off after 44.
  ASSERT_TRUE(adapter->WaitFor("ups off in 300 s", 90000)) << Tail();
  for (const std::string& action : adapter->Entries("ACTION")) EXPECT_FALSE(Contains(action, "off in 44 s")) << action;
  EXPECT_EQ(agent.Wait(60000), 0) << Tail();
  EXPECT_TRUE(Contains(agent.Stderr(), "KT_NetBCM::BCMDelayedOff(BCM_DELAYED_REBOOT,shut=300) Command Accepted."));
  EXPECT_TRUE(Contains(agent.Stderr(), "ShutdownSystem returned"));
}

}  // namespace
