// The agent in SNMP adapter mode against a real snmpd serving the UPS MIB on a loopback port:
// the SNMP thread identifies and polls the UPS, a mains failure is counted, and the agent
// stops cleanly.
#include <signal.h>

#include <gtest/gtest.h>

#include "agent/engine/daemon.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/snmp_peer.h"

namespace {

TEST(AgentSnmp, PollsTheAdapterAndCountsAMainsFailure) {
  testing_support::SnmpAdapterPeer peer;
  peer.SetUptime(100);
  ASSERT_TRUE(peer.Start()) << peer.error();

  AgentProcess agent;
  ASSERT_TRUE(agent.InstallShippedMib());
  ASSERT_TRUE(agent.Start({"-b", "-x", "8", "-c", peer.peerName(), "-g", "public", "-s", "private"}));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return agent.Stderr().find("SNMP THREAD updating status") != std::string::npos; }, 30000))
      << agent.Stderr().substr(0, 4000);
  // Identified: the default actions went to notify.dat.
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return platform::RecordFile::Exists(agent.File(kNotifyFileName)); }, 30000));
  EXPECT_EQ(agent.Stderr().find("Adapter name/IP Address is incorrect."), std::string::npos);

  // Mains failure as the adapter reports it: input bad (the agent's on-battery alarm).
  peer.SetRaw("alarms", "[6]");
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return OutagesInFile(agent.File(kBatteryInfoFileName)) == 1; }, 30000))
      << agent.Stderr().substr(agent.Stderr().size() > 4000 ? agent.Stderr().size() - 4000 : 0);
  peer.SetRaw("alarms", "[]");

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
  EXPECT_NE(agent.Stderr().find("+++++++++++++Exiting SNMP Thread"), std::string::npos);
  const auto config = testing_support::ReadFileBytes(agent.File(kConfigFileName));
  ASSERT_FALSE(config.empty());
  EXPECT_EQ(OutagesInFile(agent.File(kBatteryInfoFileName)), 1);
}

}  // namespace
