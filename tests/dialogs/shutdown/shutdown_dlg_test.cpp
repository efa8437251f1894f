// The time line (CShutdownDlg) and the four shutdown-parameter pages against the in-process
// agent.
#include "dialogs/shutdown/shutdown_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "dialogs/discovery/client_discovery.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/shutdown/shutdown_clients_page.h"
#include "dialogs/shutdown/shutdown_load_page.h"
#include "dialogs/shutdown/shutdown_programs_page.h"
#include "dialogs/shutdown/shutdown_ups_page.h"
#include "dialogs/shutdown/timeline_view.h"
#include "tests/dialogs/discovery/discovery_fixture.h"
#include "tests/dialogs/discovery/ipx_search.h"
#include "tests/dialogs/discovery/udp_responder.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

struct Client {
  const char* name;
  const char* ip;
  uint8_t warn;
  uint8_t shut;
};

// A row as the test reads it: text, bar colour, from, to.
using Row = std::tuple<std::string, int, int, int>;

class ShutdownTest : public DiscoveryTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("shutdown"); }
  void SetUp() override {
    DiscoveryTest::SetUp();
    gnCommMode = 0;
    gClientDiscovery.ClearSubnets();
    // Searches stay on this computer.
    std::ofstream(File("cfsubnet.dat")) << "127.0.0.1\n";
    Agent(7, 5, 120);
    Functions(false, false);
  }
  // The agent's branch 2 and its warning actions (event 3), user warnings supported or not;
  // the warnings' delays in minutes, or in seconds with `unit` 1.
  void Agent(int total, int start, int osSeconds, int adminMinutes = 1, int userMinutes = -1, int unit = 60) {
    auto lock = agent.scp().Lock();
    ConfigBlock& c = agent.scp().config;
    c.SetTotalBatteryTime(total);
    c.SetShutdownStartDelay(start);
    c.SetOsShutdownTime(osSeconds);
    c.PowerEventClients().Clear();
    NotifyBlock& n = agent.scp().notify;
    n.Reset();
    n.SetDefaultSupport(SUPPORT_EVENTS);
    n.SetDefaultSupport(SUPPORT_ACTIONS);
    if (userMinutes < 0) n.ClearSupportBit(SUPPORT_ACTIONS, 0, ACTION_USER_WARNING - 1);
    KT_ActionEntry admin(3, ACTION_CONSOLE_WARNING);
    admin.delay = static_cast<uint16_t>(adminMinutes * unit);
    n.AddAction(admin);
    if (userMinutes >= 0) {
      KT_ActionEntry user(3, ACTION_USER_WARNING);
      user.delay = static_cast<uint16_t>(userMinutes * unit);
      n.AddAction(user);
    }
  }
  // The console's branch 9 (an IP client's name does not travel in the record), then the
  // rows rebuilt from it.
  static void Clients(CShutdownDlg* d, const std::vector<Client>& clients) {
    {
      auto lock = gScp.Lock();
      gScp.config.PowerEventClients().Clear();
      for (const Client& c : clients) {
        KT_Address a(ADDRESS_IP);
        a.Resolve(c.ip);
        a.SetHostName(c.name);
        gScp.config.PowerEventClients().Add(a, "pw", c.warn, c.shut, 7);
      }
    }
    d->OnConfigBlock();
  }
  void Segments(int count, int noncritical, uint16_t down, uint16_t up = 0) {
    auto lock = agent.scp().Lock();
    agent.scp().receptacles.SetCount(count);
    agent.scp().receptacles.SetNonCriticalSegment(static_cast<uint8_t>(noncritical));
    if (noncritical != 255) {
      agent.scp().receptacles.SetDownDelay(noncritical, down);
      agent.scp().receptacles.SetUpDelay(noncritical, up);
    }
  }
  static QString Text(QWidget* d, int id) { return d->findChild<QLineEdit*>(ControlName(id))->text(); }
  // Back from a page whose values are refused: no box, the page before shows, this page stays.
  void ExpectBackLeaves(ShutdownPage* page, ShutdownPageId before) {
    boxes.Clear();
    Click(page, IDC_PAGE_BACK);
    EXPECT_EQ(boxes.Count(), 0);
    EXPECT_NE(ShutdownPage::OpenPage(before), nullptr);
    EXPECT_EQ(ShutdownPage::OpenPage(page->PageId()), page);
  }
  // The agent's UPS as the console knows it: its functions, model and long delays (3, 3).
  static void Functions(bool load, bool clients, int model = 0, bool longDelays = false) {
    auto lock = gScp.Lock();
    load ? gScp.upsInfo.SetFunctionSupported(3, 7) : gScp.upsInfo.ClearFunctionSupported(3, 7);
    clients ? gScp.upsInfo.SetFunctionSupported(2, 1) : gScp.upsInfo.ClearFunctionSupported(2, 1);
    longDelays ? gScp.upsInfo.SetFunctionSupported(3, 3) : gScp.upsInfo.ClearFunctionSupported(3, 3);
    gScp.upsInfo.SetModelIndex(model);
  }
  CShutdownDlg* Open() {
    agent.MarkAllFresh();
    auto* d = new CShutdownDlg(nullptr, "localhost");
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    link.PumpIdle();
    agent.ClearReceived();
    boxes.Clear();
    return d;
  }
  static std::vector<Row> Rows(CShutdownDlg* d) {
    std::vector<Row> out;
    for (const TimeLineRow& r : d->Rows()) {
      const TimeLineBar b = d->BarOf(r);
      out.emplace_back(r.text.toStdString(), static_cast<int>(b.colour), b.from, b.to);
    }
    return out;
  }
  template <class P>
  static P* Page(ShutdownPageId id) {
    return static_cast<P*>(ShutdownPage::OpenPage(id));
  }
  static void Set(QWidget* d, int id, const QString& text) {
    d->findChild<QLineEdit*>(ControlName(id))->setText(text);
  }
  static void Click(QWidget* d, int id) { d->findChild<QAbstractButton*>(ControlName(id))->click(); }
  // The entries of a combo box that name IPX hosts.
  static QStringList IpxEntries(QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
      if (combo->itemText(i).endsWith(" - (Remote Server)")) out << combo->itemText(i);
    return out;
  }
  static std::vector<std::string> RowTexts(CShutdownDlg* d) {
    std::vector<std::string> texts;
    for (const TimeLineRow& r : d->Rows()) texts.push_back(r.text.toStdString());
    return texts;
  }

  // Outlives the dialogs (gone by TearDown).
  std::optional<ScopedIpxSearch> ipx_;
};

