// The console against a real VigilNT on the simulated Smart-UPS, over the local channel (the
// agent shares the test's name prefix), in a network of the test program's own; the start-up
// watchdog with a stand-in systemctl; the Tavona program itself.
#include <signal.h>

#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QTreeWidget>
#include <filesystem>

#include "console/comm/communication.h"
#include "console/tavona/tavona_ids.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/named_object.h"
#include "platform/service_control.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/console/comm_test_support.h"
#include "tests/console/tavona/tavona_test_support.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using console_test::PumpUntil;
using tavona_test::TavonaTest;

std::string PrefixEnv(const std::string& prefix) {
  return std::string(platform::kNamePrefixVariable) + "=" + prefix;
}

QString FirstLine(CTandleView& view) {
  return view.List()->topLevelItemCount() > 0 ? view.List()->topLevelItem(0)->text(0) : QString();
}

bool HasLine(CTandleView& view, const char* text) {
  for (int i = 0; i < view.List()->topLevelItemCount(); ++i) {
    if (view.List()->topLevelItem(i)->text(0) == QLatin1String(text)) return true;
  }
  return false;
}

TEST_F(TavonaTest, FollowsARealAgentThroughAnOutageItsEndAndItsReturn) {
  testing_support::ScopedManualClock clock;
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}, {PrefixEnv(prefix_)}));
  ASSERT_TRUE(vigil.WaitForTrace({"LOCAL THREAD IS ALIVE"}, 30000)) << vigil.Stderr();

  CTandleFrame& frame = Frame();
  Connect();
  ASSERT_NE(frame.Worker(), nullptr);
  CTandleView& view = View();
  // The first UPS information with data: the window, its title and the full menu.
  ASSERT_TRUE(PumpUntil([&] { return App().Shown() && FirstLine(view) == "Normal Operation"; }, 60000))
      << vigil.TraceDump();
  EXPECT_EQ(frame.windowTitle(), QString::fromUtf8("Tremona® Tavona"));
  EXPECT_EQ(frame.MenuId(), tavona::kFullMenu);
  EXPECT_EQ(view.PictureIds(), (std::array<int, 3>{316, 306, 326}));
  Screenshot(&frame, QStringLiteral("main-window-normal"));

  ASSERT_TRUE(ups.Do("mains fail"));
  EXPECT_TRUE(PumpUntil([&] { return FirstLine(view) == "UPS On Battery"; }, 60000)) << vigil.TraceDump();
  EXPECT_EQ(view.PictureIds(), (std::array<int, 3>{335, 342, 303}));
  Screenshot(&frame, QStringLiteral("main-window-on-battery"));
  ASSERT_TRUE(ups.Do("mains ok"));

  // The agent ends; 91 s later the worker gives it up.
  vigil.Signal(SIGTERM);
  ASSERT_EQ(vigil.Wait(30000), 0);
  clock->AdvanceSeconds(91);
  // (The agent's last status push may have brought "Program Terminated" first.)
  EXPECT_TRUE(PumpUntil([&] { return HasLine(view, "Communications With Agent Lost"); }, 30000))
      << view.Lines().join(QLatin1Char(',')).toStdString();
  EXPECT_EQ(frame.MenuId(), tavona::kShortMenu);
  QStringList shortMenu;
  for (QAction* top : frame.menuBar()->actions()) {
    shortMenu << top->text();
    if (top->menu() == nullptr) continue;
    for (QAction* item : top->menu()->actions()) shortMenu << QStringLiteral("  ") + item->text();
  }
  EXPECT_EQ(shortMenu.mid(2, 3), (QStringList{"&View", "  &Status Bar", "  &Toolbar"})) << shortMenu.join(",").toStdString();
  EXPECT_EQ(view.PictureIds(), (std::array<int, 3>{311, 345, 344}));
  Screenshot(&frame, QStringLiteral("main-window-agent-lost"));

  // The agent comes back: the next UPS information brings the full menu again.
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}, {PrefixEnv(prefix_)}));
  EXPECT_TRUE(PumpUntil(
      [&] {
        clock->AdvanceSeconds(1);
        return frame.MenuId() == tavona::kFullMenu;
      },
      90000))
      << vigil.TraceDump();
  EXPECT_EQ(boxes.Count(), 0) << (boxes.Count() > 0 ? boxes.Boxes()[0].text.toStdString() : "");
  frame.StopScpThread();
}

