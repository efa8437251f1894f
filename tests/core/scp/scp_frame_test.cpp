#include "core/scp/scp_frame.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

int Decode(const Bytes& b, KT_ScpMessage& m) { return DecodeScpFrame(b.data(), b.size(), m); }

TEST(ScpFrame, BuildsTheDocumentedFrames) {
  Bytes frame;
  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_GET, {2, 1, 0}), frame), 1);
  EXPECT_EQ(frame, (Bytes{0xC0, 0x00, 0x09, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00}));

  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_SET, {27, 9, 0}, {1, 2, 3, 4, 5}), frame), 1);
  EXPECT_EQ(frame, (Bytes{0xC0, 0x00, 0x0F, 0x02, 0x03, 27, 9, 0, 0x00, 0x05, 1, 2, 3, 4, 5}));

  ASSERT_EQ(BuildStatusReplyFrame(KT_ScpMessage(SCP_GET, {4, 2, 7}), frame, SCP_NOT_AVAILABLE), 1);
  EXPECT_EQ(frame, (Bytes{0xC0, 0x00, 0x0B, 0x04, 0x03, 4, 2, 7, 0x00, 0x01, 6}));

  // The extra code travels in GET frames only; other types carry data instead.
  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_GET, {1}, {9, 9}, 1), frame), 1);
  EXPECT_EQ(frame, (Bytes{0xC0, 0x00, 0x07, 0x01, 0x01, 0x01, 0x01}));
}

TEST(ScpFrame, RoundTripsEveryType) {
  for (int type = SCP_GET; type <= SCP_STATUS; ++type) {
    KT_ScpMessage in(type, {5, 2}, type == SCP_GET ? Bytes{} : Bytes{0, 0xC0, 0xFF}, type == SCP_GET ? 3 : 0);
    Bytes frame;
    ASSERT_EQ(BuildScpFrame(in, frame), 1);
    KT_ScpMessage out;
    EXPECT_EQ(Decode(frame, out), 0) << type;
    EXPECT_EQ(out, in) << type;
  }
}

TEST(ScpFrame, RefusesFramesThatWouldNotFitTheLengthField) {
  testing_support::TempDir dir;
  KT_ErrorStatus status;
  Bytes frame{1, 2, 3};
  // 7 + 3 + 65525 = 65535 still fits; one byte more does not.
  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_DATA, {6, 1, 0}, Bytes(65525, 0xAB)), frame, &status), 1);
  EXPECT_EQ(frame.size(), 65535u);
  EXPECT_EQ(frame[1], 0xFF);
  EXPECT_EQ(frame[2], 0xFF);

  EXPECT_EQ(BuildScpFrame(KT_ScpMessage(SCP_DATA, {6, 1, 0}, Bytes(65526, 0xAB)), frame, &status), -1);
  EXPECT_TRUE(frame.empty());
  EXPECT_EQ(status.errorClass, ERR_FRAME_BUILDER);
  EXPECT_EQ(status.function, 1);
  EXPECT_EQ(status.code, SCP_FRAME_TOO_LONG);
  EXPECT_EQ(testing_support::ReadFileBytes("error.dat").size(), 20u);

  EXPECT_EQ(BuildScpFrame(KT_ScpMessage(SCP_SET, Bytes(256, 1)), frame, &status), -1);
  EXPECT_EQ(status.code, SCP_FRAME_KEY_TOO_LONG);
  EXPECT_EQ(BuildScpFrame(KT_ScpMessage(0, {1}), frame, &status), -1);
  EXPECT_EQ(BuildScpFrame(KT_ScpMessage(5, {1}), frame, &status), -1);
}

TEST(ScpFrame, StatusReplyNeedsARequestKey) {
  testing_support::TempDir dir;
  KT_ErrorStatus status;
  Bytes frame{1};
  EXPECT_EQ(BuildStatusReplyFrame(KT_ScpMessage(SCP_SET, {}), frame, SCP_SET_OK, &status), -1);
  EXPECT_TRUE(frame.empty());
  EXPECT_EQ(status.errorClass, ERR_SCP_OBJECT);
  EXPECT_EQ(status.function, 1);
  EXPECT_EQ(status.code, 1);
}