constexpr int R = 1, Y = 2, B = 3, G = 4, N = 0;

TEST_F(ShutdownTest, RowsAndBarsFollowEachRowsKindAndClient) {
  struct Case {
    const char* name;
    int total, start, os, admin, user;  // user < 0: not supported
    bool load;
    int segment;
    uint16_t down;
    std::vector<Client> clients;
    std::vector<Row> rows;
  };
  const std::vector<Case> cases{
      {"local only, no user warnings",
       7,
       5,
       120,
       1,
       -1,
       false,
       255,
       0,
       {},
       {{"local machine, start shutdown", B, 0, 5},
        {"local machine, operating system shutdown", Y, 5, 7},
        {"local machine, warn administrator", R, 0, 1}}},
      {"load segment, 91 s round up",
       20,
       10,
       180,
       2,
       3,
       true,
       1,
       91,
       {},
       {{"local machine, start shutdown", B, 0, 10},
        {"local machine, operating system shutdown", Y, 10, 13},
        {"local machine, turn off non-critical load - 2", G, 0, 2},
        {"local machine, warn administrator", R, 0, 2},
        {"local machine, warn user", R, 0, 3}}},
      {"load control without a segment, 90 s",
       20,
       10,
       180,
       2,
       -1,
       true,
       255,
       90,
       {},
       {{"local machine, start shutdown", B, 0, 10},
        {"local machine, operating system shutdown", Y, 10, 13},
        {"local machine, turn off non-critical load - None", N, 0, 0},
        {"local machine, warn administrator", R, 0, 2}}},
      {"clients whose names hold one another or a keyword",
       1800,
       30,
       120,
       0,
       -1,
       false,
       255,
       0,
       {{"ups", "10.0.0.1", 2, 9}, {"ups2", "10.0.0.2", 3, 8}, {"shutdownsrv", "10.0.0.3", 4, 6}},
       {{"local machine, start shutdown", B, 0, 30},
        {"local machine, operating system shutdown", Y, 30, 32},
        {"local machine, warn administrator", R, 0, 0},
        {"ups, start shutdown", B, 0, 9},
        {"ups, administrator warning", R, 0, 2},
        {"ups2, start shutdown", B, 0, 8},
        {"ups2, administrator warning", R, 0, 3},
        {"shutdownsrv, start shutdown", B, 0, 6},
        {"shutdownsrv, administrator warning", R, 0, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent(c.total, c.start, c.os, c.admin, c.user);
    Segments(c.load ? 3 : 0, c.segment, c.down);
    Functions(c.load, false);
    QPointer<CShutdownDlg> d = Open();
    Clients(d, c.clients);
    EXPECT_EQ(Rows(d), c.rows);
    EXPECT_EQ(d->Control<QLabel>(IDC_TIMELINE_RIGHT)->text(), QString::number(c.total + 1));
    // A minute keeps a width on any scale: the start bar is drawn, and ticks never crowd.
    TimeLineView* view = d->View();
    EXPECT_GT(view->MinuteX(c.start), view->MinuteX(0));
    const std::vector<int> ticks = view->Ticks();
    for (size_t i = 1; i < ticks.size(); ++i)
      EXPECT_GE(view->MinuteX(ticks[i]) - view->MinuteX(ticks[i - 1]), 3);
    const std::vector<int> major = view->MajorTicks();
    ASSERT_FALSE(major.empty());
    if (c.total <= 10) {
      EXPECT_EQ(major.front(), 2);
    }
    if (c.total > 10 && c.total < 100) {
      EXPECT_EQ(major.front(), 5);
    }
    // Every bar of some length shows, in its colour on its row, however long the scale.
    const QImage shown = view->grab().toImage();
    for (int r : view->PaintedRows()) {
      const TimeLineBar bar = d->BarOf(d->Rows()[static_cast<size_t>(r)]);
      if (bar.colour == BarColour::None || bar.to <= bar.from) continue;
      const QRgb colour = bar.colour == BarColour::Red      ? qRgb(255, 0, 0)
                          : bar.colour == BarColour::Yellow ? qRgb(255, 255, 0)
                          : bar.colour == BarColour::Blue   ? qRgb(0, 0, 255)
                                                            : qRgb(0, 255, 0);
      const int y = view->RowY(r) * shown.height() / view->height();
      int pixels = 0;
      for (int x = 0; x < shown.width(); ++x) pixels += shown.pixel(x, y) == colour ? 1 : 0;
      EXPECT_GE(pixels, 3 * shown.width() / view->width())
          << d->Rows()[static_cast<size_t>(r)].text.toStdString();
    }
    if (std::string(c.name).rfind("clients", 0) == 0) Screenshot(d, "shutdown_dlg_clients");
    if (std::string(c.name).rfind("load segment", 0) == 0) Screenshot(d, "shutdown_dlg");
    d->Control<QPushButton>(IDCANCEL)->click();
    link.PumpIdle();
  }
}

// Before the agent's settings arrive no time line is drawn from the image's defaults; with
// the last of them the rows come.
TEST_F(ShutdownTest, NoTimeLineBeforeTheAgentsSettingsArrive) {
  Agent(30, 20, 120, 1, 2);
  agent.MarkAllFresh();
  QPointer<CShutdownDlg> d = new CShutdownDlg(nullptr, "localhost");
  EXPECT_TRUE(d->Rows().empty());
  EXPECT_EQ(d->List()->count(), 0);
  EXPECT_TRUE(d->View()->Ticks().empty());
  Screenshot(d, "shutdown_dlg_waiting");
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  link.PumpIdle();
  EXPECT_FALSE(d->Rows().empty());
  EXPECT_FALSE(d->View()->Ticks().empty());
}

TEST_F(ShutdownTest, ScrollingRepaintsTheBarsOfTheVisibleRows) {
  Agent(30, 20, 120, 1, 2);
  std::vector<Client> many;
  static const char* names[] = {"c01", "c02", "c03", "c04", "c05", "c06", "c07", "c08"};
  static const char* ips[] = {"10.0.1.1", "10.0.1.2", "10.0.1.3", "10.0.1.4",
                              "10.0.1.5", "10.0.1.6", "10.0.1.7", "10.0.1.8"};
  for (int i = 0; i < 8; ++i) many.push_back({names[i], ips[i], 1, static_cast<uint8_t>(10 + i)});
  QPointer<CShutdownDlg> d = Open();
  Clients(d, many);
  d->show();
  QTest::qWait(50);
  d->View()->repaint();
  ASSERT_FALSE(d->View()->PaintedRows().empty());
  EXPECT_EQ(d->View()->PaintedRows().front(), 0);
  d->List()->verticalScrollBar()->setValue(d->List()->verticalScrollBar()->maximum());
  d->View()->repaint();
  ASSERT_FALSE(d->View()->PaintedRows().empty());
  EXPECT_GT(d->View()->PaintedRows().front(), 0);
  EXPECT_EQ(d->View()->PaintedRows().back(), static_cast<int>(d->Rows().size()) - 1);
  Screenshot(d, "shutdown_dlg_scrolled");
}

TEST_F(ShutdownTest, DeleteAndOkSendTheBlocks) {
  Agent(20, 10, 120);
  Agent(20, 10, 120, 1);
  QPointer<CShutdownDlg> d = Open();
  Clients(d, {{"ups", "10.0.0.1", 2, 9}, {"ups2", "10.0.0.2", 3, 8}});
  d->List()->setCurrentRow(0);
  Click(d, IDC_TIMELINE_DELETE);
  EXPECT_TRUE(boxes.Saw("Cannot delete local machine."));
  d->List()->setCurrentRow(3);  // "ups, start shutdown": "ups2" stays
  Click(d, IDC_TIMELINE_DELETE);
  std::vector<std::string> texts;
  for (const TimeLineRow& r : d->Rows()) texts.push_back(r.text.toStdString());
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "local machine, start shutdown", "local machine, operating system shutdown",
                "local machine, warn administrator", "ups2, start shutdown", "ups2, administrator warning"}));
  d->AddMachine("ups2");  // listed: nothing added
  EXPECT_EQ(d->Rows().size(), 5u);
  Click(d, IDOK);
  link.PumpIdle();
  std::vector<std::vector<uint8_t>> keys;
  for (const KT_ScpMessage& m : agent.ReceivedSets()) keys.push_back(m.key);
  EXPECT_EQ(keys, (std::vector<std::vector<uint8_t>>{{5}, {4, 2}, {4, 9, 1}}));
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().config.PowerEventClients().Count(), 1);
}

