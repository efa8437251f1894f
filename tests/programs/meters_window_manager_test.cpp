// Pommet's meters dialog as a user sees it under a window manager that frames its windows
// (openbox), on screens of four sizes: with no saved view the default gauges open in one row,
// every gauge's frame whole on the screen, clear of the dialog's frame and of each other
// wherever the screen has room for them (the dialog moving to make room), else clear of the
// dialog's buttons. The frames are those the window manager reports
// (_NET_FRAME_EXTENTS), read from the X server. A real VigilNT on the simulated BCM UPS
// answers, over UDP in a network of the test's own, so that the four sizes run at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "filesaver/program_lookup.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"
#include "tests/support/x_client.h"
#include "tests/support/xvfb_server.h"
#include "tests/trayagent/xvfb/minimal_tray.h"

// Last: Xlib's macros (None, Bool, ...) would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

constexpr int kBoundMs = 60000;
// Room the dialog keeps between its frame and the gauges' row.
constexpr int kGap = 8;

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  int right() const { return x + w; }
  int bottom() const { return y + h; }
  bool Intersects(const Rect& o) const {
    return x < o.right() && o.x < right() && y < o.bottom() && o.y < bottom();
  }
  bool Inside(const Rect& o) const {
    return x >= o.x && y >= o.y && right() <= o.right() && bottom() <= o.bottom();
  }
  bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

std::string Describe(const Rect& r) {
  return std::to_string(r.w) + "x" + std::to_string(r.h) + "+" + std::to_string(r.x) + "+" +
         std::to_string(r.y);
}

struct FramedWindow {
  std::string title;
  Rect frame;  // the window manager's frame around the window
};

// The managed windows of a display with the frames the window manager reports for them.
class Screen {
 public:
  explicit Screen(const std::string& display) : lookup_(display), d_(XOpenDisplay(display.c_str())) {}
  ~Screen() {
    if (d_ != nullptr) XCloseDisplay(d_);
  }
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;
  bool ok() const { return d_ != nullptr && lookup_.usable(); }

  // Whether a window manager has announced itself on the root window.
  bool HasWindowManager() {
    return !Longs(DefaultRootWindow(d_), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty();
  }

  std::vector<FramedWindow> Managed() {
    std::vector<FramedWindow> out;
    for (const filesaver::AppWindow& w : lookup_.ListAppWindows()) {
      // _NET_FRAME_EXTENTS: left, right, top, bottom.
      const std::vector<long> e = Longs(w.id, "_NET_FRAME_EXTENTS", XA_CARDINAL);
      const filesaver::WindowRect r = lookup_.GetWindowRect(w.id);
      if (e.size() != 4 || r.right <= r.left) continue;
      const int left = r.left - static_cast<int>(e[0]);
      const int top = r.top - static_cast<int>(e[2]);
      out.push_back(
          {w.title,
           {left, top, r.right + static_cast<int>(e[1]) - left, r.bottom + static_cast<int>(e[3]) - top}});
    }
    return out;
  }

 private:
  // A property of 32-bit items.
  std::vector<long> Longs(Window w, const char* property, Atom type) {
    std::vector<long> out;
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d_, w, XInternAtom(d_, property, False), 0, 64, False, type, &actual, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
      if (actual == type && format == 32) {
        const auto* items = reinterpret_cast<const long*>(data);
        out.assign(items, items + count);
      }
      XFree(data);
    }
    return out;
  }

  filesaver::ProgramLookup lookup_;
  Display* d_;
};

bool OnSearchPath(const std::string& program) {
  std::stringstream dirs(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && std::filesystem::exists(dir + "/" + program)) return true;
  return false;
}

const char* const kDefaultGauges[] = {"Percent Load - Linear", "Battery Capacity", "Input Voltage",
                                      "Output Voltage"};

// One screen size: a virtual X server of that size, openbox on it, and a Pommet showing the
// meters of the agent.
struct SizeRun {
  int width, height;
  // Whether a side of the dialog holds the row of four frames: where openbox puts it, or where
  // the dialog moves to make room.
  bool room;
  std::string name;
  std::unique_ptr<testing_support::XvfbServer> x;
  std::unique_ptr<testing_support::XClient> wm;
  std::unique_ptr<Screen> screen;
  std::unique_ptr<AgentProcess> pommet;
};

// The dialog's frame and the default gauges' frames once they are on the screen and have
// stopped moving; false when they did not come.
bool SettledFrames(Screen& screen, Rect& dialog, std::vector<FramedWindow>& gauges) {
  std::vector<Rect> last;
  int still = 0;
  return AgentProcess::WaitFor(
      [&] {
        gauges.clear();
        bool haveDialog = false;
        for (const FramedWindow& w : screen.Managed()) {
          if (w.title.rfind("View Meters", 0) == 0) {
            dialog = w.frame;
            haveDialog = true;
          }
          if (std::find(std::begin(kDefaultGauges), std::end(kDefaultGauges), w.title) !=
              std::end(kDefaultGauges))
            gauges.push_back(w);
        }
        if (!haveDialog || gauges.size() != 4) return false;
        std::vector<Rect> now = {dialog};
        for (const FramedWindow& g : gauges) now.push_back(g.frame);
        still = now == last ? still + 1 : 0;
        last = now;
        return still >= 5;
      },
      kBoundMs);
}

