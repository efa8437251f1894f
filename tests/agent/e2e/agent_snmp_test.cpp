// The agent in SNMP adapter mode against a real snmpd serving the UPS MIB on a loopback port:
// the SNMP thread identifies and polls the UPS, a mains failure is counted, and the agent
// stops cleanly; an adapter that reports an outage the standard way (on battery, never input
// bad) brings the on-battery actions, and its low battery the shutdown, once, through a
// stand-in shutdown command.
#include <signal.h>

#include <gtest/gtest.h>

#include "agent/engine/daemon.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/snmp_peer.h"

namespace {

std::string TraceEnd(const AgentProcess& agent) {
  return agent.TraceDump(60, 6000);
}

TEST(AgentSnmp, PollsTheAdapterAndCountsAMainsFailure) {
  testing_support::SnmpAdapterPeer peer;
  peer.SetUptime(100);
  ASSERT_TRUE(peer.Start()) << peer.error();

  AgentProcess agent;
  ASSERT_TRUE(agent.InstallShippedMib());
  ASSERT_TRUE(agent.Start({"-b", "-x", "8", "-c", peer.peerName(), "-g", "public", "-s", "private"}));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return agent.Stderr().find("SNMP THREAD updating status") != std::string::npos; }, 30000))
      << agent.TraceDump();
  // Identified: the default actions went to notify.dat.
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return platform::RecordFile::Exists(agent.File(kNotifyFileName)); }, 30000));
  EXPECT_EQ(agent.Stderr().find("Adapter name/IP Address is incorrect."), std::string::npos);

  // Mains failure as the adapter reports it: input bad (the agent's on-battery alarm).
  peer.SetRaw("alarms", "[6]");
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return OutagesInFile(agent.File(kBatteryInfoFileName)) == 1; }, 30000))
      << agent.TraceDump();
  peer.SetRaw("alarms", "[]");

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
  EXPECT_NE(agent.Stderr().find("+++++++++++++Exiting SNMP Thread"), std::string::npos);
  const auto config = testing_support::ReadFileBytes(agent.File(kConfigFileName));
  ASSERT_FALSE(config.empty());
  EXPECT_EQ(OutagesInFile(agent.File(kBatteryInfoFileName)), 1);
}

// An adapter that stops answering (its snmpd ends): once it has been silent for longer than
// the communication time-out (120 s) the agent reports the lost communication with the UPS.
TEST(AgentSnmp, ASilentAdapterIsALostCommunication) {
  testing_support::SnmpAdapterPeer peer;
  peer.SetUptime(100);
  ASSERT_TRUE(peer.Start()) << peer.error();
  AgentProcess agent;
  ASSERT_TRUE(agent.InstallShippedMib());
  ASSERT_TRUE(agent.Start({"-b", "-x", "8", "-c", peer.peerName(), "-g", "public", "-s", "private"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), kSystemNormalText); }, 60000))
      << TraceEnd(agent);

  peer.Stop();
  const std::string lost = std::string(GetAlarmText(ALARM_LOST_UPS_COMM)) + " set at";
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), lost); }, 240000)) << TraceEnd(agent);
  EXPECT_TRUE(Contains(agent.Stderr(), "Tremona: ERROR no answer from the network adapter for")) << TraceEnd(agent);
  const size_t lossAt = agent.Stderr().find(lost);
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr().substr(lossAt), lost) >= 3; }, 60000))
      << TraceEnd(agent);
  EXPECT_EQ(agent.Stderr().find(kSystemNormalText, lossAt), std::string::npos) << TraceEnd(agent);
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0) << TraceEnd(agent);
}

TEST(AgentSnmp, StandardAdapterOutageAndLowBatteryShutDownOnce) {
  testing_support::SnmpAdapterPeer peer;
  peer.SetUptime(100);
  ASSERT_TRUE(peer.Start()) << peer.error();

  AgentProcess agent;
  // The shutdown command is a stand-in; so is every system shutdown program on the agent's
  // search path, which would say so if it were ever reached.
  const std::string path = agent.UseStandIns();
  ASSERT_TRUE(agent.InstallShippedMib());
  ASSERT_TRUE(agent.Start({"-b", "-x", "8", "-c", peer.peerName(), "-g", "public", "-s", "private"}, {path}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return platform::RecordFile::Exists(agent.File(kNotifyFileName)); }, 30000))
      << TraceEnd(agent);

  // The adapter's own on-battery row, with no input alarm beside it: an outage, not a battery
  // problem. The default on-battery actions run and the outage is counted.
  peer.SetBool("on_battery", true);
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), "Power Failure."); }, 30000))
      << TraceEnd(agent);
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return OutagesInFile(agent.File(kBatteryInfoFileName)) == 1; }, 30000));
  EXPECT_FALSE(Contains(agent.Stderr(), "setting SCP alarm 0\n")) << TraceEnd(agent);
  EXPECT_FALSE(Contains(agent.Effects(), "shutdown"));

  // Low battery while on battery: the shutdown at once, the UPS told to turn its output off,
  // the shutdown command exactly once.
  peer.SetRaw("alarms", "[3]");
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return Contains(agent.Effects(), "shutdown -h now"); }, 60000))
      << TraceEnd(agent);
  EXPECT_EQ(agent.Wait(90000), 0) << TraceEnd(agent);
  EXPECT_TRUE(Contains(agent.Stdout(), "Low Battery, system will shutdown now!")) << agent.Stdout();
  EXPECT_TRUE(Contains(agent.Stderr(), "IsShutdownRequired() returned 2"));
  EXPECT_FALSE(Contains(agent.Stderr(), "setting SCP alarm 0\n"));
  EXPECT_EQ(agent.Effects(), "shutdown -h now\n");
  bool upsOff = false;
  for (const testing_support::SnmpSetRecord& s : peer.Sets()) {
    upsOff = upsOff || (s.oid == ".1.3.6.1.2.1.33.1.8.2.0" && s.result == "DONE");
  }
  EXPECT_TRUE(upsOff) << "no upsShutdownAfterDelay SET reached the adapter";
}

}  // namespace