class TavonaWatchdogTest : public TavonaTest {
 protected:
  void TearDown() override {
    platform::SetServiceOutputRunner({});
    platform::SetServiceRunner({});
    platform::SetServicePrivilegeCheck({});
    TavonaTest::TearDown();
  }
};

TEST_F(TavonaWatchdogTest, EachReasonTheAgentDidNotStartIsToldThenTheConsoleGivesUp) {
  struct Row {
    bool privileged;
    int showRc;
    const char* before;
    int startRc;
    const char* after;
    const char* text;
  };
  const char* inactive = "LoadState=loaded\nActiveState=inactive\nResult=success\nExecMainStatus=0\n";
  const Row rows[] = {
      {false, 0, inactive, 0, "", "Access Denied!  Press OK"},
      {true, 1, "", 0, "", "Database Does Not Exist!  Press OK"},
      {true, 0, "LoadState=not-found\nActiveState=inactive\n", 0, "",
       "The specified service does not exist."},
      {true, 0, "LoadState=masked\nActiveState=inactive\n", 0, "", "The service has been disabled!"},
      {true, 0, "LoadState=loaded\nActiveState=active\n", 0, "", "The Service is already running! "},
      {true, 0, inactive, 1, inactive, "depends on another service that failed to start"},
      {true, 0, inactive, 1, "LoadState=loaded\nActiveState=failed\nResult=exit-code\nExecMainStatus=203\n",
       "The Service binary file could not be found!"},
      {true, 0, inactive, 1, "LoadState=loaded\nActiveState=failed\nResult=timeout\nExecMainStatus=0\n",
       "did not respond to the start request in a timely fashion"},
      {true, 0, inactive, 1, "LoadState=loaded\nActiveState=failed\nResult=signal\nExecMainStatus=9\n",
       "Unknown error while attempting to start VIGILNT."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    app.reset();
    boxes.Clear();
    platform::SetServicePrivilegeCheck([&r] { return r.privileged; });
    int shows = 0;
    platform::SetServiceOutputRunner([&](const std::vector<std::string>& argv, int, std::string* out) {
      if (argv.size() > 1 && argv[1] == "show") {
        *out = shows++ == 0 ? r.before : r.after;
        return r.showRc;
      }
      return argv.size() > 1 && argv[1] == "start" ? r.startRc : 1;
    });
    platform::SetServiceRunner([&](const std::vector<std::string>& argv, int) {
      return argv.size() > 1 && argv[1] == "start" ? r.startRc : 1;
    });
    CTandleFrame& frame = Frame();
    frame.OnTimer(tavona::kWatchdogTimer);
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[0].text.contains(QString::fromUtf8(r.text))) << shown[0].text.toStdString();
    EXPECT_EQ(shown[1].text, QStringLiteral("Unable to communicate with the UPS Agent.\nRestart the Agent."));
    EXPECT_FALSE(frame.WatchdogArmed());
  }
}

TEST_F(TavonaWatchdogTest, AStartedAgentIsCheckedOnceMore) {
  platform::SetServicePrivilegeCheck([] { return true; });
  AgentProcess vigil;
  bool started = false;
  // The stand-in systemctl starts a real agent (idle, on the test's names) as the unit would.
  platform::SetServiceOutputRunner([&](const std::vector<std::string>& argv, int, std::string* out) {
    if (argv.size() > 1 && argv[1] == "show") {
      *out = "LoadState=loaded\nActiveState=inactive\nResult=success\nExecMainStatus=0\n";
      return 0;
    }
    return 1;
  });
  platform::SetServiceRunner([&](const std::vector<std::string>& argv, int) {
    if (argv.size() < 2 || argv[1] != "start") return 1;
    started = vigil.Start({"-b", "-x", "5"}, {PrefixEnv(prefix_)});
    return started ? 0 : 1;
  });
  CTandleFrame::SetWatchdogDelays(300, 60000);
  CTandleFrame& frame = Frame();
  Connect();
  ASSERT_NE(frame.Worker(), nullptr);
  // No agent answers: the first check starts one, without a box, and arms the second.
  ASSERT_TRUE(PumpUntil([&] { return frame.AgentStartTried(); }, 30000));
  EXPECT_TRUE(started);
  EXPECT_TRUE(frame.WatchdogArmed());
  EXPECT_EQ(boxes.Count(), 0);
  // The started agent answers: the second check finds contact and says nothing.
  ASSERT_TRUE(PumpUntil([&] { return gScp.TestFlag(SCP_FLAG_UPS_INFO_RECEIVED); }, 60000))
      << vigil.TraceDump();
  frame.OnTimer(tavona::kWatchdogTimer);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_TRUE(frame.isVisible());
  EXPECT_TRUE(App().ReachedAgent());  // the program's status 0
  frame.StopScpThread();
}

