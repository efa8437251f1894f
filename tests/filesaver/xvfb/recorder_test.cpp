// Recording and replaying on a virtual X server: keys typed into the test application through
// XTEST are recorded through RECORD until F12, converted into its macro, and the macro replayed
// into a fresh instance of the application makes it save the typed text to the file named in
// PREFIX.TMP.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "filesaver/macro_files.h"
#include "filesaver/msg_src.h"
#include "filesaver/program_lookup.h"
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

namespace {

namespace fs = std::filesystem;
using namespace filesaver;
using filesaver_testing::Keyboard;
using filesaver_testing::StartTestPad;
using testing_support::TempDir;
using testing_support::XvfbServer;

// The notices of the recorder, as a dialog's message queue would take them.
class Notices {
 public:
  HookNotifier Notifier() {
    return [this](unsigned message) {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(message);
      changed_.notify_all();
    };
  }
  bool WaitFor(size_t count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return messages_.size() >= count; });
  }
  std::vector<unsigned> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<unsigned> messages_;
};

std::string ScreenshotFolder() {
  const char* build = std::getenv("VIGIL_BUILD_DIR");
  const fs::path folder = fs::path(build ? build : ".") / "screenshots" / "filesaver";
  fs::create_directories(folder);
  return folder.string();
}

TEST(FileSaverRecorder, RecordsTypingUntilF12AndReplaysItIntoAFreshApplication) {
  XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  TempDir dir;
  ProgramLookup lookup(x.display());
  ASSERT_EQ(lookup.state(), DisplayState::kUsable);

  filesaver_testing::TestPad pad = StartTestPad(x.display(), dir.path().string());
  ASSERT_TRUE(pad.ok()) << pad.error;
  EXPECT_EQ(lookup.GetWindowProgramName(pad.window), "TESTPAD.EXE");
  EXPECT_EQ(lookup.FindAppWindow(1, "testpad.exe"), pad.window);
  EXPECT_EQ(lookup.FindAppWindow(0, "TEST PAD"), pad.window);
  EXPECT_EQ(lookup.MacroExistsForWindow("Test Pad"), 0);
  const WindowRect rect = lookup.GetWindowRect(pad.window);
  EXPECT_GT(rect.right - rect.left, 0);

  // Record: what the test types goes through XTEST and comes back through RECORD.
  Notices notices;
  CMsgSrc recorder;
  ASSERT_EQ(recorder.InitHook(0, notices.Notifier(), x.display()), DisplayState::kUsable);
  ASSERT_NE(recorder.SetHook(kRecordHook), 0);
  EXPECT_TRUE(recorder.recording());
  EXPECT_EQ(recorder.SetHook(kPlaybackHook), 0);  // one hook at a time
  Keyboard keys(x.display());
  ASSERT_TRUE(keys.ok());
  keys.Type("hello");
  keys.Tap(filesaver_testing::kTab);
  keys.Tap(filesaver_testing::kF11);
  keys.Tap('s', true);
  keys.Tap(filesaver_testing::kF12);
  ASSERT_TRUE(notices.WaitFor(1, 30000)) << "no notice of the recording's end";
  EXPECT_EQ(notices.Messages(), std::vector<unsigned>{kRecordingEndedMessage});
  EXPECT_TRUE(fs::exists(kMarkerFile));  // F11 made it
  EXPECT_NE(recorder.FreeHook(kRecordHook), 0);
  EXPECT_FALSE(recorder.recording());

  ASSERT_TRUE(ConvertRecording(MacroSubject{"Test Pad", "TESTPAD.EXE", kDefaultPrefix, kDefaultExtension, rect}));
  const std::vector<uint8_t> macro = testing_support::ReadFileBytes("TESTPAD.MAC");
  ASSERT_FALSE(macro.empty());
  ASSERT_EQ(macro.size() % kMacroRecordBytes, 0u);
  std::vector<uint32_t> downs;
  for (size_t at = 0; at < macro.size(); at += kMacroRecordBytes) {
    const MacroRecord r = DecodeMacroRecord(&macro[at]);
    EXPECT_EQ(r.subject.title, "Test Pad");
    EXPECT_EQ(r.subject.program, "TESTPAD.EXE");
    EXPECT_EQ(r.subject.prefix, "NULL");
    EXPECT_EQ(r.subject.extension, "TMP");
    EXPECT_EQ(r.subject.rect, rect);
    EXPECT_EQ(r.header.event_count, macro.size() / kMacroRecordBytes);
    if (r.event.message == kKeyDown) downs.push_back(r.event.param_h);
    EXPECT_NE(r.event.param_h, kEndKeysym) << "F12 is not recorded";
  }
  const std::vector<uint32_t> expected = {'h', 'e', 'l', 'l', 'o', 0xFF09 /* Tab */, kMarkKeysym, 0xFFE3 /* Ctrl */, 's'};
  EXPECT_EQ(downs, expected);
  EXPECT_EQ(lookup.MacroExistsForWindow("Test Pad"), 1);
  fs::copy_file("TESTPAD.MAC", ScreenshotFolder() + "/TESTPAD.MAC", fs::copy_options::overwrite_existing);

  // Replay into a fresh instance, placed where the recording was made.
  pad.client->Stop();
  ASSERT_TRUE(filesaver_testing::WaitForWindowGone(lookup, "Test Pad", 30000));
  filesaver_testing::TestPad fresh =
      StartTestPad(x.display(), dir.path().string(), false, std::string(),
                   {"--screenshot", ScreenshotFolder() + "/testpad.png"});
  ASSERT_TRUE(fresh.ok()) << fresh.error;
  ASSERT_TRUE(EnsureFilesFolder());
  const WindowId target = lookup.FindAppWindow(1, ProgramNameFromMacro("TESTPAD.MAC"));
  ASSERT_EQ(target, fresh.window);
  bool ok = false;
  ASSERT_TRUE(lookup.PlaceAppWindow(target, ReadMacroWindowRect("TESTPAD.MAC", &ok)));
  EXPECT_TRUE(ok);
  ASSERT_EQ(lookup.BuildPlaybackFile(target), 1);
  const std::string saved = dir.path().string() + "/FILES/NULL0000.TMP";
  EXPECT_EQ(ReadPrefixFile(), saved);
  ASSERT_NE(recorder.SetHook(kPlaybackHook), 0);
  ASSERT_TRUE(recorder.WaitForPlayback(60000));
  EXPECT_TRUE(recorder.last_playback_complete());
  std::string line;
  ASSERT_TRUE(fresh.client->WaitForLine("SAVED", 30000, &line));
  EXPECT_EQ(line, "SAVED " + saved);
  EXPECT_EQ(testing_support::ReadFileText(saved), "hello");
  EXPECT_EQ(notices.Messages().size(), 1u);  // a replay sends no notice
}

