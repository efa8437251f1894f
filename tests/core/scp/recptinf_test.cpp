#include "core/scp/recptinf.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/scp/scp_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;
using testing_support::TraceCapture;

Bytes Encode(Recptinf& b) {
  Bytes reply;
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {28, 1})), 1);
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  return m.data;
}

TEST(Recptinf, SetCountSizesTheTableBothWays) {
  TempDir dir;
  Recptinf r;
  EXPECT_EQ(r.GetUpDelay(0), 0xFFFF);
  EXPECT_EQ(r.GetStatus(0), 0xFF);
  EXPECT_EQ(r.SetStatus(0, 1), 0);     // nothing to set
  EXPECT_EQ(r.SetUpDelay(0, 5), -1);   // fails without a table
  EXPECT_EQ(r.errorClass, ERR_RECPTINF);
  EXPECT_EQ(r.function, Recptinf::FN_UP_DELAY);

  r.SetCount(2);
  EXPECT_EQ(r.SetDownDelay(1, 30), 1);
  // A larger count later gives room for the new receptacles and keeps the old ones.
  r.SetCount(4);
  EXPECT_EQ(r.GetDownDelay(1), 30);
  EXPECT_EQ(r.SetDownDelay(3, 40), 1);
  EXPECT_EQ(r.GetDownDelay(3), 40);
  EXPECT_EQ(r.GetDownDelay(4), 0xFFFF);  // past the count reads as "no receptacle"
  EXPECT_EQ(r.SetSchedDownDura(4, 1), -1);
  EXPECT_EQ(r.SetSchedDownTime(-1, 1), -1);
  r.SetCount(1);
  EXPECT_EQ(r.GetCount(), 1);
  EXPECT_EQ(r.GetDownDelay(1), 0xFFFF);
  r.Reset();
  EXPECT_FALSE(r.HasTable());
  EXPECT_EQ(r.GetNonCriticalSegment(), kNoSegment);
}

TEST(Recptinf, RecordRoundTripAndItsTrace) {
  Recptinf r;
  r.SetCount(2);
  r.SetNonCriticalSegment(1);
  r.SetStatus(1, RECEPTACLE_OFF_SCHEDULED);
  r.SetSchedDownTime(1, 0x0102);
  r.SetSchedDownDura(1, 0x0304);
  r.SetDownDelay(1, 0x0506);
  r.SetUpDelay(1, 0x0708);
  TraceCapture trace;
  const Bytes bytes = Encode(r);
  EXPECT_EQ(bytes, (Bytes{2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(trace.Contains("Recptinf::ConvertField: pStatus[1].status = 2\n"));
  EXPECT_TRUE(trace.Contains("Recptinf::ConvertField: pStatus[1].up_delay = 1800\n"));

  Recptinf copy;
  Bytes reply;
  ASSERT_GE(copy.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {28, 1, 1}, bytes)), 0);
  EXPECT_EQ(copy.GetCount(), 2);
  EXPECT_EQ(copy.GetNonCriticalSegment(), 1);
  EXPECT_EQ(copy.GetUpDelay(1), 0x0708);
  EXPECT_EQ(Encode(copy), bytes);

  // A record with count 0 leaves no table.
  ASSERT_GE(copy.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {28, 1}, Bytes{0, 255})), 0);
  EXPECT_FALSE(copy.HasTable());
  EXPECT_EQ(copy.GetUpDelay(0), 0xFFFF);
}

TEST(Recptinf, CountBeyondTheBytesIsRefusedAndRouteTouchesBranchOne) {
  TempDir dir;
  Recptinf r;
  r.SetCount(1);
  r.SetUpDelay(0, 9);
  Bytes reply;
  Bytes bad{200, 0};
  bad.resize(2 + kReceptacleBytes, 0);
  EXPECT_LT(r.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {28, 1}, bad)), 0);
  EXPECT_EQ(r.GetCount(), 1);
  EXPECT_EQ(r.GetUpDelay(0), 9);

  EXPECT_EQ(r.Branches().GetTime(1), 0);
  EXPECT_EQ(r.GetRoute(1), ROUTE_AGENT);
  EXPECT_NE(r.Branches().GetTime(1), 0);
  EXPECT_EQ(r.GetRoute(2), ROUTE_REFUSED);
  EXPECT_EQ(r.function, Recptinf::FN_GET_ROUTE);
}

}  // namespace
