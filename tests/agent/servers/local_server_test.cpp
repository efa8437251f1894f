// The local command server over the shared-memory channel, against a console on the same
// channel and against the network server serving the same SCP object.
#include <arpa/inet.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "agent/servers/local_server.h"
#include "agent/servers/network_server.h"
#include "core/network/ipc.h"
#include "core/scp/scp.h"
#include "tests/support/scp_console.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::GetFrame;
using testing_support::IsStatusPush;
using testing_support::SetFrame;

class LocalServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VIGIL_NAME_PREFIX", testing_support::UniqueName("local").c_str(), 1);
    {
      auto lock = scp_.Lock();
      scp_.upsStatus.SetAlarm(ALARM_AGENT_STARTED);
      scp_.config.Branches().Touch(5);
    }
    ASSERT_EQ(local_.Open(), 1);
    ASSERT_EQ(console_.Initialize(), 1);
    ASSERT_GE(console_.OpenChannel(kIpcConsoleRole), 0);
  }
  void TearDown() override { testing_support::RestoreProgramNamePrefix(); }

  // Writes the block as the console, runs one turn, and collects what the agent wrote back.
  std::vector<std::vector<uint8_t>> Exchange(const std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) {
      EXPECT_EQ(console_.Send(nullptr, bytes), 1);
    }
    local_.Turn();
    return Collect();
  }
  std::vector<std::vector<uint8_t>> Collect() {
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> block;
    while (console_.IsDataReady() && console_.Receive(nullptr, block) == 1) {
      out.push_back(block);
      local_.Turn();  // a push waits for the block to be free
    }
    return out;
  }

  testing_support::ScopedManualClock clock_;
  KT_SCP scp_;
  KT_LocalServer local_{scp_};
  KT_IPC console_;
};

TEST_F(LocalServerTest, ConsoleGetsTheSameAnswersAsOverUdp) {
  KT_NetworkServer network(scp_);
  ASSERT_EQ(network.Open(0), 1);
  testing_support::ScpConsole udp;
  const std::vector<std::vector<uint8_t>> requests = {
      GetFrame({4, 5}),                          // fresh: the data
      GetFrame({2, 1, 0}),                       // never filled: "Get Resend"
      GetFrame({10}),                            // no such block: "Not Available"
      SetFrame({27, 9}, {3, 'h', 'i', 0}),       // a message for the agent: "Set OK"
      SetFrame({4, 5, 2}, {0x00}),               // too short for the field: "Set Failed"
      {0xC0, 0x00, 0x0B, 0x02, 0x02, 27, 9, 0x00, 0x0A, 'h', 'i'},  // "Invalid packet"
  };
  for (const auto& request : requests) {
    const auto overShm = Exchange(request);
    ASSERT_TRUE(udp.Send("127.0.0.1", ntohs(network.Udp().GetPort()), request));
    network.Turn(1);
    const auto overUdp = udp.ReceiveAll(100);
    ASSERT_EQ(overShm.size(), 1u);
    ASSERT_EQ(overUdp.size(), 1u);
    EXPECT_EQ(overShm[0], overUdp[0]);
  }
  // A block without the frame marker gets no answer on either channel.
  EXPECT_TRUE(Exchange({1, 2, 3}).empty());
}

TEST_F(LocalServerTest, ConsoleIsPushedStatusBlocksOnlyWhileRegistered) {
  clock_->AdvanceSeconds(1);
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  }
  EXPECT_TRUE(Exchange({}).empty());  // not registered: no push

  const auto registered = Exchange(GetFrame({1}, 1));
  ASSERT_EQ(registered.size(), 2u);  // the answer and the first push
  EXPECT_TRUE(IsStatusPush(registered[1]));
  EXPECT_EQ(local_.Clients().Count(), 1);
  Exchange(GetFrame({1}, 1));
  EXPECT_EQ(local_.Clients().Count(), 1);

  clock_->AdvanceSeconds(1);
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
  }
  const auto pushed = Exchange({});
  ASSERT_EQ(pushed.size(), 1u);
  EXPECT_TRUE(IsStatusPush(pushed[0]));

  Exchange(SetFrame({27, 6}, {1}));
  EXPECT_EQ(local_.Clients().Count(), 0);
  clock_->AdvanceSeconds(1);
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.ClearAlarm(ALARM_LOW_BATTERY);
  }
  EXPECT_TRUE(Exchange({}).empty());
}

}  // namespace
