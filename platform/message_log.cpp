#include "platform/message_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string MessageLogPath() {
  const char* path = std::getenv(kMessageLogEnv);
  return path ? std::string(path) : std::string();
}

std::string MessageLogLine(const std::string& caption, const std::string& text, const std::string& answer) {
  std::string line = caption + " | ";
  for (char c : text) {
    if (c == '\n') {
      line += "\\n";
    } else if (c != '\r') {
      line += c;
    }
  }
  return line + " | " + answer;
}

bool AppendMessageLog(const std::string& path, const std::string& caption, const std::string& text,
                      const std::string& answer) {
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  const std::string line = MessageLogLine(caption, text, answer) + "\n";
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == line.size();
}

}  // namespace platform
