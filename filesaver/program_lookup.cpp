#include "filesaver/program_lookup.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cwctype>
#include <thread>

#include "filesaver/x_display.h"

namespace filesaver {

namespace {

// The property's items as 32-bit values (Xlib hands format-32 data over as longs).
std::vector<unsigned long> CardinalProperty(Display* d, Window w, Atom property, Atom type) {
  std::vector<unsigned long> values;
  Atom actual = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, property, 0, 1 << 16, False, type, &actual, &format, &count, &after, &data) ==
          Success &&
      data != nullptr && actual == type && format == 32) {
    const unsigned long* items = reinterpret_cast<const unsigned long*>(data);
    values.assign(items, items + count);
  }
  if (data) XFree(data);
  return values;
}

bool HasProperty(Display* d, Window w, Atom property) {
  Atom actual = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const bool ok = XGetWindowProperty(d, w, property, 0, 0, False, AnyPropertyType, &actual, &format, &count,
                                     &after, &data) == Success &&
                  actual != None;
  if (data) XFree(data);
  return ok;
}

// A text property (8-bit) as UTF-8: UTF8_STRING as it is, STRING from Latin-1.
std::string TextProperty(Display* d, Window w, Atom property, Atom utf8) {
  Atom actual = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(d, w, property, 0, 4096, False, AnyPropertyType, &actual, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && format == 8) {
    if (actual == XA_STRING) {
      for (unsigned long i = 0; i < count; ++i) {
        const unsigned char c = data[i];
        if (c < 0x80) {
          text += static_cast<char>(c);
        } else {
          text += static_cast<char>(0xC0 | (c >> 6));
          text += static_cast<char>(0x80 | (c & 0x3F));
        }
      }
    } else if (actual == utf8 || actual != None) {
      text.assign(reinterpret_cast<const char*>(data), count);
    }
  }
  if (data) XFree(data);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((t & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (!ok) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    out += cp;
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

// Equal ignoring case, character by character of the UTF-8 texts.
bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  const std::u32string x = DecodeUtf8(a);
  const std::u32string y = DecodeUtf8(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (std::towlower(static_cast<wint_t>(x[i])) != std::towlower(static_cast<wint_t>(y[i]))) return false;
  return true;
}

std::string ShortHost(std::string name) {
  const size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

std::string ExecutableOf(unsigned long pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return std::string();
  std::string path(buffer, static_cast<size_t>(n));
  // An executable replaced on disk while it runs.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.ends_with(deleted)) path.resize(path.size() - deleted.size());
  return path;
}

}  // namespace

const char* DisplayStateText(DisplayState state) {
  switch (state) {
    case DisplayState::kUsable:
      return "the X display can record and replay";
    case DisplayState::kNoDisplay:
      return "no X display";
    case DisplayState::kNoRecord:
      return "the X display has no RECORD extension";
    case DisplayState::kNoXTest:
      return "the X display has no XTEST extension";
  }
  return "no X display";
}

struct ProgramLookup::Impl {
  Display* display = nullptr;
  DisplayState state = DisplayState::kNoDisplay;
  Window root = 0;
  Atom client_list_stacking = 0;
  Atom net_wm_name = 0;
  Atom net_wm_pid = 0;
  Atom net_active_window = 0;
  Atom net_supported = 0;
  Atom utf8_string = 0;
  std::string host;

  bool WindowManagerActivates() {
    const auto supported = CardinalProperty(display, root, net_supported, XA_ATOM);
    return std::find(supported.begin(), supported.end(), net_active_window) != supported.end();
  }

  bool Exists(Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(display, w, &a) != 0;
  }
};

ProgramLookup::ProgramLookup(const std::string& display) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.display = x11::Open(display);
  m.state = x11::Check(m.display);
  if (m.display == nullptr) return;
  m.root = DefaultRootWindow(m.display);
  m.client_list_stacking = XInternAtom(m.display, "_NET_CLIENT_LIST_STACKING", False);
  m.net_wm_name = XInternAtom(m.display, "_NET_WM_NAME", False);
  m.net_wm_pid = XInternAtom(m.display, "_NET_WM_PID", False);
  m.net_active_window = XInternAtom(m.display, "_NET_ACTIVE_WINDOW", False);
  m.net_supported = XInternAtom(m.display, "_NET_SUPPORTED", False);
  m.utf8_string = XInternAtom(m.display, "UTF8_STRING", False);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) m.host = ShortHost(host);
}

ProgramLookup::~ProgramLookup() {
  x11::Close(impl_->display);
}

DisplayState ProgramLookup::state() const {
  return x11::Broken(impl_->display) ? DisplayState::kNoDisplay : impl_->state;
}

std::string ProgramLookup::WindowTitle(WindowId window) {
  Impl& m = *impl_;
  if (m.display == nullptr || window == 0) return std::string();
  std::string title = TextProperty(m.display, window, m.net_wm_name, m.utf8_string);
  if (title.empty()) title = TextProperty(m.display, window, XA_WM_NAME, m.utf8_string);
  return title;
}

std::vector<AppWindow> ProgramLookup::ListAppWindows() {
  Impl& m = *impl_;
  std::vector<AppWindow> list;
  if (m.display == nullptr || x11::Broken(m.display)) return list;
  std::vector<Window> order;  // bottom first
  if (HasProperty(m.display, m.root, m.client_list_stacking)) {
    for (unsigned long w : CardinalProperty(m.display, m.root, m.client_list_stacking, XA_WINDOW))
      order.push_back(w);
  } else {
    Window root_return = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(m.display, m.root, &root_return, &parent, &children, &count) && children != nullptr) {
      for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(m.display, children[i], &a) && a.map_state == IsViewable &&
            !a.override_redirect)
          order.push_back(children[i]);
      }
    }
    if (children) XFree(children);
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    std::string title = WindowTitle(static_cast<WindowId>(*it));
    if (!title.empty()) list.push_back(AppWindow{static_cast<WindowId>(*it), std::move(title)});
  }
  return list;
}