TEST(MetersWindowManagerTest, DefaultGaugesInOneRowWholeOnTheScreenAndClearOfTheDialog) {
  std::string why;
  if (!testing_support::EnterPrivateNetwork(why))
    std::fprintf(stderr, "no network of our own: %s\n", why.c_str());
  if (!testing_support::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
  if (!OnSearchPath("openbox")) GTEST_SKIP() << "openbox is not installed (package openbox)";

  testing_support::SimulatedUps ups("bcm");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}));

  // Every size at once, each with a console of its own over UDP, while the agent starts.
  std::vector<SizeRun> runs;
  for (const auto& [width, height, room] :
       {std::tuple{1920, 1080, true}, {1280, 1024, true}, {1024, 768, true}, {800, 600, false}}) {
    SizeRun d{width, height, room, std::to_string(width) + "x" + std::to_string(height), {}, {}, {}, {}};
    // Servers started at the same moment (here or by other tests) can race for a display
    // number; the one that lost starts again.
    for (int attempt = 0; attempt < 3 && !(d.x && d.x->running()); ++attempt)
      d.x = std::make_unique<testing_support::XvfbServer>(
          std::vector<std::string>{"-screen", "0", d.name + "x24"});
    ASSERT_TRUE(d.x->running()) << d.name << ": " << d.x->error();
    d.wm = std::make_unique<testing_support::XClient>("openbox", std::vector<std::string>{"--sm-disable"},
                                                      d.x->display());
    ASSERT_TRUE(d.wm->started()) << d.name << ": " << d.wm->error();
    d.screen = std::make_unique<Screen>(d.x->display());
    ASSERT_TRUE(d.screen->ok()) << d.name;
    runs.push_back(std::move(d));
  }
  ASSERT_TRUE(vigil.WaitForTrace({"Inside SERIAL thread", "NETWORK THREAD IS ALIVE"}, 120000))
      << vigil.TraceDump();
  for (SizeRun& d : runs) {
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return d.screen->HasWindowManager(); }, kBoundMs)) << d.name;
    // In a folder of its own: no saved view.
    d.pommet = std::make_unique<AgentProcess>();
    AgentProcess& pommet = *d.pommet;
    pommet.UseProgram(POMMET_PROGRAM);
    const std::string runtime = pommet.File("runtime");
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    ASSERT_TRUE(pommet.Start(
        {"e:14", "c:0", "h:127.0.0.1"},
        {"DISPLAY=" + d.x->display(), "QT_QPA_PLATFORM=xcb", "VIGIL_MESSAGE_LOG=" + pommet.File("boxes.log"),
         "XDG_CONFIG_HOME=" + pommet.File("config"), "XDG_DATA_HOME=" + pommet.File("data"),
         "XDG_RUNTIME_DIR=" + runtime}));
  }

  for (SizeRun& d : runs) {
    SCOPED_TRACE(d.name);
    Rect dialog;
    std::vector<FramedWindow> gauges;
    ASSERT_TRUE(SettledFrames(*d.screen, dialog, gauges)) << gauges.size() << " gauges\n"
                                                          << d.pommet->Stderr() << vigil.TraceDump();
    EXPECT_TRUE(tray_testing::SaveScreenPng(
        d.x->display(), tray_testing::ScreenshotPath("meters", "meters_openbox_" + d.name + ".png")));

    const Rect area{0, 0, d.width, d.height};
    std::sort(gauges.begin(), gauges.end(),
              [](const FramedWindow& a, const FramedWindow& b) { return a.frame.x < b.frame.x; });
    std::string where = "dialog " + Describe(dialog);
    for (const FramedWindow& g : gauges) where += ", " + g.title + " " + Describe(g.frame);
    const int rowWidth = 4 * gauges.front().frame.w;
    const int rowHeight = gauges.front().frame.h;
    // Room: a side of the dialog that holds the row of frames.
    const bool room = (dialog.right() + kGap + rowWidth <= area.w) || (dialog.x - kGap - rowWidth >= 0) ||
                      (rowWidth <= area.w &&
                       (dialog.y - kGap - rowHeight >= 0 || dialog.bottom() + kGap + rowHeight <= area.h));
    EXPECT_EQ(room, d.room) << where;
    EXPECT_TRUE(dialog.Inside(area)) << where;
    for (size_t i = 0; i < gauges.size(); ++i) {
      const Rect& g = gauges[i].frame;
      EXPECT_TRUE(g.Inside(area)) << gauges[i].title << ": " << where;
      EXPECT_EQ(g.y, gauges.front().frame.y) << gauges[i].title << " out of the row: " << where;
      if (room) {
        EXPECT_FALSE(g.Intersects(dialog)) << gauges[i].title << ": " << where;
      } else {
        // No room anywhere: the row covers the dialog's top, never its buttons at the bottom.
        EXPECT_LE(g.bottom(), dialog.y + dialog.h / 2) << gauges[i].title << ": " << where;
      }
      if (rowWidth <= area.w && i > 0) {
        EXPECT_FALSE(g.Intersects(gauges[i - 1].frame)) << gauges[i].title << ": " << where;
      }
    }
    EXPECT_EQ(testing_support::ReadFileText(d.pommet->File("boxes.log")), "");
  }
  for (SizeRun& d : runs) {
    d.pommet->Signal(SIGTERM);
    EXPECT_EQ(d.pommet->Wait(kBoundMs), 0) << d.name << "\n" << d.pommet->Stderr();
  }
  vigil.Signal(SIGTERM);
  EXPECT_EQ(vigil.Wait(kBoundMs), 0);
}

}  // namespace
