// A notification area of the test's own on an X display, as small as the freedesktop system
// tray protocol allows: it takes the selection _NET_SYSTEM_TRAY_S0 with a window of its own
// (a strip at the top right of the screen), announces itself to the clients (MANAGER on the
// root window), and docks every icon that asks (SYSTEM_TRAY_REQUEST_DOCK): the icon's window
// goes into the strip, shown, and into the tray's save-set. It runs on a connection and a
// thread of its own.
//
// Stop closes the connection as a tray that ends does: the selection is gone, and the docked
// icons go back to the root window, where their programs are to take them away.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tray_testing {

class MinimalTray {
 public:
  // Takes the selection on `display` (":N"); ok() says whether it could.
  explicit MinimalTray(const std::string& display);
  ~MinimalTray();  // Stop()
  MinimalTray(const MinimalTray&) = delete;
  MinimalTray& operator=(const MinimalTray&) = delete;

  bool ok() const { return window_ != 0; }
  const std::string& error() const { return error_; }
  // The strip's window.
  unsigned long window() const { return window_; }
  // The windows that asked to be docked, in order.
  std::vector<unsigned long> Docked() const;
  // Waits (bounded) until `count` windows have asked in all; true when they did.
  bool WaitForDocked(size_t count, int timeout_ms) const;
  // Ends the tray (its connection closes).
  void Stop();

 private:
  void Run();

  std::string display_name_;
  void* display_ = nullptr;
  unsigned long window_ = 0;
  std::string error_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> quit_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<unsigned long> docked_;
};

// Whether `window` exists on `display` and is shown (viewable).
bool WindowViewable(const std::string& display, unsigned long window);
// Saves what `window` shows on `display` as a PNG, `scale` times enlarged; false when it
// cannot. SaveScreenPng saves the whole screen.
bool SaveWindowPng(const std::string& display, unsigned long window, const std::string& path, int scale = 1);
bool SaveScreenPng(const std::string& display, const std::string& path);
// Where a test's picture goes: $VIGIL_BUILD_DIR/screenshots/<topic>/<name> (the working
// directory's "screenshots" folder when the variable is unset); the folder is created.
std::string ScreenshotPath(const std::string& topic, const std::string& name);

}  // namespace tray_testing
