// The suite's programs as a service manager or a script stops them: each ends on SIGTERM and on
// SIGINT while a box of its own is open (a real one: no message log), with the status that the
// box's Cancel, or its only OK, leads to. The programs run on a virtual X server, where the
// test sees the box's window before it sends the signal; the File Saver is stopped while its
// replay holds a key down, which it must let go.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "filesaver/macro_files.h"
#include "filesaver/program_lookup.h"
#include "platform/named_object.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/private_network.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"
#include "tests/trayagent/xvfb/minimal_tray.h"

namespace {

constexpr int kBoundMs = 60000;
// Far more than a program needs to end on a signal, so that a loaded machine does not fail the
// test; a program that ignores the signal never ends.
constexpr int kEndBoundMs = 15000;

// What holds the box open.
enum class Setup {
  kNothing,
  kConsoleRunning,  // another console holds the local channel
  kOlderConsole,    // a console of the previous release holds it
  kAgentRunning,    // another agent runs on this machine
  kReplay,          // the File Saver replays into the test application
};

struct Case {
  const char* name;
  std::string program;
  std::vector<std::string> args;
  Setup setup;
  const char* window;  // the title of the box (or dialog) that is open when the signal comes
  int status;
};

// A named object held by the test under a program's name prefix (the machine as the program
// sees it).
std::unique_ptr<platform::NamedMapping> HoldMapping(const std::string& prefix, const std::string& name) {
  const char* previous = std::getenv(platform::kNamePrefixVariable);
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv(platform::kNamePrefixVariable, prefix.c_str(), 1);
  auto mapping = std::make_unique<platform::NamedMapping>();
  const bool made = mapping->Create(name, 32) && !mapping->AlreadyExisted();
  ::setenv(platform::kNamePrefixVariable, saved.c_str(), 1);
  return made ? std::move(mapping) : nullptr;
}

// A macro for the test application that holds Shift down for about ten seconds (the replay
// waits at most a second between two events).
bool WriteHoldingMacro(const std::string& folder) {
  std::vector<filesaver::EventMsg> events;
  uint32_t time = 1000;
  for (int i = 0; i < 10; ++i, time += 1000) events.push_back({filesaver::kKeyDown, 0, XK_Shift_L, time, 0});
  events.push_back({filesaver::kKeyUp, 0, XK_Shift_L, time, 0});
  const filesaver::MacroSubject subject{filesaver_testing::kTestPadTitle,
                                        filesaver_testing::kTestPadProgramName, "HOLD", "TXT",
                                        filesaver::WindowRect{120, 140, 540, 270}};
  const filesaver::RecordingHeader header{static_cast<uint32_t>(events.size()), events.front().time};
  std::string bytes;
  for (const filesaver::EventMsg& e : events) {
    const auto record = filesaver::EncodeMacroRecord(filesaver::MacroRecord{subject, e, header});
    bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
  }
  testing_support::WriteFileText(folder + "/" + filesaver_testing::kTestPadMacro, bytes);
  return testing_support::ReadFileText(folder + "/" + filesaver_testing::kTestPadMacro) == bytes;
}

TEST(ProgramStopTest, EachProgramEndsOnAStopSignalWhateverBoxIsOpen) {
  // A network of the test's own for the programs' UDP channels, entered before any thread.
  std::string why;
  if (!testing_support::EnterPrivateNetwork(why))
    std::fprintf(stderr, "no network of our own: %s\n", why.c_str());
  testing_support::XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  filesaver::ProgramLookup lookup(x.display());

  const std::vector<Case> cases = {
      {"pommet-invalid-dialog", POMMET_PROGRAM, {"e:99"}, Setup::kNothing, "Tremona\u00AE Pommet", 1},
      {"pommet-help", POMMET_PROGRAM, {"--help"}, Setup::kNothing, "Tremona\u00AE Pommet", 1},
      {"pommet-second-console",
       POMMET_PROGRAM,
       {"e:14", "c:3"},
       Setup::kConsoleRunning,
       "Tremona\u00AE Pommet",
       1},
      {"tavona-second-console", TAVONA_PROGRAM, {"c:3", "n"}, Setup::kConsoleRunning, "Tavona", 1},
      {"tavona-beside-an-older-console", TAVONA_PROGRAM, {"c:3", "n"}, Setup::kOlderConsole, "Tavona", 1},
      {"vigil95-second-agent", VIGIL95_PROGRAM, {"-x:5"}, Setup::kAgentRunning, "Tremona\u00AE Vigil95", 1},
      {"trem_show-dialog",
       TREM_SHOW_PROGRAM,
       {"CUpsInfoDlg", "--local", "--timeout", "2", "--wait", "120"},
       Setup::kNothing,
       "View System Information (localhost)",
       1},
      {"saver-replay", filesaver_testing::SaverProgram(), {}, Setup::kReplay, nullptr, 1},
  };
  for (const Case& c : cases) {
    for (const int sig : {SIGTERM, SIGINT}) {
      SCOPED_TRACE(std::string(c.name) + (sig == SIGTERM ? " SIGTERM" : " SIGINT"));
      AgentProcess program;
      program.UseProgram(c.program);
      const std::string runtime = program.File("runtime");
      std::filesystem::create_directories(runtime);
      std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
      std::unique_ptr<platform::NamedMapping> held;
      if (c.setup == Setup::kConsoleRunning) held = HoldMapping(program.Prefix(), "Tremona GUI is running");
      if (c.setup == Setup::kConsoleRunning) {
        ASSERT_NE(held, nullptr);
      }
      // An agent (of the previous release) holds the agents' guard.
      std::unique_ptr<testing_support::PreviousReleaseAgent> agent;
      if (c.setup == Setup::kAgentRunning) {
        agent = std::make_unique<testing_support::PreviousReleaseAgent>(NAMED_PEER_PATH, program.Prefix(),
                                                                        "Tremona Agent Is Running", 32);
        ASSERT_TRUE(agent->ok());
      }
      std::unique_ptr<testing_support::ForeignObjectHolder> older;
      if (c.setup == Setup::kOlderConsole) {
        older = std::make_unique<testing_support::ForeignObjectHolder>(program.Prefix(),
                                                                       "Tremona GUI is running", 2, 3, 96);
        ASSERT_TRUE(older->ok());
      }
      filesaver_testing::TestPad pad;
      std::vector<std::string> args = c.args;
      if (c.setup == Setup::kReplay) {
        ASSERT_TRUE(WriteHoldingMacro(program.Dir()));
        pad = filesaver_testing::StartTestPad(x.display(), program.Dir());
        ASSERT_TRUE(pad.ok()) << pad.error;
        args = {"-d", program.Dir(), "-D", x.display()};
      }
      // trem_show finds the display itself, as a user starts it: no platform is named for it (an
      // entry without a value takes the variable out of the environment).
      const bool choosesItself = c.program == TREM_SHOW_PROGRAM;
      ASSERT_TRUE(program.Start(
          args, {"DISPLAY=" + x.display(), choosesItself ? "QT_QPA_PLATFORM" : "QT_QPA_PLATFORM=xcb",
                 "WAYLAND_DISPLAY", "XDG_CONFIG_HOME=" + program.File("config"),
                 "XDG_DATA_HOME=" + program.File("data"), "XDG_RUNTIME_DIR=" + runtime}));
      // The box is open (or the replay holds its key) when the signal comes.
      if (c.window != nullptr) {
        const filesaver::WindowId box = filesaver_testing::WaitForWindow(lookup, c.window, kBoundMs);
        ASSERT_NE(box, 0u) << program.Stderr();
        if (sig == SIGTERM) {
          EXPECT_TRUE(tray_testing::SaveWindowPng(
              x.display(), box, tray_testing::ScreenshotPath("programs", c.name + std::string(".png"))));
        }
      } else {
        ASSERT_TRUE(AgentProcess::WaitFor(
            [&] { return filesaver_testing::KeyIsDown(x.display(), XK_Shift_L); }, kBoundMs))
            << program.Stderr();
      }
      ASSERT_TRUE(program.Running()) << program.Stderr();
      program.Signal(sig);
      EXPECT_EQ(program.Wait(kEndBoundMs), c.status) << program.Stderr();
      if (c.window != nullptr) {
        EXPECT_TRUE(filesaver_testing::WaitForWindowGone(lookup, c.window, kBoundMs));
      } else {
        // The replay let go of what it held, and said why it ended.
        EXPECT_FALSE(filesaver_testing::KeyIsDown(x.display(), XK_Shift_L));
        EXPECT_TRUE(Contains(program.Stderr(), "stopped by signal " + std::to_string(sig)))
            << program.Stderr();
      }
      // The refused agent touched nothing of the one that runs.
      if (c.setup == Setup::kAgentRunning) {
        EXPECT_FALSE(std::filesystem::exists(program.File("config.dat")));
      }
    }
  }
}

}  // namespace
