// The Pommet program itself: its exit statuses, one console on the local channel beside another
// Pommet (and the central console, where it is built), and programs side by side on one agent
// until they are stopped. Boxes go to a message log; the data folder is the test's.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileText;

constexpr int kBoundMs = 60000;

// A console program in a folder of its own: offscreen, boxes logged, XDG folders there.
class ConsoleProcess : public AgentProcess {
 public:
  explicit ConsoleProcess(const std::string& program = POMMET_PROGRAM) { UseProgram(program); }
  bool Launch(const std::vector<std::string>& args) {
    std::filesystem::create_directories(File("runtime"));
    std::filesystem::permissions(File("runtime"), std::filesystem::perms::owner_all);
    return Start(args, {"QT_QPA_PLATFORM=offscreen", "VIGIL_MESSAGE_LOG=" + File("boxes.log"),
                        "XDG_DATA_HOME=" + File("data"), "XDG_RUNTIME_DIR=" + File("runtime"),
                        "XDG_CONFIG_HOME=" + File("config"), "VIGIL_SCREENSHOT_DIR=" + File("shots")});
  }
  std::string Boxes() const { return ReadFileText(File("boxes.log")); }
  // The central console has shown its window: its first picture makes the folder.
  bool Shown() const { return std::filesystem::exists(File("shots")); }
};

// Waits (bounded) until the agent has sent two more answers than `before`: a console's first
// request and its dialog's.
bool AnsweredTwiceMore(const AgentProcess& vigil, size_t before) {
  return AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "After send") >= before + 2; }, kBoundMs);
}

// Whether the console of the local channel holds its mapping (under the program's prefix).
bool HoldsLocalChannel(const AgentProcess& program) {
  return testing_support::NamedMappingHeld(program.Prefix(), "Tremona GUI is running");
}

class PommetBinaryTest : public trem_harness::TremTest {};

TEST_F(PommetBinaryTest, WithoutADialogTheProgramEndsWithStatusOne) {
  struct Row {
    std::vector<std::string> args;
    std::string boxes;
    const char* problem;  // on standard error
  };
  const std::vector<Row> rows = {
      {{"e:30"}, "Tremona\u00AE Pommet | ERROR: Invalid dialog specified | OK\n", nullptr},
      {{"e"},
       "Tremona\u00AE Pommet | ERROR: Invalid dialog specified | OK\n",
       "\"\" is not a decimal number"},
      {{"e:14", "c:4"}, "", nullptr},
      {{"e:14", "c:5"}, "", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.front() + (row.args.size() > 1 ? " " + row.args[1] : ""));
    ConsoleProcess pommet;
    ASSERT_TRUE(pommet.Launch(row.args));
    EXPECT_EQ(pommet.Wait(kBoundMs), 1);
    EXPECT_EQ(pommet.Boxes(), row.boxes);
    if (row.problem != nullptr) {
      EXPECT_TRUE(Contains(pommet.Stderr(), row.problem)) << pommet.Stderr();
    }
    // The consoles' data folder, where the dialogs keep their files.
    EXPECT_TRUE(std::filesystem::is_directory(pommet.File("data/Brenvale/Tavona")));
  }
}

