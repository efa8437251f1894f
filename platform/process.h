// Starting programs from a command text, without a shell.
//
// Command texts reach the agent from its configuration and over the network, so they are
// never given to a shell: the text is split into arguments and the program is started
// directly (posix_spawnp: a program name without '/' is looked up on PATH).
//
// Splitting rule:
//   - Blanks (space, tab, CR, LF, VT, FF) separate arguments; runs of blanks count as one.
//   - A double quote starts a quoted part that runs to the next double quote; inside it every
//     character, blanks included, belongs to the argument. The quotes themselves are dropped
//     and may sit inside an argument: ab"c d"e gives the one argument abc de.
//   - "" gives an empty argument.
//   - There are no escapes: a backslash is an ordinary character (paths keep their
//     backslashes), and an argument cannot contain a double quote.
//   - A quote left open at the end makes the whole text invalid (nothing is started).
//
// A started program inherits no descriptors beyond standard input, output and error (all
// others are close-on-exec in this suite), no blocked signals and no ignored SIGPIPE. Programs not waited for, and programs whose wait
// timed out, are reaped in the background, so none is left as a zombie.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command text by the rule above; nullopt for an open quote.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view text);

// A user account a program can be started as.
struct ProcessAccount {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // the supplementary groups of the group database, gid among them
  std::string home;
};

// Looks an account up in the user and group databases. True with its ids, groups and home;
// false with the reason in `why` ("no user \"name\"", ...).
bool LookUpAccount(const std::string& name, ProcessAccount& out, std::string& why);

struct ProcessOptions {
  // Wait for the program to end, at most waitMs milliseconds. Without waiting the result is
  // kStarted as soon as the program runs.
  bool wait = false;
  uint32_t waitMs = 0;
  // Working directory of the program; empty keeps ours.
  std::string workingDirectory;
  // "NAME=value" entries added to (or replacing in) our environment for the program.
  std::vector<std::string> environment;
  // The account the program runs as; none: ours. Taking it needs root. Before the program
  // starts, its supplementary groups become the account's, then its group ids and last its user
  // ids (real, effective and saved, so the program cannot take ours back), and HOME, USER and
  // LOGNAME name the account. When a step fails nothing is started: kFailedToStart, with the
  // step in failedStep and its errno in sysError.
  std::optional<ProcessAccount> account;
};

enum class ProcessStatus {
  kStarted,        // running (not waited for)
  kExited,         // ended within the wait; exitCode holds its status
  kTimedOut,       // still running when the wait ended; it keeps running
  kFailedToStart,  // bad command text, program not found, not executable, ...
};

const char* ProcessStatusText(ProcessStatus s);

// The step of a start that failed.
enum class StartStep {
  kNone,
  kProgram,       // the command text, the working directory or the program itself
  kGroups,        // the account's supplementary groups
  kGroupId,       // the account's group ids
  kUserId,        // the account's user ids
  kRootRegained,  // the user ids were set, yet root could be taken back
};

// What failed, for a trace: "setting the supplementary groups", ...
const char* StartStepText(StartStep s);

struct ProcessResult {
  ProcessStatus status = ProcessStatus::kFailedToStart;
  // For kExited: the exit code, or 128 + signal number when a signal ended the program.
  int exitCode = -1;
  pid_t pid = -1;
  int sysError = 0;  // errno when the start failed
  StartStep failedStep = StartStep::kNone;
};

ProcessResult StartProgram(std::string_view commandText, const ProcessOptions& options = {});
ProcessResult StartProgram(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace platform
