#include "agent/workers/serial_link_driver.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/scp/scp.h"
#include "platform/clock.h"
#include "tests/support/test_support.h"

using testing_support::ScopedManualClock;
using testing_support::TempDir;

namespace {

TEST(SerialLinkDriver, ProtocolsWriteTheBatteryFilesWhenATestHasFinished) {
  TempDir dir;
  KT_SCP scp;
  std::vector<int> written;
  KT_SerialLinkDriver link(scp, [&](int block) { written.push_back(block); });
  std::unique_ptr<SerialUpsProtocol> varnis = link.CreateProtocol(PROTOCOL_VARNIS);
  ASSERT_NE(varnis, nullptr);
  // The port is not open: the request goes nowhere, but the test counts as started, and the
  // Varnis II result follows from the time passed and the alarms.
  varnis->InitiateBatteryTest();
  ScopedManualClock clock(platform::Now() + 60);
  ASSERT_EQ(varnis->UpdateBatteryTest(), 1);
  EXPECT_EQ(written, (std::vector<int>{BLOCK_BATTERY_TEST, BLOCK_BATTERY_LOG}));
}

}  // namespace
