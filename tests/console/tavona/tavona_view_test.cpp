// The status view, its menu and title, the About box, the splash, the dialog commands and the
// application's settings, in-process with the harness's agent.
#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QMenuBar>
#include <QRadioButton>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "console/tavona/about_dlg.h"
#include "console/tavona/access_mode_dlg.h"
#include "console/tavona/dialog_commands.h"
#include "console/tavona/splash_wnd.h"
#include "console/tavona/tavona_ids.h"
#include "dialogs/frame/console_stop_signals.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/event_pump.h"
#include "dialogs/frame/reply_status.h"
#include "platform/name_resolver.h"
#include "tests/console/comm_test_support.h"
#include "tests/console/tavona/tavona_test_support.h"

namespace {

using tavona_test::TavonaTest;

struct PictureRow {
  std::vector<int> codes;
  std::array<int, 3> pictures;
  int listImage;  // of the first line
};

TEST_F(TavonaTest, PicturesAndListImagesFollowTheActiveStates) {
  const std::vector<PictureRow> rows = {
      {{}, {316, 306, 326}, 2},     {{0}, {335, 305, 344}, 0},  {{1}, {335, 342, 303}, 0},
      {{2}, {335, 320, 303}, 0},    {{3}, {335, 305, 344}, 0},  {{4}, {334, 341, 323}, 1},
      {{5}, {334, 291, 343}, 1},    {{6}, {335, 305, 344}, 0},  {{7}, {312, 339, 343}, 1},
      {{8}, {311, 345, 344}, 0},    {{16}, {311, 345, 344}, 0}, {{18}, {334, 341, 323}, 1},
      {{19}, {334, 341, 323}, 1},   {{9}, {316, 306, 326}, 2},  {{20}, {316, 306, 326}, 2},
      {{1, 7}, {336, 338, 303}, 0},
  };
  CTandleView& view = View();
  for (const PictureRow& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.codes));
    // From the start-up pictures each time, so that a combination without a picture of its own
    // would show as the start-up picture rather than the previous row's.
    SetStates({});
    view.RefreshStatus();
    {
      auto lock = gScp.Lock();
      for (int c : row.codes) gScp.upsStatus.SetAlarm(c);
    }
    view.RefreshStatus();
    EXPECT_EQ(view.PictureIds(), row.pictures);
    ASSERT_EQ(view.List()->topLevelItemCount(),
              row.codes.size() == 0 ? 1 : static_cast<int>(row.codes.size()));
    EXPECT_EQ(view.List()->topLevelItem(0)->data(0, Qt::UserRole + 1).toInt(), row.listImage);
  }
  SetStates({});
  view.RefreshStatus();
  EXPECT_EQ(view.List()->topLevelItem(0)->text(0), QStringLiteral("Normal Operation"));
  // Codes 9 to 15, 17 and 20 to 24 are information.
  for (int code : {9, 10, 11, 12, 13, 14, 15, 17, 20, 21, 22, 23, 24})
    EXPECT_EQ(CTandleView::ListImageOf(code), 2);
}

TEST_F(TavonaTest, StateLinesFollowTheirTimesAndTheNewestShowsWholeInTheListsHeight) {
  testing_support::ScopedManualClock clock(1007474709);
  CTandleFrame& frame = Frame();
  frame.show();
  CTandleView& view = View();
  const int height = view.List()->height();
  // States in the order they came, a second apart, from one to more than the list holds; the
  // list shows them in that order, and the one that came last is in view.
  const std::vector<std::vector<int>> rows = {
      {1},
      {1, 4, 7},
      {7, 5, 4, 1},
      {1, 4, 7, 5, 6},
      {6, 5, 0, 1},
      {0, 1, 4, 7, 5, 6},
      {1, 2, 4, 5, 6, 7, 0, 16},
      {16, 0, 2, 4, 5, 6, 7, 1},
      {1, 2, 14, 16, 10},  // a low-battery shutdown, then the agent's farewell
  };
  for (const std::vector<int>& codes : rows) {
    SCOPED_TRACE(testing::PrintToString(codes));
    SetStates({});
    for (int c : codes) {
      clock->AdvanceSeconds(1);
      auto lock = gScp.Lock();
      gScp.upsStatus.SetAlarm(c);
    }
    view.RefreshStatus();
    QCoreApplication::processEvents();
    QTreeWidget* list = view.List();
    ASSERT_EQ(list->topLevelItemCount(), static_cast<int>(codes.size()));
    EXPECT_EQ(list->height(), height);
    std::vector<int> shown;
    for (int i = 0; i < list->topLevelItemCount(); ++i) shown.push_back(list->topLevelItem(i)->data(0, Qt::UserRole).toInt());
    EXPECT_EQ(shown, codes);
    QTreeWidgetItem* newest = list->topLevelItem(list->topLevelItemCount() - 1);
    const QRect line = list->visualItemRect(newest);
    EXPECT_TRUE(list->viewport()->rect().contains(line))
        << line.y() << "+" << line.height() << " in " << list->viewport()->height();
    if (codes.size() == 8 && codes.back() == 16)
      Screenshot(&frame, QStringLiteral("main-window-eight-states"));
    if (codes.back() == 10) Screenshot(&frame, QStringLiteral("main-window-shutdown-and-farewell"));
  }
}

