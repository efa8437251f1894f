#include "core/scp/block.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/scp/scp_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::TempDir;

// A block with the usual kinds of fields: branch 1 (byte, 16-bit, text), branch 2 (two 32-bit
// numbers), branch 3 (a counted list of bytes).
class SampleBlock : public KT_Block {
 public:
  SampleBlock() {
    branches_.AddBranch(0, 0);
    branches_.AddBranch(1, 3);
    branches_.AddBranch(2, 2);
    branches_.AddBranch(3, 1);
    SetRefreshPeriod(2);
  }
  int GetRoute(int branch) override { return branch >= 0 && branch <= 3 ? ROUTE_AGENT : ROUTE_REFUSED; }
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override {
    KT_FieldIO io(direction, out, in);
    if (branch == 1 && field == 1) return io.U8(mode);
    if (branch == 1 && field == 2) return io.U16(delay);
    if (branch == 1 && field == 3) return io.Text(name);
    if (branch == 2 && field == 1) return io.U32(count);
    if (branch == 2 && field == 2) return io.I32(offset);
    if (branch == 3 && field == 1) {
      if (io.Encoding()) return out->Put16(static_cast<uint32_t>(blob.size())) < 0 ? -1 : out->PutBytes(blob.data(), blob.size());
      uint16_t n = 0;
      if (in->Get16(n) < 0) return -1;
      return in->GetBytes(blob, n);
    }
    return -1;
  }

  uint8_t mode = 7;
  uint16_t delay = 0x0102;
  std::optional<std::string> name = std::string("ups");
  uint32_t count = 3;
  int32_t offset = -1;
  Bytes blob{0xAA};
};

const Bytes kBranch1{7, 0x01, 0x02, 4, 'u', 'p', 's', 0};
const Bytes kBranch2{0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kBranch3{0, 1, 0xAA};

Bytes DataOf(const Bytes& frame) {
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(frame.data(), frame.size(), m), 0);
  EXPECT_EQ(m.type, SCP_DATA);
  return m.data;
}

TEST(BlockConversion, GetOfEachKeyFormEncodesTheAddressedPart) {
  SampleBlock b;
  Bytes whole = kBranch1;
  whole.insert(whole.end(), kBranch2.begin(), kBranch2.end());
  whole.insert(whole.end(), kBranch3.begin(), kBranch3.end());

  Bytes reply;
  for (const Bytes& key : {Bytes{4}, Bytes{4, 0}, Bytes{4, 0, 5}}) {
    ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, key)), 1);
    EXPECT_EQ(DataOf(reply), whole);
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.begin() + 5 + key.size()), key);  // the request's key
  }
  ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 2})), 1);
  EXPECT_EQ(DataOf(reply), kBranch2);
  ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 1, 0})), 1);
  EXPECT_EQ(DataOf(reply), kBranch1);
  ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 1, 3})), 1);
  EXPECT_EQ(reply, (Bytes{0xC0, 0, 15, 3, 3, 4, 1, 3, 0, 5, 4, 'u', 'p', 's', 0}));
}

TEST(BlockConversion, BadKeysAndFieldsFailWithAnEmptyReply) {
  TempDir dir;
  SampleBlock b;
  Bytes reply{1, 2};
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 1, 1, 1})), -1);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(b.errorClass, ERR_BLOCK_CONVERSION);
  EXPECT_EQ(b.function, RECORD_FN_MESSAGE);
  EXPECT_EQ(b.code, RECORD_BAD_KEY);
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {})), -1);
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 1, 9})), -1);
  EXPECT_TRUE(reply.empty());
}

TEST(BlockConversion, DataReplyThatWouldNotFitAFrameIsRefused) {
  TempDir dir;
  SampleBlock b;
  Bytes reply;
  b.blob.assign(65535 - 7 - 2 - 2, 0x55);  // branch 3 with key [4, 3] fills a frame exactly
  ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 3})), 1);
  EXPECT_EQ(reply.size(), 65535u);
  b.blob.push_back(0x55);
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4, 3})), -1);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(b.code, RECORD_REPLY_TOO_LONG);
  // The whole block is larger still.
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4})), -1);
}

TEST(BlockConversion, DecodeMarksTheBlockAndTheDecodedBranchOnly) {
  ScopedManualClock clock(5000);
  SampleBlock b;
  Bytes reply{9};
  Bytes data{1, 0, 2, 3, 'a', 'b', 0};
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {4, 1}, data)), 1);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(b.mode, 1);
  EXPECT_EQ(b.delay, 2);
  EXPECT_EQ(b.name, "ab");
  EXPECT_EQ(b.Branches().GetTime(0), 5000);
  EXPECT_EQ(b.Branches().GetTime(1), 5000);
  // Branch 1 has three fields; the branches numbered 2 and 3 were not decoded.
  EXPECT_EQ(b.Branches().GetTime(2), 0);
  EXPECT_EQ(b.Branches().GetTime(3), 0);
}

