#include "platform/process.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
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
  if (!argv) return ProcessResult{ProcessStatus::kFailedToStart, -1, -1, EINVAL};
  return StartProgram(*argv, options);
}

ProcessResult StartProgram(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.sysError = EINVAL;
    return result;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  char** envArg = environ;
  if (!options.environment.empty()) {
    envStrings = MergedEnvironment(options.environment);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    envArg = envp.data();
  }

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
  const int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envArg);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    result.sysError = rc;
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