// FreeHook(0) ends a recording as F12 does, notifies, and leaves out the pointer events that
// went to the notified window (the way to its Stop button); a replay is stopped by FreeHook(1).
TEST(FileSaverRecorder, StoppingRecordingAndReplayByFreeHook) {
  XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  TempDir dir;
  filesaver_testing::TestPad pad = StartTestPad(x.display(), dir.path().string());
  ASSERT_TRUE(pad.ok()) << pad.error;
  ProgramLookup lookup(x.display());
  const WindowRect stop_window = lookup.GetWindowRect(pad.window);

  Notices notices;
  CMsgSrc recorder;
  ASSERT_EQ(recorder.InitHook(pad.window, notices.Notifier(), x.display()), DisplayState::kUsable);
  ASSERT_NE(recorder.SetHook(kRecordHook), 0);
  Keyboard keys(x.display());
  keys.Type("ab");
  ASSERT_GT(stop_window.left, 5);
  filesaver_testing::ClickAt(x.display(), 5, 5);
  filesaver_testing::ClickAt(x.display(), stop_window.left + 10, stop_window.top + 10);
  keys.Sync();
  EXPECT_NE(recorder.FreeHook(kRecordHook), 0);
  ASSERT_TRUE(notices.WaitFor(1, 30000));
  RecordingHeader header;
  std::vector<EventMsg> events;
  ASSERT_TRUE(ReadRecordingFile(kRecordingFile, &header, &events));
  EXPECT_EQ(header.event_count, events.size());
  ASSERT_FALSE(events.empty());
  // The click outside the window stays, the one inside it does not.
  EXPECT_EQ(events.back().message, kLeftButtonUp);
  EXPECT_FALSE(events.back().param_l >= static_cast<uint32_t>(stop_window.left) &&
               events.back().param_l < static_cast<uint32_t>(stop_window.right) &&
               events.back().param_h >= static_cast<uint32_t>(stop_window.top) &&
               events.back().param_h < static_cast<uint32_t>(stop_window.bottom));
  size_t key_downs = 0;
  for (const EventMsg& e : events) key_downs += e.message == kKeyDown;
  EXPECT_EQ(key_downs, 2u);
  EXPECT_NE(recorder.FreeHook(kRecordHook), 0);  // nothing left to stop

  // A long replay (events a second apart) stops at once, releasing the key it holds.
  std::vector<EventMsg> slow;
  for (uint32_t i = 0; i < 60; ++i) slow.push_back(EventMsg{kMouseMove, 10 + i, 10, 1000 * i, 0});
  slow.insert(slow.begin() + 1, EventMsg{kKeyDown, 0, 0xFFE1 /* Shift */, 0, 0});
  ASSERT_TRUE(WriteRecordingFile(kRecordingFile, {static_cast<uint32_t>(slow.size()), 0}, slow));
  ASSERT_NE(recorder.SetHook(kPlaybackHook), 0);
  EXPECT_TRUE(recorder.playing());
  EXPECT_FALSE(recorder.WaitForPlayback(100));
  EXPECT_NE(recorder.FreeHook(kPlaybackHook), 0);
  EXPECT_FALSE(recorder.playing());
  EXPECT_FALSE(recorder.last_playback_complete());
  EXPECT_FALSE(filesaver_testing::KeyIsDown(x.display(), 0xFFE1));
}

// A display without RECORD, and none at all, are told apart; no hook starts on either.
TEST(FileSaverRecorder, UnusableDisplays) {
  XvfbServer x({"-extension", "RECORD"});
  VIGIL_SKIP_WITHOUT_XVFB(x);
  CMsgSrc hooks;
  EXPECT_EQ(hooks.InitHook(0, nullptr, x.display()), DisplayState::kNoRecord);
  EXPECT_EQ(hooks.SetHook(kRecordHook), 0);
  EXPECT_EQ(hooks.SetHook(kPlaybackHook), 0);
  EXPECT_EQ(ProgramLookup(x.display()).state(), DisplayState::kNoRecord);
  EXPECT_EQ(hooks.InitHook(0, nullptr, ":999999"), DisplayState::kNoDisplay);
  ProgramLookup none(":999999");
  EXPECT_EQ(none.state(), DisplayState::kNoDisplay);
  EXPECT_TRUE(none.ListAppWindows().empty());
  EXPECT_EQ(none.FindAppWindow(0, "x"), 0u);
}

}  // namespace
