// A master agent on a simulated Smart-UPS and four client agents, real VigilNT processes in a
// network of the test's own, through faults around an outage: a low battery while the UPS is on
// line (no client is told anything), the master killed during an outage, the battery low and
// the power back before it is started again (no client shuts down; a client that was never told
// of the outage shows nothing), commands forged by a console to a client (a field of the
// master's command alone, a wrong password: nothing happens, one refusal is logged), then an
// outage in which one client is restarted and another sits behind a relay that drops the first
// utility-failure command and the first two low-battery commands (each shuts down exactly once,
// counted by its shutdown stand-in). A fifth client, on another network than the master's bind
// address, cannot be sent to: the master's system log names it once per command.
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "agent/servers/network_server.h"
#include "core/scp/password.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::Decode;
using testing_support::ScpConsole;
using testing_support::SetFrame;
using testing_support::SimulatedUps;

constexpr const char* kMasterIp = "127.0.0.1";
constexpr const char* kRelayIp = "127.0.0.20";
constexpr const char* kUnreachableIp = "10.77.0.9";
const char* const kClientIps[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
constexpr size_t kClients = 4;
constexpr size_t kRestarted = 1;   // restarted during the second outage
constexpr size_t kBehindRelay = 2; // the master sends to the relay
constexpr size_t kLate = 3;        // started only after the master was killed
constexpr int kBoundMs = 60000;

constexpr const char* kUtilityFailure = "Received UF Shutdown Command!";
constexpr const char* kLowBattery = "Received LB Shutdown Command!";

// Forwards the datagrams sent to port 7010 of its address to a client agent's port 7010,
// dropping the next commands of a kind it is told to drop. The client's answers end here.
class DroppingRelay {
 public:
  DroppingRelay(const std::string& ip, const std::string& to) : socket_(ip, 7010), to_(to) {
    thread_ = std::thread([this] { Run(); });
  }
  ~DroppingRelay() {
    stop_ = true;
    thread_.join();
  }
  bool ok() const { return socket_.ok(); }
  // Drops the next `count` commands of this kind (CLIENT_UTILITY_FAILURE, CLIENT_LOW_BATTERY).
  void DropNext(int command, int count) { (command == CLIENT_LOW_BATTERY ? dropLB_ : dropUF_) = count; }
  int Dropped() const { return dropped_; }
  // When each low-battery command came, dropped or not.
  std::vector<std::chrono::steady_clock::time_point> LowBatteryTimes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lowBatteryTimes_;
  }

 private:
  void Run() {
    while (!stop_) {
      const auto bytes = socket_.Receive(100);
      if (!bytes) continue;
      const auto m = Decode(*bytes);
      if (!m || m->type != SCP_SET || m->key != std::vector<uint8_t>{27, 4}) continue;
      CommandBlock block;
      std::vector<uint8_t> none;
      if (block.ConvertMessage(none, *m) >= 0) {
        if (block.GetCommand() == CLIENT_LOW_BATTERY) {
          std::lock_guard<std::mutex> lock(mutex_);
          lowBatteryTimes_.push_back(std::chrono::steady_clock::now());
        }
        std::atomic<int>* drop = block.GetCommand() == CLIENT_UTILITY_FAILURE ? &dropUF_
                                 : block.GetCommand() == CLIENT_LOW_BATTERY   ? &dropLB_
                                                                              : nullptr;
        if (drop != nullptr && drop->load() > 0) {
          --*drop;
          ++dropped_;
          continue;
        }
      }
      socket_.Send(to_, 7010, *bytes);
    }
  }

  ScpConsole socket_;
  std::string to_;
  std::atomic<bool> stop_{false};
  std::atomic<int> dropUF_{0};
  std::atomic<int> dropLB_{0};
  std::atomic<int> dropped_{0};
  mutable std::mutex mutex_;
  std::vector<std::chrono::steady_clock::time_point> lowBatteryTimes_;
  std::thread thread_;
};

