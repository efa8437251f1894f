// A master's commands to its client agents, turn by turn: the server runs on 127.0.0.1 and the
// client agents are sockets on port 7010 of 127.0.0.2 and 127.0.0.3, inside a network of the
// test's own.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "agent/servers/network_server.h"
#include "core/scp/scp.h"
#include "tests/support/private_network.h"
#include "tests/support/scp_console.h"
#include "tests/support/test_support.h"
#include "platform/system_log.h"

namespace {

using testing_support::Decode;
using testing_support::ScpConsole;

constexpr int kQuietMs = 100;

struct Received {
  int command = -1;
  int shutDelay = -1;
  int warnDelay = -1;
  int timeShutDelay = -1;
  std::optional<std::string> password;
};

class ClientCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
    ASSERT_EQ(KT_UDP::SetDefaultBindAddress("127.0.0.1"), 1);
    server_ = std::make_unique<KT_NetworkServer>(scp_);
    ASSERT_EQ(server_->Open(0), 1);
    client2_ = std::make_unique<ScpConsole>("127.0.0.2", 7010);
    client3_ = std::make_unique<ScpConsole>("127.0.0.3", 7010);
    ASSERT_TRUE(client2_->ok());
    ASSERT_TRUE(client3_->ok());
  }
  void TearDown() override { KT_UDP::SetDefaultBindAddress(nullptr); }

  static KT_Address Ip(const char* dotted) {
    KT_Address a(ADDRESS_IP);
    in_addr in{};
    inet_pton(AF_INET, dotted, &in);
    a.SetIpAddress(in.s_addr);
    return a;
  }
  void AddPowerClient(const char* ip, const char* password) {
    auto lock = scp_.Lock();
    scp_.config.PowerEventClients().Add(Ip(ip), password, 3, 7, 4);
  }
  void AddScheduleClient(const char* ip, const char* password, uint8_t warn, uint8_t timeShut) {
    auto lock = scp_.Lock();
    scp_.config.ScheduledShutdownClients().Add(Ip(ip), password, warn, 9, timeShut);
  }
  void Alarm(int code, bool on) {
    auto lock = scp_.Lock();
    if (on) {
      scp_.upsStatus.SetAlarm(code);
    } else {
      scp_.upsStatus.ClearAlarm(code);
    }
  }
  void Schedule(int64_t when) {
    auto lock = scp_.Lock();
    if (when == 0) {
      scp_.schedShutdown.SetEntries(0, nullptr);
      return;
    }
    schedule_struct e;
    e.startTime = static_cast<uint32_t>(when);
    e.restartValue = 600;
    scp_.schedShutdown.SetEntries(1, &e);
  }
  // The commands a client socket received (each checked to be a SET of block 27 branch 4).
  static std::vector<Received> Commands(ScpConsole& client, int quietMs = kQuietMs) {
    std::vector<Received> out;
    for (const auto& bytes : client.ReceiveAll(quietMs)) {
      const auto m = Decode(bytes);
      EXPECT_TRUE(m);
      if (!m) continue;
      EXPECT_EQ(m->type, SCP_SET);
      EXPECT_EQ(m->key, (std::vector<uint8_t>{27, 4}));
      CommandBlock block;
      std::vector<uint8_t> none;
      EXPECT_GE(block.ConvertMessage(none, *m), 0);
      out.push_back({block.GetCommand(), block.GetShutDelay(), block.GetWarnDelay(), block.GetTimeShutDelay(),
                     block.GetPassword()});
    }
    return out;
  }
  void Turns(int n) {
    for (int i = 0; i < n; ++i) {
      clock_->AdvanceSeconds(2);
      server_->Turn(0);
    }
  }

  testing_support::ScopedManualClock clock_;
  KT_SCP scp_;
  std::unique_ptr<KT_NetworkServer> server_;
  std::unique_ptr<ScpConsole> client2_;
  std::unique_ptr<ScpConsole> client3_;
};

