// The network command server turn by turn: registration and status pushes, unregistering,
// malformed and oversized datagrams, the bound on registered consoles.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "agent/servers/network_server.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "tests/support/scp_console.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Decode;
using testing_support::GetFrame;
using testing_support::IsStatusPush;
using testing_support::ScpConsole;
using testing_support::SetFrame;

constexpr int kQuietMs = 100;

class NetworkServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server_.Open(0), 1);
    port_ = ntohs(server_.Udp().GetPort());
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_AGENT_STARTED);
  }

  // Sends from the console, then runs one turn that serves it.
  void Serve(ScpConsole& console, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(console.Send("127.0.0.1", port_, bytes));
    server_.Turn(1);
  }
  void Register(ScpConsole& console) {
    Serve(console, GetFrame({1}, 1));
    console.ReceiveAll(kQuietMs);  // the answer and the first push
  }
  static int Pushes(const std::vector<std::vector<uint8_t>>& received) {
    int n = 0;
    for (const auto& d : received) n += IsStatusPush(d) ? 1 : 0;
    return n;
  }
  void SetAlarm(int code) {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(code);
  }

  testing_support::ScopedManualClock clock_;
  KT_SCP scp_;
  KT_NetworkServer server_{scp_};
  uint16_t port_ = 0;
};

TEST_F(NetworkServerTest, RegistersEachAddressOnceAndPushesItTheStatusBlockAtOnce) {
  ScpConsole a;
  Serve(a, GetFrame({1}, 1));
  const auto first = a.ReceiveAll(kQuietMs);
  ASSERT_EQ(first.size(), 2u);  // the answer, then the push of the current state
  EXPECT_EQ(Pushes(first), 2);  // the fresh block is answered with its data too
  EXPECT_EQ(server_.Clients().Count(), 1);

  Serve(a, GetFrame({1}, 1));
  EXPECT_EQ(a.ReceiveAll(kQuietMs).size(), 1u);  // only the answer
  EXPECT_EQ(server_.Clients().Count(), 1);

  // A GET of the status block without the extra code, or of another block, registers nobody.
  ScpConsole b;
  Serve(b, GetFrame({1}, 0));
  Serve(b, GetFrame({2, 1, 0}, 1));
  EXPECT_EQ(server_.Clients().Count(), 1);
}

TEST_F(NetworkServerTest, EveryRegisteredConsoleGetsExactlyOnePushPerAlarmChange) {
  ScpConsole a;
  ScpConsole b;
  Register(a);
  Register(b);

  clock_->AdvanceSeconds(3);
  SetAlarm(ALARM_ON_BATTERY);
  server_.Turn(0);
  for (ScpConsole* c : {&a, &b}) {
    const auto received = c->ReceiveAll(kQuietMs);
    ASSERT_EQ(received.size(), 1u);
    ASSERT_TRUE(IsStatusPush(received[0]));
    const KT_ScpMessage m = *Decode(received[0]);
    // Alarm count, then the active codes in ascending order: 1 and 9.
    ASSERT_GE(m.data.size(), 4u);
    EXPECT_EQ(m.data[0], 2);
    EXPECT_EQ(m.data[2], ALARM_ON_BATTERY);
    EXPECT_EQ(m.data[3], ALARM_AGENT_STARTED);
  }
  server_.Turn(0);
  server_.Turn(0);
  EXPECT_TRUE(a.ReceiveAll(kQuietMs).empty());
  EXPECT_TRUE(b.ReceiveAll(kQuietMs).empty());
}

TEST_F(NetworkServerTest, AlarmChangedInTheSecondOfThePreviousPushIsStillPushed) {
  ScpConsole a;
  Register(a);
  clock_->AdvanceSeconds(5);
  SetAlarm(ALARM_ON_BATTERY);
  server_.Turn(0);
  ASSERT_EQ(Pushes(a.ReceiveAll(kQuietMs)), 1);
  // The clock stands still: the mains return in the same second as that push.
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.ClearAlarm(ALARM_ON_BATTERY);
  }
  server_.Turn(0);
  const auto received = a.ReceiveAll(kQuietMs);
  ASSERT_EQ(Pushes(received), 1);
  EXPECT_EQ(Decode(received[0])->data[0], 1);  // only "started" is left
}

TEST_F(NetworkServerTest, UnregisteredConsoleGetsNoMorePushesAndUnknownSenderIsStillAnswered) {
  ScpConsole a;
  ScpConsole b;
  Register(a);
  Register(b);
  Serve(a, SetFrame({27, 6}, {1}));
  auto answer = a.Receive(1000);
  ASSERT_TRUE(answer);
  auto m = Decode(*answer);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, SCP_STATUS);
  EXPECT_EQ(m->data, std::vector<uint8_t>{SCP_SET_OK});
  EXPECT_EQ(server_.Clients().Count(), 1);

  ScpConsole stranger;
  Serve(stranger, SetFrame({27, 6}, {1}));
  answer = stranger.Receive(1000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Decode(*answer)->data, std::vector<uint8_t>{SCP_SET_OK});
  EXPECT_EQ(server_.Clients().Count(), 1);

  clock_->AdvanceSeconds(2);
  SetAlarm(ALARM_LOW_BATTERY);
  server_.Turn(0);
  EXPECT_EQ(Pushes(a.ReceiveAll(kQuietMs)), 0);
  EXPECT_EQ(Pushes(b.ReceiveAll(kQuietMs)), 1);
}