TEST_F(ShutdownTest, PagesFollowTheUpsFunctions) {
  struct Case {
    bool load, clients;
    bool programsNext;
    int afterNext;  // -1 none
  };
  const std::vector<Case> cases{{false, false, false, -1},
                                {true, false, true, static_cast<int>(ShutdownPageId::LoadSegment)},
                                {false, true, true, static_cast<int>(ShutdownPageId::Clients)},
                                {true, true, true, static_cast<int>(ShutdownPageId::LoadSegment)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.load << c.clients);
    Segments(c.load ? 3 : 0, 255, 0);
    Functions(c.load, c.clients);
    QPointer<CShutdownDlg> d = Open();
    Click(d, IDC_TIMELINE_CONFIGURE);
    auto* ups = Page<ShutdownUpsPage>(ShutdownPageId::Ups);
    ASSERT_NE(ups, nullptr);
    Click(ups, IDC_PAGE_NEXT);
    link.PumpIdle();
    auto* programs = Page<ShutdownProgramsPage>(ShutdownPageId::Programs);
    ASSERT_NE(programs, nullptr);
    EXPECT_EQ(ShutdownPage::OpenPage(ShutdownPageId::Ups), nullptr);
    auto* next = programs->findChild<QPushButton*>(ControlName(IDC_PAGE_NEXT));
    EXPECT_EQ(next != nullptr, c.programsNext);
    if (next != nullptr && !c.load) {
      // The UPS information changes while the page is open (an agent started again, still
      // finding its UPS): Next, with no page left to open, is disabled, then enabled again.
      Functions(false, false);
      link.PumpFor(1200);
      EXPECT_FALSE(next->isEnabled());
      Screenshot(programs, "programs_page_next_disabled");
      Functions(c.load, c.clients);
      link.PumpFor(1200);
      EXPECT_TRUE(next->isEnabled());
    }
    if (next != nullptr) {
      next->click();
      link.PumpIdle();
      EXPECT_NE(ShutdownPage::OpenPage(static_cast<ShutdownPageId>(c.afterNext)), nullptr);
    }
    CloseAllWindows();
    link.PumpIdle();
  }
}

