#include "platform/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace platform {

const char* ProcessStatusText(ProcessStatus s) {
  switch (s) {
    case ProcessStatus::kStarted: return "started";
    case ProcessStatus::kExited: return "exited";
    case ProcessStatus::kTimedOut: return "timed out";
    case ProcessStatus::kFailedToStart: return "failed to start";
  }
  return "unknown";
}

const char* StartStepText(StartStep s) {
  switch (s) {
    case StartStep::kNone:
      return "nothing";
    case StartStep::kProgram:
      return "starting the program";
    case StartStep::kGroups:
      return "setting the supplementary groups";
    case StartStep::kGroupId:
      return "setting the group ids";
    case StartStep::kUserId:
      return "setting the user ids";
    case StartStep::kRootRegained:
      return "dropping root for good";
  }
  return "unknown";
}

bool LookUpAccount(const std::string& name, ProcessAccount& out, std::string& why) {
  passwd pw{};
  passwd* found = nullptr;
  std::vector<char> buf(16384);
  int rc;
  while ((rc = ::getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found)) == ERANGE &&
         buf.size() < (1u << 20)) {
    buf.resize(buf.size() * 2);
  }
  if (rc != 0) {
    why = "the user \"" + name + "\" cannot be looked up: " + std::strerror(rc);
    return false;
  }
  if (found == nullptr) {
    why = "there is no user \"" + name + "\"";
    return false;
  }
  ProcessAccount account;
  account.name = pw.pw_name;
  account.uid = pw.pw_uid;
  account.gid = pw.pw_gid;
  account.home = pw.pw_dir ? pw.pw_dir : "";
  int count = 32;
  for (;;) {
    account.groups.assign(static_cast<size_t>(count), 0);
    int n = count;
    if (::getgrouplist(account.name.c_str(), account.gid, account.groups.data(), &n) >= 0) {
      account.groups.resize(static_cast<size_t>(n));
      break;
    }
    if (n <= count || n > 65536) {
      why = "the groups of the user \"" + name + "\" cannot be looked up";
      return false;
    }
    count = n;
  }
  out = std::move(account);
  return true;
}

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view text) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (char c : text) {
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      inArgument = true;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
      if (inArgument) {
        args.push_back(std::move(current));
        current.clear();
        inArgument = false;
      }
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inArgument) args.push_back(std::move(current));
  return args;
}

namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Collects the exit status of a program nobody waits for any more.
void ReapInBackground(pid_t pid) {
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// Waits up to ms for the child; true with its status when it ended.
bool WaitFor(pid_t pid, uint32_t ms, int& status) {
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int remaining = static_cast<int>(std::min<uint32_t>(ms, INT32_MAX));
    int rc;
    do {
      rc = ::poll(&p, 1, remaining);
    } while (rc < 0 && errno == EINTR);
    ::close(pidfd);
    if (rc <= 0) return false;
    pid_t r;
    while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return r == pid;
  }
  // Kernels without pidfd: look every 10 ms.
  for (uint32_t waited = 0;; waited += 10) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) return false;
    if (waited >= ms) return false;
    ::usleep(10000);
  }
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& additions) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  for (const auto& add : additions) {
    const size_t eq = add.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string key = add.substr(0, eq + 1);
    bool replaced = false;
    for (auto& e : env) {
      if (e.compare(0, key.size(), key) == 0) {
        e = add;
        replaced = true;
      }
    }
    if (!replaced) env.push_back(add);
  }
  return env;
}

}  // namespace

ProcessResult StartProgram(std::string_view commandText, const ProcessOptions& options) {
  auto argv = SplitCommandLine(commandText);
  if (!argv) return ProcessResult{ProcessStatus::kFailedToStart, -1, -1, EINVAL, StartStep::kProgram};
  return StartProgram(*argv, options);
}

namespace {

// Starts the program with posix_spawnp, as ourselves. The child's pid, or the error.
pid_t SpawnAsOurselves(const std::vector<char*>& args, char** envp, const ProcessOptions& options,
                       int* error) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawnattr_init(&attr);
  // Only standard input, output and error cross into the program.
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (!options.workingDirectory.empty()) {
    ::posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  }
  // A fresh signal state: the program must not inherit our blocked signals, nor the broken
  // pipe signal that the agent ignores (an ignored signal stays ignored across exec, and a
  // pipeline in a command would then keep writing into a closed pipe).
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  *error = rc;
  return rc == 0 ? pid : -1;
}

