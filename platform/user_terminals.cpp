#include "platform/user_terminals.h"

#include <mutex>

#include "platform/system_log.h"
#include "platform/user_broadcast.h"

namespace platform {

namespace {

std::mutex g_mutex;
UserTerminalSink& Sink() {
  static UserTerminalSink sink;
  return sink;
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
  // A terminal that takes nothing at once is skipped rather than waited for.
  TerminalOptions options;
  options.writeBoundMs = 0;
  return WriteToSessionTerminals(ReadUserSessions(DefaultUtmpPath()), TerminalText(caption, text), options);
}

void SetUserTerminalSink(UserTerminalSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Sink() = std::move(sink);
}

}  // namespace platform