TEST_F(ShutdownTest, UpsAndProgramsPagesCheckTheirTimes) {
  struct Ups {
    const char *total, *start, *admin, *user;
    const char* refusal;  // "" passes
    bool warned;          // 3711
  };
  const std::vector<Ups> ups{
      {"480", "10", "0", "0", "", false},
      {"481", "10", "0", "0", "", true},
      {"1799", "10", "0", "0", "", true},
      {"1800", "10", "0", "0", "", false},
      {"1801", "10", "0", "0", "Total battery time is out of range!", false},
      {"20", "20", "0", "0", "Time on battery before starting shutdown is out of range!", false},
      {"20", "10", "10", "10", "", false},
      {"20", "10", "11", "0", "The time to wait before warning the administrator", false},
      {"20", "10", "0", "11", "The time to wait before warning the users", false},
  };
  Agent(20, 10, 120, 1, 1);
  agent.MarkAllFresh();
  auto* d = Open();
  Click(d, IDC_TIMELINE_CONFIGURE);
  auto* page = Page<ShutdownUpsPage>(ShutdownPageId::Ups);
  ASSERT_NE(page, nullptr);
  Screenshot(page, "ups_page");
  for (const Ups& c : ups) {
    SCOPED_TRACE(c.total + std::string("/") + c.start + "/" + c.admin + "/" + c.user);
    boxes.Clear();
    Set(page, IDC_UPS_TOTAL, c.total);
    Set(page, IDC_UPS_START, c.start);
    Set(page, IDC_UPS_ADMIN, c.admin);
    Set(page, IDC_UPS_USER, c.user);
    EXPECT_EQ(page->Validate(), *c.refusal == '\0');
    if (*c.refusal != '\0') {
      EXPECT_TRUE(boxes.Saw(c.refusal));
    }
    EXPECT_EQ(boxes.Saw("Setting the total Battery Runtime"), c.warned);
  }
  // Applied: the blocks and the time line change; the warnings are action records.
  Set(page, IDC_UPS_TOTAL, "30");
  Set(page, IDC_UPS_START, "12");
  Set(page, IDC_UPS_ADMIN, "4");
  Set(page, IDC_UPS_USER, "6");
  Click(page, IDOK);
  EXPECT_EQ(Rows(d)[0], Row("local machine, start shutdown", B, 0, 12));
  EXPECT_EQ(CShutdownDlg::GetWarningTime(ACTION_USER_WARNING), 6);
  EXPECT_EQ(CShutdownDlg::GetWarningTime(ACTION_CONSOLE_WARNING), 4);

  struct Programs {
    int model;
    bool bit33;
    const char* os;
    const char* refusal;
  };
  const std::vector<Programs> programs{
      {8, false, "3", ""},
      {9, false, "10", ""},
      {8, false, "4", "APC UPS can only accept"},
      {0, false, "4", ""},
      {0, false, "5", "between 1 and 4 minutes"},
      {0, true, "479", "exceeds the total battery time"},  // 479 + 12 > 30
      {0, true, "18", ""},
      {0, true, "19", "exceeds the total battery time"},
  };
  Click(d, IDC_TIMELINE_CONFIGURE);
  Click(Page<ShutdownUpsPage>(ShutdownPageId::Ups), IDC_PAGE_NEXT);
  auto* p = Page<ShutdownProgramsPage>(ShutdownPageId::Programs);
  ASSERT_NE(p, nullptr);
  for (const Programs& c : programs) {
    SCOPED_TRACE(std::to_string(c.model) + "/" + c.os);
    {
      auto lock = gScp.Lock();
      gScp.upsInfo.SetModelIndex(c.model);
      c.bit33 ? gScp.upsInfo.SetFunctionSupported(3, 3) : gScp.upsInfo.ClearFunctionSupported(3, 3);
    }
    boxes.Clear();
    Set(p, IDC_PROG_OS_TIME, c.os);
    EXPECT_EQ(p->Validate(), *c.refusal == '\0');
    if (*c.refusal != '\0') {
      EXPECT_TRUE(boxes.Saw(c.refusal));
    }
  }
  // A command box on without a command is refused; both off clear the stored command.
  Set(p, IDC_PROG_OS_TIME, "3");
  p->findChild<QCheckBox*>(ControlName(IDC_PROG_RUN_COMMAND))->setChecked(true);
  Set(p, IDC_PROG_COMMAND, "");
  boxes.Clear();
  EXPECT_FALSE(p->Validate());
  EXPECT_TRUE(boxes.Saw("please provide the filename"));
  files.QueueAnswer(QStringLiteral("/opt/site/pre-shutdown.sh"));
  Click(p, IDC_PROG_BROWSE);
  EXPECT_EQ(p->findChild<QLineEdit*>(ControlName(IDC_PROG_COMMAND))->text(), "/opt/site/pre-shutdown.sh");
  // Not the local agent: no File Saver.
  EXPECT_TRUE(p->findChild<QPushButton*>(ControlName(IDC_PROG_SETUP_SAVER))->isHidden());
  Screenshot(p, "programs_page");
  EXPECT_TRUE(p->Validate() && p->Apply());
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.config.GetPreShutdownCommand(), std::optional<std::string>("/opt/site/pre-shutdown.sh"));
    EXPECT_EQ(gScp.config.GetOsShutdownTime(), 180);
  }
  p->findChild<QCheckBox*>(ControlName(IDC_PROG_RUN_COMMAND))->setChecked(false);
  p->findChild<QCheckBox*>(ControlName(IDC_PROG_LOW_BATTERY))->setChecked(false);
  EXPECT_TRUE(p->Validate() && p->Apply());
  // Back with a time refused goes back all the same: nothing applied, the page left as entered.
  Set(p, IDC_PROG_OS_TIME, "0");
  ExpectBackLeaves(p, ShutdownPageId::Ups);
  EXPECT_EQ(Text(p, IDC_PROG_OS_TIME), "0");
  auto lock = gScp.Lock();
  EXPECT_FALSE(gScp.config.GetPreShutdownCommand().has_value());
  EXPECT_EQ(gScp.config.GetOsShutdownTime(), 180);
}

