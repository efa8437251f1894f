#include "tests/support/x_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tests/support/test_support.h"

extern char** environ;

namespace testing_support {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

XClient::XClient(const std::string& program, const std::vector<std::string>& args, const std::string& display,
                 const std::string& directory, bool as_ordinary_user) {
  std::vector<std::string> all;
  if (as_ordinary_user) all = OrdinaryUserLauncher();
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
    if (as_ordinary_user && entry.rfind("XDG_RUNTIME_DIR=", 0) == 0) continue;
    env_text.push_back(entry);
  }
  // The test program's runtime folder is not the ordinary user's: Qt would make
  // /tmp/runtime-USER in its place.
  if (as_ordinary_user) {
    if (const std::string runtime = OrdinaryUserRuntimeFolder(); !runtime.empty()) {
      env_text.push_back("XDG_RUNTIME_DIR=" + runtime);
    }
  }
  env_text.push_back("DISPLAY=" + display);
  env_text.push_back("QT_QPA_PLATFORM=xcb");
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error_ = std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    error_ = "cannot start " + program + ": " + std::strerror(rc);
    return;
  }
  pid_ = pid;
  from_child_ = out[0];
}

XClient::~XClient() {
  Stop();
}

bool XClient::WaitForLine(const std::string& prefix, int timeout_ms, std::string* line) {
  const int64_t deadline = NowMs() + timeout_ms;
  for (;;) {
    size_t nl;
    while ((nl = buffer_.find('\n')) != std::string::npos) {
      const std::string got = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      if (got.rfind(prefix, 0) == 0) {
        if (line) *line = got;
        return true;
      }
    }
    const int64_t left = deadline - NowMs();
    if (from_child_ < 0 || left <= 0) return false;
    pollfd p{from_child_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char chunk[512];
    const ssize_t n = ::read(from_child_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(from_child_);
      from_child_ = -1;
      continue;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

void XClient::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ReapChild(pid_, 5000);
    pid_ = -1;
  }
  if (from_child_ >= 0) {
    ::close(from_child_);
    from_child_ = -1;
  }
}

}  // namespace testing_support
