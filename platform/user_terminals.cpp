#include "platform/user_terminals.h"

#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstring>
#include <mutex>
#include <set>

#include "platform/system_log.h"

namespace platform {

namespace {

std::mutex g_mutex;
UserTerminalSink& Sink() {
  static UserTerminalSink sink;
  return sink;
}

// A terminal line from a login record: "tty1", "pts/3"; nothing that leaves /dev.
bool IsSafeLine(const std::string& line) {
  if (line.empty() || line.front() == '/' || line.find("..") != std::string::npos) return false;
  for (char c : line) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
          c == '_' || c == '.')) {
      return false;
    }
  }
  return true;
}

// Line ends become CR LF, as a terminal in raw output mode needs them.
std::string TerminalText(std::string_view caption, std::string_view text) {
  std::string body = "\r\n\a" + PrintableText(caption, false) + "\r\n" + PrintableText(text, true);
  std::string out;
  for (char c : body) {
    if (c == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
    out += c;
  }
  out += "\r\n";
  return out;
}

}  // namespace

int WriteToUserTerminals(std::string_view caption, std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Sink()) {
      Sink()(caption, text);
      return 1;
    }
  }
  std::set<std::string> lines;
  setutxent();
  while (utmpx* u = getutxent()) {
    if (u->ut_type != USER_PROCESS) continue;
    std::string line(u->ut_line, strnlen(u->ut_line, sizeof(u->ut_line)));
    if (IsSafeLine(line)) lines.insert(line);
  }
  endutxent();
  const std::string message = TerminalText(caption, text);
  int written = 0;
  for (const std::string& line : lines) {
    const std::string path = "/dev/" + line;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    if (::isatty(fd) && ::write(fd, message.data(), message.size()) > 0) ++written;
    ::close(fd);
  }
  return written;
}

void SetUserTerminalSink(UserTerminalSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Sink() = std::move(sink);
}

}  // namespace platform