// One console on the local channel, whichever starts first, also when the first is a console
// of the previous release (its mapping of the older layout): then the second says which and what
// to do.
TEST_F(PommetBinaryTest, OneConsoleOnTheLocalChannelWhicheverStartsFirst) {
  struct Pair {
    const char* first;  // null: a console of the previous release
    const char* second;
  };
  std::vector<Pair> pairs = {{POMMET_PROGRAM, POMMET_PROGRAM}, {nullptr, POMMET_PROGRAM}};
#ifdef TAVONA_PROGRAM
  pairs.push_back({TAVONA_PROGRAM, POMMET_PROGRAM});
  pairs.push_back({POMMET_PROGRAM, TAVONA_PROGRAM});
  pairs.push_back({nullptr, TAVONA_PROGRAM});
#endif
  // An idle agent on this computer answers the first console (the central console would
  // otherwise look for an agent to start).
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(vigil.WaitForTrace({"LOCAL THREAD IS ALIVE"}, kBoundMs)) << vigil.TraceDump();
  for (const Pair& pair : pairs) {
    const bool older = pair.first == nullptr;
    const bool pommetFirst = !older && std::string(pair.first) == POMMET_PROGRAM;
    const bool pommetSecond = std::string(pair.second) == POMMET_PROGRAM;
    const char* firstName = older ? "an older console" : pommetFirst ? "Pommet" : "Tavona";
    SCOPED_TRACE(std::string(firstName) + " then " + (pommetSecond ? "Pommet" : "Tavona"));
    const size_t sentBefore = Count(vigil.Stderr(), "After send");
    ConsoleProcess first(older ? POMMET_PROGRAM : pair.first);
    ConsoleProcess second(pair.second);
    first.SharePrefixWith(vigil);
    second.SharePrefixWith(vigil);
    std::unique_ptr<testing_support::ForeignObjectHolder> olderConsole;
    if (older) {
      olderConsole = std::make_unique<testing_support::ForeignObjectHolder>(
          vigil.Prefix(), "Tremona GUI is running", 2, 3, 96);
      ASSERT_TRUE(olderConsole->ok());
    } else {
      ASSERT_TRUE(first.Launch(pommetFirst ? std::vector<std::string>{"e:14", "c:3"}
                                           : std::vector<std::string>{"c:3", "n"}));
      ASSERT_TRUE(
          AgentProcess::WaitFor([&] { return HoldsLocalChannel(first) || !first.Running(); }, kBoundMs));
      ASSERT_TRUE(first.Running()) << first.Stderr() << first.Boxes();
    }
    ASSERT_TRUE(second.Launch(pommetSecond ? std::vector<std::string>{"e:16", "c:3"}
                                           : std::vector<std::string>{"c:3", "n"}));
    EXPECT_EQ(second.Wait(kBoundMs), 1);
    EXPECT_TRUE(Contains(second.Boxes(), "Tremona is already running.")) << second.Boxes();
    if (older) {  // the holder named as the kernel knows it, with its process id
      const std::string cause =
          " (process " + std::to_string(olderConsole->pid()) + "), holds the local channel.";
      EXPECT_TRUE(Contains(second.Boxes(), "A console of another release of Tremona, ") &&
                  Contains(second.Boxes(), cause + "\\nClose it, then start this console again."))
          << second.Boxes();
      continue;
    }
    if (pommetSecond) {
      EXPECT_EQ(second.Boxes(), "Tremona\u00AE Pommet | Tremona is already running.\\n | OK\n");
    }
    EXPECT_TRUE(first.Running());
    // A Pommet ends with 0 only once its dialog was open: its first request and the dialog's
    // are answered by then.
    if (pommetFirst) {
      EXPECT_TRUE(AnsweredTwiceMore(vigil, sentBefore)) << vigil.TraceDump();
    }
    first.Signal(SIGTERM);
    const int status = first.Wait(kBoundMs);
    if (pommetFirst) {
      EXPECT_EQ(status, 0);  // its dialog was opened and closed
      EXPECT_EQ(first.Boxes(), "");
    }
  }
}

// One Pommet on the local channel and two over UDP, and a central console over UDP, on one idle
// agent, beside a call console of the previous release (e:14 c:0), whose queue mutex of the
// older layout stands at the name "Mutex to lock SCP queue": all run until stopped, each is
// answered, none is refused, and each ends with status 0.
TEST_F(PommetBinaryTest, ProgramsOfOtherModesRunSideBySideUntilStopped) {
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(vigil.WaitForTrace({"LOCAL THREAD IS ALIVE", "NETWORK THREAD IS ALIVE"}, kBoundMs))
      << vigil.TraceDump();
  testing_support::ForeignObjectHolder olderConsole(vigil.Prefix(), "Mutex to lock SCP queue", 2, 1, 64);
  ASSERT_TRUE(olderConsole.ok());
  ConsoleProcess local, udp1, udp2;
  std::vector<ConsoleProcess*> programs = {&local, &udp1, &udp2};
  // One after the other, each once its first request and its dialog's are answered, so that
  // each has its dialog open when it is stopped (the meters, which ask more, come last).
  std::vector<std::pair<ConsoleProcess*, std::vector<std::string>>> launches = {
      {&local, {"e:12", "c:3"}},
      {&udp1, {"e:12", "c:0", "h:127.0.0.1"}},
      {&udp2, {"e:14", "c:0", "h:127.0.0.1"}}};
#ifdef TAVONA_PROGRAM
  // Its status and UPS information answered, it has reached its agent.
  ConsoleProcess central(TAVONA_PROGRAM);
  programs.push_back(&central);
  launches.push_back({&central, {"c:0", "h:127.0.0.1", "n"}});
#endif
  for (const auto& [program, args] : launches) {
    program->SharePrefixWith(vigil);
    const size_t sentBefore = Count(vigil.Stderr(), "After send");
    ASSERT_TRUE(program->Launch(args));
    EXPECT_TRUE(AnsweredTwiceMore(vigil, sentBefore)) << vigil.TraceDump() << program->Stderr();
  }
#ifdef TAVONA_PROGRAM
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return central.Shown(); }, kBoundMs)) << central.Stderr();
#endif
  for (ConsoleProcess* p : programs) {
    EXPECT_TRUE(p->Running()) << p->Stderr() << p->Boxes();
    p->Signal(SIGTERM);
  }
  for (ConsoleProcess* p : programs) {
    EXPECT_EQ(p->Wait(kBoundMs), 0) << p->Stderr();
    EXPECT_EQ(p->Boxes(), "");
  }
}

