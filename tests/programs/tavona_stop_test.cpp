// The central console stopped as a service manager or a script stops it while the user has
// dialogs open: Tavona against a real VigilNT on the simulated Smart-UPS, on a virtual X server,
// driven through the keyboard as a user drives it. Whatever is stacked (the File Saver over
// the shutdown pages over the shutdown dialog, or a dialog still waiting for the agent's
// replies), a stop signal ends the program with status 0, every window of it gone, its
// settings written and its registration at the agent given back.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "filesaver/program_lookup.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"
#include "tests/trayagent/xvfb/minimal_tray.h"

namespace {

constexpr int kBoundMs = 60000;
// Far more than the console needs to end on a signal, so that a loaded machine does not fail
// the test; a console that does not end at all fails it.
constexpr int kEndBoundMs = 15000;
constexpr const char* kMainWindow = "Tremona\u00AE Tavona";

// What the user has open when the signal comes.
enum class Stack {
  kFileSaverOverTheShutdownPages,  // Shutdown Parameters > Configure > Next > Setup File Saver
  kDialogWaitingForTheAgent,       // Serial Device, its requests still out
};

struct Case {
  const char* name;
  Stack stack;
  int signal;
  std::vector<const char*> windows;  // open when the signal comes, the last one on top
};

// Keys to a window of the console: it is made the active one first (there is no window manager
// to do it), and a chord is sent again, a second apart, until the window it opens is listed.
class ConsoleKeys {
 public:
  ConsoleKeys(const std::string& display, filesaver::ProgramLookup& lookup)
      : lookup_(lookup), keys_(display) {}
  bool ok() const { return keys_.ok(); }

  // Activates `window`, then sends `press` until a window titled `opens` is listed (bounded).
  filesaver::WindowId Open(const char* window, const std::function<void(filesaver_testing::Keyboard&)>& press,
                           const char* opens) {
    const filesaver::WindowId from = filesaver_testing::WaitForWindow(lookup_, window, kBoundMs);
    if (from == 0) return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
    while (std::chrono::steady_clock::now() < deadline) {
      lookup_.ActivateWindow(from);
      press(keys_);
      keys_.Sync();
      const filesaver::WindowId opened = filesaver_testing::WaitForWindow(lookup_, opens, 1000);
      if (opened != 0) return opened;
      keys_.Tap(XK_Escape);  // a menu left open by a key that came too early
    }
    return 0;
  }

