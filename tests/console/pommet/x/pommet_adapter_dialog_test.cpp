// Pommet's network adapter dialog (e:22) as a user meets it: on a virtual X server, through its
// keyboard, the console on this computer's local channel to a real VigilNT in the network
// adapter mode on the simulated network BCM adapter. The dialog is the console's first request
// (nothing of the agent read before it), its boxes go to a message log.
#include <signal.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <filesystem>
#include <string>
#include <vector>

#include "core/scp/config_block.h"
#include "core/scp/record_writer.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"
#include "tools/netbcm_adapter.h"

TREM_HARNESS_PRIVATE_NETWORK();
TREM_HARNESS_XVFB();

namespace {

using testing_support::ReadFileBytes;
using testing_support::ReadFileText;

constexpr int kBoundMs = 60000;
constexpr const char* kAccessCode = "Zq9x2p";
// Keysyms of the keys the user presses.
constexpr unsigned long kReturn = 0xFF0D;
constexpr unsigned long kBackTab = 0xFE20;  // Shift+Tab
constexpr unsigned long kUp = 0xFF52;
constexpr unsigned long kSpace = 0x20;
constexpr const char* kDialogTitle = "Configure Network Adapter";
// The network BCM command that checks an access code: only the dialog sends it.
const std::vector<uint8_t> kCheckCommand{0xAB, 0x01, 0xB2};

class PommetAdapterDialogTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("pommet"); }

  // The open dialog's window, or 0 once `timeoutMs` passed.
  static filesaver::WindowId WaitForDialog(filesaver::ProgramLookup& lookup, int timeoutMs) {
    filesaver::WindowId found = 0;
    AgentProcess::WaitFor(
        [&] {
          for (const filesaver::AppWindow& w : lookup.ListAppWindows()) {
            if (w.title.rfind(kDialogTitle, 0) == 0) found = w.id;
          }
          return found != 0;
        },
        timeoutMs);
    return found;
  }
  // A picture of another program's window, as the screen shows it.
  void Picture(filesaver::WindowId window, const QString& name) {
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
    EXPECT_TRUE(shot.save(trem_harness::ScreenshotDir(ScreenshotTopic()) + QLatin1Char('/') + name +
                          QStringLiteral(".png")));
  }
  bool CheckSent(const netbcmsim::NetBcmAdapter& adapter) const {
    for (const auto& datagram : adapter.Received()) {
      if (std::search(datagram.begin(), datagram.end(), kCheckCommand.begin(), kCheckCommand.end()) !=
          datagram.end())
        return true;
    }
    return false;
  }
};

