// What the discovery dialog tests share: the test's directory as the current directory (the
// subnet file lives there), the "discovery" screenshot topic, and in a network of the test's
// own a route for broadcasts through the loopback interface.
#pragma once

#include <unistd.h>

#include <QString>
#include <climits>
#include <string>
#include <vector>

#include "core/discovery/discover.h"
#include "tests/dialogs/discovery/broadcast_route.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/test_support.h"

class DiscoveryTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("discovery"); }
  void SetUp() override {
    TremTest::SetUp();
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) != nullptr) old_cwd_ = cwd;
    ASSERT_EQ(::chdir(dir_->path().c_str()), 0);
    network_ = AddLoopbackBroadcastRoute();
  }
  void TearDown() override {
    TremTest::TearDown();
    if (!old_cwd_.empty()) (void)!::chdir(old_cwd_.c_str());
  }
  // True when broadcasts stay inside the test's own network.
  bool Network() const { return network_; }

  std::string old_cwd_;
  bool network_ = false;
};

// The subnets of a discoverer's list, first to last.
inline std::vector<std::string> Subnets(KT_Discover& d) {
  std::vector<std::string> out;
  std::string s;
  d.ResetSubnetCursor();
  while (d.GetNextSubnet(s)) out.push_back(s);
  return out;
}
