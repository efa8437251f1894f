// The system log in place of the NT event log: one entry per report, under the name of the
// program that reports (the event source, e.g. "VigilNT"), through syslog (facility daemon).
//
// The strings of one report are joined with " : ". Control characters are written as '?', so
// a text that came over the network cannot forge log lines. Tests install a sink that
// receives every entry instead of the system log.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class LogEntryType { kError, kWarning, kInformation };

void WriteSystemLog(std::string_view source, LogEntryType type, const std::vector<std::string>& strings);

using SystemLogSink = std::function<void(std::string_view source, LogEntryType type, std::string_view text)>;
// Replaces the system log (empty function: back to syslog).
void SetSystemLogSink(SystemLogSink sink);

// The text with every control character but TAB made '?' (and LF too unless keepLineEnds).
std::string PrintableText(std::string_view text, bool keepLineEnds);

}  // namespace platform
