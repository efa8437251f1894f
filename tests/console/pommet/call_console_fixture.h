// The fixture of the call console's in-process tests: a RemoteCallApp built as Pommet's main
// builds it, with the real communication worker or a stand-in, on a fresh host table.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console/pommet/remote_call_app.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/console/comm_test_support.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace call_console_test {

// The harness's agent answers: the test pumps its link, so this worker does nothing itself.
class LinkWorker : public ExecWorker {
 public:
  void Start() override { started = true; }
  bool Stop(unsigned long) override { return true; }
  bool started = false;
};

class CallConsoleTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("pommet"); }
  void SetUp() override {
    TremTest::SetUp();
    KT_HostControl writer;
    gHosts.ResetHosts();  // a fresh program's table
  }
  void TearDown() override {
    if (app) {
      EXPECT_TRUE(app->ExitInstance());
    }
    app.reset();
    gDiscover.Close();
    gnCommMode = 3;
    TremTest::TearDown();
  }
  // A program with the harness's agent behind its window, or the real worker (or the one the
  // factory makes).
  RemoteCallApp& Start(const std::vector<std::string>& args, bool realWorker = false,
                       ExecWorkerFactory factory = {}) {
    if (app) app->ExitInstance();
    app.reset();
    {
      KT_HostControl writer;
      gHosts.ResetHosts();
    }
    gScp.requestTable.Clear();
    if (!realWorker && !factory) factory = [](CommNoticeRelay&) { return std::make_unique<LinkWorker>(); };
    app = std::make_unique<RemoteCallApp>(factory);
    started = app->InitInstance(args);
    return *app;
  }
  // Ends the program and closes what its dialog left open (the Exec window is a top-level
  // widget too, owned by the program).
  void Finish() {
    if (app) {
      EXPECT_TRUE(app->ExitInstance());
    }
    app.reset();
    CloseAllWindows();
  }
  // Ticks until the program posts its quit (bounded).
  bool TicksUntilQuit(int boundMs) {
    return console_test::PumpUntil(
        [&] {
          app->OnIdle();
          return app->QuitPosted();
        },
        boundMs);
  }
  std::unique_ptr<RemoteCallApp> app;
  bool started = false;
};

}  // namespace call_console_test
