// The test main of every dialog test program: one QApplication (offscreen unless a platform
// is named; on screens of chosen sizes when asked), optionally in a network of its own, then
// the tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <sstream>
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
const char* g_screens = nullptr;

// Writes the offscreen platform's configuration of the screens into a file of its own and
// names it in QT_QPA_PLATFORM; the file's path, empty when it could not be written.
std::string UseOffscreenScreens(const char* sizes) {
  std::string json = "{\"screens\": [";
  std::istringstream in(sizes);
  std::string size;
  int x = 0;
  int n = 0;
  while (in >> size) {
    int width = 0;
    int height = 0;
    if (std::sscanf(size.c_str(), "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) continue;
    json += (n > 0 ? ", " : "") + std::string("{\"name\": \"screen") + std::to_string(n) +
            "\", \"x\": " + std::to_string(x) + ", \"y\": 0, \"width\": " + std::to_string(width) +
            ", \"height\": " + std::to_string(height) + "}";
    x += width;
    ++n;
  }
  json += "]}\n";
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/trem-screens-XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) return {};
  const bool written = ::write(fd, json.data(), json.size()) == static_cast<ssize_t>(json.size());
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    return {};
  }
  ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).c_str(), 1);
  return path;
}
}  // namespace

PrivateNetworkRequest::PrivateNetworkRequest() {
  g_private_requested = true;
}

XvfbRequest::XvfbRequest() {
  g_xvfb_requested = true;
}

ScreensRequest::ScreensRequest(const char* sizes) {
  g_screens = sizes;
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
  std::string screens;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (trem_harness::g_screens != nullptr && (platform == nullptr || std::string(platform) == "offscreen"))
    screens = trem_harness::UseOffscreenScreens(trem_harness::g_screens);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  InstallQuietQtMessages();
  QApplication app(argc, argv);
  if (!screens.empty()) ::unlink(screens.c_str());  // read by the platform as it started
  QApplication::setApplicationName(QStringLiteral("Tremona"));
  _InitTremDLL();
  return RUN_ALL_TESTS();
}
