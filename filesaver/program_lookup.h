// The applications on the X display: their top-level windows, the program behind each, and the
// placing of a window before its macro is replayed. A connection of its own to the display,
// used from one thread at a time. Windows are X window ids; 0 is none.
//
// The program of a window is found through _NET_WM_PID, trusted only when WM_CLIENT_MACHINE
// names this host, and /proc/PID/exe; a program run by an interpreter has the interpreter's
// name. A process of another user, or one that sets no _NET_WM_PID, has no program name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filesaver/macro_files.h"

namespace filesaver {

using WindowId = uint32_t;

// Whether the display can record and replay: the recorder needs the RECORD extension and the
// replayer XTEST. Without either the File Saver has nothing to offer.
enum class DisplayState {
  kUsable,
  kNoDisplay,  // no display named, or it cannot be opened
  kNoRecord,   // the display has no RECORD extension
  kNoXTest,    // the display has no XTEST extension
};
// A short English description, for logs ("no X display", "the X display has no RECORD extension").
const char* DisplayStateText(DisplayState state);

struct AppWindow {
  WindowId id = 0;
  std::string title;  // UTF-8
};

class ProgramLookup {
 public:
  // Opens `display` (empty: $DISPLAY).
  explicit ProgramLookup(const std::string& display = std::string());
  ~ProgramLookup();
  ProgramLookup(const ProgramLookup&) = delete;
  ProgramLookup& operator=(const ProgramLookup&) = delete;

  DisplayState state() const;
  bool usable() const { return state() == DisplayState::kUsable; }

  // The applications' top-level windows with a non-empty title, top first: the window
  // manager's _NET_CLIENT_LIST_STACKING (iconified windows count); without a window manager the
  // root's viewable children (not override-redirect). Empty without a display.
  std::vector<AppWindow> ListAppWindows();
  std::string WindowTitle(WindowId window);

  // The program name of the window's process (see ProgramNameFromExecutable), or empty.
  std::string GetWindowProgramName(WindowId window);
  // The first listed window whose title (mode 0) or program name (mode 1) equals `name`,
  // ignoring case; 0 when none does.
  WindowId FindAppWindow(int mode, std::string_view name);
  // 1 when a listed window with exactly this title belongs to a program whose macro file exists
  // in the current directory, else 0.
  int MacroExistsForWindow(std::string_view title);

  // The window's frame-less rectangle on the screen; zero when it is gone.
  WindowRect GetWindowRect(WindowId window);
  // Shows the window normally (de-iconified), raises it, gives it the input focus and makes it
  // the active window. False when it is gone.
  bool ActivateWindow(WindowId window);
  // Activates the window, moves and resizes it to `rect`, raises it, then waits `settle_ms`
  // so the application settles before events are replayed into it.
  bool PlaceAppWindow(WindowId window, const WindowRect& rect, int settle_ms = 2000);

  // BuildPlaybackFile (macro_files.h) for the window's program; 0 when it has no name.
  int BuildPlaybackFile(WindowId window);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace filesaver
