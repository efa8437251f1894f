#include "core/adapters/bcm_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/core/scoped_time_zone.h"

namespace {

// A reply block with a correct checksum.
std::vector<uint8_t> Block(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {kBcmStartByte, type, static_cast<uint8_t>(data.size()), sequence};
  b.insert(b.end(), data.begin(), data.end());
  b.push_back(BcmChecksum(b.data(), b.size()));
  return b;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Parsed {
  int result;
  int error;
  BcmReply reply;
};

Parsed Parse(const std::vector<uint8_t>& bytes, size_t offset = 0) {
  Parsed p{};
  p.result = ParseBcmReply(bytes.data(), bytes.size(), offset, &p.reply, &p.error);
  return p;
}

TEST(BcmBlock, SentBlocksSumToZero) {
  // The probe's status request and the checksums of the adapter's fixed queries.
  EXPECT_EQ(BuildBcmBlock({BCM_REQ_STATUS}), (std::vector<uint8_t>{0xAB, 0x01, 0x33, 0x21}));
  EXPECT_EQ(BuildBcmBlock({BCM_REQ_ALARMS}), (std::vector<uint8_t>{0xAB, 0x01, 0x35, 0x1F}));
  EXPECT_EQ(BuildBcmBlock({BCM_REQ_LOAD_SEGMENTS}), (std::vector<uint8_t>{0xAB, 0x01, 0x41, 0x13}));
  const std::vector<uint8_t> command = BuildBcmBlock({BCM_CMD_DELAYED_OFF, 0x2C, 0x01});
  EXPECT_TRUE(BcmSumIsZero(command.data(), command.size()));
  EXPECT_EQ(command.size(), 6u);
  // Nothing to send, or more than one length byte can say.
  EXPECT_TRUE(BuildBcmBlock({}).empty());
  EXPECT_TRUE(BuildBcmBlock(std::vector<uint8_t>(256, 1)).empty());
  EXPECT_EQ(BuildBcmBlock(std::vector<uint8_t>(255, 1)).size(), 258u);
}

TEST(BcmBlock, ReplySplitIntoBlocksIsJoined) {
  const auto bytes = Join({Block(4, 1, {1, 2}), Block(4, 2, {3}), Block(4, 0x83, {4, 5})});
  const Parsed p = Parse(bytes);
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.reply.type, 4);
  EXPECT_EQ(p.reply.blocks, 3);
  EXPECT_EQ(p.reply.data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST(BcmBlock, DamagedRepliesAreRefusedWithTheirCodes) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int error;
  };
  auto badSum = Block(3, 0x81, {'P', 0x80});
  badSum.back() ^= 1;
  auto longer = Block(3, 0x81, {'P', 0x80});
  longer[2] = 9;  // announces more data than arrived
  const Case cases[] = {
      {"blocks 1 and 3", Join({Block(4, 1, {1}), Block(4, 0x83, {2})}), BCM_PARSE_SEQUENCE},
      {"first block numbered 2", Block(4, 0x82, {1}), BCM_PARSE_SEQUENCE},
      {"type changes", Join({Block(4, 1, {1}), Block(5, 0x82, {2})}), BCM_PARSE_TYPE_CHANGED},
      {"checksum", badSum, BCM_PARSE_CHECKSUM},
      {"fewer than six bytes", {0xAB, 3, 0, 0x81, 0x00}, BCM_PARSE_TOO_SHORT},
      {"no start byte", {1, 2, 3, 4, 5, 6, 7}, BCM_PARSE_NO_START},
      {"block longer than the bytes", longer, BCM_PARSE_BLOCK_TOO_LONG},
      {"ends before the last block", Block(4, 1, {1, 2}), BCM_PARSE_PAST_END},
      {"next block cut short", Join({Block(4, 1, {1, 2}), {0xAB, 4}}), BCM_PARSE_PAST_END},
      {"noise where the next block starts", Join({Block(4, 1, {1, 2}), {0x00, 0xAB, 4, 1, 0x82, 9, 0}}),
       BCM_PARSE_NO_START},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_EQ(p.result, -1) << c.what;
    EXPECT_EQ(p.error, c.error) << c.what;
    EXPECT_TRUE(p.reply.data.empty()) << c.what;
  }
}

TEST(BcmBlock, JunkBeforeTheReplyIsSkippedAndFollowingRepliesAreOffered) {
  const auto first = Block(3, 0x81, {'P', 0x80});
  const auto second = Block(5, 0x81, {0, 1});
  const auto bytes = Join({{0x00, 0x55, 0x0D}, first, second});
  const Parsed p = Parse(bytes);
  ASSERT_EQ(p.result, static_cast<int>(3 + first.size()));
  EXPECT_EQ(p.reply.type, 3);
  const Parsed q = Parse(bytes, static_cast<size_t>(p.result));
  EXPECT_EQ(q.result, 0);
  EXPECT_EQ(q.reply.type, 5);
  EXPECT_EQ(q.reply.data, (std::vector<uint8_t>{0, 1}));
}

TEST(BcmBlock, ReadBlockChecksEveryOffsetAgainstTheBuffer) {
  const auto b = Block(9, 0x81, {'1', 138});
  BcmBlockView v;
  ASSERT_EQ(ReadBcmBlock(b.data(), b.size(), 0, &v), BCM_BLOCK_OK);
  EXPECT_EQ(v.type, 9);
  EXPECT_TRUE(v.IsLast());
  EXPECT_EQ(v.Number(), 1);
  EXPECT_EQ(v.length, 2u);
  EXPECT_EQ(v.end, b.size());
  EXPECT_EQ(ReadBcmBlock(b.data(), b.size(), 1, &v), BCM_BLOCK_NO_START);
  EXPECT_EQ(ReadBcmBlock(b.data(), 4, 0, &v), BCM_BLOCK_SHORT);
  EXPECT_EQ(ReadBcmBlock(b.data(), b.size() - 1, 0, &v), BCM_BLOCK_TRUNCATED);
  EXPECT_EQ(ReadBcmBlock(b.data(), b.size(), b.size(), &v), BCM_BLOCK_SHORT);
  EXPECT_EQ(ReadBcmBlock(nullptr, 0, 0, &v), BCM_BLOCK_SHORT);
  // An empty data block is a block.
  const auto empty = Block(2, 0x81, {});
  EXPECT_EQ(ReadBcmBlock(empty.data(), empty.size(), 0, &v), BCM_BLOCK_OK);
  EXPECT_EQ(v.length, 0u);
}

TEST(BcmBlock, BcdAndResultTexts) {
  EXPECT_EQ(BcmFromBcd(0x59), 59);
  EXPECT_EQ(BcmFromBcd(0x5A), -1);
  EXPECT_EQ(BcmFromBcd(0xA0), -1);
  EXPECT_EQ(BcmToBcd(2026 % 100), 0x26);
  EXPECT_EQ(BcmToBcd(20), 0x20);
  EXPECT_STREQ(BcmCommandResultText('7'), "Command Accepted.  Parameter Adjusted.");
  EXPECT_STREQ(BcmCommandResultText(0), "Command Not Responded To.");
  EXPECT_STREQ(BcmCommandResultText('9'), "Command Failed.  Unknown Reason.");
  // 2026-03-14 10:20:30 UTC, in local time of a zone one hour east.
  testing_support::ScopedTimeZone zone("CET-1");
  uint8_t date[6];
  ASSERT_TRUE(BcmLocalDate(1773483630, date));
  EXPECT_EQ(std::vector<uint8_t>(date, date + 6), (std::vector<uint8_t>{0xA0, 0x26, 0x03, 0x14, 0x11, 0x20}));
  EXPECT_TRUE(BcmCommandAccepted('1'));
  EXPECT_TRUE(BcmCommandAccepted('7'));
  EXPECT_FALSE(BcmCommandAccepted('3'));
}

}  // namespace
