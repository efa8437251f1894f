// Settings the real VigilNT keeps across a crash and a restart, in a network of the test's own:
// a console's configuration change stays made after the agent is killed, and trap receivers
// keep their slots, so that the on-battery trap reaches the receiver the action names.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "agent/engine/daemon.h"
#include "agent/engine/os_services.h"
#include "core/scp/scp.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/snmp_peer.h"

namespace {

using testing_support::GetFrame;
using testing_support::InDirectory;
using testing_support::ScpConsole;

constexpr const char* kAgentIp = "127.0.0.1";

// The configuration block as the agent's config.dat holds it; false when it cannot be read.
bool ReadConfigFile(const AgentProcess& agent, KT_SCP& into) {
  InDirectory in(agent.Dir());
  KT_OSServices files(into);
  return files.ReadConfigFile() == 1;
}

class AgentSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
    console_ = std::make_unique<ScpConsole>("127.0.0.9");
    ASSERT_TRUE(console_->ok());
  }
  // The agent's configuration block, asked over UDP until it answers with data (bounded).
  std::optional<KT_ScpMessage> GetConfig(uint8_t branch) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const auto m = Ask(*console_, kAgentIp, GetFrame({4, branch}));
      if (m && m->type == SCP_DATA) return m;  // else "Get Resend": ask again
    }
    return std::nullopt;
  }

  std::unique_ptr<ScpConsole> console_;
};

TEST_F(AgentSettingsTest, AcknowledgedConfigurationChangeSurvivesAKill) {
  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent));

  // Shutdown delays and the password, as a console's dialog sends them.
  KT_SCP image;
  ASSERT_EQ(image.config.SetTotalBatteryTime(45), 1);
  ASSERT_EQ(image.config.SetShutdownStartDelay(17), 1);
  ASSERT_EQ(image.config.SetOsShutdownTime(90), 1);
  ASSERT_GE(image.config.Password().Set("Tulip9"), 0);
  for (uint8_t branch : {2, 8}) {
    const auto answer = Ask(*console_, kAgentIp, SetFrameOf(image, {4, branch}));
    ASSERT_TRUE(answer) << agent.Stderr();
    ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  }
  // The agent applies SETs once per monitor pass: then the change is on disk.
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        KT_SCP onDisk;
        return ReadConfigFile(agent, onDisk) && onDisk.config.GetShutdownStartDelay() == 17 &&
               onDisk.config.Password().Get() == std::optional<std::string>("Tulip9");
      },
      20000))
      << "config.dat does not hold the acknowledged change";

  agent.Signal(SIGKILL);
  EXPECT_EQ(agent.Wait(30000), 128 + SIGKILL);
  const size_t served = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");  // the trace file goes on
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > served; },
                                    30000));
  const auto delays = GetConfig(2);
  ASSERT_TRUE(delays) << agent.Stderr();
  KT_SCP seen;
  std::vector<uint8_t> none;
  ASSERT_GE(seen.config.ConvertMessage(none, *delays), 0);
  EXPECT_EQ(seen.config.GetShutdownStartDelay(), 17);
  EXPECT_EQ(seen.config.GetTotalBatteryTime(), 45);
  EXPECT_EQ(seen.config.GetOsShutdownTime(), 90);
  // The password is never sent back; the restarted agent's own block holds it.
  KT_SCP onDisk;
  ASSERT_TRUE(ReadConfigFile(agent, onDisk));
  EXPECT_EQ(onDisk.config.Password().Get(), std::optional<std::string>("Tulip9"));

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

// The lines of `text` that contain `needle`, each with its line end.
std::string LinesWith(const std::string& text, const std::string& needle) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find(needle) != std::string::npos) out += line + "\n";
    start = end + 1;
  }
  return out;
}

TEST_F(AgentSettingsTest, TrapReachesTheConfiguredReceiverAfterEveryRestart) {
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  testing_support::TrapReceiver first;
  testing_support::TrapReceiver second;
  ASSERT_TRUE(first.Start()) << first.error();
  ASSERT_TRUE(second.Start()) << second.error();

  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(agent.InstallShippedMib());
  {
    KT_SCP image;
    ConfigBlock& c = image.config;
    c.SetSerialDeviceName(ups.device().c_str());
    c.SetBaudRate(3);
    c.SetCommMode(COMM_SERIAL_NORMAL);
    c.SetTotalBatteryTime(60);
    c.SetShutdownStartDelay(30);  // the outage alone never brings the shutdown here
    NotifyBlock& n = image.notify;
    n.SetDefaultSupport(SUPPORT_EVENTS);
    n.SetDefaultSupport(SUPPORT_ACTIONS);
    ASSERT_EQ(n.TrapReceivers().Add(first.peerName(), "public"), 0);    // slot 0
    ASSERT_EQ(n.TrapReceivers().Add(second.peerName(), "private"), 0);  // slot 1
    KT_ActionEntry trap(EVENT_ON_BATTERY, ACTION_SNMP_TRAP);
    trap.alias = 0x01;  // the receiver of slot 0
    ASSERT_EQ(n.AddAction(trap), 0);
    InDirectory in(agent.Dir());
    KT_OSServices files(image);
    ASSERT_EQ(files.WriteConfigFile(), 1);
    ASSERT_EQ(files.WriteNotifyFile(), 1);
  }

  // Each run reads notify.dat (the second the one the first wrote on its way out); every
  // outage sends one on-battery trap, to the first receiver only.
  for (size_t run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const size_t ups_from = ups.LogCount();
    ASSERT_TRUE(agent.Start({"-b"}));
    ASSERT_TRUE(ups.WaitForLog("REQ Q", ups_from, 60000)) << agent.Stderr();
    ASSERT_TRUE(ups.Do("mains fail"));
    const auto traps = first.WaitForTraps(run, 30000);
    ASSERT_EQ(traps.size(), run) << "the agent's trap lines:\n"
                                 << LinesWith(agent.Stderr(), "SNMP Trap") << "the receiver's log:\n"
                                 << first.Log();
    EXPECT_EQ(traps.back().specificType, 1);
    EXPECT_EQ(traps.back().community, "public");
    ASSERT_TRUE(ups.Do("mains ok"));
    agent.Signal(SIGTERM);
    ASSERT_EQ(agent.Wait(60000), 0);
    // The agent has ended: whatever it sent, it sent to the first receiver alone.
    EXPECT_EQ(Count(agent.Stderr(), "Sending SNMP Trap to host " + first.peerName()), run);
    EXPECT_EQ(Count(agent.Stderr(), "Sending SNMP Trap to host " + second.peerName()), 0u);
    EXPECT_TRUE(second.Traps().empty()) << second.Log();
  }
}

}  // namespace