TEST_F(TavonaTest, TitleAndAboutCaptionNameTheEditionByInterfaceType) {
  struct Row {
    int type;
    const char* title;
    const char* about;
  };
  const Row rows[] = {
      {1, "Tremona® Fenn", "About  Tremona® Fenn"}, {2, "Tremona® Tavona", "About  Tremona® Tavona"},
      {3, "Tremona® ", "About  Tremona® Tavona"},   {5, "Tremona® Tavona", "About  Tremona® Tavona"},
      {255, "Tremona® ", "About  Tremona® Tavona"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(CTandleView::TitleFor(r.type), QString::fromUtf8(r.title)) << r.type;
    EXPECT_EQ(CAboutDlg::CaptionFor(r.type), QString::fromUtf8(r.about)) << r.type;
  }
  // The window title carries the host of the command line; message boxes do not.
  App().Doc().SetHostName(QStringLiteral("ups1"));
  View().UpdateTitle();
  EXPECT_EQ(Frame().windowTitle(), QString::fromUtf8("Tremona® Tavona - Host: ups1"));
  EXPECT_EQ(gcsMessageBoxTitle, QString::fromUtf8("Tremona® Tavona"));
}

// Every function the menu depends on, as (class, method).
const std::vector<std::pair<int, int>> kFunctions = {
    {0, 0}, {0, 1}, {3, 4}, {0, 2}, {0, 4}, {0, 5}, {0, 6}, {0, 7}, {1, 4}, {1, 5}, {1, 6}, {2, 5},
    {3, 6}, {2, 0}, {2, 1}, {2, 3}, {2, 4}, {3, 0}, {3, 1}, {0, 3}, {1, 1}, {1, 2}, {1, 3},
};

TEST_F(TavonaTest, EachUnsupportedFunctionTakesItsCommandsOffMenuAndToolbar) {
  struct Row {
    std::pair<int, int> missing;
    std::vector<int> gone;
  };
  const std::vector<Row> rows = {
      {{0, 0}, {40013, 40009}}, {{0, 1}, {40003}}, {{3, 4}, {40004}},
      {{0, 2}, {40005}},        {{0, 4}, {40006}}, {{0, 5}, {40007}},
      {{0, 6}, {32795}},        {{0, 7}, {32796}}, {{1, 4}, {40014}},
      {{1, 5}, {40012}},        {{1, 6}, {40016}}, {{2, 5}, {40018}},
      {{3, 6}, {40019}},        {{2, 0}, {32893}}, {{2, 1}, {32905}},
      {{2, 3}, {32904}},        {{2, 4}, {40015}}, {{3, 0}, {32900, 40011, 40017}},
      {{3, 1}, {40010}},
  };
  CTandleFrame& frame = Frame();
  auto supportAllBut = [](std::pair<int, int> missing) {
    auto lock = gScp.Lock();
    for (auto f : kFunctions) {
      if (f == missing) {
        gScp.upsInfo.ClearFunctionSupported(f.first, f.second);
      } else {
        gScp.upsInfo.SetFunctionSupported(f.first, f.second);
      }
    }
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.missing));
    supportAllBut(row.missing);
    View().UpdateMenu();
    EXPECT_EQ(frame.MenuId(), tavona::kFullMenu);
    for (int command : row.gone) {
      EXPECT_EQ(frame.MenuItem(command), nullptr) << command;
      if (frame.ToolbarAction(command) != nullptr) {
        EXPECT_FALSE(frame.ToolbarButtonVisible(command)) << command;
      }
    }
    for (const Row& other : rows) {
      if (other.missing == row.missing) continue;
      for (int command : other.gone) {
        // (Network clients are configured from the toolbar only.)
        if (command != tavona::ID_NETWORK_CLIENTS) {
          EXPECT_NE(frame.MenuItem(command), nullptr) << command;
        }
        if (frame.ToolbarAction(command) != nullptr) {
          EXPECT_TRUE(frame.ToolbarButtonVisible(command)) << command;
        }
      }
    }
    // Never offered: the networking properties and the adapter management; the About item
    // names the edition.
    EXPECT_EQ(frame.MenuItem(40041), nullptr);
    EXPECT_EQ(frame.MenuItem(40030), nullptr);
    EXPECT_EQ(frame.MenuItem(tavona::ID_APP_ABOUT)->text(), QString::fromUtf8("&About Tremona® Tavona"));
  }
  // The alarm recipients stay while one of their four functions is supported.
  supportAllBut({0, 3});
  View().UpdateMenu();
  EXPECT_NE(frame.MenuItem(40008), nullptr);
  {
    auto lock = gScp.Lock();
    for (auto f : std::vector<std::pair<int, int>>{{0, 3}, {1, 1}, {1, 2}, {1, 3}}) {
      gScp.upsInfo.ClearFunctionSupported(f.first, f.second);
    }
  }
  View().UpdateMenu();
  EXPECT_EQ(frame.MenuItem(40008), nullptr);
  EXPECT_FALSE(frame.ToolbarButtonVisible(40008));
  // The agent start only in the local mode.
  supportAllBut({-1, -1});
  gnCommMode = 0;
  View().UpdateMenu();
  EXPECT_EQ(frame.MenuItem(40019), nullptr);
  gnCommMode = 3;
  View().UpdateMenu();
  EXPECT_NE(frame.MenuItem(40019), nullptr);
  // The access-mode option needs both platforms; the reconnect option the remote mode.
  EXPECT_EQ(frame.MenuItem(40037), nullptr);
  EXPECT_EQ(frame.MenuItem(40039), nullptr);
  EXPECT_TRUE(frame.MenuItem(40036)->isChecked());
  Screenshot(&frame, QStringLiteral("main-window-menu"));
}

