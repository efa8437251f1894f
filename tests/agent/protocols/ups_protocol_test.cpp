#include "agent/protocols/ups_protocol.h"

#include <gtest/gtest.h>

#include <vector>

#include "agent/protocols/apc.h"
#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"
#include "tests/support/test_support.h"

using protocol_testing::ProbeOnly;
using protocol_testing::Scripted;
using testing_support::TempDir;
using LoadCall = ProbeOnly::LoadCall;

namespace {

constexpr int kAll = KT_UpsProtocol::kAllSegments;

class ProtocolBase : public ::testing::Test {
 protected:
  TempDir dir_;
  KT_SCP scp_;
  ProbeOnly ups_{scp_};
};

TEST_F(ProtocolBase, ShutdownAndRestartSequence) {
  scp_.commandBlock.SetShutdownDelay(120);
  scp_.commandBlock.SetRestartDelay(30);
  scp_.upsInfo.SetManufacturer(0);  // the maker's own UPS: back on no sooner than 60 s after off
  EXPECT_EQ(ups_.ShutdownAndRestart(kAll), 1);
  EXPECT_EQ(ups_.load_calls, (std::vector<LoadCall>{{4, kAll, 0}, {0, kAll, 120}, {1, kAll, 180}}));

  ups_.load_calls.clear();
  scp_.upsInfo.SetManufacturer(1);
  scp_.commandBlock.SetShutdownDelay(0);
  scp_.commandBlock.SetRestartDelay(0);
  EXPECT_EQ(ups_.ShutdownAndRestart(3), 1);
  EXPECT_EQ(ups_.load_calls, (std::vector<LoadCall>{{4, 3, 0}, {0, 3, 1}, {1, 3, 1}}));

  // A scheduled shutdown of a load segment turns it off at once.
  ups_.load_calls.clear();
  schedule_struct entry;
  entry.frequency = 0;
  entry.startTime = 2000000000u;
  entry.segment = 1;
  entry.segmentOnly = 1;
  ASSERT_EQ(scp_.schedShutdown.SetEntries(1, &entry), 0);
  scp_.commandBlock.SetShutdownDelay(120);
  EXPECT_EQ(ups_.ShutdownAndRestart(1), 1);
  EXPECT_EQ(ups_.load_calls[1], (LoadCall{0, 1, 0}));

  // Off refused: no restart is asked for.
  ups_.load_calls.clear();
  ups_.load_results = {1, 0};
  EXPECT_EQ(ups_.ShutdownAndRestart(kAll), 0);
  EXPECT_EQ(ups_.load_calls.size(), 2u);
}

TEST_F(ProtocolBase, OffAfterTheSystemAndSegmentRestartDelays) {
  scp_.config.SetOsShutdownTime(90);
  EXPECT_EQ(ups_.ShutdownAfterOs(kAll), 1);
  EXPECT_EQ(ups_.ShutdownAfterOs(2), 1);
  scp_.receptacles.SetCount(3);
  scp_.receptacles.SetNonCriticalSegment(2);
  scp_.receptacles.SetUpDelay(2, 45);
  scp_.receptacles.SetUpDelay(1, 77);
  EXPECT_EQ(ups_.SetSegmentRestartDelay(2), 1);
  EXPECT_EQ(ups_.SetSegmentRestartDelay(1), 1);
  EXPECT_EQ(ups_.SetSegmentRestartDelay(kAll), 1);
  EXPECT_EQ(ups_.load_calls, (std::vector<LoadCall>{
                                 {2, kAll, 90}, {2, 2, 1}, {4, 2, 45}, {4, 1, 0}, {4, kAll, 0}}));
}

TEST_F(ProtocolBase, CableTestAndIdleLines) {
  Scripted<KT_APC> port(scp_);
  port.line_script = {-1};
  EXPECT_EQ(port.IsCableConnected(), 1);  // the loopback test is off by default: no line read
  scp_.config.SetNoLoopbackTest(0);
  EXPECT_EQ(port.IsCableConnected(), -1);
  port.lines = 0;
  EXPECT_EQ(port.IsCableConnected(), 0);
  port.lines = KT_SerialPort::kCts;
  EXPECT_EQ(port.IsCableConnected(), 1);

  EXPECT_EQ(port.SetIdleLines(), 0);
  EXPECT_EQ(port.line_sets, (std::vector<int>{0, KT_SerialPort::kRts}));
  port.line_script = {-1};
  EXPECT_EQ(port.SetIdleLines(), -1);
}

TEST_F(ProtocolBase, ReadBlockCountsOnlyTheBytesThatArrived) {
  Scripted<KT_APC> port(scp_);
  port.overflow = true;
  port.line = "12345";
  KT_ReadRecord record;
  record.capacity = 8;
  EXPECT_EQ(port.ReadBlock(record), 1);
  EXPECT_EQ(record.length, 5);
  EXPECT_EQ(record.data.size(), 5u);
  EXPECT_EQ(port.ReadBlock(record), 0);
}

// Events and actions are named by their bit in the support maps: bit 2 is event 3 ("UPS On
// Battery"); the operating system decides about the SNMP trap (action 1) and action 10.
TEST_F(ProtocolBase, DefaultCapabilitiesNameEventsByTheirBit) {
  scp_.upsInfo.SetOsType(kOsTypeLinux);
  EXPECT_EQ(ups_.UpdateCapabilities(), 1);
  std::vector<int> events;
  scp_.notify.GetSupportedEvents(events);
  EXPECT_EQ(events, (std::vector<int>{3, 4, 5, 6, 15, 16, 17, 18, 19, 20, 21, 23, 24}));
  for (int action : {1, 2, 3, 4, 5, 6, 7, 8, 10, 12}) EXPECT_EQ(scp_.notify.IsActionSupported(action), 1) << action;
  EXPECT_EQ(scp_.notify.IsActionSupported(9), 0);

  KT_SCP win95;
  win95.upsInfo.SetOsType(2);
  ProbeOnly other(win95);
  other.UpdateCapabilities();
  EXPECT_EQ(win95.notify.IsActionSupported(1), 0);  // no SNMP trap without the SNMP service
  EXPECT_EQ(win95.notify.IsActionSupported(10), 0);
}

}  // namespace