// The pages open with values the UPS takes: a held value it does not take shows as the
// nearest one it does, noted with why; opening changes nothing, and OK sets what was shown.
TEST_F(ShutdownTest, PagesOpenWithValuesTheUpsTakes) {
  struct Case {
    // model, long delays (3, 3), total, start, os s, admin s, user s (-1: none), down s (-1: no
    // segment), up s
    std::vector<int> held;
    const char* shown;  // total start admin user | os [| down up]
    const char* note;   // one of the notes' lines, "" for no note
  };
  const std::vector<Case> cases{
      {{8, 1, 7, 5, 120, 0, -1, -1, 0},
       "8 5 0 0 | 3",
       "Operating system shutdown time: 3 minutes, was 2 minutes; this UPS takes 3, 5 or 10 minutes."},
      {{9, 0, 20, 8, 250, 60, -1, -1, 0},
       "20 8 1 0 | 5",
       "Operating system shutdown time: 5 minutes, was 250 seconds; the page sets whole minutes."},
      {{8, 1, 1800, 1799, 300, 0, -1, -1, 0},
       "1800 1795 0 0 | 5",
       "Wait before the shutdown starts: 1795 minutes, was 1799 minutes; the operating system's 5 minutes "
       "follow it within the total."},
      {{1, 0, 7, 5, 120, 0, 4, 420, 600},
       "7 5 0 0 | 2 | 4 5",
       "Wait before turning it on again: 5 minutes, was 10 minutes; at most 5 minutes."},
      {{4, 0, 7, 5, 120, 0, -1, -1, 0}, "7 5 0 0 | 2", ""},
      {{1, 0, 7, 5, 600, 0, -1, -1, 0},
       "9 5 0 0 | 4",
       "Operating system shutdown time: 4 minutes, was 10 minutes; this UPS takes 1 to 4 minutes."},
      {{2, 1, 20, 5, 120, 420, 4, -1, 0},
       "20 5 5 0 | 2",
       "Wait before warning the administrator: 5 minutes, was 7 minutes; no warning comes after the shutdown "
       "has started."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    const std::vector<int> h(c.held.begin() + 2, c.held.end());
    const bool load = h[5] >= 0;
    Agent(h[0], h[1], h[2], h[3], h[4], 1);
    Segments(load ? 3 : 0, load ? 1 : 255, static_cast<uint16_t>(h[5]), static_cast<uint16_t>(h[6]));
    Functions(load, false, c.held[0], c.held[1] == 1);
    QPointer<CShutdownDlg> d = Open();
    const auto held = [&](KT_SCP& scp) {  // as the pages show it: minutes, or seconds ("4s")
      auto lock = scp.Lock();
      const auto m = [](int s) {
        return s % 60 == 0 ? QString::number(s / 60) : QStringLiteral("%1s").arg(s);
      };
      KT_ActionEntry admin, user;
      scp.notify.FindAction(3, ACTION_CONSOLE_WARNING, admin);
      scp.notify.FindAction(3, ACTION_USER_WARNING, user);
      return QStringLiteral("%1 %2 %3 %4 | %5")
                 .arg(scp.config.GetTotalBatteryTime())
                 .arg(scp.config.GetShutdownStartDelay())
                 .arg(m(admin.delay), m(user.delay), m(scp.config.GetOsShutdownTime())) +
             (load ? " | " + m(scp.receptacles.GetDownDelay(1)) + " " + m(scp.receptacles.GetUpDelay(1))
                   : "");
    };
    const QString before = held(gScp);
    Click(d, IDC_TIMELINE_CONFIGURE);
    ShutdownPage* page = ShutdownPage::OpenPage(ShutdownPageId::Ups);
    QStringList shown{Text(page, IDC_UPS_TOTAL), Text(page, IDC_UPS_START), Text(page, IDC_UPS_ADMIN),
                      Text(page, IDC_UPS_USER)};
    QStringList notes = page->FitNote();
    EXPECT_EQ(page->findChild<QWidget*>(ControlName(IDC_PAGE_NOTE))->isHidden(), notes.isEmpty());
    if (&c == &cases[0]) Screenshot(page, "ups_page_fitted");
    EXPECT_EQ(held(gScp), before);  // opening changed nothing
    Click(page, IDC_PAGE_NEXT);
    page = ShutdownPage::OpenPage(ShutdownPageId::Programs);
    shown << "|" << Text(page, IDC_PROG_OS_TIME);
    notes += page->FitNote();
    if (load) {
      Click(page, IDC_PAGE_NEXT);
      page = ShutdownPage::OpenPage(ShutdownPageId::LoadSegment);
      auto* down = page->findChild<QSpinBox*>(ControlName(IDC_LOAD_DOWN));
      auto* up = page->findChild<QSpinBox*>(ControlName(IDC_LOAD_UP));
      shown << "|" << down->text() << up->text();
      const QStringList loadNotes = page->FitNote();
      notes += loadNotes;
      Screenshot(page, "load_segment_page_fitted");
      // The note stays while the held segment stays chosen; after NONE (which resets the
      // delays) and the segment again it no longer says what OK sets, and goes.
      QComboBox* combo = static_cast<ShutdownLoadSegmentPage*>(page)->Segments();
      const int held = combo->currentIndex();
      const int shownDown = down->value();
      const int shownUp = up->value();
      const struct {
        int choice;
        bool note;
      } choices[] = {{held, !loadNotes.isEmpty()}, {combo->count() - 1, false}, {held, false}};
      for (const auto& k : choices) {
        combo->setCurrentIndex(k.choice);
        emit combo->activated(k.choice);
        EXPECT_EQ(page->FitNote().join('\n').toStdString(), k.note ? loadNotes.join('\n').toStdString() : "");
        EXPECT_EQ(page->findChild<QWidget*>(ControlName(IDC_PAGE_NOTE))->isHidden(), !k.note);
      }
      down->setValue(shownDown);
      up->setValue(shownUp);
      Screenshot(page, "load_segment_page_chosen_again");
    }
    EXPECT_EQ(shown.join(' ').toStdString(), c.shown);
    EXPECT_TRUE(*c.note == '\0' ? notes.isEmpty() : notes.contains(c.note)) << notes.join('\n').toStdString();
    Click(page, IDOK);
    Click(d, IDOK);
    link.PumpIdle();
    EXPECT_EQ(boxes.Count(), 0) << boxes.Boxes()[0].text.toStdString();
    EXPECT_EQ(held(agent.scp()).toStdString(), c.shown);  // OK set what was shown
  }
}

TEST_F(ShutdownTest, LoadSegmentPageOffersTheSegmentsAndChecksItsDelays) {
  Agent(20, 10, 120);
  Segments(12, 255, 0);
  Functions(true, false);
  QPointer<CShutdownDlg> d = Open();
  auto* page = static_cast<ShutdownLoadSegmentPage*>(
      ShutdownPage::CreatePage(ShutdownPageId::LoadSegment, d, "localhost"));
  QComboBox* combo = page->Segments();
  ASSERT_EQ(combo->count(), 13);
  EXPECT_EQ(combo->itemText(9), "10");  // decimal beyond 9
  EXPECT_EQ(combo->currentText(), "NONE");
  EXPECT_TRUE(page->findChild<QSpinBox*>(ControlName(IDC_LOAD_DOWN))->isHidden());
  combo->setCurrentIndex(1);
  emit combo->activated(1);
  auto* down = page->findChild<QSpinBox*>(ControlName(IDC_LOAD_DOWN));
  auto* up = page->findChild<QSpinBox*>(ControlName(IDC_LOAD_UP));
  EXPECT_FALSE(down->isHidden());
  // The arrows stay within 0..5; typing may go beyond, and is refused.
  up->setValue(5);
  up->stepBy(3);
  EXPECT_EQ(up->value(), 5);
  Agent(300, 290, 120);
  agent.MarkAllFresh();
  {
    auto lock = gScp.Lock();
    gScp.config.SetTotalBatteryTime(300);
    gScp.config.SetShutdownStartDelay(290);
  }
  struct Case {
    int down, up;
    const char* refusal;
  };
  const std::vector<Case> cases{{255, 5, ""},
                                {256, 0, "The time must be less than 255."},
                                {0, 6, "The time must be less than 5."},
                                {290, 0, "less than \nthe time to wait before starting"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.down) + "/" + std::to_string(c.up));
    boxes.Clear();
    down->setValue(c.down);
    up->setValue(c.up);
    EXPECT_EQ(page->Validate(), *c.refusal == '\0');
    if (*c.refusal != '\0') {
      EXPECT_TRUE(boxes.Saw(c.refusal));
    }
  }
  // Back with a delay refused: nothing is applied.
  ExpectBackLeaves(page, ShutdownPageId::Programs);
  EXPECT_EQ(down->value(), 290);
  EXPECT_EQ(agent.scp().receptacles.GetNonCriticalSegment(), 255);
  down->setValue(3);
  up->setValue(1);
  Screenshot(page, "load_segment_page");
  Click(page, IDOK);
  link.PumpIdle();
  // The notice after OK rebuilds the time line: the load row names segment 2.
  bool found = false;
  for (const TimeLineRow& r : d->Rows())
    if (r.kind == TimeLineKind::LocalLoad) {
      found = true;
      EXPECT_EQ(r.text, "local machine, turn off non-critical load - 2");
      EXPECT_EQ(d->BarOf(r).to, 3);
    }
  EXPECT_TRUE(found);
}