// config.dat holds polling 5 s and time-out 60 s. The dialog, opened before the console has read
// anything of the agent, shows them; a change of the polling interval sent with "Update" reaches
// config.dat alone (the time-out stays), and OK, nothing else touched, changes nothing more
// (Pommet ends once the agent has answered what OK sent).
TEST_F(PommetAdapterDialogTest, AFreshConsoleShowsTheStoredTimingAndSendsOnlyTheChange) {
  std::string error;
  const testing_support::XvfbServer* x = testing_support::ProcessXvfb(&error);
  if (x == nullptr) GTEST_SKIP() << "no virtual X server: " << error;
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";

  netbcmsim::AdapterOptions options;
  options.bind = "127.0.0.1";
  options.port = 0;
  netbcmsim::NetBcmAdapter adapter(options);
  ASSERT_EQ(adapter.Start(&error), 0) << error;
  ASSERT_TRUE(adapter.Do(std::string("set access ") + kAccessCode));
  const std::string adapterName = "127.0.0.1:" + std::to_string(adapter.port());

  AgentProcess vigil;
  {
    ConfigBlock config;
    config.SetCommMode(COMM_NETBCM_ADAPTER);
    config.SetAdapterName(adapterName.c_str());
    config.SetWriteCommunity(kAccessCode);
    config.SetPollingInterval(5);
    config.SetCommTimeout(60);
    config.SetFileConversion(true);
    config.SetFormatSelector(ConfigBlock::kFileTimingFormat);
    KT_RecordWriter writer;
    writer.Put8(200 + ConfigBlock::kFileTimingFormat);
    ASSERT_GE(config.ConvertFile(CONVERT_ENCODE, &writer, nullptr), 0);
    testing_support::WriteFileBytes(vigil.File("config.dat"), writer.Take());
  }
  // A first run writes the file as the agent keeps it with this adapter: the bytes to compare.
  auto run = [&] {
    const size_t before = Count(vigil.Stderr(), "NetBCMThread updating status");
    return vigil.Start({"-b"}) &&
           AgentProcess::WaitFor(
               [&] { return Count(vigil.Stderr(), "NetBCMThread updating status") > before; }, kBoundMs);
  };
  ASSERT_TRUE(run()) << vigil.TraceDump();
  vigil.Signal(SIGTERM);
  ASSERT_EQ(vigil.Wait(kBoundMs), 0) << vigil.TraceDump();
  const std::vector<uint8_t> stored = ReadFileBytes(vigil.File("config.dat"));
  {
    ConfigBlock kept;
    ASSERT_TRUE(ReadConfigFile(vigil.File("config.dat"), kept));
    ASSERT_EQ(kept.GetPollingInterval(), 5u);
    ASSERT_EQ(kept.GetCommTimeout(), 60u);
  }
  ASSERT_TRUE(run()) << vigil.TraceDump();

  AgentProcess pommet;
  pommet.UseProgram(POMMET_PROGRAM);
  pommet.SharePrefixWith(vigil);
  std::filesystem::create_directories(pommet.File("runtime"));
  std::filesystem::permissions(pommet.File("runtime"), std::filesystem::perms::owner_all);
  ASSERT_TRUE(pommet.Start(
      {"e:22", "c:3"},
      {"DISPLAY=" + x->display(), "QT_QPA_PLATFORM=xcb", "VIGIL_MESSAGE_LOG=" + pommet.File("boxes.log"),
       "XDG_DATA_HOME=" + pommet.File("data"), "XDG_RUNTIME_DIR=" + pommet.File("runtime"),
       "XDG_CONFIG_HOME=" + pommet.File("config")}));
  auto boxes = [&] { return ReadFileText(pommet.File("boxes.log")); };
  filesaver::ProgramLookup lookup(x->display());
  const filesaver::WindowId dialog = WaitForDialog(lookup, kBoundMs);
  ASSERT_NE(dialog, 0u) << pommet.Stderr() << boxes();
  const std::string title = lookup.WindowTitle(dialog);
  ASSERT_TRUE(lookup.ActivateWindow(dialog));
  filesaver_testing::Keyboard keys(x->display());
  ASSERT_TRUE(keys.ok());

  // Enter presses "Verify Adapter" (the host name is the stored adapter's) once the dialog has
  // the agent's settings; before, it is ignored. The adapter's answer brings the password
  // check, which finds the stored access code right.
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        keys.Tap(kReturn);
        keys.Sync();
        return AgentProcess::WaitFor([&] { return CheckSent(adapter); }, 1000);
      },
      kBoundMs))
      << boxes();
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(boxes(), "Password correct"); }, kBoundMs))
      << boxes();
  Picture(dialog, QStringLiteral("network_adapter_first_request"));

  // From OK (where the check left the focus) back to the polling interval, one step up, then
  // forward to "Update" and press it.
  for (int i = 0; i < 3; ++i) keys.Tap(kBackTab);
  keys.Tap(kUp);
  keys.Tap(filesaver_testing::kTab);
  keys.Tap(filesaver_testing::kTab);
  keys.Tap(kSpace);
  keys.Sync();
  const char* const timingSet = "Adding SCP_SET block 4, branch 12";
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), timingSet) > 0; }, kBoundMs))
      << vigil.TraceDump() << boxes();
  Picture(dialog, QStringLiteral("network_adapter_polling_updated"));

  // OK, on the next button.
  keys.Tap(filesaver_testing::kTab);
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        keys.Tap(kReturn);
        keys.Sync();
        return AgentProcess::WaitFor([&] { return lookup.FindAppWindow(0, title) == 0; }, 1000);
      },
      kBoundMs));
  EXPECT_EQ(pommet.Wait(kBoundMs), 0) << pommet.Stderr();
  EXPECT_EQ(boxes(), "Tremona\u00AE Pommet | Password correct | OK\n");
  vigil.Signal(SIGTERM);
  ASSERT_EQ(vigil.Wait(kBoundMs), 0) << vigil.TraceDump();
  EXPECT_EQ(Count(vigil.Stderr(), timingSet), 1u) << "one SET: the polling interval alone";
  // The file form ends with the polling interval and the time-out (32 bits each).
  std::vector<uint8_t> expected = stored;
  ASSERT_GE(expected.size(), 8u);
  expected[expected.size() - 5] = 6;
  EXPECT_EQ(ReadFileBytes(vigil.File("config.dat")), expected);
}

}  // namespace
