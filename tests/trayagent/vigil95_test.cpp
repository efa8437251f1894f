// The desktop agent's shell in-process: its command line, the tray icon's rules, the timing of
// the monitor passes on a manual clock, the stop with a hung thread, its own effects (shutdown,
// sound, monitor program) and the message boxes, the About box and the tray menu.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "agent/engine/agent.h"
#include "core/scp/scp.h"
#include "platform/process.h"
#include "tests/support/test_support.h"
#include "trayagent/agent_about_dlg.h"
#include "trayagent/agent_app.h"
#include "trayagent/agent_frame.h"
#include "trayagent/qt_message_boxes.h"
#include "trayagent/tray_icon.h"
#include "trayagent/vigil95_engine.h"
#include "trayagent/win95_services.h"

namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

// What the shell asked of the icon.
struct TrayCall {
  int operation;
  bool running;
  std::string tip;
  bool operator==(const TrayCall&) const = default;
};

class RecordingTray : public TrayIcon {
 public:
  explicit RecordingTray(std::vector<TrayCall>& calls) : calls_(calls) {}
  bool Apply(int operation, bool running, const QString& tip) override {
    calls_.push_back({operation, running, tip.toStdString()});
    return true;
  }

 private:
  std::vector<TrayCall>& calls_;
};

// An engine without a UPS: the interface type and the run flag are the test's.
class FakeEngine : public TrayAgentEngine {
 public:
  int AlreadyRunning(std::string&) override { return alreadyRunning ? 1 : 0; }
  bool Prepare(std::string&) override { return true; }
  void Initialize() override {
    ++initialized;
    interfaceType = typeAfterInitialize;
  }
  void Pass() override {
    ++passes;
    if (stopAfterPasses > 0 && passes >= stopAfterPasses) running = false;
  }
  bool Running() override { return running; }
  int InterfaceType() override { return interfaceType; }
  void Stop() override { ++stops; }
  void Message(const std::string& text) override { messages.push_back(text); }

  bool alreadyRunning = false;
  bool running = true;
  int interfaceType = 0;
  int typeAfterInitialize = 3;
  int initialized = 0;
  int passes = 0;
  int stopAfterPasses = 0;
  int stops = 0;
  std::vector<std::string> messages;
};

std::string ScreenshotPath(const std::string& name) {
  const char* build = std::getenv("VIGIL_BUILD_DIR");
  const std::filesystem::path dir = std::filesystem::path(build ? build : ".") / "screenshots" / "trayagent";
  std::filesystem::create_directories(dir);
  return (dir / (name + ".png")).string();
}

// The agent objects a shell test needs: the agent's options are filled by the command line.
struct AgentObjects {
  KT_SCP scp;
  KT_Win95Services services{scp};
  KT_Agent agent{scp, services};
};

struct ParamCase {
  std::vector<std::string> args;
  bool trace;
  int32_t foreground;
  std::optional<std::string> adapter, device, read, write;
  uint8_t mode;
};

TEST(AgentCommandLineTest, FlagsFillTheAgentsOptions) {
  const std::vector<ParamCase> cases = {
      {{"-b"}, true, 1, {}, {}, {}, {}, 255},
      {{"/c:ups-adapter", "-d:/dev/ttyS1"}, false, 0, "ups-adapter", "/dev/ttyS1", {}, {}, 255},
      {{"-g:public", "-s:private"}, false, 0, {}, {}, "public", "private", 255},
      {{"-x:300"}, false, 0, {}, {}, {}, {}, 44},
      {{"-x:5", "-x:9"}, false, 0, {}, {}, {}, {}, 9},  // a later one overrides
      {{"-x"}, false, 0, {}, {}, {}, {}, 0},            // no value: nothing read past the flag
      {{"-c"}, false, 0, "", {}, {}, {}, 255},
      {{"-con"}, true, 0, {}, {}, {}, {}, 255},  // only the trace, no adapter "n"
      {{"-connect:x"}, true, 0, {}, {}, {}, {}, 255},
      {{"d:/dev/ttyS0", "x:5", "b"}, false, 0, {}, {}, {}, {}, 255},  // no marker: not flags
      {{"-B", "-y:1", "-z"}, false, 0, {}, {}, {}, {}, 255},          // not a letter a..x
  };
  for (const auto& c : cases) {
    AgentObjects o;
    bool trace = false;
    AgentCommandLineInfo info(o.agent, trace);
    QStringList args{"Vigil95"};
    for (const auto& a : c.args) args << QString::fromStdString(a);
    info.ParseCommandLine(args);
    SCOPED_TRACE(args.join(' ').toStdString());
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(o.agent.foreground, c.foreground);
    EXPECT_EQ(o.agent.adapterName, c.adapter);
    EXPECT_EQ(o.agent.deviceName, c.device);
    EXPECT_EQ(o.agent.readCommunity, c.read);
    EXPECT_EQ(o.agent.writeCommunity, c.write);
    EXPECT_EQ(o.agent.mode.load(), c.mode);
  }
}

