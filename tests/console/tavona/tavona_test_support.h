// The central console's test fixture: the dialog harness with an application object whose
// settings and agent-platform file lie in the test's directory, and a frame built without the
// start-up connection (the harness's agent link stands in for the worker) unless a test starts it.
#pragma once

#include <QApplication>
#include <QEvent>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "console/comm/comm_notice.h"
#include "console/tavona/console_app.h"
#include "console/tavona/tandle_frame.h"
#include "console/tavona/tandle_view.h"
#include "core/scp/status_block.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace tavona_test {

class TavonaTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("tavona"); }
  void SetUp() override {
    TremTest::SetUp();
    platformFile = File("agent-platform");
    setenv("VIGIL_AGENT_PLATFORM", platformFile.c_str(), 1);
    WritePlatforms("Windows\n");
    gnCommMode = 3;
    {
      auto lock = gScp.Lock();
      gScp.upsStatus.ClearAllAlarms();
      gScp.upsInfo.SetInterfaceType(2);
    }
    gScp.ClearFlag(SCP_FLAG_UPS_INFO_RECEIVED);
  }
  void TearDown() override {
    app.reset();
    CTandleFrame::SetWatchdogDelays(30000, 90000);
    CConsoleApp::SetAccessDialogRunner({});
    unsetenv("VIGIL_AGENT_PLATFORM");
    gnCommMode = 3;
    TremTest::TearDown();
  }
  void WritePlatforms(const std::string& text) { std::ofstream(platformFile) << text; }
  QString IniPath() const { return QString::fromStdString(File("Tavona.ini")); }
  // The application object (construction reads the platform file).
  CConsoleApp& App() {
    if (!app) app = std::make_unique<CConsoleApp>(IniPath());
    return *app;
  }
  // A frame without the start-up connection.
  CTandleFrame& Frame() {
    CConsoleApp& a = App();
    if (a.Frame() == nullptr) a.CreateFrame();
    return *a.Frame();
  }
  CTandleView& View() { return *Frame().View(); }
  // Runs the frame's start-up connection on an empty host table, as the program starts.
  void Connect() {
    {
      KT_HostControl writer;
      gHosts.ResetHosts();
    }
    Frame().OnStartConnection();
  }
  // A worker notice of an applied reply, handed to the view.
  void Notify(unsigned keyLength, unsigned block, unsigned branch, unsigned item, int status) {
    View().OnScpNotify(
        CommNotice{kNoticeReplyApplied, 0, PackScpKey(keyLength, block, branch, item), status, 1});
  }
  // gScp's active states become exactly these.
  static void SetStates(std::initializer_list<int> codes) {
    auto lock = gScp.Lock();
    gScp.upsStatus.ClearAllAlarms();
    for (int c : codes) gScp.upsStatus.SetAlarm(c);
  }

  std::string platformFile;
  std::unique_ptr<CConsoleApp> app;
};

}  // namespace tavona_test