class MasterOutageTest : public ConsoleNetworkTest {
 protected:
  void SetUp() override {
    ConsoleNetworkTest::SetUp();
    if (HasFatalFailure()) return;
    relay_ = std::make_unique<DroppingRelay>(kRelayIp, kClientIps[kBehindRelay]);
    ASSERT_TRUE(relay_->ok());
    UseCountingShutdown(master_, kMasterIp);
    for (size_t i = 0; i < kClients; ++i) UseCountingShutdown(clients_[i], kClientIps[i]);
  }
  void TearDown() override {
    for (AgentProcess* a : {&master_, &clients_[0], &clients_[1], &clients_[2], &clients_[3]}) {
      if (!a->Running()) continue;
      a->Signal(SIGTERM);
      EXPECT_EQ(a->Wait(kBoundMs), 0);
    }
  }
  // Starts the agent (again: its trace goes on in the same file) and waits until this run's
  // trace holds each of the texts.
  bool StartAndWait(AgentProcess& agent, const std::vector<std::string>& args, const std::vector<std::string>& env,
                    const std::vector<std::string>& texts) {
    const std::string before = agent.Stderr();
    if (!agent.Start(args, env)) return false;
    for (const std::string& text : texts) {
      if (!WaitForTrace(agent, text, Count(before, text) + 1)) return false;
    }
    return true;
  }
  bool StartMaster(const std::string& device) {
    return StartAndWait(master_, {"-b", "-d", device},
                        {std::string("LD_PRELOAD=") + SYSLOG_CAPTURE_LIBRARY,
                         "VIGIL_SYSLOG_CAPTURE=" + master_.File("syslog.txt")},
                        {"Inside SERIAL thread", "NETWORK THREAD IS ALIVE"});
  }
  bool StartClient(size_t i) { return StartAndWait(clients_[i], {"-b"}, {}, {"NETWORK THREAD IS ALIVE"}); }
  // The master's power-event clients: the four (one through the relay) and the unreachable one.
  void ConfigureClients() {
    KT_SCP image;
    {
      auto lock = image.Lock();
      KT_NetClientList& list = image.config.PowerEventClients();
      for (size_t i = 0; i < kClients; ++i) {
        const char* ip = i == kBehindRelay ? kRelayIp : kClientIps[i];
        list.Add(IpAddressOf(ip), KT_Password::kDefaultPassword, 0, 2, 1);  // shutdown after 2 minutes
      }
      list.Add(IpAddressOf(kUnreachableIp), KT_Password::kDefaultPassword, 0, 2, 1);
    }
    const auto answer = Ask(*console_, kMasterIp, SetFrameOf(image, {4, 9}));
    ASSERT_TRUE(answer) << master_.TraceDump();
    ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  }
  bool WaitForTrace(AgentProcess& agent, const std::string& text, size_t times) {
    return AgentProcess::WaitFor([&] { return Count(agent.Stderr(), text) >= times; }, kBoundMs);
  }
  // Lets the running master make a few more turns: a command it sent would have arrived.
  void SeveralMasterTurns() {
    const size_t turns = Count(master_.Stderr(), "NETWORK THREAD IS ALIVE");
    ASSERT_TRUE(WaitForTrace(master_, "NETWORK THREAD IS ALIVE", turns + 4)) << master_.TraceDump();
  }
  // No client has been told low battery, or shut down.
  void ExpectNoClientToldLowBattery() {
    for (size_t i = 0; i < kClients; ++i) {
      EXPECT_EQ(Count(clients_[i].Stderr(), kLowBattery), 0u) << kClientIps[i];
      EXPECT_EQ(ShutdownsOf(clients_[i]), 0u) << kClientIps[i];
    }
  }

  AgentProcess master_;
  AgentProcess clients_[kClients];
  std::unique_ptr<DroppingRelay> relay_;
};

