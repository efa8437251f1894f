#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"

namespace {

using platform::ProcessAccount;
using platform::ProcessOptions;
using platform::ProcessStatus;
using platform::SplitCommandLine;
using platform::StartProgram;
using platform::StartStep;
using testing_support::TempDir;

using Args = std::vector<std::string>;

TEST(SplitCommandLineTest, BlanksQuotesAndBackslashes) {
  struct Case {
    const char* text;
    Args args;
  };
  const Case cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"prog", {"prog"}},
      {"  prog   a\tb  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" -q", {"C:\\Program Files\\x.exe", "-q"}},
      {"ab\"c d\"e f", {"abc de", "f"}},
      {"prog \"\" x", {"prog", "", "x"}},
      {"prog a\\b c:\\x\\", {"prog", "a\\b", "c:\\x\\"}},
      {"a\r\nb", {"a", "b"}},
  };
  for (const auto& c : cases) {
    auto got = SplitCommandLine(c.text);
    ASSERT_TRUE(got.has_value()) << c.text;
    EXPECT_EQ(*got, c.args) << c.text;
  }
  EXPECT_FALSE(SplitCommandLine("prog \"open quote").has_value());
  EXPECT_FALSE(SplitCommandLine("\"").has_value());
  EXPECT_FALSE(SplitCommandLine("prog a\\\"b").has_value());  // a backslash does not escape
}

ProcessOptions Waiting(uint32_t ms = 20000) {
  ProcessOptions o;
  o.wait = true;
  o.waitMs = ms;
  return o;
}

TEST(StartProgramTest, ExitCodeAndArgumentsWithoutAShell) {
  auto r = StartProgram("/bin/sh -c \"exit 3\"", Waiting());
  EXPECT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(r.exitCode, 3);

  // $# counts the arguments after $0: "a b" stays one argument.
  r = StartProgram("sh -c \"exit $#\" zero \"a b\" c", Waiting());
  EXPECT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(r.exitCode, 2);

  // Shell syntax in a command text is only text.
  TempDir dir;
  r = StartProgram("true ; touch pwned", Waiting());
  EXPECT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(StartProgramTest, FailuresToStart) {
  auto r = StartProgram("/nonexistent/program", Waiting());
  EXPECT_EQ(r.status, ProcessStatus::kFailedToStart);
  EXPECT_EQ(r.sysError, ENOENT);
  r = StartProgram("no-such-program-anywhere-7c1", Waiting());
  EXPECT_EQ(r.status, ProcessStatus::kFailedToStart);
  EXPECT_EQ(StartProgram("sh \"unclosed", Waiting()).status, ProcessStatus::kFailedToStart);
  EXPECT_EQ(StartProgram("   ", Waiting()).status, ProcessStatus::kFailedToStart);
  ProcessOptions badDir = Waiting();
  badDir.workingDirectory = "/nonexistent/dir";
  EXPECT_EQ(StartProgram("true", badDir).status, ProcessStatus::kFailedToStart);
}

TEST(StartProgramTest, WorkingDirectoryAndEnvironment) {
  TempDir dir;
  std::filesystem::create_directory("sub");
  ProcessOptions o = Waiting();
  o.workingDirectory = (dir.path() / "sub").string();
  o.environment = {"VIGIL_TEST_VALUE=hello there", "HOME=/replaced", "ignored-without-equals"};
  // The rule has no escapes, so a script with quotes goes in as an argument list.
  auto r = StartProgram(Args{"sh", "-c", "printf '%s|%s' \"$VIGIL_TEST_VALUE\" \"$HOME\" > out.txt"}, o);
  ASSERT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(testing_support::ReadFileText((dir.path() / "sub" / "out.txt").string()), "hello there|/replaced");
}

TEST(StartProgramTest, OnlyStandardDescriptorsAreInherited) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);  // deliberately without close-on-exec
  const std::string check = "test ! -e /proc/self/fd/" + std::to_string(fds[0]);
  auto r = StartProgram(Args{"sh", "-c", check}, Waiting());
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(r.exitCode, 0);
}

TEST(StartProgramTest, BoundedWaitAndBackgroundReaping) {
  auto r = StartProgram("sleep 30", Waiting(30));
  ASSERT_EQ(r.status, ProcessStatus::kTimedOut);
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(::kill(r.pid, 0), 0);  // still running
  ::kill(r.pid, SIGKILL);

  auto started = StartProgram("true");
  ASSERT_EQ(started.status, ProcessStatus::kStarted);
  // Both end up reaped, leaving no zombie behind (kill(pid, 0) fails once the pid is gone).
  for (pid_t pid : {r.pid, started.pid}) {
    bool gone = false;
    for (int i = 0; i < 2000 && !gone; ++i) {
      gone = ::kill(pid, 0) != 0 && errno == ESRCH;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(gone) << pid;
  }
}

TEST(StartProgramTest, SignalEndsReportAs128PlusSignal) {
  auto r = StartProgram(Args{"sh", "-c", "kill -TERM $$"}, Waiting());
  EXPECT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(r.exitCode, 128 + SIGTERM);
}

TEST(StartProgramTest, ProgramsDoNotInheritAnIgnoredBrokenPipeSignal) {
  // The agent ignores SIGPIPE; what it starts must not: the shell here ends by the signal.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
  auto r = StartProgram(Args{"sh", "-c", "kill -PIPE $$; exit 0"}, Waiting());
  ::sigaction(SIGPIPE, &old, nullptr);
  EXPECT_EQ(r.status, ProcessStatus::kExited);
  EXPECT_EQ(r.exitCode, 128 + SIGPIPE);
}

// The values of the /proc status lines the kernel keeps for the process's ids, groups and
// capabilities ("Uid: real effective saved filesystem"), as written by a program started as
// an account.
std::string StatusLine(const std::string& status, const std::string& key) {
  std::istringstream in(status);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) {
      std::istringstream words(line.substr(key.size() + 1));
      std::string word, out;
      while (words >> word) out += (out.empty() ? "" : " ") + word;
      return out;
    }
  }
  return "?";
}

