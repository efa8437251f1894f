// The File Saver's test application testpad under a virtual X server, for the tests of the
// library, the saver program and the File Saver dialog: starting it and waiting until it takes
// keys, typing into it through XTEST, and macros that make it save.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "filesaver/macro_files.h"
#include "filesaver/program_lookup.h"
#include "tests/support/x_client.h"

namespace filesaver_testing {

// The program (its program name is TESTPAD.EXE) and the saver program of the build.
std::string TestPadProgram();
std::string SaverProgram();
inline constexpr const char* kTestPadTitle = "Test Pad";
inline constexpr const char* kTestPadProgramName = "TESTPAD.EXE";
inline constexpr const char* kTestPadMacro = "TESTPAD.MAC";

// A running testpad whose window is the active one, or an error.
struct TestPad {
  std::unique_ptr<testing_support::XClient> client;
  filesaver::WindowId window = 0;
  std::string error;
  bool ok() const { return window != 0; }
};
// Starts testpad (`program`, default TestPadProgram()) on `display` in `directory`, waits
// (bounded) for its window, activates it and waits until it reports that it is active.
// `extra_args` follow the title (such as "--screenshot", PATH).
TestPad StartTestPad(const std::string& display, const std::string& directory, bool as_ordinary_user = false,
                     const std::string& program = std::string(),
                     const std::vector<std::string>& extra_args = {});

// Polls (bounded) until a window of that title is listed; 0 when none came.
filesaver::WindowId WaitForWindow(filesaver::ProgramLookup& lookup, const std::string& title, int timeout_ms);

// Polls (bounded) until no window of that title is listed (a client that ended is gone from
// the server a moment later); true when none is.
bool WaitForWindowGone(filesaver::ProgramLookup& lookup, const std::string& title, int timeout_ms);

// A left click at a root position, through XTEST.
void ClickAt(const std::string& display, int x, int y);
// Whether the key of the keysym is held down on the display.
bool KeyIsDown(const std::string& display, unsigned long keysym);

// Input sent to the display through XTEST on a connection of its own.
class Keyboard {
 public:
  explicit Keyboard(const std::string& display);
  ~Keyboard();
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;
  bool ok() const { return display_ != nullptr; }
  // Presses and releases the key of the keysym, with Control held when `control`.
  void Tap(unsigned long keysym, bool control = false);
  // Presses and releases the key of the keysym while the modifier's key (such as Alt_L) is held.
  void Chord(unsigned long modifier, unsigned long keysym);
  // Types ASCII text (Shift where needed).
  void Type(const std::string& text);
  // Waits until the server has handled everything sent.
  void Sync();

 private:
  void* display_ = nullptr;
};

// The keysyms of the keys the tests use.
inline constexpr unsigned long kTab = 0xFF09;
inline constexpr unsigned long kF11 = 0xFFC8;
inline constexpr unsigned long kF12 = 0xFFC9;

// The events of a macro that saves testpad's work: "hello", Tab (to the file-name field), F11
// (the path of the saved file goes there), Ctrl+S. Keys by keysym (the replay finds their
// keycodes), 40 ms apart.
std::vector<filesaver::EventMsg> SaveHelloEvents();
// Writes <directory>/TESTPAD.MAC with those events, the prefix and the extension.
bool WriteTestPadMacro(const std::string& directory, const std::string& prefix, const std::string& extension,
                       const filesaver::WindowRect& rect = filesaver::WindowRect{120, 140, 540, 270});

}  // namespace filesaver_testing