TEST_F(TavonaTest, StateTimesOfScheduledAndRemoteShutdowns) {
  testing_support::ScopedManualClock clock(1007474709);
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(CTandleView::StateTimeText(1007474709), QStringLiteral("Tue Dec 04 2001 14:05:09 "));
  CTandleView& view = View();
  {
    auto lock = gScp.Lock();
    gScp.upsStatus.ClearAllAlarms();
    gScp.upsStatus.SetAlarm(ALARM_SCHEDULED_SHUTDOWN);
    schedule_struct later{};
    later.startTime = 1007474709 + 7200;
    schedule_struct sooner{};
    sooner.startTime = 1007474709 + 3600;
    const schedule_struct entries[2] = {later, sooner};
    gScp.schedShutdown.SetEntries(2, entries);
  }
  view.RefreshStatus();
  // The entry due first.
  EXPECT_EQ(view.List()->topLevelItem(0)->text(1), CTandleView::StateTimeText(1007474709 + 3600));
  // Remote shutdown: on battery its time plus the shutdown delay (minutes), otherwise now plus
  // the warning delay; 255 adds nothing.
  struct Row {
    bool onBattery;
    int shutDelay, warnDelay;
    int64_t expected;
  };
  const int64_t stamp = 1007474709;
  const Row rows[] = {{true, 5, 2, stamp + 300},
                      {false, 5, 2, stamp + 500 + 120},
                      {true, 255, 2, stamp},
                      {false, 5, 255, stamp + 500}};
  for (const Row& r : rows) {
    clock->Set(stamp);
    {
      auto lock = gScp.Lock();
      gScp.upsStatus.ClearAllAlarms();
      gScp.upsStatus.SetAlarm(ALARM_REMOTE_SHUTDOWN);
      if (r.onBattery) gScp.upsStatus.SetAlarm(ALARM_ON_BATTERY);
      gScp.commandBlock.SetShutDelay(r.shutDelay);
      gScp.commandBlock.SetWarnDelay(r.warnDelay);
    }
    clock->Set(stamp + 500);
    view.RefreshStatus();
    QTreeWidgetItem* line = nullptr;
    for (int i = 0; i < view.List()->topLevelItemCount(); ++i) {
      if (view.List()->topLevelItem(i)->data(0, Qt::UserRole).toInt() == ALARM_REMOTE_SHUTDOWN)
        line = view.List()->topLevelItem(i);
    }
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(1), CTandleView::StateTimeText(r.expected)) << r.onBattery << " " << r.shutDelay;
  }
  unsetenv("TZ");
  tzset();
}