// The paths at which the program is tried, as posix_spawnp tries them: the name itself when it
// holds a slash, else each folder of our PATH in turn.
std::vector<std::string> ProgramCandidates(const std::string& program) {
  if (program.find('/') != std::string::npos) return {program};
  const char* path = std::getenv("PATH");
  const std::string folders = path ? path : "/bin:/usr/bin";
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t end = folders.find(':', start);
    std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (folder.empty()) folder = ".";
    out.push_back(folder + "/" + program);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

// The system calls of 32-bit ids (older 32-bit kernels keep 16-bit ones under the plain names).
#ifdef SYS_setgroups32
constexpr long kSetGroups = SYS_setgroups32;
constexpr long kSetResGid = SYS_setresgid32;
constexpr long kSetResUid = SYS_setresuid32;
#else
constexpr long kSetGroups = SYS_setgroups;
constexpr long kSetResGid = SYS_setresgid;
constexpr long kSetResUid = SYS_setresuid;
#endif

// What the child reports through its pipe when a step fails before the program runs.
struct ChildFailure {
  int step;
  int error;
};

[[noreturn]] void ChildFails(int fd, StartStep step, int error) {
  const ChildFailure f{static_cast<int>(step), error};
  ssize_t n;
  do {
    n = ::write(fd, &f, sizeof f);
  } while (n < 0 && errno == EINTR);
  ::_exit(127);
}

// Closes the descriptors first..last; `last` may be UINT_MAX ("all above"), which a kernel
// without close_range gets as the descriptor limit `limit`.
void CloseFrom(unsigned first, unsigned last, unsigned limit) {
  if (first > last) return;
  if (::syscall(SYS_close_range, first, last, 0u) == 0) return;
  for (unsigned fd = first; fd <= last && fd < limit; ++fd) ::close(static_cast<int>(fd));
}

// Starts the program as another account: fork, then in the child (nothing but system calls,
// since other threads of ours may hold locks the child would wait on for ever) the groups, the
// group ids, the user ids, the working directory and exec. A failed step comes back through a
// close-on-exec pipe, which an exec that succeeds closes without a word.
pid_t SpawnAsAccount(const std::vector<char*>& args, char** envp, const ProcessOptions& options, int* error,
                     StartStep* step) {
  const ProcessAccount& account = *options.account;
  const std::vector<std::string> candidates = ProgramCandidates(args[0]);
  std::vector<const char*> paths;
  for (const auto& c : candidates) paths.push_back(c.c_str());
  const char* directory = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const unsigned fdLimit = openMax > 0 && openMax < 65536 ? static_cast<unsigned>(openMax) : 65536u;

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    *error = errno;
    *step = StartStep::kProgram;
    return -1;
  }
  // The write end above the standard descriptors, so that closing the others leaves it.
  if (report[1] < 3) {
    const int moved = ::fcntl(report[1], F_DUPFD_CLOEXEC, 3);
    ::close(report[1]);
    if (moved < 0) {
      *error = errno;
      *step = StartStep::kProgram;
      ::close(report[0]);
      return -1;
    }
    report[1] = moved;
  }
  // No signal reaches the child before it has put every handler back to the default.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = report[1];
    for (int sig = 1; sig < NSIG; ++sig) {
      struct sigaction current {};
      if (::sigaction(sig, nullptr, &current) != 0) continue;
      if (current.sa_handler != SIG_IGN || sig == SIGPIPE) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(sig, &dfl, nullptr);
      }
    }
    CloseFrom(3, static_cast<unsigned>(fd) - 1, fdLimit);
    CloseFrom(static_cast<unsigned>(fd) + 1, UINT_MAX, fdLimit);
    if (::syscall(kSetGroups, account.groups.size(), account.groups.data()) != 0) {
      ChildFails(fd, StartStep::kGroups, errno);
    }
    if (::syscall(kSetResGid, account.gid, account.gid, account.gid) != 0) {
      ChildFails(fd, StartStep::kGroupId, errno);
    }
    if (::syscall(kSetResUid, account.uid, account.uid, account.uid) != 0) {
      ChildFails(fd, StartStep::kUserId, errno);
    }
    // With every user id the account's, root is gone for good; make sure of it.
    if (account.uid != 0 && (::syscall(kSetResUid, -1, 0, -1) == 0 || ::geteuid() == 0)) {
      ChildFails(fd, StartStep::kRootRegained, EPERM);
    }
    if (directory != nullptr && ::chdir(directory) != 0) ChildFails(fd, StartStep::kProgram, errno);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // As posix_spawnp searches: a folder that lacks the program or cannot be searched is passed
    // over; the program found but not executable is reported as such.
    bool denied = false;
    for (const char* path : paths) {
      ::execve(path, args.data(), envp);
      const int failure = errno;
      if (failure == EACCES) {
        denied = true;
      } else if (failure != ENOENT && failure != ENOTDIR && failure != ELOOP && failure != ENAMETOOLONG &&
                 failure != ESTALE && failure != ENODEV && failure != ETIMEDOUT) {
        ChildFails(fd, StartStep::kProgram, failure);
      }
    }
    ChildFails(fd, StartStep::kProgram, denied ? EACCES : ENOENT);
  }
  const int forkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    *error = forkError;
    *step = StartStep::kProgram;
    return -1;
  }
  ChildFailure failure{};
  ssize_t n;
  do {
    n = ::read(report[0], &failure, sizeof failure);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == 0) return pid;  // the exec closed the pipe
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof failure)) {
    *error = failure.error;
    *step = static_cast<StartStep>(failure.step);
  } else {
    *error = EIO;
    *step = StartStep::kProgram;
  }
  return -1;
}

}  // namespace

ProcessResult StartProgram(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.sysError = EINVAL;
    result.failedStep = StartStep::kProgram;
    return result;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  std::vector<std::string> additions = options.environment;
  if (options.account) {
    for (const char* key : {"HOME=", "USER=", "LOGNAME="}) {
      additions.push_back(key + (key[0] == 'H' ? options.account->home : options.account->name));
    }
  }
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  char** envArg = environ;
  if (!additions.empty()) {
    envStrings = MergedEnvironment(additions);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    envArg = envp.data();
  }

  int error = 0;
  StartStep step = StartStep::kProgram;
  const pid_t pid = options.account ? SpawnAsAccount(args, envArg, options, &error, &step)
                                    : SpawnAsOurselves(args, envArg, options, &error);
  if (pid < 0) {
    result.sysError = error;
    result.failedStep = step;
    return result;
  }
  result.pid = pid;
  if (!options.wait) {
    ReapInBackground(pid);
    result.status = ProcessStatus::kStarted;
    return result;
  }
  int status = 0;
  if (WaitFor(pid, options.waitMs, status)) {
    result.status = ProcessStatus::kExited;
    result.exitCode = ExitCodeOf(status);
    return result;
  }
  ReapInBackground(pid);
  result.status = ProcessStatus::kTimedOut;
  return result;
}

}  // namespace platform
