#include "tests/trayagent/xvfb/minimal_tray.h"

// Qt before Xlib, whose macros (Status, ...) Qt's headers do not survive.
#include <QImage>
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace tray_testing {

namespace {

constexpr long kRequestDock = 0;     // SYSTEM_TRAY_REQUEST_DOCK
constexpr long kEmbeddedNotify = 0;  // XEMBED_EMBEDDED_NOTIFY
constexpr int kStripWidth = 240;
constexpr int kStripHeight = 32;
constexpr int kSlot = 32;

// A window that goes while it is looked at, or a docked icon that is gone, is no failure here.
int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

void TolerateErrors() {
  static const bool once = [] {
    XSetErrorHandler(IgnoreErrors);
    return true;
  }();
  (void)once;
}

}  // namespace

MinimalTray::MinimalTray(const std::string& display) : display_name_(display) {
  TolerateErrors();
  Display* d = XOpenDisplay(display.c_str());
  if (d == nullptr) {
    error_ = "cannot open the display " + display;
    return;
  }
  display_ = d;
  const int screen = DefaultScreen(d);
  const Window root = RootWindow(d, screen);
  const Atom selection = XInternAtom(d, ("_NET_SYSTEM_TRAY_S" + std::to_string(screen)).c_str(), False);
  if (XGetSelectionOwner(d, selection) != None) {
    error_ = "another tray holds the selection";
    return;
  }
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = 0x707880;
  attributes.event_mask = StructureNotifyMask | SubstructureNotifyMask;
  const Window w = XCreateWindow(d, root, DisplayWidth(d, screen) - kStripWidth, 0, kStripWidth, kStripHeight,
                                 0, CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  const long horizontal = 0;
  XChangeProperty(d, w, XInternAtom(d, "_NET_SYSTEM_TRAY_ORIENTATION", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&horizontal), 1);
  XMapRaised(d, w);
  XSetSelectionOwner(d, selection, w, CurrentTime);
  if (XGetSelectionOwner(d, selection) != w) {
    error_ = "the selection could not be taken";
    XDestroyWindow(d, w);
    return;
  }
  // The clients learn of the new tray from the root window.
  XEvent manager{};
  manager.xclient.type = ClientMessage;
  manager.xclient.window = root;
  manager.xclient.message_type = XInternAtom(d, "MANAGER", False);
  manager.xclient.format = 32;
  manager.xclient.data.l[0] = CurrentTime;
  manager.xclient.data.l[1] = static_cast<long>(selection);
  manager.xclient.data.l[2] = static_cast<long>(w);
  XSendEvent(d, root, False, StructureNotifyMask, &manager);
  XSync(d, False);
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    XDestroyWindow(d, w);
    return;
  }
  window_ = w;
  thread_ = std::thread([this] { Run(); });
}

MinimalTray::~MinimalTray() {
  Stop();
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

void MinimalTray::Stop() {
  if (thread_.joinable()) {
    quit_.store(true);
    [[maybe_unused]] ssize_t n = ::write(wake_[1], "q", 1);
    thread_.join();
  }
  if (display_ != nullptr) {
    XCloseDisplay(static_cast<Display*>(display_));
    display_ = nullptr;
  }
}

void MinimalTray::Run() {
  Display* d = static_cast<Display*>(display_);
  const Atom opcode = XInternAtom(d, "_NET_SYSTEM_TRAY_OPCODE", False);
  const Atom xembed = XInternAtom(d, "_XEMBED", False);
  while (!quit_.load()) {
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      if (event.type != ClientMessage || event.xclient.message_type != opcode ||
          event.xclient.data.l[1] != kRequestDock) {
        continue;
      }
      const Window icon = static_cast<Window>(event.xclient.data.l[2]);
      size_t slot;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot = docked_.size();
        docked_.push_back(icon);
      }
      XAddToSaveSet(d, icon);
      XReparentWindow(d, icon, window_, static_cast<int>(4 + (slot % 7) * kSlot), 4);
      XMapRaised(d, icon);
      XEvent notify{};
      notify.xclient.type = ClientMessage;
      notify.xclient.window = icon;
      notify.xclient.message_type = xembed;
      notify.xclient.format = 32;
      notify.xclient.data.l[0] = CurrentTime;
      notify.xclient.data.l[1] = kEmbeddedNotify;
      notify.xclient.data.l[3] = static_cast<long>(window_);
      XSendEvent(d, icon, False, NoEventMask, &notify);
      XFlush(d);
    }
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    ::poll(fds, 2, 200);
  }
}

std::vector<unsigned long> MinimalTray::Docked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return docked_;
}

bool MinimalTray::WaitForDocked(size_t count, int timeout_ms) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Docked().size() < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(20 * 1000);
  }
  return true;
}

bool WindowViewable(const std::string& display, unsigned long window) {
  TolerateErrors();
  Display* d = XOpenDisplay(display.c_str());
  if (d == nullptr) return false;
  XWindowAttributes attributes{};
  const bool viewable =
      XGetWindowAttributes(d, window, &attributes) != 0 && attributes.map_state == IsViewable;
  XCloseDisplay(d);
  return viewable;
}

bool SaveWindowPng(const std::string& display, unsigned long window, const std::string& path, int scale) {
  TolerateErrors();
  Display* d = XOpenDisplay(display.c_str());
  if (d == nullptr) return false;
  const Window w = window != 0 ? window : DefaultRootWindow(d);
  XWindowAttributes attributes{};
  bool saved = false;
  if (XGetWindowAttributes(d, w, &attributes) != 0) {
    const int width = attributes.width;
    const int height = attributes.height;
    XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (image != nullptr) {
      QImage picture(width, height, QImage::Format_RGB32);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          picture.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y)) | 0xFF000000u);
        }
      }
      if (scale > 1) picture = picture.scaled(width * scale, height * scale);
      saved = picture.save(QString::fromStdString(path), "PNG");
      XDestroyImage(image);
    }
  }
  XCloseDisplay(d);
  return saved;
}

bool SaveScreenPng(const std::string& display, const std::string& path) {
  return SaveWindowPng(display, 0, path);
}

std::string ScreenshotPath(const std::string& topic, const std::string& name) {
  const char* build = std::getenv("VIGIL_BUILD_DIR");
  const std::filesystem::path folder =
      std::filesystem::path(build != nullptr && *build != '\0' ? build : ".") / "screenshots" / topic;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return (folder / name).string();
}

}  // namespace tray_testing
