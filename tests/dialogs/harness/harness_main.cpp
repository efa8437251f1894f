// The test main of every dialog test program: one QApplication (offscreen unless a platform
// is named), optionally in a network of its own, then the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialogs/frame/quiet_qt_messages.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/private_network.h"
#include "tests/support/xvfb_server.h"

namespace trem_harness {

namespace {
bool g_private_requested = false;
bool g_xvfb_requested = false;
}  // namespace

PrivateNetworkRequest::PrivateNetworkRequest() {
  g_private_requested = true;
}

XvfbRequest::XvfbRequest() {
  g_xvfb_requested = true;
}

bool HarnessInPrivateNetwork() {
  return testing_support::InPrivateNetwork();
}

}  // namespace trem_harness

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (the build's test discovery) needs none of the set-up: no X server, no
  // network of its own, no application, so no threads that could outlive main.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (trem_harness::g_private_requested) {
    std::string error;
    // Before any thread exists; tests that need the network skip when this failed.
    if (!testing_support::EnterPrivateNetwork(error))
      std::fprintf(stderr, "no private network: %s\n", error.c_str());
  }
  if (trem_harness::g_xvfb_requested) {
    std::string error;
    // Sets DISPLAY and QT_QPA_PLATFORM=xcb when the server runs.
    if (testing_support::ProcessXvfb(&error) == nullptr)
      std::fprintf(stderr, "no virtual X server: %s\n", error.c_str());
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  InstallQuietQtMessages();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tremona"));
  _InitTremDLL();
  return RUN_ALL_TESTS();
}
