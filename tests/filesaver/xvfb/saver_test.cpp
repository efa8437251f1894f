// The saver program on a virtual X server: it replays the macros of its folder into the running
// applications, numbers the saved files, skips what does not run, refuses to work without a
// display, and, started by root, works as the owner of its folder without writing through links.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "filesaver/macro_files.h"
#include "filesaver/program_lookup.h"
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using filesaver_testing::StartTestPad;
using testing_support::TempDir;
using testing_support::XvfbServer;

struct SaverRun {
  int status = -1;  // exit status; -1 when it did not end within its bound
  std::string log;  // its standard error
};

// Runs saver with `args`; DISPLAY is taken out of its environment unless `display` is given.
SaverRun RunSaver(const std::vector<std::string>& args, const std::string& display = std::string()) {
  SaverRun run;
  TempDir logs(false);
  const std::string log_path = logs.File("saver.log");
  std::vector<std::string> all = {filesaver_testing::SaverProgram()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("DISPLAY=", 0) != 0) env_text.push_back(*e);
  if (!display.empty()) env_text.push_back("DISPLAY=" + display);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return run;
  // Far beyond the saver's own bound of its whole run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(4);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      run.log = testing_support::ReadFileText(log_path);
      return run;
    }
    ::poll(nullptr, 0, 20);
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.log = testing_support::ReadFileText(log_path);
  return run;
}

TEST(FileSaverProgram, ReplaysNumbersAndSkips) {
  XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  TempDir dir(false);
  const std::string folder = dir.path().string();
  ASSERT_TRUE(filesaver_testing::WriteTestPadMacro(folder, "SEQ", "TXT"));
  filesaver::ProgramLookup lookup(x.display());

  // An empty macro (a recording stopped before anything was typed) replays nothing and is no
  // failure, though its application runs.
  TempDir empty(false);
  testing_support::WriteFileText(empty.File(filesaver_testing::kTestPadMacro), "");

  // Each run saves to the next number; the application runs afresh each time.
  for (const char* name : {"SEQ0000.TXT", "SEQ0001.TXT"}) {
    SCOPED_TRACE(name);
    filesaver_testing::TestPad pad = StartTestPad(x.display(), folder);
    ASSERT_TRUE(pad.ok()) << pad.error;
    if (std::string(name) == "SEQ0000.TXT") {
      const SaverRun none = RunSaver({"-d", empty.path().string(), "-D", x.display()});
      EXPECT_EQ(none.status, 0) << none.log;
      EXPECT_NE(none.log.find("no macros"), std::string::npos) << none.log;
    }
    const SaverRun run = RunSaver({"-d", folder, "-D", x.display()});
    EXPECT_EQ(run.status, 0) << run.log;
    std::string line;
    ASSERT_TRUE(pad.client->WaitForLine("SAVED", 30000, &line)) << run.log;
    EXPECT_EQ(line, "SAVED " + folder + "/FILES/" + name);
    EXPECT_EQ(testing_support::ReadFileText(folder + "/FILES/" + name), "hello");
    pad.client->Stop();
    ASSERT_TRUE(filesaver_testing::WaitForWindowGone(lookup, filesaver_testing::kTestPadTitle, 30000));
  }

  // Without the application: nothing to replay, and that is no failure. The display from the
  // environment serves as well as -D.
  SaverRun run = RunSaver({"-d", folder}, x.display());
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_NE(run.log.find("TESTPAD.MAC skipped"), std::string::npos) << run.log;
  EXPECT_FALSE(fs::exists(folder + "/FILES/SEQ0002.TXT"));

  // No usable display, or a bad command line.
  struct Case {
    std::vector<std::string> args;
    const char* why;
  };
  for (const Case& c : std::vector<Case>{{{"-d", folder}, "no DISPLAY"},
                                         {{"-d", folder, "-D", ":999999"}, "a display that is not there"},
                                         {{"-d", folder + "/missing", "-D", x.display()}, "no such folder"},
                                         {{"-x"}, "an unknown option"}}) {
    run = RunSaver(c.args);
    EXPECT_EQ(run.status, 2) << c.why << ": " << run.log;
  }
}

// Started by root on a user's folder, saver works as that user: what it writes belongs to the
// user, and links planted under the names it writes leave their targets alone.
TEST(FileSaverProgram, AsRootWorksAsTheFolderOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  const testing_support::OrdinaryUser user = testing_support::OrdinaryUserIds();
  TempDir dir(false);
  TempDir elsewhere(false);
  const std::string folder = dir.path().string();
  ASSERT_TRUE(filesaver_testing::WriteTestPadMacro(folder, "NULL", "TMP"));
  const std::string victim = elsewhere.File("victim");
  testing_support::WriteFileText(victim, "untouched");
  fs::create_symlink(victim, folder + "/" + filesaver::kPrefixFile);
  fs::create_symlink(victim, folder + "/" + filesaver::kRecordingFile);
  testing_support::GiveToOrdinaryUser(dir.path());
  testing_support::GiveToOrdinaryUser(
      elsewhere.path());  // writable by the user: only the refusal protects it

  std::string error;
  const std::string program =
      testing_support::ProgramForOrdinaryUser(filesaver_testing::TestPadProgram(), &error);
  ASSERT_FALSE(program.empty()) << error;
  filesaver_testing::TestPad pad = StartTestPad(x.display(), folder, true, program);
  ASSERT_TRUE(pad.ok()) << pad.error;

  const SaverRun run = RunSaver({"-d", folder, "-D", x.display()});
  EXPECT_EQ(run.status, 0) << run.log;
  const std::string saved = folder + "/FILES/NULL0000.TMP";
  ASSERT_TRUE(pad.client->WaitForLine("SAVED", 30000)) << run.log;
  EXPECT_EQ(testing_support::ReadFileText(saved), "hello");
  EXPECT_EQ(testing_support::ReadFileText(victim), "untouched");
  for (const std::string& name :
       {std::string("FILES"), std::string(filesaver::kPrefixFile), std::string(filesaver::kRecordingFile),
        std::string("FILES/NULL0000.TMP")}) {
    struct stat st;
    ASSERT_EQ(::lstat((folder + "/" + name).c_str(), &st), 0) << name;
    EXPECT_FALSE(S_ISLNK(st.st_mode)) << name;
    EXPECT_EQ(st.st_uid, user.uid) << name;
  }
}

}  // namespace
