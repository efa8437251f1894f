// Messages to the terminals of the users logged in on this machine, as `wall` writes them: the
// daemon's stand-in for a message box on the desktop and for a pop-up message to the users.
//
// The sessions come from the login records (utmp, user processes only), read and written by the
// session layer of platform/user_broadcast.h: each terminal is written once, without blocking (a
// terminal that takes nothing is skipped) and without becoming the daemon's controlling terminal.
// Control characters of the text other than line ends and TAB are written as '?', so a text that
// came over the network cannot drive the terminal. Tests install a sink in place of the terminals.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Writes the caption line and the text to every logged-in user's terminal. Returns the number
// of terminals written.
int WriteToUserTerminals(std::string_view caption, std::string_view text);

using UserTerminalSink = std::function<void(std::string_view caption, std::string_view text)>;
// Replaces the terminals (empty function: back to the real ones).
void SetUserTerminalSink(UserTerminalSink sink);

}  // namespace platform