struct MalformedCase {
  const char* name;
  Bytes bytes;
};

TEST(ScpFrame, RejectsMalformedFrames) {
  const MalformedCase cases[] = {
      {"empty", {}},
      {"no marker", {0x00, 0x09, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00}},
      {"marker only", {0xC0}},
      {"half a length", {0xC0, 0x00}},
      {"no type", {0xC0, 0x00, 0x03}},
      {"type 0", {0xC0, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00, 0x00}},
      {"type 5", {0xC0, 0x00, 0x08, 0x05, 0x01, 0x01, 0x00, 0x00}},
      {"length beyond buffer", {0xC0, 0x00, 0x0A, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00}},
      {"GET length too small", {0xC0, 0x00, 0x08, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00}},
      {"GET key past buffer", {0xC0, 0x00, 0x06, 0x01, 0x00, 0x05, 0x02}},
      {"GET without key length", {0xC0, 0x00, 0x05, 0x01, 0x00}},
      {"GET after stray bytes", {0x11, 0x22, 0xC0, 0x00, 0x09, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00}},
      {"SET key past buffer", {0xC0, 0x00, 0x07, 0x02, 0x09, 0x01, 0x02}},
      {"SET without data length", {0xC0, 0x00, 0x07, 0x02, 0x01, 0x04, 0x00}},
      {"SET data past buffer", {0xC0, 0x00, 0x0A, 0x02, 0x01, 0x04, 0x00, 0x05, 0x01, 0x02}},
  };
  for (const auto& c : cases) {
    KT_ScpMessage m;
    EXPECT_EQ(Decode(c.bytes, m), -1) << c.name;
    EXPECT_TRUE(m.data.empty()) << c.name;
  }
}

TEST(ScpFrame, KeyOfATruncatedSetIsKeptForTheInvalidPacketAnswer) {
  KT_ScpMessage m;
  Bytes bytes{0xC0, 0x00, 0x0C, 0x02, 0x02, 27, 4, 0x00, 0x09, 1, 2, 3};
  EXPECT_EQ(Decode(bytes, m), -1);
  EXPECT_EQ(m.key, (Bytes{27, 4}));
  EXPECT_TRUE(m.data.empty());
}

TEST(ScpFrame, ReturnsTheOffsetOfFurtherFrames) {
  Bytes first, second;
  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_SET, {27, 9}, {7}), first), 1);
  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_STATUS, {1, 1}, {4}), second), 1);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());

  KT_ScpMessage m;
  const int offset = Decode(both, m);
  ASSERT_EQ(offset, static_cast<int>(first.size()));
  EXPECT_EQ(m, KT_ScpMessage(SCP_SET, {27, 9}, {7}));
  EXPECT_EQ(DecodeScpFrame(both.data() + offset, both.size() - offset, m), 0);
  EXPECT_EQ(m, KT_ScpMessage(SCP_STATUS, {1, 1}, {4}));

  // Stray bytes before a frame of types 2..4 are skipped.
  Bytes stray{0x01, 0x02};
  stray.insert(stray.end(), first.begin(), first.end());
  EXPECT_EQ(Decode(stray, m), 0);
  EXPECT_EQ(m.data, Bytes{7});
}

TEST(ScpMessage, CopiesAreDeepAndEqualityCoversEveryField) {
  KT_ScpMessage a(SCP_SET, {4, 1}, {1, 2}, 0);
  KT_ScpMessage b = a;
  EXPECT_EQ(a, b);
  b.data[0] = 9;
  EXPECT_EQ(a.data[0], 1);
  EXPECT_NE(a, b);
  KT_ScpMessage c;
  c = a;
  c.key.push_back(3);
  EXPECT_NE(a, c);
  KT_ScpMessage d = a;
  d.extraCode = 1;
  EXPECT_NE(a, d);
  d = a;
  d.type = SCP_DATA;
  EXPECT_NE(a, d);
}

}  // namespace
