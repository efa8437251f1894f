// The agent against network adapters that are away or misbehave, both kinds (the real snmpd
// serving the UPS MIB, and the simulated network BCM adapter) on loopback ports of a network
// of the test's own, with a short adapter timing (polled every 2 s, 4 s time-out):
//   - an adapter that answers only after the agent started (after a power cut it may boot
//     later than the computer) is a lost communication until it answers, then watched: its
//     low battery shuts the system down (a stand-in), the configured mode stays stored, and a
//     restart without options, as the service starts, watches it again;
//   - an adapter that falls silent, or (SNMP) answers its alarm count with a wrong type, is a
//     lost communication with the UPS: the alarm, its event in the event log and its command
//     action; all of it is cleared when the adapter answers again;
//   - replies of another sender (127.0.0.77) that say the UPS is on battery with a low battery
//     are dropped and counted: no outage, no shutdown, no UPS-off command, and the adapter's own
//     answers still come through them; (NetBCM) datagrams too long for any reply (127.0.0.78)
//     are dropped and counted with them, and none leaves an error record;
//   - a stop while the adapter is silent ends the agent within a few seconds.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/engine/daemon.h"
#include "agent/engine/os_services.h"
#include "core/scp/event_log_block.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"
#include "tests/support/scp_console.h"
#include "tests/support/snmp_peer.h"
#include "tools/netbcm_adapter.h"

namespace {

constexpr const char* kAccessCode = "Zq9x2p";
constexpr uint32_t kPollingSeconds = 2;
constexpr uint32_t kTimeoutSeconds = 4;
// Where forged replies come from, and datagrams too long for any reply.
constexpr const char* kForgerIp = "127.0.0.77";
constexpr const char* kOversizeIp = "127.0.0.78";

// One adapter of either kind on a loopback port chosen before its first start.
class TestAdapter {
 public:
  explicit TestAdapter(uint16_t port) : port_(port) {}
  virtual ~TestAdapter() = default;
  virtual uint8_t Mode() const = 0;
  // The options of the agent's command line that name this adapter.
  virtual std::vector<std::string> Options() const = 0;
  // Answers (again) on its port.
  virtual bool Start() = 0;
  // Answers nothing until the next Start.
  virtual bool Silence() = 0;
  // On battery with a low battery / on line.
  virtual bool LowBattery() = 0;
  virtual bool Normal() = 0;
  // Answers the alarm count with a wrong type (or as it should again); false for a kind that
  // has no alarm count.
  virtual bool WrongType(bool on) = 0;
  // The agent's trace line of one status poll, and of the poll that asks its adapter most.
  virtual const char* StatusPollText() const = 0;
  virtual const char* LongestPollText() const = 0;
  // A second sender on kForgerIp that answers the agent's requests with the replies of an
  // adapter whose UPS is on battery with a low battery (set up before the agent starts, sending
  // while Forge(true)).
  virtual bool StartForger() = 0;
  virtual void Forge(bool on) = 0;
  // Sends datagrams too long for any reply to the port the agent asks the adapter from; false
  // for SNMP, whose library reads datagrams of up to 64 KiB and drops what is no response.
  virtual bool SendOversize(int count) = 0;
  // The UPS-off commands the adapter was given.
  virtual size_t UpsOffCommands() = 0;
  virtual std::string Name() const { return "127.0.0.1:" + std::to_string(port_); }