std::string ProgramLookup::GetWindowProgramName(WindowId window) {
  Impl& m = *impl_;
  if (m.display == nullptr || window == 0) return std::string();
  // A process id means something only on the machine that runs the client.
  const std::string machine = TextProperty(m.display, window, XA_WM_CLIENT_MACHINE, m.utf8_string);
  if (machine.empty() || m.host.empty() || ShortHost(machine) != m.host) return std::string();
  const auto pid = CardinalProperty(m.display, window, m.net_wm_pid, XA_CARDINAL);
  if (pid.empty() || pid[0] == 0) return std::string();
  return ProgramNameFromExecutable(ExecutableOf(pid[0]));
}

WindowId ProgramLookup::FindAppWindow(int mode, std::string_view name) {
  if (mode != 0 && mode != 1) return 0;
  for (const AppWindow& w : ListAppWindows()) {
    if (mode == 0 && EqualIgnoringCase(w.title, name)) return w.id;
    if (mode == 1) {
      const std::string program = GetWindowProgramName(w.id);
      if (!program.empty() && EqualIgnoringCase(program, name)) return w.id;
    }
  }
  return 0;
}

int ProgramLookup::MacroExistsForWindow(std::string_view title) {
  for (const AppWindow& w : ListAppWindows()) {
    if (w.title != title) continue;
    const std::string program = GetWindowProgramName(w.id);
    if (!program.empty() && !FindMacroFile(MacroNameFromProgram(program)).empty()) return 1;
  }
  return 0;
}

WindowRect ProgramLookup::GetWindowRect(WindowId window) {
  Impl& m = *impl_;
  if (m.display == nullptr || window == 0) return WindowRect{};
  XWindowAttributes a;
  if (!XGetWindowAttributes(m.display, window, &a)) return WindowRect{};
  int x = 0;
  int y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(m.display, window, m.root, 0, 0, &x, &y, &child)) return WindowRect{};
  return WindowRect{x, y, x + a.width, y + a.height};
}

bool ProgramLookup::ActivateWindow(WindowId window) {
  Impl& m = *impl_;
  if (m.display == nullptr || window == 0 || !m.Exists(window)) return false;
  XMapRaised(m.display, window);
  if (m.WindowManagerActivates()) {
    // The window manager de-iconifies, raises and focuses the window it is asked to activate.
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = m.net_active_window;
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;  // asked for by a pager-like tool, on the user's behalf
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(m.display, m.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  } else {
    XSync(m.display, False);
    XSetInputFocus(m.display, window, RevertToParent, CurrentTime);
  }
  XSync(m.display, False);
  return !x11::Broken(m.display);
}

bool ProgramLookup::PlaceAppWindow(WindowId window, const WindowRect& rect, int settle_ms) {
  Impl& m = *impl_;
  if (!ActivateWindow(window)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width > 0 && height > 0)
    XMoveResizeWindow(m.display, window, rect.left, rect.top, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
  XRaiseWindow(m.display, window);
  XSync(m.display, False);
  // The application redraws and takes the focus before the events arrive.
  if (settle_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
  return m.Exists(window) && !x11::Broken(m.display);
}

int ProgramLookup::BuildPlaybackFile(WindowId window) {
  const std::string program = GetWindowProgramName(window);
  if (program.empty()) return 0;
  return filesaver::BuildPlaybackFile(program);
}

}  // namespace filesaver
