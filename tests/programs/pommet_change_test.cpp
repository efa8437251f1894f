// Pommet as a user meets it, on a virtual X server: a change typed into its dialog and
// confirmed with Enter reaches the agent before the program ends, over the local channel and
// over UDP, and the program ends with status 0; a change the agent cannot keep ends it with
// status 1 and is said. The console that comes next on the local channel (trem_show) takes
// none of the replies Pommet left there.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/scp/battery_info_block.h"
#include "core/scp/config_block.h"
#include "core/scp/record_reader.h"
#include "filesaver/program_lookup.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/private_network.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

namespace {

constexpr int kBoundMs = 60000;

// The windows whose title begins with `title`.
std::vector<filesaver::WindowId> WindowsTitled(filesaver::ProgramLookup& lookup, const std::string& title) {
  std::vector<filesaver::WindowId> found;
  for (const filesaver::AppWindow& w : lookup.ListAppWindows()) {
    if (w.title.rfind(title, 0) == 0) found.push_back(w.id);
  }
  return found;
}

// Until the agent has sent `atLeast` answers more than `before` and then none for 3.5 s: the
// console has what it asked for (it asks again at most 2 s after an answer over UDP, 1.5 s on
// the local channel).
bool AnswersSettle(const AgentProcess& vigil, size_t before, size_t atLeast) {
  using Clock = std::chrono::steady_clock;
  size_t seen = 0;
  Clock::time_point quietSince = Clock::now();
  return AgentProcess::WaitFor(
      [&] {
        const size_t now = Count(vigil.Stderr(), "After send");
        if (now != seen) {
          seen = now;
          quietSince = Clock::now();
        }
        return now >= before + atLeast && Clock::now() - quietSince >= std::chrono::milliseconds(3500);
      },
      kBoundMs);
}

std::string StoredLocation(const AgentProcess& vigil) {
  const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(vigil.File("config.dat"));
  if (bytes.size() < 2) return "(no config.dat)";
  KT_RecordReader reader(bytes.data() + 1, bytes.size() - 1);
  ConfigBlock config;
  config.SetFileConversion(true);
  if (config.ConvertBlock(CONVERT_DECODE, nullptr, &reader) < 0) return "(unreadable)";
  return config.GetLocation().value_or("(none)");
}

std::string StoredReplacedDate(const AgentProcess& vigil) {
  BatteryInfoBlock info;
  if (!ReadBatteryInfo(vigil.File("bat_info.dat"), info)) return "(no bat_info.dat)";
  return info.GetReplacedDate().value_or("(none)");
}

TEST(PommetChangeTest, ATypedChangeReachesTheAgentBeforeTheProgramEnds) {
  std::string why;
  if (!testing_support::EnterPrivateNetwork(why)) GTEST_SKIP() << "no network of our own: " << why;
  testing_support::XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  filesaver::ProgramLookup lookup(x.display());
  filesaver_testing::Keyboard keyboard(x.display());
  ASSERT_TRUE(keyboard.ok());

  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(vigil.WaitForTrace({"NETWORK THREAD IS ALIVE", "LOCAL THREAD IS ALIVE"}, kBoundMs))
      << vigil.TraceDump();

  struct Row {
    const char* name;
    std::vector<std::string> args;
    const char* window;  // the dialog's title begins so
    int tabs;            // Tab presses from the first field to the one to change
    const char* typed;
    bool folder;  // config.dat is a folder: the agent cannot keep the change
    int status;
    const char* said;  // on standard error
  };
  const char* refused = "Pommet: the agent did not take the change of 4,4,0: Set Failed\n";
  const std::vector<Row> rows = {
      {"location-local", {"e:12", "c:3"}, "View System Information", 1, "Rack 9", false, 0, ""},
      {"location-udp", {"e:12", "c:0", "h:127.0.0.1"}, "View System Information", 1, "Rack 10", false, 0, ""},
      {"battery-date-local", {"e:13", "c:3"}, "View Battery Information", 0, "05/06/24", false, 0, ""},
      {"location-refused", {"e:12", "c:3"}, "View System Information", 1, "Rack 11", true, 1, refused},
  };
  const std::filesystem::path config = vigil.File("config.dat");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string location = StoredLocation(vigil);
    if (row.folder) {
      std::filesystem::remove_all(config);
      std::filesystem::create_directory(config);
    }
    AgentProcess pommet;
    pommet.UseProgram(POMMET_PROGRAM);
    pommet.SharePrefixWith(vigil);
    const std::string runtime = pommet.File("runtime");
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    // What the programs before asked is answered (their last answers come after their end).
    ASSERT_TRUE(AnswersSettle(vigil, 0, 0));
    const size_t before = Count(vigil.Stderr(), "After send");
    ASSERT_TRUE(pommet.Start(
        row.args,
        {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=xcb", "VIGIL_MESSAGE_LOG=" + pommet.File("boxes.log"),
         "XDG_CONFIG_HOME=" + pommet.File("config"), "XDG_DATA_HOME=" + pommet.File("data"),
         "XDG_RUNTIME_DIR=" + runtime}));
    std::vector<filesaver::WindowId> shown;
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return !(shown = WindowsTitled(lookup, row.window)).empty(); }, kBoundMs))
        << pommet.Stderr();
    const filesaver::WindowId dialog = shown.front();
    // Its first request and the dialog's are answered.
    ASSERT_TRUE(AnswersSettle(vigil, before, 2)) << vigil.TraceDump();
    ASSERT_TRUE(lookup.ActivateWindow(dialog));
    for (int i = 0; i < row.tabs; ++i) keyboard.Tap(filesaver_testing::kTab);
    keyboard.Tap(XK_a, true);
    keyboard.Type(row.typed);
    keyboard.Tap(XK_Return);
    keyboard.Sync();
    EXPECT_EQ(pommet.Wait(kBoundMs), row.status) << pommet.Stderr();
    // Gone from the server too, before the next program shows a window of the same title.
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return WindowsTitled(lookup, row.window).empty(); }, kBoundMs));
    EXPECT_EQ(pommet.Stderr(), row.said);
    if (row.folder) {
      EXPECT_TRUE(Contains(testing_support::ReadFileText(pommet.File("boxes.log")),
                           "SCP Status: FieldAddress=4,4,0 - Set Failed"));
      std::filesystem::remove_all(config);
      continue;
    }
    EXPECT_EQ(testing_support::ReadFileText(pommet.File("boxes.log")), "");
    if (row.args[0] == "e:13") {
      EXPECT_EQ(StoredReplacedDate(vigil), row.typed);
      // The next console on the local channel is answered only its own requests.
      AgentProcess show;
      show.UseProgram(TREM_SHOW_PROGRAM);
      show.SharePrefixWith(vigil);
      ASSERT_TRUE(show.Start({"CBatteryInfo", "--local"},
                             {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime}));
      EXPECT_EQ(show.Wait(kBoundMs), 0) << show.Stdout();
      const std::string said = show.Stdout();
      EXPECT_TRUE(Contains(said, "reply 26,1: Get OK (host 1) -> 1 dialog(s)")) << said;
      EXPECT_FALSE(Contains(said, "Set OK")) << said;
    } else {
      EXPECT_EQ(StoredLocation(vigil), row.typed) << "was " << location;
    }
  }
}

}  // namespace
