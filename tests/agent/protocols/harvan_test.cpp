// The Varnis II protocol against scripted replies.
#include "agent/protocols/harvan.h"

#include <gtest/gtest.h>

#include <string>

#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"
#include "tests/support/test_support.h"

using protocol_testing::Scripted;
using testing_support::TempDir;

namespace {

class HarvanReplies : public ::testing::Test {
 protected:
  TempDir dir_;
  KT_SCP scp_;
  Scripted<KT_Harvan> harvan_{scp_};
};

TEST_F(HarvanReplies, ProbeReadsOnlyWholeLines) {
  // The probe reads 30 bytes: here they end inside the first value after the name. That
  // value is not there to be read, so it is no failure of the probe.
  harvan_.replies = {"", "NNAME\rHLC-1500 UPS SW2\rNOUNN\r230.0\rNOSNN\r1.50\r"};
  EXPECT_EQ(harvan_.Probe(), 1);
  EXPECT_EQ(harvan_.Sent(), "\r\rUPTP\r");
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 12);
  EXPECT_EQ(scp_.upsInfo.GetNominalOutputVoltage(), 0xFFFF);
  // Silence twice is no Varnis II UPS; a value that cannot be read is a failure.
  harvan_.replies = {};
  EXPECT_EQ(harvan_.Probe(), 0);
  harvan_.line.clear();
  harvan_.replies = {"", "NOUNN\r230\r"};
  EXPECT_EQ(harvan_.Probe(), -1);
}

TEST_F(HarvanReplies, RequestsStartWithTwoCarriageReturns) {
  harvan_.replies = {"", "STOK\r00\r"};
  ASSERT_EQ(harvan_.UpdateStatus(), 1);
  EXPECT_EQ(harvan_.Sent(), "\r\rUPSS\r");
  EXPECT_EQ(harvan_.SendRequest(nullptr, 0, 0), -1);
  EXPECT_EQ(harvan_.ProtocolError().errorClass, ERR_HARVAN);
  EXPECT_EQ(harvan_.ProtocolError().function, HARVAN_FN_SEND);
}

}  // namespace
