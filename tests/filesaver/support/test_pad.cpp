#include "tests/filesaver/support/test_pad.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <chrono>
#include <cstdio>

namespace filesaver_testing {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Display* AsDisplay(void* p) {
  return static_cast<Display*>(p);
}

}  // namespace

std::string TestPadProgram() {
  return VIGIL_TESTPAD_PROGRAM;
}

std::string SaverProgram() {
  return VIGIL_SAVER_PROGRAM;
}

filesaver::WindowId WaitForWindow(filesaver::ProgramLookup& lookup, const std::string& title,
                                  int timeout_ms) {
  const int64_t deadline = NowMs() + timeout_ms;
  for (;;) {
    const filesaver::WindowId w = lookup.FindAppWindow(0, title);
    if (w != 0 || NowMs() >= deadline) return w;
    ::poll(nullptr, 0, 50);
  }
}

bool WaitForWindowGone(filesaver::ProgramLookup& lookup, const std::string& title, int timeout_ms) {
  const int64_t deadline = NowMs() + timeout_ms;
  for (;;) {
    if (lookup.FindAppWindow(0, title) == 0) return true;
    if (NowMs() >= deadline) return false;
    ::poll(nullptr, 0, 50);
  }
}

void ClickAt(const std::string& display, int x, int y) {
  Display* d = XOpenDisplay(display.c_str());
  if (d == nullptr) return;
  XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
  XCloseDisplay(d);
}

bool KeyIsDown(const std::string& display, unsigned long keysym) {
  Display* d = XOpenDisplay(display.c_str());
  if (d == nullptr) return false;
  char keys[32] = {};
  XQueryKeymap(d, keys);
  const KeyCode code = XKeysymToKeycode(d, keysym);
  XCloseDisplay(d);
  return code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
}

TestPad StartTestPad(const std::string& display, const std::string& directory, bool as_ordinary_user,
                     const std::string& program, const std::vector<std::string>& extra_args) {
  TestPad pad;
  std::vector<std::string> args = {kTestPadTitle};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  pad.client = std::make_unique<testing_support::XClient>(program.empty() ? TestPadProgram() : program, args,
                                                          display, directory, as_ordinary_user);
  if (!pad.client->started()) {
    pad.error = pad.client->error();
    return pad;
  }
  filesaver::ProgramLookup lookup(display);
  const filesaver::WindowId w = WaitForWindow(lookup, kTestPadTitle, 60000);
  if (w == 0) {
    pad.error = "the test application's window did not appear";
    return pad;
  }
  // Activated until it says so: without a window manager nobody else gives it the focus.
  const int64_t deadline = NowMs() + 60000;
  bool active = false;
  while (!active && NowMs() < deadline) {
    lookup.ActivateWindow(w);
    active = pad.client->WaitForLine("ACTIVE", 2000);
  }
  if (!active) {
    pad.error = "the test application did not become active";
    return pad;
  }
  pad.window = w;
  return pad;
}

Keyboard::Keyboard(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}

Keyboard::~Keyboard() {
  if (display_) XCloseDisplay(AsDisplay(display_));
}

void Keyboard::Tap(unsigned long keysym, bool control) {
  Display* d = AsDisplay(display_);
  const KeyCode code = XKeysymToKeycode(d, keysym);
  const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
  const KeyCode ctrl = XKeysymToKeycode(d, XK_Control_L);
  const bool shifted = XkbKeycodeToKeysym(d, code, 0, 0) != keysym;
  if (control) XTestFakeKeyEvent(d, ctrl, True, CurrentTime);
  if (shifted) XTestFakeKeyEvent(d, shift, True, CurrentTime);
  XTestFakeKeyEvent(d, code, True, CurrentTime);
  XTestFakeKeyEvent(d, code, False, CurrentTime);
  if (shifted) XTestFakeKeyEvent(d, shift, False, CurrentTime);
  if (control) XTestFakeKeyEvent(d, ctrl, False, CurrentTime);
  XSync(d, False);
}

void Keyboard::Chord(unsigned long modifier, unsigned long keysym) {
  Display* d = AsDisplay(display_);
  const KeyCode held = XKeysymToKeycode(d, modifier);
  XTestFakeKeyEvent(d, held, True, CurrentTime);
  Tap(keysym);
  XTestFakeKeyEvent(d, held, False, CurrentTime);
  XSync(d, False);
}

void Keyboard::Type(const std::string& text) {
  for (const char c : text) Tap(static_cast<unsigned char>(c));
}

void Keyboard::Sync() {
  XSync(AsDisplay(display_), False);
}

std::vector<filesaver::EventMsg> SaveHelloEvents() {
  std::vector<filesaver::EventMsg> events;
  uint32_t time = 1000;
  auto key = [&](uint32_t sym, bool down) {
    events.push_back(filesaver::EventMsg{down ? filesaver::kKeyDown : filesaver::kKeyUp, 0, sym, time, 0});
    time += 40;
  };
  for (const char c : std::string("hello")) {
    key(static_cast<unsigned char>(c), true);
    key(static_cast<unsigned char>(c), false);
  }
  for (const uint32_t sym : {static_cast<uint32_t>(kTab), static_cast<uint32_t>(kF11)}) {
    key(sym, true);
    key(sym, false);
  }
  key(XK_Control_L, true);
  key('s', true);
  key('s', false);
  key(XK_Control_L, false);
  return events;
}

bool WriteTestPadMacro(const std::string& directory, const std::string& prefix, const std::string& extension,
                       const filesaver::WindowRect& rect) {
  const std::vector<filesaver::EventMsg> events = SaveHelloEvents();
  const filesaver::MacroSubject subject{kTestPadTitle, kTestPadProgramName, prefix, extension, rect};
  const filesaver::RecordingHeader header{static_cast<uint32_t>(events.size()), events.front().time};
  std::string bytes;
  for (const filesaver::EventMsg& e : events) {
    const auto r = filesaver::EncodeMacroRecord(filesaver::MacroRecord{subject, e, header});
    bytes.append(reinterpret_cast<const char*>(r.data()), r.size());
  }
  FILE* f = std::fopen((directory + "/" + kTestPadMacro).c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace filesaver_testing