TEST_F(TavonaTest, UpsInformationWithDataShowsTheWindowAndCountsAsContact) {
  CTandleFrame& frame = Frame();
  // A resend brings no data: nothing changes.
  Notify(1, 2, 0, 0, SCP_GET_RESEND);
  EXPECT_FALSE(App().Shown());
  EXPECT_FALSE(gScp.TestFlag(SCP_FLAG_UPS_INFO_RECEIVED));
  Notify(1, 2, 0, 0, SCP_GET_OK);
  EXPECT_TRUE(App().Shown());
  EXPECT_TRUE(frame.isVisible());
  EXPECT_TRUE(gScp.TestFlag(SCP_FLAG_UPS_INFO_RECEIVED));
  EXPECT_EQ(frame.windowTitle(), QString::fromUtf8("Tremona® Tavona"));
  // Losing the agent brings the short menu and hides the toolbar's commands.
  SetStates({ALARM_LOST_DAEMON_COMM});
  Notify(1, 1, 0, 0, SCP_GET_OK);
  EXPECT_EQ(frame.MenuId(), tavona::kShortMenu);
  for (int command : tavona::kToolbarCommands) EXPECT_FALSE(frame.ToolbarButtonVisible(command)) << command;
  EXPECT_EQ(frame.MenuTitles(), (QStringList{"&File", "&View", "&Manage", "&Help"}));
  // The agent start while the agent still answers is refused.
  SetStates({});
  View().OnManageAgentStartup();
  EXPECT_TRUE(boxes.Saw(QStringLiteral("Terminate agent first!\"")));
}

// The view's first requests wait, bounded, for the queue's mutex, which the worker holds for a
// moment: a stop signal that comes meanwhile ends the wait quietly (the console is closing, no
// "ERROR waiting for SCP queue"), with nothing asked; without one both requests are queued.
TEST_F(TavonaTest, TheFirstRequestsGiveWayToAStopSignalWithoutAnError) {
  CTandleView& view = View();
  for (const bool signal : {true, false}) {
    SCOPED_TRACE(signal ? "a stop signal" : "none");
    ConsoleStopSignals stop;
    int stops = 0;
    ASSERT_TRUE(stop.Install({SIGTERM}, [&](int) { ++stops; }));
    {
      ScpQueueLock lock;
      gScp.requestTable.Clear();
    }
    std::atomic<bool> held{false};
    std::thread worker([&] {
      ScpQueueLock lock;
      held = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (signal) ::kill(::getpid(), SIGTERM);
      std::this_thread::sleep_for(std::chrono::milliseconds(signal ? 1300 : 100));
    });
    while (!held.load()) std::this_thread::yield();
    const int shown = boxes.Count();
    view.OnInitialUpdate();
    worker.join();
    EXPECT_EQ(boxes.Count(), shown) << boxes.Boxes().back().text.toStdString();
    ASSERT_TRUE(PumpEventsUntil([&] { return stops == (signal ? 1 : 0); }, 5000));
    EXPECT_EQ(console_test::Queued().size(), signal ? 0u : 2u);
  }
}

TEST_F(TavonaTest, GetResendAsksAgainWithTheAnswersOwnKey) {
  struct Row {
    uint32_t key;
    std::vector<uint8_t> asked;
  };
  const Row rows[] = {{PackScpKey(3, 2, 1, 0), {2, 1, 0}},
                      {PackScpKey(2, 4, 8, 0), {4, 8}},
                      {PackScpKey(1, 2, 0, 0), {2}},
                      {PackScpKey(3, 4, 8, 1), {4, 8, 1}}};
  for (const Row& r : rows) {
    {
      ScpQueueLock lock;
      gScp.requestTable.Clear();
    }
    ActOnReplyStatus(r.key, SCP_GET_RESEND, 1, nullptr);
    const auto queued = console_test::Queued();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].first, r.asked);
    EXPECT_EQ(queued[0].second, 1);
  }
}