TEST(AgentCommandLineTest, DirectoryFlagsChangeTheWorkingDirectoryOnly) {
  TempDir start;
  const std::string a = start.File("a");
  const std::string b = start.File("b");
  std::filesystem::create_directory(a);
  std::filesystem::create_directory(b);
  AgentObjects o;
  bool trace = false;
  AgentCommandLineInfo info(o.agent, trace);
  info.ParseCommandLine({"Vigil95", QString::fromStdString("-a:" + a)});
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(a));
  info.ParseCommandLine({"Vigil95", QString::fromStdString("-dir:" + b)});
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(b));
  EXPECT_FALSE(o.agent.deviceName.has_value());  // "dir" is not also the letter d
  EXPECT_TRUE(info.Problems().empty());
  info.ParseCommandLine({"Vigil95", "-dir:/no/such/folder", "-a:/no/such/folder", "-a"});
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(b));
  // Each directory that cannot be entered is said, with the reason and where the agent stays.
  const std::string said = "Vigil95: cannot work in /no/such/folder: No such file or directory; the working "
                           "directory stays " + b;
  EXPECT_EQ(info.Problems(), std::vector<std::string>({said, said}));
}

TEST(TrayTipTest, ActiveForAUpsOnTheSerialPortIdleOtherwise) {
  TempDir dir;  // the setup table's defaults
  for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 255}) {
    const bool active = type >= 1 && type <= 3;
    EXPECT_EQ(TrayTip(type).toStdString(),
              active ? "Tremona\u00AE Agent is active" : "Tremona\u00AE Agent is idle")
        << type;
  }
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.SetTrayIcon(std::make_unique<RecordingTray>(calls));
    ASSERT_TRUE(app.InitInstance({"Vigil95"}));
    clock->AdvanceMs(10000);
  }
  void TearDown() override { app.ExitInstance(); }

  TempDir dir;
  testing_support::ScopedManualClock clock;
  AgentObjects objects;
  FakeEngine engine;
  CAgentApp app{engine, objects.agent};
  std::vector<TrayCall> calls;
};

TEST_F(ShellTest, FirstTickInitialisesAndShowsTheIconPassesFollowEveryTwoSeconds) {
  app.OnIdle();
  EXPECT_EQ(engine.initialized, 1);
  EXPECT_EQ(engine.passes, 0);  // no pass in the call that initialises
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (TrayCall{kTrayAdd, false, "Tremona\u00AE Agent is idle"}));
  EXPECT_EQ(calls[1], (TrayCall{kTrayModify, true, "Tremona\u00AE Agent is active"}));

  app.OnIdle();  // the first pass comes with the second call
  EXPECT_EQ(engine.passes, 1);
  for (uint64_t step : {1000u, 999u}) {
    clock->AdvanceMs(step);
    app.OnIdle();
  }
  EXPECT_EQ(engine.passes, 1);  // 1999 ms after the pass's start: not yet
  clock->AdvanceMs(2);
  app.OnIdle();
  EXPECT_EQ(engine.passes, 2);
  // Repeated passes with the same interface type ask nothing of the icon.
  for (int i = 0; i < 3; ++i) {
    clock->AdvanceMs(2001);
    app.OnIdle();
  }
  EXPECT_EQ(engine.passes, 5);
  EXPECT_EQ(calls.size(), 2u);
  // A new interface type changes the tip (the running icon stays).
  engine.interfaceType = 0;
  clock->AdvanceMs(2001);
  app.OnIdle();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2], (TrayCall{kTrayModify, true, "Tremona\u00AE Agent is idle"}));
}

TEST_F(ShellTest, PassesGoOnAcrossTheThirtyTwoBitWrapOfTheTick) {
  clock->AdvanceMs((uint64_t{1} << 32) - 1000 - platform::TickMs());
  app.OnIdle();
  app.OnIdle();
  ASSERT_EQ(engine.passes, 1);
  // The next pass is due past 2^32 ms: a 32-bit comparison would wait 49.7 days for it.
  clock->AdvanceMs(2001);
  app.OnIdle();
  EXPECT_EQ(engine.passes, 2);
  EXPECT_GT(app.nextPassTick, uint64_t{1} << 32);
}

