// The message-box log: programs that show message boxes (the desktop agent, the consoles) log
// and answer them instead of showing them when the environment variable VIGIL_MESSAGE_LOG names
// a file, for headless runs and the demo. Each box is one line appended to that file:
//
//   <caption> | <text> | <answer>
//
// with every line break of the text written as the two characters "\n". The answer is the
// button the program takes as pressed: Cancel when the box has one, else No, else OK.
#pragma once

#include <string>

namespace platform {

inline constexpr const char* kMessageLogEnv = "VIGIL_MESSAGE_LOG";

// The log file named by the environment; empty when boxes are to be shown.
std::string MessageLogPath();
// The log line of one box (without the line end).
std::string MessageLogLine(const std::string& caption, const std::string& text, const std::string& answer);
// Appends one box to the log file (opened, written in one write and closed for each box, so
// several programs may share one log). False when the file cannot be written.
bool AppendMessageLog(const std::string& path, const std::string& caption, const std::string& text,
                      const std::string& answer);

}  // namespace platform
