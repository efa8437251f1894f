#include "filesaver/x_display.h"

#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>

#include <mutex>
#include <set>

namespace filesaver::x11 {

namespace {

std::mutex g_mutex;
std::set<Display*>* g_ours = new std::set<Display*>;  // never freed: used until the process ends
std::set<Display*>* g_broken = new std::set<Display*>;
XErrorHandler g_previous = nullptr;

bool Ours(Display* display) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_ours->contains(display);
}

// Errors on our connections are expected (a window closes while it is looked at); those of
// other connections of the process go where they went before.
int OnError(Display* display, XErrorEvent* event) {
  if (Ours(display) || g_previous == nullptr) return 0;
  return g_previous(display, event);
}

// Called instead of exit() when the server of one of our connections goes away; Xlib then
// fails every further call on it.
void OnIoErrorExit(Display* display, void*) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_broken->insert(display);
}

}  // namespace

Display* Open(const std::string& name) {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    g_previous = XSetErrorHandler(OnError);
  });
  if (name.empty() && XDisplayName(nullptr)[0] == '\0') return nullptr;
  Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (display == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_ours->insert(display);
  }
  XSetIOErrorExitHandler(display, OnIoErrorExit, nullptr);
  return display;
}

void Close(Display* display) {
  if (display == nullptr) return;
  XCloseDisplay(display);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_ours->erase(display);
  g_broken->erase(display);
}

bool Broken(Display* display) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return display == nullptr || g_broken->contains(display);
}

DisplayState Check(Display* display) {
  if (display == nullptr || Broken(display)) return DisplayState::kNoDisplay;
  int major = 0;
  int minor = 0;
  int opcode = 0;
  int first_event = 0;
  int first_error = 0;
  // Asked by name first: the version query of a missing extension complains on stderr.
  if (!XQueryExtension(display, "RECORD", &opcode, &first_event, &first_error) ||
      !XRecordQueryVersion(display, &major, &minor))
    return DisplayState::kNoRecord;
  int event_base = 0;
  int error_base = 0;
  if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) return DisplayState::kNoXTest;
  return DisplayState::kUsable;
}

}  // namespace filesaver::x11
