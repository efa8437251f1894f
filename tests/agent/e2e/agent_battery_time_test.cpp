// The battery time a console reads from the real VigilNT is in seconds whatever the UPS
// counts in (the Smart-UPS answers minutes, the BCM and Varnis II UPSes and the network BCM
// adapter seconds): a full battery, and the time running down on battery. On the Smart-UPS
// also: a reading the agent cannot read leaves the others fresh.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <memory>
#include <string>

#include "agent/engine/os_services.h"
#include "core/scp/scp.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"
#include "tests/support/scp_console.h"
#include "tests/support/simulated_ups.h"
#include "tools/netbcm_adapter.h"

namespace {

using testing_support::ScpConsole;
using testing_support::SimulatedUps;

// The agent's meter block (key {3} the whole block, {3, 1} its main meters), asked over UDP;
// false while it has none to give.
bool ReadMeters(ScpConsole& console, const std::vector<uint8_t>& key, MeterBlock& meters) {
  if (!console.Send("127.0.0.1", 7010, testing_support::GetFrame(key))) return false;
  for (int i = 0; i < 10; ++i) {
    const auto bytes = console.Receive(500);
    if (!bytes) return false;
    const auto m = testing_support::Decode(*bytes);
    // A status push, or "Get Resend": wait for the next.
    if (!m || m->type != SCP_DATA || m->key != key) continue;
    std::vector<uint8_t> none;
    return meters.ConvertMessage(none, *m) >= 0;
  }
  return false;
}

// The battery time of the agent's meter block; -1 while it has none to give.
int BatteryTime(ScpConsole& console) {
  MeterBlock meters;
  if (!ReadMeters(console, {3, 1}, meters)) return -1;
  return meters.GetBatteryTime() == 0xFFFF ? -1 : meters.GetBatteryTime();
}

TEST(AgentBatteryTime, EverySourceGivesSecondsThatRunDownOnBattery) {
  std::string error;
  ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
  constexpr const char* kAccessCode = "Zq9x2p";
  struct Source {
    const char* kind;  // an upssim mode, or the network adapter
    int fullSeconds;   // what the simulated UPS holds with a full battery
  } const sources[] = {{"apc", 45 * 60}, {"bcm", 45 * 60}, {"varnis", 45 * 60}, {"netbcm", 42 * 60}};

  for (const Source& s : sources) {
    SCOPED_TRACE(s.kind);
    std::unique_ptr<SimulatedUps> ups;
    std::unique_ptr<netbcmsim::NetBcmAdapter> adapter;
    std::vector<std::string> args = {"-b"};
    std::function<bool(const std::string&)> control;
    if (std::string(s.kind) == "netbcm") {
      netbcmsim::AdapterOptions options;
      options.port = 0;
      adapter = std::make_unique<netbcmsim::NetBcmAdapter>(options);
      ASSERT_EQ(adapter->Start(&error), 0) << error;
      ASSERT_TRUE(adapter->Do(std::string("set access ") + kAccessCode));
      args.insert(args.end(),
                  {"-x", "9", "-c", "127.0.0.1:" + std::to_string(adapter->port()), "-s", kAccessCode});
      control = [&](const std::string& line) { return adapter->Do(line); };
    } else {
      ups = std::make_unique<SimulatedUps>(s.kind);
      ASSERT_TRUE(ups->ok()) << ups->error();
      args.insert(args.end(), {"-d", ups->device()});
      control = [&](const std::string& line) { return ups->Do(line); };
    }
    AgentProcess agent;
    {
      // The outage must not bring the shutdown while the test watches the battery.
      KT_SCP image;
      image.config.SetTotalBatteryTime(60);
      image.config.SetShutdownStartDelay(30);
      testing_support::InDirectory in(agent.Dir());
      KT_OSServices files(image);
      ASSERT_EQ(files.WriteConfigFile(), 1);
    }
    ASSERT_TRUE(agent.Start(args));
    ScpConsole console("127.0.0.9");
    ASSERT_TRUE(console.ok());

    int full = -1;
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return (full = BatteryTime(console)) == s.fullSeconds; }, 120000))
        << "battery time " << full << "\n"
        << agent.Stderr();
    if (std::string(s.kind) == "apc") {
      // An input voltage the agent cannot read (no decimal point, as line noise makes it) is
      // served as unknown; the other readings go on following the UPS.
      ASSERT_TRUE(control("set input-voltage 210"));
      ASSERT_TRUE(control("set load 080.0"));
      int load = -1;
      int input = -1;
      EXPECT_TRUE(AgentProcess::WaitFor(
          [&] {
            MeterBlock meters;
            if (!ReadMeters(console, {3}, meters)) return false;
            load = meters.GetVAPercentLoad();
            input = meters.GetInputVoltage(0);
            return load == 80 && input == 0xFFFF;
          },
          30000))
          << "load " << load << " %, input voltage " << input;
      ASSERT_TRUE(control("set input-voltage 230.4"));
    }
    ASSERT_TRUE(control("mains fail"));
    int draining = -1;
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] {
          draining = BatteryTime(console);
          return draining > 0 && draining < s.fullSeconds;
        },
        120000))
        << "battery time " << draining;
    ASSERT_TRUE(control("mains ok"));

    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(60000), 0);
  }
}

}  // namespace
