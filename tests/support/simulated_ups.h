// Runs the UPS simulator (tools/upssim) as a child process for a test: starts it, learns the
// serial device to open, sends control commands and reads its request log. The child ends
// when the object is destroyed (or when the test process dies: its standard input closes).
//
//   SimulatedUps ups("apc");
//   ASSERT_TRUE(ups.ok()) << ups.error();
//   port.Settings().SetPortName(ups.device().c_str());
//   ups.Do("mains fail");
//   EXPECT_TRUE(ups.WaitForLog("REQ Q"));
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class SimulatedUps {
 public:
  struct Reply {
    bool ok = false;
    std::string status;              // the final "OK ..." or "ERR ..." line
    std::vector<std::string> lines;  // data lines before it
  };

  // Starts "upssim --mode <mode>" with any extra arguments; as the tests' ordinary user (see
  // test_support.h) when asked, so that its serial device belongs to that user. Check ok()
  // afterwards.
  explicit SimulatedUps(const std::string& mode, const std::vector<std::string>& extra_args = {},
                        bool as_ordinary_user = false);
  ~SimulatedUps();
  SimulatedUps(const SimulatedUps&) = delete;
  SimulatedUps& operator=(const SimulatedUps&) = delete;

  bool ok() const { return pid_ > 0 && !device_.empty(); }
  const std::string& error() const { return error_; }
  // The slave device to open as the serial port ("/dev/pts/N").
  const std::string& device() const { return device_; }
  pid_t pid() const { return pid_; }

  // Sends one command line and reads its answer (bounded by timeout_ms).
  Reply Command(const std::string& line, int timeout_ms = 5000);
  // Command(line).ok
  bool Do(const std::string& line);

  // The request log entries, each "N KIND TEXT".
  std::vector<std::string> Log();
  // Entries from number `from` on.
  std::vector<std::string> LogSince(size_t from);
  // Number of the next entry (the count of entries ever logged).
  size_t LogCount();
  // Waits until an entry from number `from` on contains `needle` (bounded); true when found.
  bool WaitForLog(const std::string& needle, size_t from = 0, int timeout_ms = 5000);
  // Entries from number `from` on that start with "<N> KIND", with the number and kind removed.
  std::vector<std::string> Entries(const std::string& kind, size_t from = 0);

  // Path of the simulator program: $VIGIL_UPSSIM, else $VIGIL_BUILD_DIR/tools/upssim, else
  // found from the test program's own location in the build tree.
  static std::string ProgramPath();

 private:
  bool ReadLine(std::string* line, int timeout_ms);

  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string buffer_;
  std::string device_;
  std::string error_;
};

}  // namespace testing_support