TEST_F(ShellTest, AStoppedAgentClosesTheFrameWhichTakesTheIconAway) {
  engine.stopAfterPasses = 2;
  app.OnIdle();
  app.OnIdle();
  clock->AdvanceMs(2001);
  app.OnIdle();
  ASSERT_EQ(engine.passes, 2);
  ASSERT_FALSE(engine.Running());
  QPointer<CAgentFrame> frame = app.Frame();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !calls.empty() && calls.back().operation == kTrayDelete; }, 5000));
  EXPECT_FALSE(frame->isVisible());
  // No more passes once the agent has stopped.
  clock->AdvanceMs(5000);
  app.OnIdle();
  EXPECT_EQ(engine.passes, 2);
  EXPECT_EQ(app.ExitInstance(), 0);
  EXPECT_EQ(engine.stops, 1);
  EXPECT_EQ(app.agentEnabled, 0);
  EXPECT_TRUE(frame.isNull());
  app.OnIdle();  // disabled: nothing
  EXPECT_EQ(engine.initialized, 1);
}

// The real engine stopped before it initialised the agent: the record files it has not read
// are left as they are.
TEST(ShellStopTest, AnAgentStoppedBeforeItsStartLeavesItsRecordFilesAlone) {
  TempDir dir;
  WriteFileText(dir.File("VigilNT.conf"), "snmp_service =\nuser_terminals = no\n");
  ::setenv("VIGIL_AGENT_CONF", dir.File("VigilNT.conf").c_str(), 1);
  WriteFileText(dir.File("config.dat"), "the user's configuration");
  {
    AgentObjects o;
    Vigil95Engine engine(o.scp, o.services, o.agent, nullptr);
    std::string reason;
    ASSERT_TRUE(engine.Prepare(reason)) << reason;
    engine.Stop();
    EXPECT_TRUE(engine.Finish());
  }
  ::unsetenv("VIGIL_AGENT_CONF");
  EXPECT_EQ(ReadFileText(dir.File("config.dat")), "the user's configuration");
}

TEST(ShellStartTest, ASecondAgentSaysSoAndEndsWithoutAFrame) {
  AgentObjects objects;
  FakeEngine engine;
  engine.alreadyRunning = true;
  CAgentApp app(engine, objects.agent);
  EXPECT_FALSE(app.InitInstance({"Vigil95", "-x:5"}));
  EXPECT_EQ(engine.messages, std::vector<std::string>{"The Agent is already running."});
  EXPECT_EQ(app.Frame(), nullptr);
  EXPECT_EQ(objects.agent.mode.load(), 255);  // nothing else touched
}

TEST_F(ShellTest, AboutBoxOpensOnceRaisedWhileOpenNewAfterClose) {
  CAgentFrame* frame = app.Frame();
  frame->OnTrayNotify(1, kMouseLeftDoubleClick);
  ASSERT_TRUE(gAgentAboutDlg);
  CAgentAboutDlg* first = gAgentAboutDlg;
  EXPECT_EQ(first->windowTitle().toStdString(), "About Tremona\u00AE Agent");
  EXPECT_EQ(first->NameText().toStdString(), "Tremona\u00AE Agent");
  EXPECT_EQ(first->StateText().toStdString(), "Agent is idle");
  EXPECT_EQ(first->VersionText().left(9).toStdString(), "Version: ");
  EXPECT_EQ(first->findChild<QLabel*>("ctl1002")->text(), first->VersionText());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(first));
  EXPECT_TRUE(first->grab().save(QString::fromStdString(ScreenshotPath("about"))));
  frame->OnTrayNotify(1, kMouseRightDoubleClick);
  EXPECT_EQ(gAgentAboutDlg.data(), first);  // raised, not a second one
  first->close();
  ASSERT_TRUE(QTest::qWaitFor([] { return gAgentAboutDlg.isNull(); }, 5000));
  engine.interfaceType = 2;
  frame->OnAbout();
  ASSERT_TRUE(gAgentAboutDlg);
  EXPECT_EQ(gAgentAboutDlg->StateText().toStdString(), "Agent is active");
  // Any other mouse message does nothing.
  EXPECT_EQ(frame->OnTrayNotify(1, 0x200), 0);
}

