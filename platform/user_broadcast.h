// Messages to the users logged in on this machine, the way `wall` reaches them: the login
// records (utmp) name each user session's terminal, and the text is written to each terminal.
//
// Sessions: every USER_PROCESS record with a user name and a terminal line; one write per
// terminal however many records name it. A session opened from this machine's own host name
// can be skipped (the agent's broadcast leaves out its own computer, as it always has).
//
// Safety of the writes: the terminal is opened write-only, without becoming our controlling
// terminal (O_NOCTTY), without blocking (O_NONBLOCK) and without following a symbolic link;
// it must be a character device under the device directory (a line naming anything outside
// it is skipped). A terminal that takes nothing within the write bound is left with what it
// took. The text loses every control character but line ends and TAB (and any byte that is
// not well-formed UTF-8, and the C1 controls), so a text that came over the network cannot
// drive anyone's terminal; line ends become CR LF.
//
// Tests point the layer at a login-record file of their own and at pseudo-terminals.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct UserSession {
  std::string user;
  std::string line;  // terminal, relative to the device directory ("pts/3", "tty1")
  std::string host;  // where the session came from ("" for a local one)
};

struct TerminalOptions {
  std::string utmpPath;            // empty: the system's login records
  std::string deviceDirectory = "/dev";
  std::string skipHost;            // sessions from this host are left out ("" keeps all)
  int writeBoundMs = 500;          // longest time spent on one terminal
};

// The system's login-record file.
std::string DefaultUtmpPath();

// The user sessions of a login-record file (empty when the file is missing or unreadable).
// Records are read as the C library lays them out; a short tail is ignored.
std::vector<UserSession> ReadUserSessions(const std::string& utmpPath);

// The text as it may be shown on a terminal (see the head of this file).
std::string TerminalSafeText(std::string_view text);

// Writes `bytes` (already safe) to the terminal of every session; the count of terminals that
// took all of them.
int WriteToSessionTerminals(const std::vector<UserSession>& sessions, std::string_view bytes,
                            const TerminalOptions& options);

// A message to every logged-in user: a blank line, the bell, the heading, a blank line, then
// the text, all made safe. The count of terminals written.
int BroadcastToUsers(std::string_view heading, std::string_view text, const TerminalOptions& options);

// The terminal bell on every logged-in user's terminal. The count of terminals written.
int RingUserTerminals(const TerminalOptions& options);

// This machine's host name ("" when it cannot be read).
std::string LocalHostName();

}  // namespace platform
