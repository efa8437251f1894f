// The adapter's own port: the dialogs' identification and access-code checks, and a driver
// set up without a port, reach the simulated adapter on 127.0.0.2:7010 -- in a network of
// the test's own, so that port 7010 meets no other program.
#include <gtest/gtest.h>

#include <string>

#include "core/adapters/netbcm.h"
#include "core/scp/scp.h"
#include "tests/support/private_network.h"
#include "tests/support/test_support.h"
#include "tools/netbcm_adapter.h"

namespace {

TEST(NetBcmDefaultPort, DialogChecksAndPollingReachPort7010) {
  std::string error;
  if (!testing_support::EnterPrivateNetwork(error)) GTEST_SKIP() << "no network of our own: " << error;
  testing_support::TempDir dir;
  netbcmsim::NetBcmAdapter adapter(netbcmsim::AdapterOptions{"127.0.0.2", kNetBcmAdapterPort});
  ASSERT_EQ(adapter.Start(&error), 0) << error;

  KT_NetBCM dialog(nullptr, 0);
  dialog.SetSecondLength(100);
  NetBcmAdapterIdentity id;
  ASSERT_EQ(dialog.QueryAdapter("127.0.0.2", id), 1);
  EXPECT_EQ(id.upsText, "PowerGuard 1500 1500 VA");
  EXPECT_EQ(id.adapterText, "Cradlenet version 3.50");
  {
    auto lock = dialog.Scp().Lock();
    dialog.Scp().config.SetCommTimeout(1);
  }
  dialog.SetAdapter("127.0.0.2", "KelpR3", 0);
  EXPECT_EQ(dialog.CheckAccessCode("127.0.0.2"), 1);

  KT_SCP scp;
  KT_NetBCM driver(&scp, 1);
  driver.SetSecondLength(100);
  driver.SetAdapter("127.0.0.2", nullptr, 0);
  ASSERT_EQ(driver.Open(), 0);
  EXPECT_EQ(driver.UpdateInfo(), 1);
  EXPECT_EQ(driver.ProbeAdapter(), "PowerGuard 1500");
  adapter.Stop();
}

}  // namespace