TEST_F(ClientCommandTest, PowerEventsReachEachClientAndAreRepeatedWhileTheyLast) {
  AddPowerClient("127.0.0.2", "secret");
  AddPowerClient("127.0.0.3", nullptr);
  Turns(3);
  EXPECT_TRUE(Commands(*client2_).empty());

  Alarm(ALARM_ON_BATTERY, true);
  Turns(5);  // 8 s after the first: not yet repeated
  auto c2 = Commands(*client2_);
  auto c3 = Commands(*client3_);
  ASSERT_EQ(c2.size(), 1u);
  ASSERT_EQ(c3.size(), 1u);
  EXPECT_EQ(c2[0].command, CLIENT_UTILITY_FAILURE);
  EXPECT_EQ(c2[0].shutDelay, 7);
  EXPECT_EQ(c2[0].warnDelay, 3);
  EXPECT_EQ(c2[0].password, "secret");
  EXPECT_EQ(c3[0].command, CLIENT_UTILITY_FAILURE);
  EXPECT_FALSE(c3[0].password) << "a client without a password was sent " << *c3[0].password;

  Turns(10);  // 20 s more: repeated every 10 s, to both
  c2 = Commands(*client2_);
  ASSERT_EQ(c2.size(), 2u);
  EXPECT_EQ(c2[1].command, CLIENT_UTILITY_FAILURE);
  EXPECT_EQ(c2[1].password, "secret");
  EXPECT_EQ(Commands(*client3_).size(), 2u);

  Alarm(ALARM_ON_BATTERY, false);
  Turns(25);  // the restore window closes: three tries, 10 s apart
  c2 = Commands(*client2_);
  ASSERT_EQ(c2.size(), 3u);
  for (const Received& r : c2) EXPECT_EQ(r.command, CLIENT_UTILITY_RESTORED);
  EXPECT_EQ(server_->RestoreUntil(), 0);
  Turns(10);
  EXPECT_TRUE(Commands(*client2_).empty());

  Alarm(ALARM_ON_BATTERY, true);
  Alarm(ALARM_LOW_BATTERY, true);
  Turns(5);
  c2 = Commands(*client2_);
  ASSERT_EQ(c2.size(), 4u);  // low battery wins over the new outage, the first four 2 s apart
  for (const Received& r : c2) EXPECT_EQ(r.command, CLIENT_LOW_BATTERY);
  Turns(4);
  c2 = Commands(*client2_);
  ASSERT_EQ(c2.size(), 1u);  // then at the repeat cadence
  EXPECT_EQ(c2[0].command, CLIENT_LOW_BATTERY);

  // Power back, then a second outage that ends in low battery: told again.
  Alarm(ALARM_LOW_BATTERY, false);
  Alarm(ALARM_ON_BATTERY, false);
  Turns(15);
  EXPECT_EQ(Commands(*client2_).size(), 3u);
  Commands(*client3_);
  Alarm(ALARM_ON_BATTERY, true);
  Alarm(ALARM_LOW_BATTERY, true);
  Turns(1);
  c2 = Commands(*client2_);
  ASSERT_EQ(c2.size(), 1u);
  EXPECT_EQ(c2[0].command, CLIENT_LOW_BATTERY);
  EXPECT_EQ(Commands(*client3_).size(), 1u);
  // The thread stops (the master's own shutdown) before the others went out: they go now, a
  // second apart, and once only.
  std::vector<int> pauses;
  auto pause = [&](int ms) { pauses.push_back(ms); };
  EXPECT_EQ(server_->SendOwedLowBattery(pause), 6);
  EXPECT_EQ(server_->SendOwedLowBattery(pause), 0);
  EXPECT_EQ(pauses, (std::vector<int>{1000, 1000, 1000}));
  EXPECT_EQ(Commands(*client2_).size(), 3u);

  // The agent's own command block, which consoles read, never carried a client's password.
  auto lock = scp_.Lock();
  EXPECT_FALSE(scp_.commandBlock.GetPassword());
  EXPECT_EQ(scp_.commandBlock.GetCommand(), 255);
}