TEST(BlockConversion, FailedDecodeMarksNothingFresh) {
  ScopedManualClock clock(5000);
  SampleBlock b;
  Bytes reply;
  // The text's count runs past the data.
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_DATA, {4, 1}, {1, 0, 2, 9, 'a'})), -1);
  EXPECT_EQ(b.Branches().GetTime(0), 0);
  EXPECT_EQ(b.Branches().GetTime(1), 0);
  EXPECT_EQ(b.name, "ups");
  // A whole block stops at the first failing branch; earlier branches keep their decode.
  Bytes whole = kBranch1;
  whole.insert(whole.end(), {0, 0, 0, 9});
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_DATA, {4}, whole)), -1);
  EXPECT_EQ(b.Branches().GetTime(1), 5000);
  EXPECT_EQ(b.Branches().GetTime(2), 0);
}

TEST(BlockConversion, WholeBlockRoundTripsThroughTheRecordForm) {
  SampleBlock a;
  a.mode = 200;
  a.name.reset();
  a.offset = 123456;
  a.blob = {1, 2, 3};
  KT_RecordWriter w;
  ASSERT_EQ(a.ConvertBlock(CONVERT_ENCODE, &w, nullptr), 1);
  SampleBlock b;
  KT_RecordReader r(w.Data());
  ASSERT_EQ(b.ConvertBlock(CONVERT_DECODE, nullptr, &r), 1);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(b.mode, 200);
  EXPECT_FALSE(b.name.has_value());
  EXPECT_EQ(b.offset, 123456);
  EXPECT_EQ(b.blob, (Bytes{1, 2, 3}));
}

TEST(BlockFreshness, FollowsTheRefreshPeriodOnTheInjectedClock) {
  ScopedManualClock clock(10000);
  SampleBlock b;
  EXPECT_FALSE(b.IsFresh(1));  // never filled
  b.Branches().Touch(1);
  clock->AdvanceSeconds(2);
  EXPECT_TRUE(b.IsFresh(1));
  clock->AdvanceSeconds(1);
  EXPECT_FALSE(b.IsFresh(1));
  b.SetRefreshPeriod(kRefreshNever);
  clock->AdvanceSeconds(1000000);
  EXPECT_TRUE(b.IsFresh(1));
  b.Branches().ClearTime(1);
  EXPECT_FALSE(b.IsFresh(1));
}

TEST(BlockStatus, TakeStatusReturnsTheStatusOnce) {
  SampleBlock b;
  EXPECT_EQ(b.GetStatus(), -1);
  b.SetStatus(0x104);
  EXPECT_EQ(b.TakeStatus(), 4);
  EXPECT_EQ(b.TakeStatus(), -1);

  ScopedManualClock clock(777);
  EXPECT_EQ(b.StoreReceived(2, {6, 1}), 1);
  int value = 0;
  EXPECT_EQ(b.Branches().GetReceived(2, value), 777);
  EXPECT_EQ(value, 6);
  EXPECT_EQ(b.StoreReceived(2, {}), 0);
  EXPECT_EQ(b.Branches().GetReceived(9, value), 0);
}

TEST(BranchTable, AddressesAndChangeStates) {
  TempDir dir;
  KT_BranchTable t;
  EXPECT_EQ(t.AddBranch(0, 0), 1);
  EXPECT_EQ(t.AddBranch(1, 3), 1);
  EXPECT_EQ(t.AddBranch(1, 5), 0);
  EXPECT_EQ(t.AddBranch(2, -1), -1);
  EXPECT_EQ(t.GetCount(), 2);
  EXPECT_EQ(t.GetFieldCount(1), 4);
  EXPECT_EQ(t.GetFieldCount(7), -1);

  const uint8_t whole[] = {4};
  const uint8_t field2[] = {4, 1, 2};
  const uint8_t field4[] = {4, 1, 4};
  const uint8_t branch7[] = {4, 7};
  EXPECT_TRUE(t.IsAddressValid(whole, 1));
  EXPECT_TRUE(t.IsAddressValid(field2, 3));
  EXPECT_FALSE(t.IsAddressValid(field4, 3));  // beyond the branch's fields
  EXPECT_FALSE(t.IsAddressValid(branch7, 2));
  EXPECT_FALSE(t.IsAddressValid(field2, 0));
  EXPECT_FALSE(t.IsAddressValid(field2, 4));
  t.SetFieldState(1, 2, FIELD_NOT_AVAILABLE);
  EXPECT_FALSE(t.IsAddressValid(field2, 3));
  EXPECT_TRUE(t.IsAddressValid(field2, 2));  // the branch as a whole is still there

  std::vector<uint8_t> states;
  ASSERT_EQ(t.GetStates(1, states), 1);
  EXPECT_EQ(states, (std::vector<uint8_t>{FIELD_INITIAL, 0, FIELD_NOT_AVAILABLE, 0}));
  EXPECT_EQ(t.GetStates(9, states), -1);
  EXPECT_EQ(t.errorClass, ERR_BRANCH_TABLE);

  t.SetFieldState(1, 2, FIELD_CHANGED);
  EXPECT_EQ(t.IsChanged(field2, 3), 1);
  EXPECT_EQ(t.IsChanged(field2, 2), 0);
  t.SetFieldState(1, 0, FIELD_CHANGED);
  EXPECT_EQ(t.IsChanged(field2, 2), 1);
  EXPECT_EQ(t.IsChanged(branch7, 2), 0);

  std::vector<uint8_t> numbers;
  ASSERT_EQ(t.GetBranchNumbers(numbers), 1);
  EXPECT_EQ(numbers, (std::vector<uint8_t>{0, 1}));
}

}  // namespace
