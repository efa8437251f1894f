#include "platform/user_broadcast.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "platform/clock.h"

namespace platform {

namespace {

// Login-record files larger than this are read only this far (some thousand sessions).
constexpr size_t kMaxUtmpBytes = 4 * 1024 * 1024;

std::string Field(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// A terminal line that stays inside the device directory: "tty1", "pts/3".
bool IsSafeLine(const std::string& line) {
  if (line.empty() || line.front() == '/' || line.find("..") != std::string::npos) return false;
  for (char c : line) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// Length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when malformed.
size_t Utf8Sequence(std::string_view s, size_t i, uint32_t* cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  size_t len;
  uint32_t v;
  uint32_t min;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

// Writes everything within the bound; true when all of it went.
bool WriteBounded(int fd, std::string_view bytes, int boundMs) {
  const uint64_t start = TickMs();
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    const uint64_t spent = TickMs() - start;
    if (spent >= static_cast<uint64_t>(boundMs)) return false;
    pollfd p{fd, POLLOUT, 0};
    const uint64_t left = static_cast<uint64_t>(boundMs) - spent;
    ::poll(&p, 1, static_cast<int>(left < 50 ? left : 50));
  }
  return true;
}

std::vector<UserSession> SessionsFor(const TerminalOptions& options) {
  const std::string path = options.utmpPath.empty() ? DefaultUtmpPath() : options.utmpPath;
  std::vector<UserSession> sessions = ReadUserSessions(path);
  if (options.skipHost.empty()) return sessions;
  std::vector<UserSession> kept;
  for (auto& s : sessions) {
    if (s.host != options.skipHost) kept.push_back(std::move(s));
  }
  return kept;
}

}  // namespace

std::string DefaultUtmpPath() { return _PATH_UTMPX; }

std::vector<UserSession> ReadUserSessions(const std::string& utmpPath) {
  std::vector<UserSession> sessions;
  const int fd = ::open(utmpPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return sessions;
  std::string data;
  char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() >= kMaxUtmpBytes) break;
  }
  ::close(fd);
  for (size_t at = 0; at + sizeof(utmpx) <= data.size(); at += sizeof(utmpx)) {
    utmpx record;
    std::memcpy(&record, data.data() + at, sizeof record);
    if (record.ut_type != USER_PROCESS) continue;
    UserSession s;
    s.user = Field(record.ut_user, sizeof record.ut_user);
    s.line = Field(record.ut_line, sizeof record.ut_line);
    s.host = Field(record.ut_host, sizeof record.ut_host);
    if (s.user.empty() || s.line.empty()) continue;
    sessions.push_back(std::move(s));
  }
  return sessions;
}

std::string TerminalSafeText(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t len = Utf8Sequence(text, i, &cp);
    if (len == 0) {
      ++i;  // a byte that is no part of a well-formed character
      continue;
    }
    if (cp == '\n') {
      out += "\r\n";
    } else if (cp == '\t' || (cp >= 0x20 && cp != 0x7F && (cp < 0x80 || cp >= 0xA0))) {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

int WriteToSessionTerminals(const std::vector<UserSession>& sessions, std::string_view bytes,
                            const TerminalOptions& options) {
  std::set<std::string> done;
  int written = 0;
  for (const UserSession& s : sessions) {
    if (!IsSafeLine(s.line) || !done.insert(s.line).second) continue;
    const std::string path = options.deviceDirectory + "/" + s.line;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && WriteBounded(fd, bytes, options.writeBoundMs)) ++written;
    ::close(fd);
  }
  return written;
}

int BroadcastToUsers(std::string_view heading, std::string_view text, const TerminalOptions& options) {
  std::string message = "\r\n\a" + TerminalSafeText(heading) + "\r\n\r\n" + TerminalSafeText(text);
  if (message.size() < 2 || message.compare(message.size() - 2, 2, "\r\n") != 0) message += "\r\n";
  return WriteToSessionTerminals(SessionsFor(options), message, options);
}

int RingUserTerminals(const TerminalOptions& options) {
  return WriteToSessionTerminals(SessionsFor(options), "\a", options);
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace platform
