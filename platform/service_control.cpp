#include "platform/service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

extern char** environ;

namespace platform {

namespace {

std::mutex g_mutex;
std::string g_systemctl;  // empty: the default
ServiceRunner g_runner;
ServiceOutputRunner g_output_runner;
std::function<bool()> g_privileged;

struct Settings {
  std::string systemctl;
  ServiceRunner runner;
  ServiceOutputRunner outputRunner;
  std::function<bool()> privileged;
};

std::string DefaultSystemctl() {
  const char* named = std::getenv("VIGIL_SYSTEMCTL");
  return named != nullptr && named[0] != '\0' ? std::string(named) : std::string("systemctl");
}

Settings Current() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Settings{g_systemctl.empty() ? DefaultSystemctl() : g_systemctl, g_runner, g_output_runner,
                  g_privileged};
}

int RunOutput(const Settings& s, const std::vector<std::string>& argv, int timeoutMs, std::string* out) {
  out->clear();
  if (s.outputRunner) return s.outputRunner(argv, timeoutMs, out);
  if (s.runner) return s.runner(argv, timeoutMs);
  return RunProgramOutput(argv, timeoutMs, out);
}

// The value of "key=" among the lines of `text`; empty when absent.
std::string PropertyOf(const std::string& text, const std::string& key) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=') {
      return line.substr(key.size() + 1);
    }
    at = end + 1;
  }
  return std::string();
}

int Run(const Settings& s, const std::vector<std::string>& argv, int timeoutMs) {
  if (s.runner) return s.runner(argv, timeoutMs);
  return RunProgram(argv, timeoutMs);
}

// Waits for the child to end within the limit; true with its status when it did.
bool WaitBounded(pid_t pid, int timeoutMs, int& status) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  const int pidfd = -1;
#endif
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (pidfd >= 0) ::close(pidfd);
      return true;
    }
    if (r < 0 && errno != EINTR) {
      if (pidfd >= 0) ::close(pidfd);
      return false;
    }
    const auto now = Clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(left < 10 ? left : 10));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return false;
}

}  // namespace

namespace {

// Spawns the program with its streams on /dev/null, or its standard output on `outFd`.
pid_t Spawn(const std::vector<std::string>& argv, int outFd) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fd == 1 && outFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
  if (outFd >= 0) posix_spawn_file_actions_addclose(&actions, outFd);
  pid_t pid = -1;
  const bool path = argv[0].find('/') != std::string::npos;
  const int rc = path ? posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ)
                      : posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Waits for the child (bounded); past the limit it is killed and reaped. Its exit code, or -1.
int Reap(pid_t pid, int timeoutMs) {
  int status = 0;
  if (!WaitBounded(pid, timeoutMs, status)) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  if (!WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
  const pid_t pid = Spawn(argv, -1);
  if (pid < 0) return -1;
  return Reap(pid, timeoutMs);
}

int RunProgramOutput(const std::vector<std::string>& argv, int timeoutMs, std::string* out) {
  if (out != nullptr) out->clear();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = Spawn(argv, fds[1]);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return -1;
  }
  // Reads until the program closes its output or the limit passes; a program that keeps its
  // output open past the limit is ended by Reap.
  constexpr size_t kMaxOutput = 64 * 1024;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (out != nullptr && out->size() < kMaxOutput) {
      out->append(buffer, std::min(static_cast<size_t>(n), kMaxOutput - out->size()));
    }
  }
  ::close(fds[0]);
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return Reap(pid, left > 0 ? static_cast<int>(left) : 0);
}

void SetSystemctlPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_systemctl = path;
}

void SetServiceOutputRunner(ServiceOutputRunner runner) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_output_runner = std::move(runner);
}

void SetServiceRunner(ServiceRunner runner) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_runner = std::move(runner);
}

void SetServicePrivilegeCheck(std::function<bool()> check) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_privileged = std::move(check);
}