TEST_F(TavonaTest, EveryDialogCommandOpensRaisesAndReopensItsDialog) {
  Frame();
  ASSERT_TRUE(tavona::MissingDialogCommands().empty());
  for (const tavona::DialogCommand& c : tavona::DialogCommands()) {
    SCOPED_TRACE(c.className);
    QDialog* first = tavona::OpenDialogCommand(c.command);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->metaObject()->className(), c.className);
    EXPECT_EQ(tavona::OpenDialogCommand(c.command), first);
    first->close();
    link.PumpFor(20);
    EXPECT_EQ(tavona::OpenDialogOf(c.command), nullptr);
    QDialog* second = tavona::OpenDialogCommand(c.command);
    ASSERT_NE(second, nullptr);
    second->close();
    link.PumpFor(20);
    CloseAllWindows();
    boxes.Clear();
  }
  // A double click on a picture opens the system information.
  emit View().Picture(1)->doubleClicked();
  EXPECT_NE(tavona::OpenDialogOf(tavona::ID_SYSTEM_INFORMATION), nullptr);
}

TEST_F(TavonaTest, AboutBoxIsOneAtATimeAndTheSplashNamesTheEdition) {
  CAboutDlg* about = OpenAboutBox();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(OpenAboutBox(), about);
  EXPECT_EQ(about->windowTitle(), QString::fromUtf8("About  Tremona® Tavona"));
  EXPECT_FALSE(about->LegalText().isEmpty());
  Screenshot(about, QStringLiteral("about"));
  about->close();
  link.PumpFor(20);
  EXPECT_TRUE(pAboutDlg.isNull());
  CAboutDlg* again = OpenAboutBox();
  EXPECT_NE(again, nullptr);
  again->close();

  EXPECT_EQ(CSplashWnd::EditionWord(QString::fromUtf8("Tremona® Tavona")), QStringLiteral("Tavona"));
  EXPECT_EQ(CSplashWnd::EditionWord(QString::fromUtf8("Tremona® Fenn")), QStringLiteral("Fenn"));
  auto* splash = new CSplashWnd();
  splash->show();
  Screenshot(splash, QStringLiteral("splash"));
  splash->close();
}

TEST_F(TavonaTest, SettingsWithAndWithoutArgumentsAndTheAccessMode) {
  // With arguments, LastCommMode and LastNetwareServer are neither read nor written; c:9 is 3.
  {
    console::ConsoleSettings s(QStringLiteral("Tavona"), IniPath());
    s.WriteInt("Initialization", "LastCommMode", 1);
    s.WriteInt("Initialization", "ShowSplashScreen", 0);
    s.Sync();
  }
  ASSERT_TRUE(App().InitInstance({"c:9", "n"}));
  EXPECT_EQ(gnCommMode, 3);
  EXPECT_EQ(App().showSplashScreen, 0);
  App().showStartUpDialog = 0;
  App().SaveStartupSettings();
  app.reset();
  {
    console::ConsoleSettings s(QStringLiteral("Tavona"), IniPath());
    EXPECT_EQ(s.ReadInt("Initialization", "ShowStartUpDialog", -1), 0);
    EXPECT_EQ(s.ReadInt("Initialization", "LastCommMode", -1), 1);  // untouched
  }
  // Without arguments the last mode is used and saved.
  {
    console::ConsoleSettings s(QStringLiteral("Tavona"), IniPath());
    s.WriteInt("Initialization", "LastCommMode", 3);
    s.Sync();
  }
  ASSERT_TRUE(App().InitInstance({}));
  EXPECT_EQ(gnCommMode, 3);
  app.reset();
  // Only the Netware platform: the default mode is 1.
  WritePlatforms("Netware\n");
  App();
  EXPECT_EQ(gnCommMode, 1);
  EXPECT_FALSE(App().platforms.windows);
  app.reset();

  // Both platforms: the access-mode dialog decides; Cancel ends the start.
  WritePlatforms("Windows\nNetware\n");
  {
    console::ConsoleSettings s(QStringLiteral("Tavona"), IniPath());
    s.WriteInt("Initialization", "ShowStartUpDialog", 1);
    s.Sync();
  }
  bool seen = false;
  CConsoleApp::SetAccessDialogRunner([&](CAccessModeDlg& dialog) {
    seen = true;
    EXPECT_TRUE(dialog.findChild<QRadioButton*>(ControlName(tavona::IDC_ACCESS_DEFAULT))->isChecked());
    dialog.show();
    Screenshot(&dialog, QStringLiteral("access-mode"));
    return static_cast<int>(QDialog::Rejected);
  });
  EXPECT_FALSE(App().InitInstance({}));
  EXPECT_TRUE(seen);
  app.reset();
  CConsoleApp::SetAccessDialogRunner([&](CAccessModeDlg& dialog) {
    dialog.findChild<QRadioButton*>(ControlName(tavona::IDC_ACCESS_REMOTE))->setChecked(true);
    dialog.findChild<QCheckBox*>(ControlName(tavona::IDC_ACCESS_SHOW))->setChecked(false);
    return static_cast<int>(QDialog::Accepted);
  });
  // (The remote mode's host selection is not reached: the frame's connection is never run here.)
  ASSERT_TRUE(App().InitInstance({}));
  EXPECT_EQ(gnCommMode, 1);
  EXPECT_EQ(App().showStartUpDialog, 0);
  App().SaveStartupSettings();
  console::ConsoleSettings s(QStringLiteral("Tavona"), IniPath());
  EXPECT_EQ(s.ReadInt("Initialization", "LastCommMode", -1), 1);
}

}  // namespace

