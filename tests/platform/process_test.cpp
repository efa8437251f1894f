#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/test_support.h"

namespace {

using platform::ProcessOptions;
using platform::ProcessStatus;
using platform::SplitCommandLine;
using platform::StartProgram;
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

}  // namespace