// The first low-battery commands are paced by the clock, not by turns: a turn lasts 1 to 2 s,
// less when datagrams come in, and the four must span more than a short loss on the network.
TEST_F(ClientCommandTest, FirstLowBatteryCommandsGoAtLeastTwoSecondsApartWhateverTheTurn) {
  Alarm(ALARM_ON_BATTERY, true);
  Alarm(ALARM_LOW_BATTERY, true);
  for (const uint64_t turnMs : {300, 1000, 1500, 2000}) {
    SCOPED_TRACE(turnMs);
    {
      auto lock = scp_.Lock();
      scp_.config.PowerEventClients().Clear();
    }
    AddPowerClient("127.0.0.2", "secret");
    const int64_t start = clock_->Now();
    std::vector<uint64_t> sent;  // the clock's tick at each low-battery command
    for (uint64_t elapsed = 0; elapsed < 12000; elapsed += turnMs) {
      clock_->AdvanceMs(turnMs);
      clock_->Set(start + static_cast<int64_t>((elapsed + turnMs) / 1000));
      server_->Turn(0);
      for (const Received& r : Commands(*client2_, 5)) {
        EXPECT_EQ(r.command, CLIENT_LOW_BATTERY);
        sent.push_back(clock_->TickMs());
      }
    }
    // Four, each at the first turn 2 s after the one before; the repeats come 10 s later.
    ASSERT_EQ(sent.size(), 4u);
    for (size_t i = 1; i < sent.size(); ++i) {
      EXPECT_GE(sent[i] - sent[i - 1], 2000u) << i;
      EXPECT_LT(sent[i] - sent[i - 1], 2000u + turnMs) << i;
    }
  }
}

// A master that starts does not know what its clients were told: once a status read shows its
// UPS on line, every client is told that the utility is restored; a UPS that is not read yet,
// or that is on battery, tells nothing of the kind.
TEST_F(ClientCommandTest, StartWithTheUpsOnLineTellsEveryClientTheUtilityIsRestored) {
  struct Case {
    const char* what;
    uint8_t mode;
    std::vector<int> alarms;
    bool statusRead;
    int want;  // the command each client gets, -1 none
  };
  const std::vector<Case> cases = {
      {"on line, status read", COMM_SERIAL_NORMAL, {}, true, CLIENT_UTILITY_RESTORED},
      {"adapter on line", COMM_SNMP_ADAPTER, {}, true, CLIENT_UTILITY_RESTORED},
      {"status not read since the start", COMM_SERIAL_NORMAL, {}, false, -1},
      {"idle", COMM_IDLE, {ALARM_IDLE}, true, -1},
      {"UPS link lost", COMM_SERIAL_NORMAL, {ALARM_LOST_UPS_COMM}, true, -1},
      {"UPS type still being determined", COMM_SERIAL_NORMAL, {ALARM_DETERMINING_UPS_TYPE}, true, -1},
      {"on battery", COMM_SERIAL_NORMAL, {ALARM_ON_BATTERY}, true, CLIENT_UTILITY_FAILURE},
      {"on line with a low battery", COMM_SERIAL_NORMAL, {ALARM_LOW_BATTERY}, true, CLIENT_UTILITY_RESTORED},
  };
  AddPowerClient("127.0.0.2", "secret");
  AddPowerClient("127.0.0.3", nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      auto lock = scp_.Lock();
      scp_.upsStatus.ClearAllAlarms();
      for (int a : c.alarms) scp_.upsStatus.SetAlarm(a);
      scp_.config.SetCommMode(c.mode);
    }
    // A server that starts now (the previous one's port is closed first).
    server_.reset();
    server_ = std::make_unique<KT_NetworkServer>(scp_);
    ASSERT_EQ(server_->Open(0), 1);
    clock_->AdvanceSeconds(1);
    if (c.statusRead) {
      auto lock = scp_.Lock();
      scp_.upsStatus.Branches().Touch(1);
    }
    Turns(3);
    for (ScpConsole* client : {client2_.get(), client3_.get()}) {
      const auto got = Commands(*client);
      if (c.want < 0) {
        EXPECT_TRUE(got.empty()) << got.size() << " commands, the first " << got[0].command;
      } else {
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].command, c.want);
      }
    }
  }
}

