#include "platform/system_log.h"

#include <syslog.h>

#include <mutex>

namespace platform {

namespace {
std::mutex g_mutex;
SystemLogSink& Sink() {
  static SystemLogSink sink;
  return sink;
}
}  // namespace

std::string PrintableText(std::string_view text, bool keepLineEnds) {
  std::string out(text);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u == '\t' || (keepLineEnds && u == '\n')) continue;
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  return out;
}

void WriteSystemLog(std::string_view source, LogEntryType type, const std::vector<std::string>& strings) {
  std::string text;
  for (const std::string& s : strings) {
    if (!text.empty()) text += " : ";
    text += s;
  }
  text = PrintableText(text, false);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Sink()) {
    Sink()(source, type, text);
    return;
  }
  const int priority = type == LogEntryType::kError ? LOG_ERR : type == LogEntryType::kWarning ? LOG_WARNING : LOG_INFO;
  // openlog keeps the pointer it is given: the identity lives in a static string.
  static std::string ident;
  if (ident != source) {
    ident = std::string(source);
    openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  }
  syslog(priority, "%s", text.c_str());
}

void SetSystemLogSink(SystemLogSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Sink() = std::move(sink);
}

}  // namespace platform