TEST_F(ShutdownTest, ClientsPageSearchesAddsAndChecksTheDelays) {
  if (!Network()) GTEST_SKIP() << "needs a network of its own";
  // Two agents, and a subnet between them that cannot be sent to.
  UdpResponder first, second;
  ASSERT_TRUE(first.Start(htonl(0x7F000001)));
  ASSERT_TRUE(second.Start(htonl(0x7F000002)));
  {
    std::ofstream f(File("cfsubnet.dat"));
    f << "127.0.0.1\nno-such-subnet\n127.0.0.2\n";
  }
  Agent(20, 10, 120);
  Functions(false, true);
  QPointer<CShutdownDlg> d = Open();
  Clients(d, {{"127.0.0.1", "127.0.0.1", 1, 3}});
  auto* page =
      static_cast<ShutdownClientsPage*>(ShutdownPage::CreatePage(ShutdownPageId::Clients, d, "localhost"));
  EXPECT_EQ(page->Found().Count(), 2);
  EXPECT_TRUE(boxes.Saw("Unable to search subnet no-such-subnet"));
  EXPECT_EQ(page->findChild<QLineEdit*>(ControlName(IDC_CLIENTS_SHUTDOWN))->text(), "9");
  QComboBox* clients = page->Clients();
  clients->setCurrentIndex(
      clients->findText(QString::fromUtf8(page->Found().Clients().front().address.GetHostName())));
  const QString entry = clients->currentText();
  struct Case {
    const char *password, *shut, *warn, *refusal;
  };
  const std::vector<Case> cases{
      {"", "9", "2", "Need to select a network client"},
      {"pw", "300", "2", "The client's delays must be between 0 and 254 minutes."},
      {"pw", "9", "255", "The client's delays must be between 0 and 254 minutes."},
      {"pw", "20", "10", "warning time for the"},  // not below the agent's start delay
      {"pw", "4", "4", "warning time for the"},    // not below the client's shutdown delay
      {"pw", "9", "2", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.password) + "/" + c.shut + "/" + c.warn);
    boxes.Clear();
    Set(page, IDC_CLIENTS_PASSWORD, c.password);
    Set(page, IDC_CLIENTS_SHUTDOWN, c.shut);
    Set(page, IDC_CLIENTS_WARNING, c.warn);
    EXPECT_EQ(page->Validate(), *c.refusal == '\0');
    if (*c.refusal != '\0') {
      EXPECT_TRUE(boxes.Saw(c.refusal));
    }
  }
  Screenshot(page, "clients_page");
  Click(page, IDC_CLIENTS_ADD);
  {
    // Each client once; a re-added one keeps its scheduled-shutdown lead.
    auto lock = gScp.Lock();
    KT_NetClientList& list = gScp.config.PowerEventClients();
    ASSERT_EQ(list.Count(), entry == "127.0.0.1" || entry == "localhost" ? 1 : 2);
    KT_Address a(ADDRESS_IP);
    a.SetAddressString("127.0.0.1");
    if (KT_NetClient* c = list.FindByAddress(a); c != nullptr && c->warn_delay == 2) {
      EXPECT_EQ(c->shut_delay, 9);
      EXPECT_EQ(c->time_shut_delay, 7);
    }
  }
  EXPECT_GE(d->Rows().size(), 5u);
  // Back with a client refused adds nothing.
  Set(page, IDC_CLIENTS_WARNING, "9");
  ExpectBackLeaves(page, ShutdownPageId::Programs);
  EXPECT_EQ(gScp.config.PowerEventClients().Clients().back().warn_delay, 2);
  Click(ShutdownPage::OpenPage(ShutdownPageId::Programs), IDCANCEL);
  // Back without a password adds nothing and goes back.
  Set(page, IDC_CLIENTS_PASSWORD, "");
  boxes.Clear();
  Click(page, IDC_PAGE_BACK);
  link.PumpIdle();
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_NE(ShutdownPage::OpenPage(ShutdownPageId::Programs), nullptr);
  std::ifstream f(File("cfsubnet.dat"));
  std::string written((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "127.0.0.2\nno-such-subnet\n127.0.0.1\n");
  std::ofstream copy(trem_harness::ScreenshotDir(ScreenshotTopic()).toStdString() + "/cfsubnet.dat");
  copy << written;
}