TEST_F(TavonaWatchdogTest, AStartedAgentThatStaysSilentEndsTheConsoleAfterTheSecondCheck) {
  platform::SetServicePrivilegeCheck([] { return true; });
  platform::SetServiceOutputRunner([](const std::vector<std::string>& argv, int, std::string* out) {
    if (argv.size() > 1 && argv[1] == "show") *out = "LoadState=loaded\nActiveState=inactive\n";
    return 0;
  });
  platform::SetServiceRunner([](const std::vector<std::string>&, int) { return 0; });
  CTandleFrame::SetWatchdogDelays(100, 200);
  CTandleFrame& frame = Frame();
  frame.OnTimer(tavona::kWatchdogTimer);
  EXPECT_EQ(boxes.Count(), 0);
  ASSERT_TRUE(frame.WatchdogArmed());
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() > 0; }, 10000));
  EXPECT_EQ(boxes.Boxes()[0].text,
            QStringLiteral("Unable to communicate with the UPS Agent.\nRestart the Agent."));
  EXPECT_FALSE(frame.WatchdogArmed());
  EXPECT_FALSE(App().ReachedAgent());  // the program's status 1
}

// The program: a picture of its window appears, a second console on the local channel is
// refused, a host that cannot be found is said, SIGTERM closes it with its settings written.
// All the while another local user holds the lock of a mutex at the name "Mutex to lock SCP
// queue": the console's queue is its own, and nothing of that user's holds it up.
TEST_F(TavonaTest, TheProgramShowsItsWindowRefusesASecondConsoleAndEndsOnSigterm) {
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  testing_support::ForeignObjectHolder held(prefix_, kScpQueueMutexName, platform::kNamedObjectLayout, 1, 40,
                                            true);
  ASSERT_TRUE(held.ok());
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}, {PrefixEnv(prefix_)}));
  const std::string shots = File("shots");
  const std::string xdg = File("xdg");
  const std::vector<std::string> env = {PrefixEnv(prefix_),
                                        "QT_QPA_PLATFORM=offscreen",
                                        "XDG_CONFIG_HOME=" + xdg,
                                        "XDG_DATA_HOME=" + xdg,
                                        "VIGIL_SCREENSHOT_DIR=" + shots,
                                        "VIGIL_MESSAGE_LOG=" + File("boxes.log"),
                                        "VIGIL_AGENT_PLATFORM=" + platformFile};
  AgentProcess tavona;
  tavona.UseProgram(TAVONA_PROGRAM);
  ASSERT_TRUE(tavona.Start({"n"}, env));
  // A picture per change of states: the agent may still be finding its UPS at the first one.
  auto normal = [&] {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(shots, ec)) {
      if (Contains(e.path().filename().string(), "-normal-operation.png")) return true;
    }
    return false;
  };
  EXPECT_TRUE(AgentProcess::WaitFor(normal, 90000)) << tavona.Stderr() << vigil.TraceDump();

  AgentProcess second;
  second.UseProgram(TAVONA_PROGRAM);
  ASSERT_TRUE(second.Start({"c:3"}, env));
  EXPECT_EQ(second.Wait(30000), 1);
  EXPECT_TRUE(Contains(testing_support::ReadFileText(File("boxes.log")), "Tremona is already running."))
      << second.Stderr();
  // A host that cannot be found ends a console at once, with a word and status 1.
  AgentProcess unknown;
  unknown.UseProgram(TAVONA_PROGRAM);
  ASSERT_TRUE(unknown.Start({"c:0", "h:nowhere.invalid", "n"}, env));
  EXPECT_EQ(unknown.Wait(30000), 1);
  EXPECT_TRUE(Contains(unknown.Stderr(), "Tavona: the host nowhere.invalid cannot be found")) << unknown.Stderr();
  EXPECT_TRUE(Contains(testing_support::ReadFileText(File("boxes.log")), "The host nowhere.invalid cannot be found."));

  tavona.Signal(SIGTERM);
  EXPECT_EQ(tavona.Wait(30000), 0) << tavona.Stderr();
  const std::string ini = testing_support::ReadFileText(xdg + "/Brenvale/Tavona.ini");
  EXPECT_TRUE(Contains(ini, "ShowSplashScreen=1")) << ini;
  EXPECT_FALSE(Contains(ini, "LastCommMode")) << ini;  // started with an argument
}

}  // namespace