namespace {

// Knows one name only.
class OneNameResolver : public platform::NameResolver {
 public:
  bool AddressOf(const std::string& name, uint32_t& address) override {
    if (name != "ups1") return false;
    address = htonl(0x7F000001);
    return true;
  }
  bool NameOf(uint32_t, std::string& name) override {
    name = "ups1";
    return true;
  }
  bool LocalHostName(std::string& name) override {
    name = "here";
    return true;
  }
};

TEST_F(TavonaTest, StartupHostByModeAndAnUnknownNameIsSaidAndClosesTheConsole) {
  OneNameResolver resolver;
  platform::SetNameResolver(&resolver);
  // Mode 2 with a host: an SNMP adapter's address with the communities of g and s (or the
  // defaults).
  struct Row {
    std::vector<std::string> args;
    const char* read;
    const char* write;
  };
  const Row rows[] = {{{"c:2", "h:ups1", "n"}, "marble", "harvest"},
                      {{"c:2", "h:ups1", "g:north", "s:south", "n"}, "north", "south"}};
  for (const Row& r : rows) {
    app.reset();
    {
      KT_HostControl writer;
      gHosts.ResetHosts();
    }
    ASSERT_TRUE(App().InitInstance(r.args));
    ASSERT_EQ(Frame().SelectStartupHost(), 1);
    {
      KT_HostControl reader(0);
      ASSERT_EQ(gHosts.GetHostCount(), 1);
      KT_Address& a = gHosts.GetFirstHost()->Address();
      EXPECT_EQ(a.GetType(), ADDRESS_SNMP);
      EXPECT_STREQ(a.GetReadCommunity(), r.read);
      EXPECT_STREQ(a.GetWriteCommunity(), r.write);
    }
    Frame().StopScpThread();
  }
  // A name nobody knows (modes 0 and 1): a box says so, and the console closes without its
  // agent.
  for (const char* mode : {"c:0", "c:1"}) {
    SCOPED_TRACE(mode);
    app.reset();
    boxes.Clear();
    ASSERT_TRUE(App().InitInstance({mode, "h:nowhere", "n"}));
    CTandleFrame* frame = App().Frame();
    EXPECT_TRUE(console_test::PumpUntil([&] { return frame->Closed(); }, 5000));
    EXPECT_EQ(frame->Worker(), nullptr);
    EXPECT_TRUE(boxes.Saw(QStringLiteral("The host nowhere cannot be found.")));
    EXPECT_FALSE(App().ReachedAgent());
  }
  platform::SetNameResolver(nullptr);
  gDiscover.Close();
}

}  // namespace
