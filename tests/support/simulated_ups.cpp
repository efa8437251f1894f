#include "tests/support/simulated_ups.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace testing_support {

namespace {

// Real time: the simulator answers in real time while a test may run on a manual clock.
uint64_t NowMs() {
  return platform::SystemClock().TickMs();
}

// "12 REQ Y" -> number 12.
size_t EntryNumber(const std::string& entry) {
  return static_cast<size_t>(std::strtoull(entry.c_str(), nullptr, 10));
}

}  // namespace

std::string SimulatedUps::ProgramPath() {
  if (const char* p = std::getenv("VIGIL_UPSSIM"); p && *p) return p;
  if (const char* b = std::getenv("VIGIL_BUILD_DIR"); b && *b) return std::string(b) + "/tools/upssim";
  // Test programs live in <build>/tests/<folder>/.
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return (self.parent_path().parent_path().parent_path() / "tools" / "upssim").string();
  return "upssim";
}

SimulatedUps::SimulatedUps(const std::string& mode, const std::vector<std::string>& extra_args,
                           bool as_ordinary_user) {
  const std::string program =
      as_ordinary_user ? ProgramForOrdinaryUser(ProgramPath(), &error_) : ProgramPath();
  if (program.empty()) return;
  std::vector<std::string> args;
  if (as_ordinary_user) args = OrdinaryUserLauncher();
  args.push_back(program);
  args.push_back("--mode");
  args.push_back(mode);
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in_pipe[2];
  int out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
    error_ = std::strerror(errno);
    return;
  }
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    error_ = std::strerror(errno);
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  to_child_ = in_pipe[1];
  from_child_ = out_pipe[0];
  if (rc != 0) {
    error_ = "cannot start " + program + ": " + std::strerror(rc);
    return;
  }
  pid_ = pid;

  std::string line;
  while (ReadLine(&line, 10000)) {
    if (line.rfind("PTY ", 0) == 0) device_ = line.substr(4);
    if (line == "READY") break;
  }
  if (device_.empty()) error_ = "the simulator did not report its device (" + program + ")";
}

SimulatedUps::~SimulatedUps() {
  if (to_child_ >= 0) {
    const char quit[] = "quit\n";
    ssize_t w = ::write(to_child_, quit, sizeof quit - 1);
    (void)w;
    ::close(to_child_);
  }
  ReapChild(pid_, 5000);
  if (from_child_ >= 0) ::close(from_child_);
}

bool SimulatedUps::ReadLine(std::string* line, int timeout_ms) {
  const uint64_t deadline = NowMs() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    const size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      *line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return true;
    }
    const uint64_t now = NowMs();
    if (now >= deadline || from_child_ < 0) return false;
    pollfd p{from_child_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(deadline - now));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(from_child_, buf, sizeof buf);
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

SimulatedUps::Reply SimulatedUps::Command(const std::string& line, int timeout_ms) {
  Reply reply;
  if (to_child_ < 0) return reply;
  const std::string text = line + "\n";
  if (::write(to_child_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return reply;
  std::string l;
  while (ReadLine(&l, timeout_ms)) {
    if (l.rfind("OK", 0) == 0 || l.rfind("ERR", 0) == 0) {
      reply.ok = l.rfind("OK", 0) == 0;
      reply.status = l;
      return reply;
    }
    reply.lines.push_back(l);
  }
  reply.status = "ERR no answer";
  return reply;
}

bool SimulatedUps::Do(const std::string& line) {
  return Command(line).ok;
}

std::vector<std::string> SimulatedUps::Log() {
  return Command("log").lines;
}

std::vector<std::string> SimulatedUps::LogSince(size_t from) {
  return Command("log-since " + std::to_string(from)).lines;
}

size_t SimulatedUps::LogCount() {
  const Reply r = Command("log-since 2147483647");
  return r.ok && r.status.size() > 3 ? static_cast<size_t>(std::strtoull(r.status.c_str() + 3, nullptr, 10))
                                     : 0;
}

bool SimulatedUps::WaitForLog(const std::string& needle, size_t from, int timeout_ms) {
  const uint64_t deadline = NowMs() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    const Reply r = Command("log-since " + std::to_string(from));
    for (const auto& e : r.lines) {
      if (e.find(needle) != std::string::npos) return true;
      from = EntryNumber(e) + 1;
    }
    const uint64_t now = NowMs();
    if (now >= deadline) return false;
    // Wait for the next entry instead of polling in a loop.
    Command("wait " + std::to_string(from + 1) + " " + std::to_string(deadline - now), timeout_ms + 1000);
  }
}

std::vector<std::string> SimulatedUps::Entries(const std::string& kind, size_t from) {
  std::vector<std::string> out;
  for (const auto& e : LogSince(from)) {
    const size_t sp = e.find(' ');
    if (sp == std::string::npos) continue;
    const std::string rest = e.substr(sp + 1);
    if (rest == kind) {
      out.emplace_back();
    } else if (rest.rfind(kind + " ", 0) == 0) {
      out.push_back(rest.substr(kind.size() + 1));
    }
  }
  return out;
}

}  // namespace testing_support