TEST_F(ShellTest, TrayMenuHoldsAboutAndMonitor) {
  QMenu* menu = app.Frame()->TrayMenu();
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[0]->text().toStdString(), "&About...");
  EXPECT_EQ(menu->actions()[1]->text().toStdString(), "&Monitor");
  app.Frame()->OnTrayNotify(1, kMouseRightDown);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  EXPECT_TRUE(menu->grab().save(QString::fromStdString(ScreenshotPath("tray_menu"))));
  menu->hide();
}

// A stand-in console that writes down where it was started from.
void StandInConsole(const std::string& folder, const std::string& log) {
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/Tavona";
  WriteFileText(path, "#!/bin/sh\necho \"$0\" >>\"" + log + "\"\n");
  ::chmod(path.c_str(), 0755);
}

TEST_F(ShellTest, MonitorStartsTheConsoleBesideTheAgentElseOnThePathElseSaysSo) {
  const std::string log = dir.File("started.log");
  const std::string beside = dir.File("beside");
  const std::string onPath = dir.File("onpath");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (onPath + ":/usr/bin:/bin").c_str(), 1);
  StandInConsole(beside, log);
  StandInConsole(onPath, log);
  CAgentFrame* frame = app.Frame();

  frame->SetMonitorFolder(beside);
  frame->OnMonitor();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReadFileText(log) == beside + "/Tavona\n"; }, 10000))
      << ReadFileText(log);
  std::filesystem::remove(log);

  frame->SetMonitorFolder(dir.File("nothing-here"));
  frame->OnMonitor();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ReadFileText(log) == onPath + "/Tavona\n"; }, 10000))
      << ReadFileText(log);
  EXPECT_TRUE(engine.messages.empty());

  ::setenv("PATH", "/nonexistent", 1);
  frame->OnMonitor();
  ::setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(engine.messages, std::vector<std::string>{"Unable to run monitor program.\n"});
}

// A thread procedure that keeps running until released.
struct HungThread {
  std::mutex mutex;
  std::condition_variable cv;
  bool released = false;
  int Run() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return released; });
    return 0;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    cv.notify_all();
  }
};

TEST(Win95ServicesTest, StopWritesTheFilesAndReturnsAfterItsBoundDespiteAHungThread) {
  TempDir dir;
  AgentObjects o;
  o.services.SetPauseHook([](int) {});
  o.services.SetThreadStopWaitMs(300);
  HungThread hung;
  o.services.SetThreadProcedure(THREAD_SERIAL, [&] { return hung.Run(); });
  std::atomic<bool> localQuit{false};
  o.services.SetThreadProcedure(THREAD_LOCAL, [&] {
    while (o.services.GetState(THREAD_LOCAL) == 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 0;
  });
  ASSERT_EQ(o.services.StartSerialThread(), 1);
  ASSERT_EQ(o.services.StartLocalThread(), 1);
  testing_support::TraceCapture trace;
  o.services.StopAgent(1);
  EXPECT_FALSE(o.services.IsRunning());
  EXPECT_TRUE(std::filesystem::exists(dir.File("config.dat")));
  EXPECT_TRUE(trace.Contains("Tremona daemon is exiting normally"));
  EXPECT_EQ(o.services.GetState(THREAD_LOCAL), 255);  // the one that listens did end
  hung.Release();
  EXPECT_TRUE(o.services.JoinThreads(10000));
}

TEST(Win95ServicesTest, ShutdownAndSoundStartTheirProgramsAndReturn) {
  TempDir dir;
  AgentObjects o;
  // The stand-ins wait on a FIFO: the calls must return while they still run.
  const std::string fifo = dir.File("hold");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string log = dir.File("effects.log");
  for (const char* name : {"shutdown", "player"}) {
    WriteFileText(dir.File(name), std::string("#!/bin/sh\necho \"") + name + " $*\" >>\"" + log +
                                      "\"\nread x <\"" + fifo + "\"\necho \"" + name + " done\" >>\"" + log +
                                      "\"\n");
    ::chmod(dir.File(name).c_str(), 0755);
  }
  KT_EffectSettings settings = o.services.Effects().Settings();
  settings.shutdownCommand = dir.File("shutdown") + " -h now";
  settings.soundPlayer = dir.File("player");
  o.services.Effects().SetSettings(settings);

  EXPECT_EQ(o.services.ShutdownSystem(), 1);
  EXPECT_EQ(o.services.PlaySound("chime.wav"), 1);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const std::string t = ReadFileText(log);
        return t.find("shutdown -h now") != std::string::npos &&
               t.find("player chime.wav") != std::string::npos;
      },
      10000))
      << ReadFileText(log);
  EXPECT_EQ(ReadFileText(log).find("done"), std::string::npos);
  // Read and write at once: the open never waits for a reader, and neither stand-in sees the end
  // of the FIFO before its own line is there.
  const int hold = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(hold, 0);
  ASSERT_EQ(::write(hold, "go\ngo\n", 6), 6);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const std::string t = ReadFileText(log);
        return t.find("shutdown done") != std::string::npos && t.find("player done") != std::string::npos;
      },
      10000))
      << ReadFileText(log);
  ::close(hold);

  // No text: an error record and nothing started; no player: the bell.
  EXPECT_EQ(o.services.PlaySound(nullptr), -1);
  EXPECT_EQ(o.services.errorClass, 38);
  EXPECT_EQ(o.services.function, 10);
  EXPECT_EQ(o.services.code, 1);
  int bells = 0;
  o.services.SetBell([&] { ++bells; });
  settings.soundPlayer.clear();
  o.services.Effects().SetSettings(settings);
  EXPECT_EQ(o.services.PlaySound("chime.wav"), 1);
  EXPECT_EQ(bells, 1);
  // A shutdown command that cannot start is the program start's error.
  settings.shutdownCommand = dir.File("no-such-program");
  o.services.Effects().SetSettings(settings);
  EXPECT_EQ(o.services.ShutdownSystem(), -1);
  EXPECT_EQ(o.services.function, 7);
  EXPECT_EQ(o.services.code, 2);
}

