// The Vigil95 program on a virtual X server whose notification area starts after it, as in a
// desktop session where the tray comes up after the session's programs: the icon docks as soon
// as a tray comes, goes when the tray goes, and docks again in the next tray; the trace tells
// of the icon only while a tray shows it.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"
#include "tests/trayagent/xvfb/minimal_tray.h"

namespace {

using tray_testing::MinimalTray;
using tray_testing::WindowViewable;

constexpr int kBoundMs = 30000;
const std::string kNoTray = "No system tray on this display: the agent runs without its icon";
const std::string kAdded = "Tray icon added (icon 130): Tremona\u00AE Agent is idle";

TEST(Vigil95TrayTest, TheIconDocksWhenATrayComesAndGoesWithIt) {
  // A network of the test's own for the agent's UDP port, entered before any thread starts.
  std::string why;
  if (!testing_support::EnterPrivateNetwork(why))
    std::fprintf(stderr, "no network of our own: %s\n", why.c_str());
  testing_support::XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);

  AgentProcess agent;
  agent.UseProgram(VIGIL95_PROGRAM);
  ASSERT_TRUE(agent.Start({"-x:5", "-b"}, {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=xcb",
                                           "VIGIL_MESSAGE_LOG=" + agent.File("boxes.log")}));
  ASSERT_TRUE(agent.WaitForTrace({"Mode: Idle"}, 90000)) << agent.TraceDump();
  // No tray yet: the agent runs without its icon and says so once.
  EXPECT_EQ(Count(agent.Stderr(), kNoTray), 1u) << agent.TraceDump();
  EXPECT_FALSE(Contains(agent.Stderr(), "Tray icon")) << agent.TraceDump();

  // Two trays one after the other: each gets the icon, and loses it when it ends.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("tray " + std::to_string(round));
    MinimalTray tray(x.display());
    ASSERT_TRUE(tray.ok()) << tray.error();
    ASSERT_TRUE(tray.WaitForDocked(1, kBoundMs)) << agent.TraceDump();
    const unsigned long icon = tray.Docked().front();
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return WindowViewable(x.display(), icon); }, kBoundMs));
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), kAdded) == static_cast<size_t>(round); }, kBoundMs))
        << agent.TraceDump();
    if (round == 1) {
      EXPECT_TRUE(tray_testing::SaveScreenPng(
          x.display(), tray_testing::ScreenshotPath("trayagent", "vigil95-tray-screen.png")));
      EXPECT_TRUE(tray_testing::SaveWindowPng(
          x.display(), tray.window(), tray_testing::ScreenshotPath("trayagent", "vigil95-tray-icon.png"), 3));
    }
    EXPECT_EQ(tray.Docked().size(), 1u);  // one icon, asked for once
    tray.Stop();
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return !WindowViewable(x.display(), icon); }, kBoundMs));
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), kNoTray) == static_cast<size_t>(round) + 1; }, kBoundMs))
        << agent.TraceDump();
  }
  EXPECT_FALSE(Contains(agent.Stderr(), "Tray icon modified")) << agent.TraceDump();

  // Ended without a tray: no icon to delete.
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(kBoundMs), 0);
  EXPECT_FALSE(Contains(agent.Stderr(), "Tray icon deleted")) << agent.TraceDump();
  EXPECT_FALSE(Contains(agent.Stderr(), "XCB error")) << agent.TraceDump();
}

}  // namespace
