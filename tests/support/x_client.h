// An X client program run by a test (such as the File Saver's test application testpad) on a
// given display, with its standard output read line by line: the client reports what it did
// there, and the test waits for a report within a bound instead of sleeping.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class XClient {
 public:
  // Starts `program` with `args` on `display` (DISPLAY set, QT_QPA_PLATFORM=xcb) in
  // `directory` (empty: the working directory); as the ordinary user (OrdinaryUserLauncher)
  // when `as_ordinary_user`.
  XClient(const std::string& program, const std::vector<std::string>& args, const std::string& display,
          const std::string& directory = std::string(), bool as_ordinary_user = false);
  ~XClient();  // Stop()
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& error() const { return error_; }

  // Waits at most `timeout_ms` for an output line that starts with `prefix`; lines before it
  // are passed over. True when one came (the whole line in *line).
  bool WaitForLine(const std::string& prefix, int timeout_ms, std::string* line = nullptr);
  // Ends the client (SIGTERM, then SIGKILL after 5 s) and reaps it.
  void Stop();

 private:
  pid_t pid_ = -1;
  int from_child_ = -1;
  std::string buffer_;
  std::string error_;
};

}  // namespace testing_support
