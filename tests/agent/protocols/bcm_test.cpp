// The BCM protocol against scripted replies: what goes on the line, and how a reply that is
// not the one asked for is taken.
#include "agent/protocols/bcm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/adapters/bcm_block.h"
#include "core/base/maker_codes.h"
#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"
#include "tests/support/test_support.h"

using protocol_testing::ClockPump;
using protocol_testing::Scripted;
using testing_support::ScopedManualClock;
using testing_support::TempDir;

namespace {

std::string Text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

// A one-block reply.
std::string Reply(uint8_t type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {kBcmStartByte, type, static_cast<uint8_t>(data.size()), 0x81};
  b.insert(b.end(), data.begin(), data.end());
  b.push_back(BcmChecksum(b.data(), b.size()));
  return Text(b);
}

class BcmReplies : public ::testing::Test {
 protected:
  TempDir dir_;
  KT_SCP scp_;
  Scripted<KT_BCM> bcm_{scp_};
  // The authorization pause runs on the manual clock.
  ScopedManualClock clock_;
  ClockPump pump_{*clock_, 200};
};

TEST_F(BcmReplies, CommandsGoOutAfterTheAuthorizationBlock) {
  bcm_.Decoder().capabilities = BCM_CAP_BATTERY_TEST;
  bcm_.replies = {"", Reply(BCM_REPLY_ACK, {'1', BCM_CMD_BATTERY_TEST})};
  ASSERT_EQ(bcm_.InitiateBatteryTest(), 1);
  ASSERT_EQ(bcm_.writes.size(), 2u);
  EXPECT_EQ(bcm_.writes[0], Text(BuildBcmBlock(std::vector<uint8_t>(kBcmAuthorizationCode, kBcmAuthorizationCode + 4))));
  EXPECT_EQ(bcm_.writes[1], Text({0xAB, 0x03, 0xB1, 0x00, 0x0A, 0x97}));
  ASSERT_NE(bcm_.RunningBatteryTest(), nullptr);
  EXPECT_EQ(bcm_.RunningBatteryTest()->name, "33.1.7.7.4");
}

TEST_F(BcmReplies, OnlyAnAcknowledgementOfThisCommandCounts) {
  // An earlier command of the same number was accepted; this time the UPS answers with
  // something else, or acknowledges another command, or refuses.
  bcm_.Decoder().capabilities = BCM_CAP_BATTERY_TEST;
  bcm_.Decoder().ackCommand = BCM_CMD_BATTERY_TEST;
  bcm_.Decoder().ackResult = BCM_ACK_ACCEPTED;
  const struct {
    std::string reply;
    int result;
  } cases[] = {
      {Reply(BCM_REPLY_STATUS, {'P', 0x80}), -1},
      {Reply(BCM_REPLY_ACK, {'1', BCM_CMD_DELAYED_OFF}), -1},
      {Reply(BCM_REPLY_ACK, {'3', BCM_CMD_BATTERY_TEST}), 0},
      {Reply(BCM_REPLY_ACK, {'7', BCM_CMD_BATTERY_TEST}), 1},
  };
  for (const auto& c : cases) {
    bcm_.replies = {"", c.reply};
    EXPECT_EQ(bcm_.InitiateBatteryTest(), c.result);
    EXPECT_EQ(bcm_.RunningBatteryTest() != nullptr, c.result > 0);
  }
}

TEST_F(BcmReplies, SeveralRepliesInOneReadAreAllDecodedAndTrailingNoiseIsNoFailure) {
  bcm_.Decoder().alarmMap = {25};
  KT_ReadRecord record;
  const std::string both = Reply(BCM_REPLY_STATUS, {'N', 0x20}) + Reply(BCM_REPLY_ALARMS, {1}) + "\r\n";
  record.data.assign(both.begin(), both.end());
  ASSERT_EQ(bcm_.ProcessBlock(record), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_OVERLOAD), 1);
  // A second reply that is damaged fails the read.
  const std::string damaged = Reply(BCM_REPLY_STATUS, {'P', 0x80}) + Reply(BCM_REPLY_ALARMS, {0}).substr(0, 5);
  record.data.assign(damaged.begin(), damaged.end());
  EXPECT_EQ(bcm_.ProcessBlock(record), -1);
}

TEST_F(BcmReplies, ProbeTakesOnlyAStatusReply) {
  // No menu answers the interrupt key; the status request is answered by another reply
  // type, then by the status.
  bcm_.replies = {"", Reply(BCM_REPLY_ACK, {'4', 51}), Reply(BCM_REPLY_STATUS, {'P', 0x80})};
  EXPECT_EQ(bcm_.Probe(), 1);
  EXPECT_EQ(bcm_.writes.size(), 3u);
  // The probe only parses: nothing reaches the blocks.
  EXPECT_EQ(scp_.upsStatus.GetAlarmCount(), 0);
  bcm_.writes.clear();
  bcm_.replies = {};
  EXPECT_EQ(bcm_.Probe(), 0);
  bcm_.fail_writes = true;
  EXPECT_EQ(bcm_.Probe(), -1);
}

}  // namespace