TEST_F(NetworkServerTest, MalformedDatagramsAreAnsweredWithInvalidPacketOrNotAtAll) {
  ScpConsole a;
  // No frame marker: no key was decoded, nothing to answer.
  Serve(a, {0x01, 0x02, 0x03, 0x04, 0x05});
  EXPECT_FALSE(a.Receive(kQuietMs));
  // A SET of [27, 9] whose data length says 10 with 2 bytes present: status 5 for its key.
  Serve(a, {0xC0, 0x00, 0x0B, 0x02, 0x02, 27, 9, 0x00, 0x0A, 'h', 'i'});
  auto answer = a.Receive(1000);
  ASSERT_TRUE(answer);
  const auto m = Decode(*answer);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, SCP_STATUS);
  EXPECT_EQ(m->key, (std::vector<uint8_t>{27, 9}));
  EXPECT_EQ(m->data, std::vector<uint8_t>{SCP_INVALID_PACKET});
  // A key length running past the datagram: nothing decoded, no answer; a GET whose length
  // field disagrees: no answer; an empty datagram: nothing.
  Serve(a, {0xC0, 0x00, 0x07, 0x02, 0xFF, 27});
  Serve(a, {0xC0, 0x00, 0x09, 0x01, 0x00, 0x01, 0x01});
  Serve(a, {});
  EXPECT_FALSE(a.Receive(kQuietMs));
  // The agent's state is untouched: no request was queued, the message block has no text.
  auto lock = scp_.Lock();
  EXPECT_FALSE(scp_.commandBlock.GetMessage());
  int set = 0;
  int branch = 0;
  scp_.system_queue.ResetCursor();
  EXPECT_EQ(scp_.system_queue.GetNext(set, branch), 0);
}

// Datagrams too long to receive are dropped with a trace line each and no error record (anyone
// may send a stream of them), and the turn still pushes.
TEST_F(NetworkServerTest, DatagramTooLongToReceiveStillLetsTheTurnPush) {
  testing_support::TempDir dir;
  testing_support::TraceCapture trace;
  ScpConsole a;
  Register(a);
  clock_->AdvanceSeconds(2);
  SetAlarm(ALARM_OVERLOAD);
  std::vector<uint8_t> huge = SetFrame({27, 9}, std::vector<uint8_t>(6000, 'x'));
  ASSERT_TRUE(a.Send("127.0.0.1", port_, huge));
  ASSERT_TRUE(a.Send("127.0.0.1", port_, huge));
  Serve(a, huge);
  const auto received = a.ReceiveAll(kQuietMs);
  ASSERT_EQ(received.size(), 1u);  // no answer to the lost datagrams, but the push
  EXPECT_TRUE(IsStatusPush(received[0]));
  const std::string line = "Datagram longer than 5000 bytes dropped: Address = |127.0.0.1|At port " +
                           std::to_string(a.port()) + "\n";
  const std::string text = trace.Text();
  size_t lines = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++lines;
  EXPECT_EQ(lines, 3u) << text;
  EXPECT_FALSE(std::filesystem::exists("error.dat"));
}

TEST_F(NetworkServerTest, RegisteredConsolesAreBoundedAndTheLongestSilentMakesWay) {
  std::vector<std::unique_ptr<ScpConsole>> consoles;
  for (int i = 0; i < KT_ClientList::kMaxClients + 3; ++i) {
    consoles.push_back(std::make_unique<ScpConsole>());
    clock_->AdvanceSeconds(1);
    Serve(*consoles.back(), GetFrame({1}, 1));
  }
  EXPECT_EQ(server_.Clients().Count(), KT_ClientList::kMaxClients);
  auto listed = [&](const ScpConsole& c) {
    for (const KT_Client& k : server_.Clients().Clients()) {
      if (ntohs(k.address.GetPort()) == c.port()) return true;
    }
    return false;
  };
  EXPECT_FALSE(listed(*consoles[0]));
  EXPECT_FALSE(listed(*consoles[2]));
  EXPECT_TRUE(listed(*consoles[3]));
  EXPECT_TRUE(listed(*consoles.back()));
}

TEST_F(NetworkServerTest, WaitingDatagramsAreServedInOneTurnUpToTheBound) {
  ScpConsole a;
  const int sent = KT_NetworkServer::kMaxDatagramsPerTurn + 8;
  for (int i = 0; i < sent; ++i) ASSERT_TRUE(a.Send("127.0.0.1", port_, GetFrame({2, 1, 0})));
  server_.Turn(0);
  EXPECT_EQ(static_cast<int>(a.ReceiveAll(kQuietMs).size()), KT_NetworkServer::kMaxDatagramsPerTurn);
  server_.Turn(0);
  EXPECT_EQ(static_cast<int>(a.ReceiveAll(kQuietMs).size()), 8);
}

TEST(StatusPushFrame, CarriesTheWholeStatusBlock) {
  testing_support::ScopedManualClock clock;
  StatusBlock status;
  status.SetAlarm(ALARM_LOW_BATTERY);
  std::vector<uint8_t> frame;
  ASSERT_EQ(BuildStatusPushFrame(status, frame), 1);
  const auto m = Decode(frame);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->type, SCP_DATA);
  EXPECT_EQ(m->key, std::vector<uint8_t>{1});
  StatusBlock copy;
  ASSERT_GE(copy.ConvertMessage(frame, *m), 0);
  EXPECT_EQ(copy.IsAlarmSet(ALARM_LOW_BATTERY), 1);
}

}  // namespace