TEST(QtMessageBoxesTest, ANewBoxClosesTheOpenOneAndOneNotYetShown) {
  AgentObjects o;
  auto boxes = std::make_shared<KT_QtMessageBoxes>();
  o.services.UseMessageBoxes(boxes);
  auto openText = [&] {
    QMessageBox* box = boxes->OpenBox();
    return box && box->isVisible() ? box->text().toStdString() : std::string();
  };
  ASSERT_EQ(o.services.PopupMessage("Power Failure.", "Tremona Agent Message", 0x50030), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return openText() == "Power Failure."; }, 5000));
  QPointer<QMessageBox> first = boxes->OpenBox();
  EXPECT_EQ(first->windowTitle().toStdString(), "Tremona Agent Message");
  EXPECT_EQ(first->icon(), QMessageBox::Warning);
  EXPECT_TRUE(first->grab().save(QString::fromStdString(ScreenshotPath("message_box"))));

  // The user-interface thread is the one that waits here: the second box closes the first at
  // once.
  ASSERT_EQ(o.services.PopupMessage("Power Restored.", "Tremona Agent Message", 0x50030), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return openText() == "Power Restored."; }, 5000));
  EXPECT_TRUE(first.isNull() || !first->isVisible());

  // Two boxes before the user-interface thread could show either: only the last appears.
  ASSERT_EQ(o.services.PopupMessage("Low Battery.", "Tremona Agent Message", 0x50030), 1);
  ASSERT_EQ(o.services.PopupMessage("System shutdown.", "Tremona Agent Message", 0x50030), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return openText() == "System shutdown."; }, 5000));
  QTest::qWait(100);
  int visible = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) ++visible;
  }
  EXPECT_EQ(visible, 1);
  // The user's OK ends the box thread.
  boxes->OpenBox()->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(o.services.WaitMessageBox(5000));
  o.services.UseMessageBoxes(nullptr);
}

TEST(QtMessageBoxesTest, WithAMessageLogBoxesAreLoggedAndAnsweredAtOnce) {
  TempDir dir;
  const std::string log = dir.File("boxes.log");
  ::setenv("VIGIL_MESSAGE_LOG", log.c_str(), 1);
  auto boxes = std::make_shared<KT_QtMessageBoxes>();
  boxes->Show("Power Failure.\nSystem shutdown in 2 minutes.", "Tremona Agent Message", 0x50030);
  ShowShellMessage("The Agent is already running.");
  ::unsetenv("VIGIL_MESSAGE_LOG");
  EXPECT_EQ(ReadFileText(log),
            "Tremona Agent Message | Power Failure.\\nSystem shutdown in 2 minutes. | OK\n"
            "Tremona\u00AE Vigil95 | The Agent is already running. | OK\n");
  EXPECT_EQ(boxes->OpenBox(), nullptr);
}

}  // namespace