TEST_F(MasterOutageTest, NoClientShutsDownAfterThePowerCameBackAndEachOnceOnLowBattery) {
  SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  for (size_t i = 0; i < kClients; ++i) {
    if (i == kLate) continue;
    ASSERT_TRUE(StartClient(i)) << clients_[i].TraceDump();
  }
  ASSERT_TRUE(StartMaster(ups.device())) << master_.TraceDump();
  ConfigureClients();

  // A low battery on line (a battery still recharging): the master stays up and tells no one.
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(WaitForAlarm(*console_, kMasterIp, ALARM_LOW_BATTERY)) << master_.TraceDump();
  SeveralMasterTurns();
  ExpectNoClientToldLowBattery();
  ASSERT_TRUE(ups.Do("battery ok"));

  // The master killed during an outage, the battery low, the power back, the master started
  // again: it tells its clients that the utility is restored, and nothing of low battery.
  ASSERT_TRUE(ups.Do("mains fail"));
  for (size_t i = 0; i < kClients; ++i) {
    if (i == kLate) continue;
    ASSERT_TRUE(WaitForTrace(clients_[i], kUtilityFailure, 1)) << i << "\n" << master_.TraceDump();
    EXPECT_TRUE(WaitForAlarm(*console_, kClientIps[i], ALARM_ON_BATTERY));
  }
  master_.Signal(SIGKILL);
  ASSERT_NE(master_.Wait(kBoundMs), -1);
  ASSERT_TRUE(StartClient(kLate)) << clients_[kLate].TraceDump();
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(ups.Do("mains ok"));
  // (The first run told the clients started then that the utility is restored, at its start.)
  size_t restored[kClients];
  for (size_t i = 0; i < kClients; ++i) restored[i] = Count(clients_[i].Stderr(), "Received UR Command!");
  ASSERT_TRUE(StartMaster(ups.device())) << master_.TraceDump();
  for (size_t i = 0; i < kClients; ++i) {
    SCOPED_TRACE(kClientIps[i]);
    AgentProcess& client = clients_[i];
    ASSERT_TRUE(WaitForTrace(client, "Received UR Command!", restored[i] + 1)) << master_.TraceDump();
    EXPECT_TRUE(WaitForAlarm(*console_, kClientIps[i], ALARM_ON_BATTERY, false));
    EXPECT_TRUE(WaitForAlarm(*console_, kClientIps[i], ALARM_REMOTE_SHUTDOWN, false));
    if (i == kLate) {
      // Never told of an outage: the restore is no news.
      EXPECT_TRUE(WaitForTrace(client, "no outage from the master is held", 1));
      EXPECT_FALSE(Contains(client.Stdout(), "Utility")) << client.Stdout();
    } else {
      EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(client.Stdout(), "Utility Power Restored."); }, kBoundMs))
          << client.Stdout();
    }
  }
  SeveralMasterTurns();
  ExpectNoClientToldLowBattery();
  EXPECT_TRUE(master_.Running());
  ASSERT_TRUE(ups.Do("battery ok"));

  // Forged commands to a client that has taken the master's: a field of the command alone is
  // refused; a whole command with a wrong password (sent twice) is refused with one record.
  auto answer = Ask(*console_, kClientIps[0], SetFrame({BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN, 3}, {CLIENT_LOW_BATTERY}));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_FAILED});
  KT_SCP forged;
  forged.commandBlock.SetCommand(CLIENT_LOW_BATTERY);
  forged.commandBlock.SetPassword("Wrong9");
  const size_t received = Count(clients_[0].Stderr(), "Shutdown command received from the master");
  for (size_t n = 1; n <= 2; ++n) {
    answer = Ask(*console_, kClientIps[0], SetFrameOf(forged, {BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN}));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
    ASSERT_TRUE(WaitForTrace(clients_[0], "Shutdown command received from the master", received + n));
  }
  EXPECT_EQ(EventsOf(*console_, kClientIps[0], EVENT_REMOTE_SHUTDOWN_FAILED), 1u);
  ExpectNoClientToldLowBattery();
  EXPECT_TRUE(WaitForAlarm(*console_, kClientIps[0], ALARM_LOW_BATTERY, false));

  // An outage in which a client restarts and another misses the first command, then low
  // battery: each shuts down once.
  size_t told[kClients];
  for (size_t i = 0; i < kClients; ++i) told[i] = Count(clients_[i].Stderr(), kUtilityFailure);
  relay_->DropNext(CLIENT_UTILITY_FAILURE, 1);
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(WaitForTrace(clients_[0], kUtilityFailure, told[0] + 1)) << master_.TraceDump();
  clients_[kRestarted].Signal(SIGKILL);
  ASSERT_NE(clients_[kRestarted].Wait(kBoundMs), -1);
  ASSERT_TRUE(StartClient(kRestarted)) << clients_[kRestarted].TraceDump();
  for (size_t i = 0; i < kClients; ++i) {
    EXPECT_TRUE(WaitForTrace(clients_[i], kUtilityFailure, told[i] + 1)) << i << "\n" << clients_[i].TraceDump();
  }
  EXPECT_EQ(relay_->Dropped(), 1);
  // By now the first client was told this outage at least twice: warned once per outage (the
  // warning's own repeat comes after 60 s).
  EXPECT_TRUE(WaitForTrace(clients_[0], kUtilityFailure, told[0] + 2));
  EXPECT_EQ(Count(clients_[0].Stdout(), "Utility Failure, system protected by backup power."), 2u)
      << clients_[0].Stdout();
  for (size_t i = 0; i < kClients; ++i) EXPECT_EQ(ShutdownsOf(clients_[i]), 0u) << kClientIps[i];

  // The first two low-battery commands to the client behind the relay are lost: the master
  // sends more before its own shutdown ends its network thread.
  relay_->DropNext(CLIENT_LOW_BATTERY, 2);
  ASSERT_TRUE(ups.Do("battery low"));
  for (size_t i = 0; i < kClients; ++i) {
    SCOPED_TRACE(kClientIps[i]);
    // The sequence ends with the shutdown command; the agent then ends by itself.
    EXPECT_EQ(clients_[i].Wait(kBoundMs), 0) << clients_[i].TraceDump();
    EXPECT_EQ(ShutdownsOf(clients_[i]), 1u) << clients_[i].TraceDump();
  }
  EXPECT_EQ(master_.Wait(kBoundMs), 0) << master_.TraceDump();
  EXPECT_EQ(relay_->Dropped(), 3);
  // The first four low-battery commands went at least 2 s apart while the master ran; those it
  // still owed when its network thread ended went a second apart. The times are those at which
  // the relay's thread took the datagrams, which a loaded machine shifts by some tenths: the
  // bounds leave room for that and still tell a pace of one turn (about 1 s) and a burst.
  const auto times = relay_->LowBatteryTimes();
  const std::string trace = master_.Stderr();
  const size_t owedAt = trace.find("Sending the client agents the low-battery commands still owed to them");
  const size_t owed = owedAt == std::string::npos
                          ? 0
                          : Count(trace.substr(owedAt), std::string("Sent message to ") + kRelayIp);
  ASSERT_GE(times.size(), 4u);
  ASSERT_LE(owed, 3u);
  for (size_t i = 1; i < 4; ++i) {
    const double gap = std::chrono::duration<double>(times[i] - times[i - 1]).count();
    EXPECT_GE(gap, i < 4 - owed ? 1.5 : 0.6) << i << " of " << times.size() << ", " << owed << " owed";
  }

  // The client the master cannot send to: tried at every repeat, named once per command and
  // master run (each run's restore at its start, the killed run's utility failure, the second
  // run's utility failure and low battery).
  const std::string log = testing_support::ReadFileText(master_.File("syslog.txt"));
  const std::string entry = "VigilNT|3|Cannot send the ";  // LOG_ERR
  const std::string client = std::string(" command to client agent ") + kUnreachableIp + ": ";
  EXPECT_EQ(Count(log, entry + "utility failure" + client), 2u) << log;
  EXPECT_EQ(Count(log, entry + "utility restored" + client), 2u) << log;
  EXPECT_EQ(Count(log, entry + "low battery" + client), 1u) << log;
  EXPECT_GT(Count(master_.Stderr(), std::string("Sent message to ") + kUnreachableIp + " - -1"), 4u);
}

}  // namespace