// A client the master cannot send to is named in the system log once per command, not at
// every repeat; a client it reaches is not named at all.
TEST_F(ClientCommandTest, FailedSendIsReportedOncePerClientAndCommand) {
  testing_support::TempDir dir;  // the datagram channel's error records go to error.dat here
  std::vector<std::pair<platform::LogEntryType, std::string>> entries;
  platform::SetSystemLogSink([&](std::string_view, platform::LogEntryType type, std::string_view text) {
    entries.emplace_back(type, std::string(text));
  });
  AddPowerClient("10.77.0.9", "secret");  // another network: the server is bound to 127.0.0.1
  AddPowerClient("127.0.0.2", "secret");
  Alarm(ALARM_ON_BATTERY, true);
  Turns(12);  // three tries
  EXPECT_EQ(Commands(*client2_).size(), 3u);
  Alarm(ALARM_LOW_BATTERY, true);
  Turns(12);
  platform::SetSystemLogSink(nullptr);

  const std::vector<std::string> want = {"Cannot send the utility failure command to client agent 10.77.0.9: ",
                                         "Cannot send the low battery command to client agent 10.77.0.9: "};
  ASSERT_EQ(entries.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(entries[i].first, platform::LogEntryType::kError);
    EXPECT_EQ(entries[i].second.rfind(want[i], 0), 0u) << entries[i].second;
    EXPECT_GT(entries[i].second.size(), want[i].size()) << "no reason given";
  }
}

TEST_F(ClientCommandTest, ScheduledShutdownIsCommandedWithinTheLeadAndCancelledOnce) {
  AddScheduleClient("127.0.0.2", "pw", 3, 5);  // lead (5 + 3) minutes = 480 s
  const int64_t when = clock_->Now() + 600;
  Schedule(when);
  Turns(2);  // 596 s ahead
  EXPECT_TRUE(Commands(*client2_).empty());
  Turns(60);  // 476 s ahead: inside the lead
  auto c = Commands(*client2_);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].command, CLIENT_SCHEDULED_SHUTDOWN);
  EXPECT_EQ(c[0].timeShutDelay, 5);
  EXPECT_EQ(c[0].warnDelay, 3);
  EXPECT_EQ(c[0].password, "pw");

  Schedule(0);  // withdrawn long before its time
  Turns(15);
  c = Commands(*client2_);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].command, CLIENT_SHUTDOWN_CANCELLED);
}

TEST_F(ClientCommandTest, ScheduleThatRanIsNotCancelledAndAMovedOneIsCommandedAgain) {
  AddScheduleClient("127.0.0.2", "pw", 3, 5);
  int64_t when = clock_->Now() + 300;
  Schedule(when);
  Turns(1);
  ASSERT_EQ(Commands(*client2_).size(), 1u);
  // The monitor loop starts the shutdown 120 s (the system's shutdown time) ahead and takes
  // the entry away: that is no cancellation.
  clock_->Set(when - 120);
  Schedule(0);
  Turns(12);
  EXPECT_TRUE(Commands(*client2_).empty());

  // A new schedule is commanded afresh; moving it later cancels, and the new time is
  // commanded when it comes within the lead.
  when = clock_->Now() + 400;
  Schedule(when);
  Turns(1);
  auto c = Commands(*client2_);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].command, CLIENT_SCHEDULED_SHUTDOWN);
  Schedule(when + 3600);
  Turns(1);
  c = Commands(*client2_);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].command, CLIENT_SHUTDOWN_CANCELLED);
  clock_->Set(when + 3600 - 400);
  Turns(1);
  c = Commands(*client2_);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].command, CLIENT_SCHEDULED_SHUTDOWN);
}

}  // namespace