 protected:
  uint16_t port_;
};

class SnmpTestAdapter : public TestAdapter {
 public:
  using TestAdapter::TestAdapter;
  uint8_t Mode() const override { return COMM_SNMP_ADAPTER; }
  std::vector<std::string> Options() const override {
    return {"-x", "8", "-c", Name(), "-g", "public", "-s", "private"};
  }
  bool Start() override { return peer_.Start(port_); }
  bool Silence() override {
    peer_.Stop();
    return true;
  }
  bool LowBattery() override { return LowBatteryOf(peer_); }
  bool Normal() override {
    peer_.SetBool("on_battery", false);
    peer_.SetRaw("alarms", "[]");
    return true;
  }
  bool WrongType(bool on) override {
    peer_.SetRaw("override", on ? R"({"1.3.6.1.2.1.33.1.6.1.0": {"type": "string", "value": "two"}})" : "{}");
    return true;
  }
  const char* StatusPollText() const override { return "SNMP THREAD updating status"; }
  // The meters: a request for each of many objects.
  const char* LongestPollText() const override { return "SNMP THREAD updating meter"; }
  // The agent asks a relay on 127.0.0.30 that passes each request on to the adapter and its
  // response back. While forging it asks a second adapter on low battery too, and sends the
  // agent that one's response first: with the request's own id from kForgerIp, and its
  // response to the request before (an old id) from the relay's own address and port.
  bool StartForger() override {
    if (!forger_.Start() || !LowBatteryOf(forger_)) return false;
    front_ = std::make_unique<testing_support::ScpConsole>("127.0.0.30");
    relay_ = std::jthread([this](std::stop_token stop) {
      testing_support::ScpConsole toAdapter("127.0.0.1"), toForger("127.0.0.1"), forger(kForgerIp);
      std::vector<uint8_t> old;
      while (!stop.stop_requested()) {
        std::string ip;
        uint16_t port = 0;
        const auto request = front_->Receive(100, &ip, &port);
        if (!request) continue;
        if (forging_ && toForger.Send("127.0.0.1", forger_.port(), *request)) {
          if (const auto forged = toForger.Receive(1000)) {
            if (!old.empty()) front_->Send(ip, port, old);
            forger.Send(ip, port, *forged);
            old = *forged;
          }
        }
        if (!toAdapter.Send("127.0.0.1", port_, *request)) continue;
        if (const auto answer = toAdapter.Receive(1000)) front_->Send(ip, port, *answer);
      }
    });
    return front_->ok();
  }
  void Forge(bool on) override { forging_ = on; }
  bool SendOversize(int) override { return false; }
  size_t UpsOffCommands() override {
    const auto sets = peer_.Sets();
    return static_cast<size_t>(
        std::count_if(sets.begin(), sets.end(), [](const testing_support::SnmpSetRecord& r) {
          return r.oid == ".1.3.6.1.2.1.33.1.8.2.0" && r.result == "DONE";  // upsShutdownAfterDelay
        }));
  }
  std::string Name() const override {
    return front_ ? "127.0.0.30:" + std::to_string(front_->port()) : TestAdapter::Name();
  }

