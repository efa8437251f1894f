#include "tests/support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

#include "tests/support/test_support.h"

extern char** environ;

namespace testing_support {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool OnSearchPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

}  // namespace

bool XvfbServer::Installed() {
  return OnSearchPath("Xvfb");
}

XvfbServer::XvfbServer(const std::vector<std::string>& extra_args) {
  if (!Installed()) {
    error_ = "Xvfb is not installed (package xvfb)";
    return;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    error_ = std::strerror(errno);
    return;
  }
  // The write end goes to the server as descriptor 3, where it writes its display number.
  std::vector<std::string> args = {"Xvfb", "-displayfd",   "3",       "-nolisten", "tcp", "-screen",
                                   "0",    "1280x1024x24", "-noreset"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    error_ = std::string("cannot start Xvfb: ") + std::strerror(rc);
    return;
  }
  pid_ = pid;

  std::string text;
  const int64_t deadline = NowMs() + 30000;
  while (text.find('\n') == std::string::npos) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buffer[64];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the server ended without a display
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  const size_t nl = text.find('\n');
  if (nl == std::string::npos || nl == 0 || text.find_first_not_of("0123456789") != nl) {
    error_ = "Xvfb did not report a display";
    return;
  }
  display_ = ":" + text.substr(0, nl);
}

XvfbServer::~XvfbServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ReapChild(pid_, 10000);
}

const XvfbServer* ProcessXvfb(std::string* error) {
  static std::mutex mutex;
  static XvfbServer* server = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (server == nullptr) {
    server = new XvfbServer();
    // Stopped at exit: a server left running would outlive the tests.
    std::atexit([] { delete server; });
    if (server->running()) {
      ::setenv("DISPLAY", server->display().c_str(), 1);
      ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
  }
  if (!server->running()) {
    if (error) *error = server->error();
    return nullptr;
  }
  return server;
}

}  // namespace testing_support
