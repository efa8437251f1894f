// A virtual X server for the tests of the File Saver and its dialog: Xvfb on a display number
// of its own (chosen by the server itself, -displayfd), reachable only through its local
// socket (-nolisten tcp), with the RECORD and XTEST extensions the recorder and replayer need.
// Tests skip when Xvfb is not installed or does not start.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class XvfbServer {
 public:
  // Starts Xvfb with one 1280x1024 screen of 24 bits and the extra arguments (such as
  // {"-extension", "RECORD"} for a display without recording), waiting at most 30 s for it.
  explicit XvfbServer(const std::vector<std::string>& extra_args = {});
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool running() const { return !display_.empty(); }
  const std::string& display() const { return display_; }  // ":N"
  const std::string& error() const { return error_; }      // why it is not running

  // Whether the program Xvfb is on the search path.
  static bool Installed();

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

// One server for the whole test program, started on the first call and stopped at exit; sets
// DISPLAY to it (and QT_QPA_PLATFORM to xcb) for the process and its children. A test main
// that creates a QApplication on the X display calls this before. Null, with the reason in
// `error`, when the server cannot run.
const XvfbServer* ProcessXvfb(std::string* error = nullptr);

}  // namespace testing_support

// Skips the current test when the server does not run.
#define VIGIL_SKIP_WITHOUT_XVFB(server)                                                   \
  do {                                                                                    \
    if (!(server).running()) GTEST_SKIP() << "no virtual X server: " << (server).error(); \
  } while (0)