// A fresh account's console folder: the first console copies the shipped modems.txt into it, so
// that the pager recipient dialog (e:8) has its modems and says nothing; a modems.txt of the
// user's own is never replaced. The dialogs that read the folder's other files (the meters'
// saved view and range files, the product table) start from their built-in defaults, again
// without a word; the adapter management (e:26) reads the shipped MIB file and opens, its first
// word the check of the (empty) communities. The programs talk to the agent over UDP, so that
// they run side by side.
TEST_F(PommetBinaryTest, AFreshFolderGetsTheShippedModemListAndNeedsNoOtherFile) {
  const std::string shipped =
      std::filesystem::path(POMMET_PROGRAM).parent_path().string() + "/../share/vigil/modems.txt";
  const std::string shippedText = ReadFileText(shipped);
  ASSERT_NE(shippedText, "") << shipped;
  const std::string ownText = "My Modem- ATZ\n";
  struct Row {
    const char* dialog;
    bool own;             // the folder holds a modems.txt of the user's own
    size_t answers = 2;   // the console's first request, and the dialog's
    std::string boxes{};  // what the console says
  };
  const std::vector<Row> rows = {
      {"e:8", false},
      {"e:8", true},
      {"e:14", false},
      {"e:12", false},
      {"e:26", false, 1, "Tremona Kessa | Passwords must be between 2 and 15 characters | OK\n"}};
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(vigil.WaitForTrace({"NETWORK THREAD IS ALIVE"}, kBoundMs)) << vigil.TraceDump();
  std::vector<std::unique_ptr<ConsoleProcess>> programs;
  for (const Row& row : rows) {
    programs.push_back(std::make_unique<ConsoleProcess>());
    ConsoleProcess& pommet = *programs.back();
    if (row.own) {
      std::filesystem::create_directories(pommet.File("data/Brenvale/Tavona"));
      testing_support::WriteFileText(pommet.File("data/Brenvale/Tavona/modems.txt"), ownText);
    }
    const size_t sentBefore = Count(vigil.Stderr(), "After send");
    ASSERT_TRUE(pommet.Launch({row.dialog, "c:0", "h:127.0.0.1"}));
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "After send") >= sentBefore + row.answers; },
                                      kBoundMs))
        << vigil.TraceDump();
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_TRUE(programs[i]->Running()) << rows[i].dialog << ": " << programs[i]->Boxes();
    programs[i]->Signal(SIGTERM);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(std::string(rows[i].dialog) + (rows[i].own ? ", the user's own modems.txt" : ", a fresh folder"));
    ConsoleProcess& pommet = *programs[i];
    EXPECT_EQ(pommet.Wait(kBoundMs), 0) << pommet.Stderr();
    EXPECT_EQ(pommet.Boxes(), rows[i].boxes);
    const std::string folder = pommet.File("data/Brenvale/Tavona");
    EXPECT_EQ(ReadFileText(folder + "/modems.txt"), rows[i].own ? ownText : shippedText);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();  // no scratch copy left
    }
  }
}

}  // namespace