 private:
  static bool LowBatteryOf(testing_support::SnmpAdapterPeer& peer) {
    peer.SetBool("on_battery", true);
    peer.SetRaw("alarms", "[3]");
    return true;
  }
  testing_support::SnmpAdapterPeer peer_;
  testing_support::SnmpAdapterPeer forger_;
  std::unique_ptr<testing_support::ScpConsole> front_;
  std::atomic<bool> forging_{false};
  std::jthread relay_;  // last: it ends first
};

class NetBcmTestAdapter : public TestAdapter {
 public:
  using TestAdapter::TestAdapter;
  uint8_t Mode() const override { return COMM_NETBCM_ADAPTER; }
  std::vector<std::string> Options() const override { return {"-x", "9", "-c", Name(), "-s", kAccessCode}; }
  bool Start() override {
    if (adapter_) return Do("silence off");
    netbcmsim::AdapterOptions options;
    options.bind = "127.0.0.1";
    options.port = port_;
    adapter_ = std::make_unique<netbcmsim::NetBcmAdapter>(options);
    std::string error;
    return adapter_->Start(&error) == 0 && Do(std::string("set access ") + kAccessCode);
  }
  bool Silence() override { return Do("silence on"); }
  bool LowBattery() override { return Do("mains fail") && Do("battery low"); }
  bool Normal() override { return Do("mains ok") && Do("battery ok"); }
  bool WrongType(bool) override { return false; }
  const char* StatusPollText() const override { return "NetBCMThread updating status"; }
  // The status: tried until the adapter time-out has passed.
  const char* LongestPollText() const override { return "NetBCMThread updating status"; }
  // A second adapter on low battery answers a status query; its datagrams go to the port the
  // agent asks the adapter from, as fast as a loop sends them (a few thousand a second). The
  // real adapter answers 0.3 s late meanwhile, as across a slow network: by then the stream
  // fills the agent's socket unless the agent reads on while it waits.
  bool StartForger() override { return true; }
  void Forge(bool on) override {
    sprayer_ = {};
    Do(on ? "reply-delay 300" : "reply-delay 0");
    netbcmsim::NetBcmAdapter forger;
    std::string ip;
    uint16_t port = 0;
    if (!on || !adapter_->LastRequester(&ip, &port) || !forger.Do(std::string("set access ") + kAccessCode) ||
        !forger.Do("mains fail") || !forger.Do("battery low")) {
      return;
    }
    // Its answer to the status query.
    const auto forged = forger.Answer({0xAB, 0x02, 0xCE, 0x01, 0x84, 0xAB, 0x01, 0x35, 0x1F});
    sprayer_ = std::jthread([ip, port, forged](std::stop_token stop) {
      testing_support::ScpConsole from(kForgerIp);
      while (!stop.stop_requested()) {
        for (const auto& datagram : forged) from.Send(ip, port, datagram);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  bool SendOversize(int count) override {
    std::string ip;
    uint16_t port = 0;
    if (!adapter_ || !adapter_->LastRequester(&ip, &port)) return false;
    testing_support::ScpConsole from(kOversizeIp);
    for (int i = 0; i < count; ++i) from.Send(ip, port, std::vector<uint8_t>(6000, 0xAB));
    return true;
  }
  size_t UpsOffCommands() override {
    size_t n = 0;
    for (const std::string& action : adapter_->Entries("ACTION")) n += Contains(action, "ups off in") ? 1 : 0;
    return n;
  }

 private:
  bool Do(const std::string& line) { return adapter_ && adapter_->Do(line); }
  std::unique_ptr<netbcmsim::NetBcmAdapter> adapter_;
  std::jthread sprayer_;  // last: it ends first
};

enum class AdapterKind { kSnmp, kNetBcm };

class AgentAdapterFaultsTest : public ::testing::TestWithParam<AdapterKind> {
 protected:
  void SetUp() override {
    std::string error;
    testing_support::EnterPrivateNetwork(error);
    const uint16_t port = testing_support::FreeUdpPort();
    ASSERT_NE(port, 0);
    if (GetParam() == AdapterKind::kSnmp) {
      adapter = std::make_unique<SnmpTestAdapter>(port);
    } else {
      adapter = std::make_unique<NetBcmTestAdapter>(port);
    }
    // The command action's stand-in runs as the agent, whoever that is.
    path = agent.UseStandIns({"command_user = root"});
    ASSERT_TRUE(agent.InstallShippedMib());
    // The short adapter timing; the default actions, with a command for the lost and the
    // restored communication with the UPS.
    KT_SCP image;
    image.config.SetPollingInterval(kPollingSeconds);
    image.config.SetCommTimeout(kTimeoutSeconds);
    image.notify.SetDefaultActions();
    for (const auto& [event, word] : {std::pair{EVENT_UPS_COMM_LOST, "lost"}, {EVENT_UPS_COMM_RESTORED, "restored"}}) {
      KT_ActionEntry command(static_cast<uint8_t>(event), ACTION_COMMAND);
      command.SetMessage((agent.File("note.sh") + " " + word).c_str());
      ASSERT_EQ(image.notify.AddAction(command), 0);
    }
    testing_support::InDirectory in(agent.Dir());
    KT_OSServices files(image);
    ASSERT_EQ(files.WriteConfigFile(), 1);
    ASSERT_EQ(files.WriteNotifyFile(), 1);
  }

  bool Start(bool withOptions) {
    std::vector<std::string> args{"-b"};
    if (withOptions) {
      const std::vector<std::string> options = adapter->Options();
      args.insert(args.end(), options.begin(), options.end());
    }
    return agent.Start(args, {path});
  }
  std::string Trace() const { return agent.TraceDump(60, 6000); }
  uintmax_t ErrorLogSize() const {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(agent.File(kErrorLogName), ec);
    return ec ? 0 : size;
  }
  // How often the event is in the event log file.
  size_t Logged(int event) const {
    EventLogBlock log;
    if (!ReadBlockFile(agent.File(kEventLogFileName), log)) return 0;
    return static_cast<size_t>(std::count_if(log.Records().begin(), log.Records().end(), [&](const LogRecord& r) {
      return !r.data.empty() && r.data[0] == event;
    }));
  }
  // Waits for the next lost communication with the UPS after the trace position `from`: the
  // alarm, its event in the event log and its command action (`lost` counts the losses so far).
  void ExpectLoss(size_t lost, size_t from) {
    const std::string raised = std::string(GetAlarmText(ALARM_LOST_UPS_COMM)) + " set at";
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return agent.Stderr().find(raised, from) != std::string::npos; }, 60000))
        << Trace();
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Logged(EVENT_UPS_COMM_LOST) >= lost; }, 30000)) << Trace();
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Effects(), "note lost") >= lost; }, 30000))
        << agent.Effects();
  }
  // Then its end once the adapter answers again: the event, the action and "System Normal".
  void ExpectRestored(size_t restored) {
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Logged(EVENT_UPS_COMM_RESTORED) >= restored; }, 60000))
        << Trace();
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Effects(), "note restored") >= restored; }, 30000))
        << agent.Effects();
    const size_t from = agent.Stderr().size();
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return agent.Stderr().find(kSystemNormalText, from) != std::string::npos; }, 30000))
        << Trace();
  }

  std::unique_ptr<TestAdapter> adapter;
  AgentProcess agent;
  std::string path;
};