std::string Repeat(unsigned id) {
  const std::string s = std::to_string(id);
  return s + " " + s + " " + s + " " + s;
}

TEST(StartProgramTest, AnAccountIsTakenForGood) {
  ProcessAccount nobody;
  std::string why;
  ASSERT_TRUE(platform::LookUpAccount("nobody", nobody, why)) << why;
  EXPECT_EQ(nobody.name, "nobody");
  EXPECT_NE(std::find(nobody.groups.begin(), nobody.groups.end(), nobody.gid), nobody.groups.end());
  ProcessAccount none;
  EXPECT_FALSE(platform::LookUpAccount("vigil-no-such-user", none, why));
  EXPECT_EQ(why, "there is no user \"vigil-no-such-user\"");

  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);  // the account writes its report here
  const std::string out = dir.File("ids.txt");
  ProcessOptions o = Waiting();
  o.account = nobody;
  o.environment = {"HOME=/root", "VIGIL_TEST_VALUE=kept"};
  const Args report = {
      "sh", "-c", "{ cat /proc/$$/status; echo \"Env: $HOME $USER $LOGNAME $VIGIL_TEST_VALUE\"; } > " + out};
  auto r = StartProgram(report, o);
  if (::geteuid() != 0) {
    // Only root may change to another account: the start fails at its first step, and
    // nothing ran.
    EXPECT_EQ(r.status, ProcessStatus::kFailedToStart);
    EXPECT_EQ(r.failedStep, StartStep::kGroups);
    EXPECT_EQ(r.sysError, EPERM);
    EXPECT_FALSE(std::filesystem::exists(out));
    return;
  }
  ASSERT_EQ(r.status, ProcessStatus::kExited) << platform::StartStepText(r.failedStep) << ": " << r.sysError;
  const std::string status = testing_support::ReadFileText(out);
  // Real, effective, saved and filesystem ids are all the account's: root cannot be taken
  // back, and no capability is left.
  EXPECT_EQ(StatusLine(status, "Uid"), Repeat(nobody.uid)) << status;
  EXPECT_EQ(StatusLine(status, "Gid"), Repeat(nobody.gid)) << status;
  std::string groups;
  for (gid_t g : nobody.groups) groups += (groups.empty() ? "" : " ") + std::to_string(g);
  EXPECT_EQ(StatusLine(status, "Groups"), groups) << status;
  EXPECT_EQ(StatusLine(status, "CapPrm"), "0000000000000000") << status;
  EXPECT_EQ(StatusLine(status, "CapEff"), "0000000000000000") << status;
  EXPECT_EQ(StatusLine(status, "Env"), nobody.home + " nobody nobody kept") << status;

  // The program search runs as the account: a program only root may run is not started.
  const std::string secret = dir.File("root-only");
  testing_support::WriteFileText(secret, "#!/bin/sh\ntouch " + dir.File("ran") + "\n");
  ::chmod(secret.c_str(), 0700);
  r = StartProgram(Args{secret}, o);
  EXPECT_EQ(r.status, ProcessStatus::kFailedToStart);
  EXPECT_EQ(r.failedStep, StartStep::kProgram);
  EXPECT_EQ(r.sysError, EACCES);
  EXPECT_FALSE(std::filesystem::exists(dir.File("ran")));
}

// Writes `text` into a /proc file of `pid`; true when all of it went in.
bool WriteProc(pid_t pid, const std::string& file, const std::string& text) {
  const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

TEST(StartProgramTest, AnAccountTheUserNamespaceDoesNotMapStartsNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to map ids into a user namespace";
#if defined(__SANITIZE_THREAD__)
  // Only a process of one thread may enter a user namespace, and the sanitizer keeps one of its
  // own in the child too.
  GTEST_SKIP() << "ThreadSanitizer keeps a thread of its own in every process";
#endif
  ProcessAccount nobody;
  std::string why;
  ASSERT_TRUE(platform::LookUpAccount("nobody", nobody, why)) << why;
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  struct Case {
    const char* gidMap;  // root alone is mapped as a user
    StartStep step;
    int error;
  };
  const Case cases[] = {
      {"0 0 1\n", StartStep::kGroups, EINVAL},      // nor the account's groups
      {"0 0 65536\n", StartStep::kUserId, EINVAL},  // every group, but not the account's user
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gidMap);
    // The child enters a user namespace of its own; this process, outside it, writes the maps.
    int ready[2], mapped[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(mapped), 0);
    const std::string out = dir.File("ran");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      char byte = ::unshare(CLONE_NEWUSER) == 0 ? 1 : 0;
      if (::write(ready[1], &byte, 1) != 1 || byte == 0) ::_exit(100);
      if (::read(mapped[0], &byte, 1) != 1 || byte == 0) ::_exit(101);
      ProcessOptions o = Waiting();
      o.account = nobody;
      const auto r = StartProgram(Args{"touch", out}, o);
      if (r.status != ProcessStatus::kFailedToStart) ::_exit(102);
      ::_exit(r.failedStep == c.step && r.sysError == c.error ? 0 : 103);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    byte = byte != 0 && WriteProc(pid, "uid_map", "0 0 1\n") && WriteProc(pid, "gid_map", c.gidMap) ? 1 : 0;
    EXPECT_EQ(::write(mapped[1], &byte, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    for (int fd : {ready[0], ready[1], mapped[0], mapped[1]}) ::close(fd);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