 private:
  filesaver::ProgramLookup& lookup_;
  filesaver_testing::Keyboard keys_;
};

void Menu(filesaver_testing::Keyboard& keys, unsigned long popup, const std::vector<unsigned long>& items) {
  keys.Chord(XK_Alt_L, popup);
  for (const unsigned long item : items) keys.Tap(item);
}

// Opens the case's stack of windows; false (with the reason) when one did not open.
bool OpenStack(Stack stack, ConsoleKeys& keys, std::string& why) {
  auto step = [&](const char* window, const std::function<void(filesaver_testing::Keyboard&)>& press,
                  const char* opens) {
    if (keys.Open(window, press, opens) != 0) return true;
    why = std::string("\"") + opens + "\" did not open from \"" + window + "\"";
    return false;
  };
  if (stack == Stack::kDialogWaitingForTheAgent) {
    // Configure > Communications > Serial Device: four replies to wait for.
    return step(
        kMainWindow,
        [](auto& k) {
          Menu(k, XK_c, {XK_c, XK_v});
        },
        "Configure Serial Device");
  }
  // Configure > Options > Shutdown Parameters; its Configure (once its replies are in: the
  // dialog takes no keys while it waits) opens the first page; Next the programs page, where
  // the File Saver's check box comes after the time field and its Setup button after it.
  return step(
             kMainWindow,
             [](auto& k) {
               Menu(k, XK_c, {XK_o, XK_h});
             },
             "Configure Shutdown Parameters") &&
         step(
             "Configure Shutdown Parameters", [](auto& k) { k.Chord(XK_Alt_L, XK_c); },
             "Configure Shutdown Parameters - UPS Management") &&
         step(
             "Configure Shutdown Parameters - UPS Management", [](auto& k) { k.Chord(XK_Alt_L, XK_n); },
             "Configure Shutdown Parameters - Software Programs") &&
         step(
             "Configure Shutdown Parameters - Software Programs",
             [](auto& k) {
               k.Tap(XK_Tab);
               k.Tap(XK_space);
               k.Tap(XK_Tab);
               k.Tap(XK_space);
             },
             "File Saver");
}

TEST(TavonaStopTest, AStopEndsTheConsoleWithItsSettingsAndUnregistersWhateverDialogsAreOpen) {
  std::string why;
  if (!testing_support::EnterPrivateNetwork(why))
    std::fprintf(stderr, "no network of our own: %s\n", why.c_str());
  testing_support::XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  filesaver::ProgramLookup lookup(x.display());
  ConsoleKeys keys(x.display(), lookup);
  ASSERT_TRUE(keys.ok());

  // One agent for every case.
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(vigil.WaitForTrace({"LOCAL THREAD IS ALIVE"}, kBoundMs)) << vigil.TraceDump();

  const std::vector<Case> cases = {
      {"file-saver-over-the-shutdown-pages",
       Stack::kFileSaverOverTheShutdownPages,
       SIGTERM,
       {kMainWindow, "Configure Shutdown Parameters", "Configure Shutdown Parameters - Software Programs",
        "File Saver"}},
      {"file-saver-over-the-shutdown-pages-sigint",
       Stack::kFileSaverOverTheShutdownPages,
       SIGINT,
       {kMainWindow, "Configure Shutdown Parameters", "Configure Shutdown Parameters - Software Programs",
        "File Saver"}},
      {"dialog-waiting-for-the-agent",
       Stack::kDialogWaitingForTheAgent,
       SIGTERM,
       {kMainWindow, "Configure Serial Device"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AgentProcess tavona;
    tavona.UseProgram(TAVONA_PROGRAM);
    tavona.SharePrefixWith(vigil);
    const std::string runtime = tavona.File("runtime");
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string ini = tavona.File("config/Brenvale/Tavona.ini");
    const size_t registered = Count(vigil.Stderr(), "Console registered");
    const size_t unregistered = Count(vigil.Stderr(), "Console unregistered");
    ASSERT_TRUE(tavona.Start(
        {"c:3", "n"}, {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=xcb",
                       "XDG_CONFIG_HOME=" + tavona.File("config"), "XDG_DATA_HOME=" + tavona.File("data"),
                       "XDG_RUNTIME_DIR=" + runtime, "VIGIL_MESSAGE_LOG=" + tavona.File("boxes.log")}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(vigil.Stderr(), "Console registered") > registered; }, kBoundMs))
        << tavona.Stderr() << vigil.TraceDump();
    ASSERT_TRUE(OpenStack(c.stack, keys, why)) << why << "\n" << tavona.Stderr();
    for (const char* window : c.windows) ASSERT_NE(lookup.FindAppWindow(0, window), 0u) << window;
    if (c.signal == SIGTERM) {
      const filesaver::WindowId top = lookup.FindAppWindow(0, c.windows.back());
      EXPECT_TRUE(tray_testing::SaveWindowPng(
          x.display(), top,
          tray_testing::ScreenshotPath("programs", std::string("tavona-") + c.name + ".png")));
    }
    EXPECT_FALSE(std::filesystem::exists(ini));

    ASSERT_TRUE(tavona.Running()) << tavona.Stderr();
    const auto signalled = std::chrono::steady_clock::now();
    tavona.Signal(c.signal);
    EXPECT_EQ(tavona.Wait(kEndBoundMs), 0) << tavona.Stderr();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled)
            .count();
    std::fprintf(stderr, "%s: ended %lld ms after the signal\n", c.name, static_cast<long long>(ms));
    for (const char* window : c.windows)
      EXPECT_TRUE(filesaver_testing::WaitForWindowGone(lookup, window, kBoundMs));
    const std::string settings = testing_support::ReadFileText(ini);
    EXPECT_TRUE(Contains(settings, "ShowSplashScreen=")) << settings;
    EXPECT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(vigil.Stderr(), "Console unregistered") > unregistered; }, kBoundMs))
        << tavona.Stderr() << vigil.TraceDump();
  }
  vigil.Signal(SIGTERM);
  EXPECT_EQ(vigil.Wait(30000), 0);
}

}  // namespace
