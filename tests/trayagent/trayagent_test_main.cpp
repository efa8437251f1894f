// The test main of the desktop agent's in-process tests: one QApplication (offscreen unless a
// platform is named), then the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (the build's test discovery) needs no application.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
