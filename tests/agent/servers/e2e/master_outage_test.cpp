// A master agent on a simulated Smart-UPS and four client agents, real VigilNT processes in a
// network of the test's own, through faults around an outage: the master killed during an
// outage and started again after the power came back (no client shuts down; a client that was
// never told of the outage shows nothing), then an outage in which one client is restarted and
// another sits behind a relay that drops the first utility-failure command (each shuts down
// exactly once, counted by its shutdown stand-in). A fifth client, on another network than the
// master's bind address, cannot be sent to: the master's system log names it once per command.
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agent/servers/network_server.h"
#include "core/scp/password.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::Decode;
using testing_support::ScpConsole;
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

// Forwards the datagrams sent to port 7010 of its address to a client agent's port 7010;
// once armed, it drops the next utility-failure command. The client's answers end here.
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
  void DropNextUtilityFailure() { armed_ = true; }
  int Dropped() const { return dropped_; }

 private:
  void Run() {
    while (!stop_) {
      const auto bytes = socket_.Receive(100);
      if (!bytes) continue;
      const auto m = Decode(*bytes);
      if (!m || m->type != SCP_SET || m->key != std::vector<uint8_t>{27, 4}) continue;
      CommandBlock block;
      std::vector<uint8_t> none;
      if (block.ConvertMessage(none, *m) >= 0 && block.GetCommand() == CLIENT_UTILITY_FAILURE &&
          armed_.exchange(false)) {
        ++dropped_;
        continue;
      }
      socket_.Send(to_, 7010, *bytes);
    }
  }

  ScpConsole socket_;
  std::string to_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> armed_{false};
  std::atomic<int> dropped_{0};
  std::thread thread_;
};

class MasterOutageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
    console_ = std::make_unique<ScpConsole>("127.0.0.9");
    ASSERT_TRUE(console_->ok());
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

  AgentProcess master_;
  AgentProcess clients_[kClients];
  std::unique_ptr<ScpConsole> console_;
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

  // The master killed during an outage, the power back, the master started again: it tells
  // its clients that the utility is restored.
  ASSERT_TRUE(ups.Do("mains fail"));
  for (size_t i = 0; i < kClients; ++i) {
    if (i == kLate) continue;
    ASSERT_TRUE(WaitForTrace(clients_[i], kUtilityFailure, 1)) << i << "\n" << master_.TraceDump();
    EXPECT_TRUE(WaitForAlarm(*console_, kClientIps[i], ALARM_ON_BATTERY));
  }
  master_.Signal(SIGKILL);
  ASSERT_NE(master_.Wait(kBoundMs), -1);
  ASSERT_TRUE(StartClient(kLate)) << clients_[kLate].TraceDump();
  ASSERT_TRUE(ups.Do("mains ok"));
  ASSERT_TRUE(StartMaster(ups.device())) << master_.TraceDump();
  for (size_t i = 0; i < kClients; ++i) {
    SCOPED_TRACE(kClientIps[i]);
    AgentProcess& client = clients_[i];
    ASSERT_TRUE(WaitForTrace(client, "Received UR Command!", 1)) << master_.TraceDump();
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

  // An outage in which a client restarts and another misses the first command, then low
  // battery: each shuts down once.
  size_t told[kClients];
  for (size_t i = 0; i < kClients; ++i) told[i] = Count(clients_[i].Stderr(), kUtilityFailure);
  relay_->DropNextUtilityFailure();
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

  ASSERT_TRUE(ups.Do("battery low"));
  for (size_t i = 0; i < kClients; ++i) {
    SCOPED_TRACE(kClientIps[i]);
    // The sequence ends with the shutdown command; the agent then ends by itself.
    EXPECT_EQ(clients_[i].Wait(kBoundMs), 0) << clients_[i].TraceDump();
    EXPECT_EQ(ShutdownsOf(clients_[i]), 1u) << clients_[i].TraceDump();
  }
  EXPECT_EQ(master_.Wait(kBoundMs), 0) << master_.TraceDump();

  // The client the master cannot send to: tried at every repeat, named once per command and
  // master run (the killed run's utility failure, the second run's restore, utility failure and
  // low battery).
  const std::string log = testing_support::ReadFileText(master_.File("syslog.txt"));
  const std::string entry = "VigilNT|3|Cannot send the ";  // LOG_ERR
  const std::string client = std::string(" command to client agent ") + kUnreachableIp + ": ";
  EXPECT_EQ(Count(log, entry + "utility failure" + client), 2u) << log;
  EXPECT_EQ(Count(log, entry + "utility restored" + client), 1u) << log;
  EXPECT_EQ(Count(log, entry + "low battery" + client), 1u) << log;
  EXPECT_GT(Count(master_.Stderr(), std::string("Sent message to ") + kUnreachableIp + " - -1"), 4u);
}

}  // namespace