// An agent reached by IPX: listed with " - (Remote Server)" when the agent's computer may
// be searched by IPX, kept in the client list under its name alone with its IPX address,
// re-added by that address, deleted by its name.
TEST_F(ShutdownTest, IpxClientsCarryTheSuffixOnlyInTheLists) {
  ipx_.emplace(std::initializer_list<KT_Discover*>{&gClientDiscovery});
  net_fakes::FakeIpxOps& ipx = ipx_->ipx;
  Agent(20, 10, 120);
  Functions(false, true);
  QPointer<CShutdownDlg> d = Open();
  struct Case {
    const char* agent;
    int second, third, os;
    QStringList listed;
  };
  const std::vector<Case> cases{
      {"version 0.36", 0, 36, 3, {}},
      {"on Linux", 2, 1, kOsTypeLinux, {}},
      {"on Windows NT", 2, 1, 3, {"NWSRV - (Remote Server)", "SALES - (Remote Server)"}},
  };
  ShutdownClientsPage* page = nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.agent);
    {
      auto lock = gScp.Lock();
      gScp.upsInfo.SetSoftwareVersion(c.second, c.third);
      gScp.upsInfo.SetOsType(c.os);
    }
    ipx.incoming.clear();
    ipx.sent.clear();
    // A file server among the answers is no agent.
    ipx.Queue(Sap(kSapNearestResponse, {{kSapServerType, "SALES", 3}, {0x0004, "FILESRV", 2}}));
    ipx.Queue(Sap(kSapGeneralResponse, {{kSapServerType, "NWSRV", 1}}));
    if (page != nullptr) Click(page, IDCANCEL);
    link.PumpIdle();
    page =
        static_cast<ShutdownClientsPage*>(ShutdownPage::CreatePage(ShutdownPageId::Clients, d, "localhost"));
    EXPECT_EQ(IpxEntries(page->Clients()), c.listed);
    EXPECT_EQ(ipx.sent.size(), c.listed.isEmpty() ? 0u : 2u);
  }
  QComboBox* combo = page->Clients();
  combo->setCurrentIndex(combo->findText("NWSRV - (Remote Server)"));
  Screenshot(page, "clients_page_ipx");
  struct Add {
    const char* shut;
    uint8_t timeShutDelay;  // what the listed client holds before
  };
  for (const Add& a : {Add{"9", 0}, Add{"8", 7}}) {
    SCOPED_TRACE(a.shut);
    {
      auto lock = gScp.Lock();
      for (KT_NetClient& listed : gScp.config.PowerEventClients().Clients())
        listed.time_shut_delay = a.timeShutDelay;
    }
    Set(page, IDC_CLIENTS_PASSWORD, "pw");
    Set(page, IDC_CLIENTS_SHUTDOWN, a.shut);
    Set(page, IDC_CLIENTS_WARNING, "2");
    boxes.Clear();
    Click(page, IDC_CLIENTS_ADD);
    EXPECT_EQ(boxes.Count(), 0);
    auto lock = gScp.Lock();
    KT_NetClientList& list = gScp.config.PowerEventClients();
    ASSERT_EQ(list.Count(), 1);
    KT_NetClient& stored = list.Clients().front();
    EXPECT_EQ(stored.address.GetType(), ADDRESS_IPX);
    EXPECT_STREQ(stored.address.GetHostName(), "NWSRV");
    EXPECT_EQ(stored.address.Node()[5], 1);
    EXPECT_EQ(stored.shut_delay, std::stoi(a.shut));
    EXPECT_EQ(stored.time_shut_delay, a.timeShutDelay);
  }
  const std::vector<std::string> local{"local machine, start shutdown",
                                       "local machine, operating system shutdown",
                                       "local machine, warn administrator"};
  std::vector<std::string> withClient = local;
  withClient.insert(withClient.end(), {"NWSRV - (Remote Server), start shutdown",
                                       "NWSRV - (Remote Server), administrator warning"});
  EXPECT_EQ(RowTexts(d), withClient);
  EXPECT_EQ(Rows(d)[3], Row("NWSRV - (Remote Server), start shutdown", B, 0, 8));
  Screenshot(d, "shutdown_dlg_ipx");

  // Deleted by its name: on the page, and on the time line.
  Click(page, IDC_CLIENTS_DELETE);
  EXPECT_EQ(RowTexts(d), local);
  Click(page, IDC_CLIENTS_ADD);
  EXPECT_EQ(RowTexts(d), withClient);
  d->List()->setCurrentRow(4);
  boxes.Clear();
  Click(d, IDC_TIMELINE_DELETE);
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_EQ(RowTexts(d), local);
  auto lock = gScp.Lock();
  EXPECT_EQ(gScp.config.PowerEventClients().Count(), 0);
}

}  // namespace
