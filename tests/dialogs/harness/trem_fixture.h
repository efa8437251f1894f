// The fixture of every dialog test, and the harness's test main.
//
// The harness main builds one QApplication (QT_QPA_PLATFORM=offscreen unless set) and runs
// the tests. A test program whose tests start real agents on 127.0.0.1 asks for a network of
// its own first, before anything starts a thread:
//
//   TREM_HARNESS_PRIVATE_NETWORK();   // at namespace scope in one test file
//
// A test program whose dialogs work on an X display asks for a virtual X server the same way
// (TREM_HARNESS_XVFB()).
//
// TremTest gives each test:
//   - a fresh working directory and its own VIGIL_NAME_PREFIX;
//   - the named mutex "Mutex to lock SCP queue", created as the console creates it;
//   - gHosts reset to one host, "localhost" (127.0.0.1, port 7010), index 1; gScp's request
//     table empty; gcsMessageBoxTitle "Tremona";
//   - scripted message boxes (boxes), recorded help (help), scripted file dialogs (files), a
//     PDF print dialog (print, writing print.pdf in the directory);
//   - an in-process agent (agent) and a link to it (link);
//   - a reply deadline of 30 s (tests may shorten it with KTDialog::SetReplyDeadlineMs).
// TearDown closes every dialog still open and restores the layers.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <string>

#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/print.h"
#include "dialogs/frame/scp_queue_mutex.h"
#include "platform/named_object.h"
#include "tests/dialogs/harness/agent_link.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/support/test_support.h"

namespace trem_harness {

// Asks the harness main to move the test program into a network of its own.
struct PrivateNetworkRequest {
  PrivateNetworkRequest();
};
#define TREM_HARNESS_PRIVATE_NETWORK() \
  static const ::trem_harness::PrivateNetworkRequest kTremPrivateNetworkRequest {}
// True when the program runs in a network of its own.
bool HarnessInPrivateNetwork();

// Asks the harness main to start a virtual X server (tests/support/xvfb_server.h) and build the
// QApplication on it (xcb); without one the program stays offscreen and its X tests skip.
struct XvfbRequest {
  XvfbRequest();
};
#define TREM_HARNESS_XVFB() \
  static const ::trem_harness::XvfbRequest kTremXvfbRequest {}

// Asks the harness main to give the offscreen platform screens of the sizes listed ("1280x1024
// 1920x1080 ..."), side by side from (0, 0) in that order, the first the primary one; a
// program run on another platform keeps that platform's screens.
struct ScreensRequest {
  explicit ScreensRequest(const char* sizes);
};
#define TREM_HARNESS_SCREENS(sizes)                                 \
  static const ::trem_harness::ScreensRequest kTremScreensRequest { \
    sizes                                                           \
  }

// Makes gHosts hold the one host of the tests: "localhost", the agent on this computer
// (127.0.0.1, or another loopback address in dotted form; the SCP port unless another is
// given), at index 1.
void ResetToLocalHost(uint16_t port = static_cast<uint16_t>(kScpUdpPort), const char* ip = "127.0.0.1");

class TremTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The screenshot topic of the test file ("frame" by default).
  virtual QString ScreenshotTopic() const { return QStringLiteral("frame"); }
  // Saves a PNG of the widget under the topic; returns the path.
  QString Screenshot(QWidget* widget, const QString& name);
  // Path of a file in the test's directory.
  std::string File(const std::string& name) const { return dir_->File(name); }
  // Deletes every top-level widget still open and runs pending events.
  static void CloseAllWindows();

  std::unique_ptr<testing_support::TempDir> dir_;
  std::string prefix_;
  ScpQueueMutex scp_mutex_;
  ScriptedMessageBoxes boxes;
  RecordingHelp help;
  ScriptedFileDialogs files;
  PdfPrintDialog print;
  InProcessAgent agent;
  AgentLink link{agent};
};

}  // namespace trem_harness
