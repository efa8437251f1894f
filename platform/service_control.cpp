#include "platform/service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

extern char** environ;

namespace platform {

namespace {

std::mutex g_mutex;
std::string g_systemctl = "systemctl";
ServiceRunner g_runner;
std::function<bool()> g_privileged;

struct Settings {
  std::string systemctl;
  ServiceRunner runner;
  std::function<bool()> privileged;
};

Settings Current() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Settings{g_systemctl, g_runner, g_privileged};
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

int RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  pid_t pid = -1;
  const bool path = argv[0].find('/') != std::string::npos;
  const int rc = path ? posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ)
                      : posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;

  int status = 0;
  if (!WaitBounded(pid, timeoutMs, status)) {
    // Past the limit: the child we started is ended and reaped.
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  if (!WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void SetSystemctlPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_systemctl = path.empty() ? "systemctl" : path;
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

}  // namespace platform