// One agent's life with an adapter that is away, falls silent and garbles: never a wrong
// setting, always a lost communication that ends when the adapter answers.
TEST_P(AgentAdapterFaultsTest, LateSilentOrGarblingAdaptersAreLostCommunicationsNeverWrongSettings) {
  ASSERT_TRUE(adapter->StartForger());
  ASSERT_TRUE(Start(true));
  // No answer at the start: a lost communication, not a wrong setting.
  size_t losses = 0;
  ExpectLoss(++losses, 0);
  EXPECT_FALSE(Contains(agent.Stderr(), "cannot run:")) << Trace();
  ASSERT_TRUE(adapter->Start());
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), adapter->StatusPollText()); }, 60000))
      << Trace();
  ExpectRestored(losses);

  // Datagrams too long for any reply, from another computer: dropped and counted (the first
  // foreign ones, so the count is traced at once), never an error record each.
  const uintmax_t logged = ErrorLogSize();
  const size_t oversizeFrom = agent.Stderr().size();
  if (adapter->SendOversize(20)) {
    const std::string oversizeDropped =
        std::string("that did not come from the adapter (the last from ") + kOversizeIp + ":";
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return Contains(agent.Stderr().substr(oversizeFrom), oversizeDropped); }, 30000))
        << Trace();
    EXPECT_LE(ErrorLogSize(), logged + 20) << Trace();
    EXPECT_FALSE(Contains(agent.Stderr().substr(oversizeFrom), "longer than 5000 bytes")) << Trace();
  }

  // Replies of an adapter whose UPS is on battery with a low battery, from another computer:
  // dropped and counted (a few trace lines, not one a datagram); no outage, no shutdown, no
  // UPS-off command.
  adapter->Forge(true);
  const size_t forgedFrom = agent.Stderr().size();
  const auto forgingSince = std::chrono::steady_clock::now();
  const std::string dropped =
      std::string("that did not come from the adapter (the last from ") + kForgerIp + ":";
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        const std::string trace = agent.Stderr().substr(forgedFrom);
        return (Count(trace, adapter->StatusPollText()) >= 5 && Contains(trace, dropped)) ||
               Contains(agent.Effects(), "shutdown -h now");
      },
      60000))
      << Trace();
  const std::string forgedTrace = agent.Stderr().substr(forgedFrom);
  EXPECT_TRUE(Contains(forgedTrace, dropped)) << Trace();
  for (const int alarm : {ALARM_ON_BATTERY, ALARM_LOW_BATTERY, ALARM_LOST_UPS_COMM}) {
    const std::string raised = std::string(GetAlarmText(alarm)) + " set at";
    EXPECT_FALSE(Contains(forgedTrace, raised)) << Trace();
  }
  EXPECT_EQ(Logged(EVENT_ON_BATTERY), 0u);
  EXPECT_FALSE(Contains(agent.Effects(), "shutdown -h now"));
  EXPECT_EQ(adapter->UpsOffCommands(), 0u);
  const double forgingSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - forgingSince).count();
  EXPECT_LE(Count(forgedTrace, dropped), 2 + forgingSeconds / 10) << Trace();

  // Watched: its low battery (through the forged stream) shuts the system down and switches the
  // UPS off; the configured mode stays stored.
  ASSERT_TRUE(adapter->LowBattery());
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Effects(), "shutdown -h now"); }, 60000))
      << Trace();
  EXPECT_EQ(agent.Wait(60000), 0) << Trace();
  EXPECT_GE(adapter->UpsOffCommands(), 1u) << Trace();
  adapter->Forge(false);
  EXPECT_FALSE(Contains(agent.Effects(), "SYSTEM SHUTDOWN PROGRAM"));
  EXPECT_FALSE(Contains(agent.Stderr(), "IDLE MODE STATE set at")) << Trace();
  ConfigBlock stored;
  ASSERT_TRUE(ReadConfigFile(agent.File(kConfigFileName), stored));
  EXPECT_EQ(stored.GetCommMode(), adapter->Mode());

  // Started again as the service starts it, without options: the stored mode watches the
  // adapter.
  ASSERT_TRUE(adapter->Normal());
  const size_t before = agent.Stderr().size();
  ASSERT_TRUE(Start(false));
  size_t polled = std::string::npos;
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return (polled = agent.Stderr().find(adapter->StatusPollText(), before)) != std::string::npos; }, 60000))
      << Trace();
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return agent.Stderr().find(kSystemNormalText, polled) != std::string::npos; }, 60000))
      << Trace();
  EXPECT_EQ(agent.Stderr().find(std::string(GetAlarmText(ALARM_LOST_UPS_COMM)) + " set at", before), std::string::npos)
      << Trace();

  // Silent, then (SNMP) answering its alarm count with a wrong type.
  ASSERT_TRUE(adapter->Silence());
  ExpectLoss(++losses, agent.Stderr().size());
  ASSERT_TRUE(adapter->Start());
  ExpectRestored(losses);
  if (adapter->WrongType(true)) {
    ExpectLoss(++losses, agent.Stderr().size());
    ASSERT_TRUE(adapter->WrongType(false));
    ExpectRestored(losses);
  }

  // A stop while the adapter is silent, in the poll that waits for it longest, with the
  // adapter time-out of a slow network (60 s).
  testing_support::ScpConsole console("127.0.0.9");
  ASSERT_TRUE(console.ok());
  ASSERT_TRUE(console.Send("127.0.0.1", 7010, testing_support::SetFrame({4, 12}, {0, 0, 0, 2, 0, 0, 0, 60})));
  ASSERT_TRUE(adapter->Silence());
  const size_t from = agent.Stderr().size();
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return agent.Stderr().find(adapter->LongestPollText(), from) != std::string::npos; }, 30000))
      << Trace();
  ASSERT_TRUE(ReadConfigFile(agent.File(kConfigFileName), stored));
  ASSERT_EQ(stored.GetCommTimeout(), 60u);
  const auto stop = std::chrono::steady_clock::now();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0) << Trace();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stop).count();
  EXPECT_LT(seconds, 8.0) << Trace();
  EXPECT_FALSE(Contains(agent.Stderr(), "did not stop in time")) << Trace();
  ASSERT_TRUE(ReadConfigFile(agent.File(kConfigFileName), stored));
  EXPECT_EQ(stored.GetCommMode(), adapter->Mode());
}

INSTANTIATE_TEST_SUITE_P(BothKinds, AgentAdapterFaultsTest,
                         ::testing::Values(AdapterKind::kSnmp, AdapterKind::kNetBcm),
                         [](const ::testing::TestParamInfo<AdapterKind>& info) {
                           return info.param == AdapterKind::kSnmp ? std::string("Snmp") : std::string("NetBcm");
                         });

}  // namespace
