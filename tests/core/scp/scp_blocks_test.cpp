// The configuration-side blocks as the SCP object serves them.
#include <gtest/gtest.h>

#include <vector>

#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::TempDir;

class ScpBlocks : public ::testing::Test {
 protected:
  int Execute(int type, Bytes key, Bytes data = {}) {
    return scp.ExecuteCommand(KT_ScpMessage(type, std::move(key), std::move(data)), reply);
  }
  KT_ScpMessage Reply() {
    KT_ScpMessage m;
    EXPECT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
    return m;
  }

  TempDir dir;
  ScopedManualClock clock{100000};
  KT_SCP scp;
  Bytes reply;
};

TEST_F(ScpBlocks, EveryBlockIdIsServed) {
  for (int id : {5, 7, 9, 24, 25, 26, 28}) {
    SCOPED_TRACE(id);
    EXPECT_NE(scp.GetBlock(id), nullptr);
    ASSERT_GE(Execute(SCP_GET, {static_cast<uint8_t>(id), 1}), 0);
    const KT_ScpMessage m = Reply();
    ASSERT_EQ(m.type, SCP_STATUS);
    EXPECT_EQ(m.data, Bytes{SCP_GET_RESEND});  // never filled yet: a read is queued
  }
  // Waveforms are read from the UPS, the others by the agent.
  int set = -1, branch = -1;
  EXPECT_GE(scp.serial_queue.Find(9, 1), 0);
  EXPECT_EQ(scp.serial_queue.GetCount(), 1);
  EXPECT_EQ(scp.system_queue.GetCount(), 6);
  scp.system_queue.ResetCursor();
  EXPECT_EQ(scp.system_queue.GetNext(set, branch), 5);
}

TEST_F(ScpBlocks, SetIsAppliedQueuedAndThenAnsweredFromTheImage) {
  // A schedule with one entry, as a console sends it.
  const Bytes entry{0, 0, 0, 1, 0, 0, 0, 0, 1, 0x86, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_GE(Execute(SCP_SET, {24, 1}, entry), 0);
  EXPECT_EQ(Reply().data, Bytes{SCP_SET_OK});
  EXPECT_GE(scp.system_queue.Find(24, 1), 0);
  EXPECT_EQ(scp.schedShutdown.GetShutdownTime(), 100000);

  clock->AdvanceSeconds(100000);  // "never stale" once filled
  ASSERT_GE(Execute(SCP_GET, {24, 1}), 0);
  const KT_ScpMessage m = Reply();
  EXPECT_EQ(m.type, SCP_DATA);
  EXPECT_EQ(m.data, entry);

  // A SET whose data cannot be read is refused and leaves the table.
  ASSERT_GE(Execute(SCP_SET, {24, 1}, Bytes{0, 0, 0, 9, 1}), 0);
  EXPECT_EQ(Reply().data, Bytes{SCP_SET_FAILED});
  EXPECT_EQ(scp.schedShutdown.GetCount(), 1);
}

TEST_F(ScpBlocks, WaveformIsFreshForTwentySeconds) {
  KT_Waveform* wave = scp.waveforms.Wave(2);
  wave->SetSampleCount(1);
  ASSERT_EQ(wave->SetSamples(std::vector<uint32_t>{125}), 1);
  ASSERT_GE(Execute(SCP_DATA, {9, 2}, Bytes{0, 1, 0, 0, 0, 125}), 0);  // the driver's fill
  clock->AdvanceSeconds(20);
  ASSERT_GE(Execute(SCP_GET, {9, 2}), 0);
  EXPECT_EQ(Reply().type, SCP_DATA);
  clock->AdvanceSeconds(1);
  ASSERT_GE(Execute(SCP_GET, {9, 2}), 0);
  EXPECT_EQ(Reply().data, Bytes{SCP_GET_RESEND});
  EXPECT_GE(scp.serial_queue.Find(9, 2), 0);
}

}  // namespace