bool IsValidUnitName(const std::string& unit) {
  if (unit.empty() || unit.size() > 255 || unit[0] == '-') return false;
  for (char c : unit) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
                    c == '_' || c == '.' || c == '@' || c == '-';
    if (!ok) return false;
  }
  return true;
}

int IsUnitActive(const std::string& unit) {
  if (!IsValidUnitName(unit)) return 0;
  const Settings s = Current();
  return Run(s, {s.systemctl, "is-active", "--quiet", unit}, kServiceQueryTimeoutMs) == 0 ? 1 : 0;
}

int StartUnit(const std::string& unit) {
  if (!IsValidUnitName(unit)) return 0;
  const Settings s = Current();
  const bool privileged = s.privileged ? s.privileged() : ::geteuid() == 0;
  if (!privileged) return 0;
  return Run(s, {s.systemctl, "start", unit}, kServiceStartTimeoutMs) == 0 ? 1 : 0;
}

const char* UnitStartOutcomeName(UnitStartOutcome outcome) {
  switch (outcome) {
    case UnitStartOutcome::Started:
      return "started";
    case UnitStartOutcome::NotPrivileged:
      return "not privileged";
    case UnitStartOutcome::NoSystemd:
      return "no systemd";
    case UnitStartOutcome::NotFound:
      return "not found";
    case UnitStartOutcome::Masked:
      return "masked";
    case UnitStartOutcome::AlreadyActive:
      return "already active";
    case UnitStartOutcome::Dependency:
      return "dependency failed";
    case UnitStartOutcome::ExecFailed:
      return "program not found";
    case UnitStartOutcome::TimedOut:
      return "timed out";
    case UnitStartOutcome::Other:
      return "other";
  }
  return "other";
}

bool ShowUnit(const std::string& unit, const std::vector<std::string>& properties, std::string* out) {
  std::string text;
  if (!IsValidUnitName(unit)) return false;
  const Settings s = Current();
  std::vector<std::string> argv{s.systemctl, "show", unit};
  if (!properties.empty()) {
    std::string list;
    for (const std::string& p : properties) list += (list.empty() ? "" : ",") + p;
    argv.push_back("--property=" + list);
  }
  const int rc = RunOutput(s, argv, kServiceQueryTimeoutMs, &text);
  if (out != nullptr) *out = text;
  return rc == 0;
}

UnitStartOutcome StartUnitExplained(const std::string& unit) {
  if (!IsValidUnitName(unit)) return UnitStartOutcome::NotFound;
  const Settings s = Current();
  const bool privileged = s.privileged ? s.privileged() : ::geteuid() == 0;
  if (!privileged) return UnitStartOutcome::NotPrivileged;
  const std::vector<std::string> properties{"LoadState", "ActiveState", "Result", "ExecMainStatus"};
  std::string before;
  if (!ShowUnit(unit, properties, &before) || PropertyOf(before, "LoadState").empty()) {
    return UnitStartOutcome::NoSystemd;
  }
  const std::string load = PropertyOf(before, "LoadState");
  if (load == "not-found") return UnitStartOutcome::NotFound;
  if (load == "masked") return UnitStartOutcome::Masked;
  if (PropertyOf(before, "ActiveState") == "active") return UnitStartOutcome::AlreadyActive;
  const int rc = Run(s, {s.systemctl, "start", unit}, kServiceStartTimeoutMs);
  if (rc == 0) return UnitStartOutcome::Started;
  if (rc < 0) return UnitStartOutcome::TimedOut;
  std::string after;
  ShowUnit(unit, properties, &after);
  const std::string result = PropertyOf(after, "Result");
  if (result == "timeout") return UnitStartOutcome::TimedOut;
  if (PropertyOf(after, "ExecMainStatus") == "203") return UnitStartOutcome::ExecFailed;
  // The unit's own result is still "success" when its start job failed before it ran: a unit
  // it depends on did not start.
  if (result == "success" && PropertyOf(after, "ActiveState") != "active") {
    return UnitStartOutcome::Dependency;
  }
  return UnitStartOutcome::Other;
}

}  // namespace platform
