// The scheduled-shutdown dialog against the in-process agent, under TZ=Europe/Berlin and the C
// locale on the manual clock (Wednesday 25 March 2026, 10:00).
#include "dialogs/schedule/sched_shutdown_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <optional>

#include "core/scp/local_calendar.h"
#include "dialogs/discovery/network_configuration.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/schedule/delay_shutdown_dlg.h"
#include "dialogs/schedule/enter_password_dlg.h"
#include "platform/clock.h"
#include "tests/dialogs/harness/trem_fixture.h"

// The network configuration this dialog opens searches for agents by broadcast: in a network of
// the test program's own, so that the search neither leaves the machine nor reaches another
// test's responder on UDP port 7010.
TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using trem_harness::TremTest;

int64_t At(int y, int mo, int d, int h, int mi) {
  return LocalMoment(LocalDate{y, mo, d}, h, mi);
}

// Set once the zone is Berlin (SetUp).
int64_t kNow = 0;

schedule_struct Once(int64_t start, uint8_t mode = 2, int32_t value = 3600) {
  return schedule_struct{SCHED_ONCE, 0, static_cast<uint32_t>(start), mode, value, -1, 0};
}

template <class D>
D* OpenModal() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<D*>(w); d != nullptr && d->isVisible()) return d;
  }
  return nullptr;
}

class SchedShutdownDlgTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("schedule"); }
  void SetUp() override {
    TremTest::SetUp();
    const char* tz = std::getenv("TZ");
    old_tz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    std::setlocale(LC_ALL, "C");
    kNow = At(2026, 3, 25, 10, 0);
    clock_.Set(kNow);
    platform::SetClock(&clock_);
    {
      auto lock = agent.scp().Lock();
      agent.scp().config.Password().Set("Tulip9");
      agent.scp().receptacles.SetCount(3);
    }
    Ups(false, 0);
  }
  void TearDown() override {
    TremTest::TearDown();
    platform::SetClock(nullptr);
    if (old_tz_)
      setenv("TZ", old_tz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  // The console's image of the UPS: load-segment control and model index.
  static void Ups(bool loadControl, int model) {
    auto lock = gScp.Lock();
    if (loadControl)
      gScp.upsInfo.SetFunctionSupported(3, 7);
    else
      gScp.upsInfo.ClearFunctionSupported(3, 7);
    gScp.upsInfo.SetModelIndex(model);
    gScp.config.Password().Set(KT_Password::kDefaultPassword);
    gScp.schedShutdown.Reset();
  }
  void AgentTable(const std::vector<schedule_struct>& entries) {
    auto lock = agent.scp().Lock();
    agent.scp().schedShutdown.SetEntries(static_cast<int>(entries.size()), entries.data());
  }
  CSchedShutdownDlg* Open() {
    agent.MarkAllFresh();
    auto* d = new CSchedShutdownDlg(nullptr, "localhost");
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    link.PumpIdle();
    agent.ClearReceived();
    boxes.Clear();
    return d;
  }
  static void Choose(KTDialog* d, int id, int index) {
    auto* c = d->Control<QComboBox>(id);
    c->setCurrentIndex(index);
    emit c->activated(index);
  }
  static void Type(KTDialog* d, int id, const QString& text) {
    auto* c = d->Control<QComboBox>(id);
    c->setEditText(text);
    emit c->lineEdit()->textEdited(text);
  }
  static void Click(KTDialog* d, int id) { d->Control<QAbstractButton>(id)->click(); }
  static bool Shown(KTDialog* d, int id) { return !d->Control(id)->isHidden(); }
  // Answers the next password question with each text in turn (the last one closes it, or
  // Cancel when it is empty).
  void AnswerPassword(const QStringList& texts, bool cancel = false) {
    QTimer::singleShot(0, [this, texts, cancel] {
      EnterPasswordDlg* p = OpenModal<EnterPasswordDlg>();
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->windowTitle(), "Enter Password");
      for (int i = 0; i < texts.size(); ++i) {
        p->Control<QLineEdit>(IDC_ENTER_PASSWORD)->setText(texts[i]);
        if (i + 1 < texts.size() || !cancel) p->Control<QPushButton>(IDOK)->click();
      }
      if (cancel) p->Control<QPushButton>(IDCANCEL)->click();
    });
  }
  void AnswerDelay(int index, bool cancel = false) {
    QTimer::singleShot(0, [this, index, cancel] {
      DelayShutdownDlg* p = OpenModal<DelayShutdownDlg>();
      ASSERT_NE(p, nullptr);
      auto* list = p->Control<QComboBox>(IDC_DELAY_MINUTES);
      EXPECT_EQ(list->count(), 12);
      EXPECT_EQ(list->currentIndex(), 0);
      list->setCurrentIndex(index);
      Screenshot(p, "delay_shutdown");
      p->Control<QPushButton>(cancel ? IDCANCEL : IDOK)->click();
    });
  }
  // Next day at 11:00 PM from a start of today 10:30 PM: a valid entry.
  static void ValidOnce(CSchedShutdownDlg* d) {
    Type(d, IDC_SCHED_START_TIME, "10:30");
    Choose(d, IDC_SCHED_START_AMPM, 1);
    Type(d, IDC_SCHED_NEXT_TIME, "11:00");
    Choose(d, IDC_SCHED_NEXT_AMPM, 1);
  }

  platform::ManualClock clock_;
  std::optional<std::string> old_tz_;
};

TEST_F(SchedShutdownDlgTest, OpensWithAndWithoutLoadSegmentControl) {
  struct Case {
    bool loadControl;
    size_t requests;
    QStringList segments;
  };
  for (const Case& c : {Case{false, 2, {}}, Case{true, 3, {"1", "2", "3", "All"}}}) {
    SCOPED_TRACE(c.loadControl);
    Ups(c.loadControl, 0);
    // Two entries for the same minute from the agent are both listed, in start order.
    AgentTable({Once(kNow + 7200), Once(kNow + 3600), Once(kNow + 3600, 0, 0)});
    agent.MarkAllFresh();
    agent.ClearReceived();
    QPointer<CSchedShutdownDlg> d = new CSchedShutdownDlg(nullptr, "localhost");
    // OK does nothing until the last reply is in: one reply per step.
    for (size_t step = 0; step < c.requests; ++step) {
      EXPECT_TRUE(d->IsBusy()) << step;
      Click(d, IDOK);
      EXPECT_FALSE(d.isNull());
      ASSERT_EQ(link.Step(), 1);
      QCoreApplication::processEvents();
    }
    EXPECT_FALSE(d->IsBusy());
    EXPECT_EQ(agent.Received().size(), c.requests);
    EXPECT_EQ(d->windowTitle(), "Configure Scheduled Shutdown (localhost)");
    EXPECT_EQ(Shown(d, IDC_SCHED_LOAD_GROUP), c.loadControl);
    EXPECT_EQ(Shown(d, IDC_SCHED_LOAD), c.loadControl);
    if (c.loadControl) {
      QStringList items;
      auto* load = d->Control<QComboBox>(IDC_SCHED_LOAD);
      for (int i = 0; i < load->count(); ++i) items << load->itemText(i);
      EXPECT_EQ(items, c.segments);
      EXPECT_EQ(load->currentText(), "All");
    }
    EXPECT_TRUE(d->Control<QRadioButton>(IDC_SCHED_ONCE)->isChecked());
    EXPECT_TRUE(d->Control<QRadioButton>(IDC_SCHED_NEXT_DAY)->isChecked());
    EXPECT_TRUE(Shown(d, IDC_SCHED_ON));
    EXPECT_FALSE(Shown(d, IDC_SCHED_SKIP_WEEKENDS));
    EXPECT_FALSE(d->Control(IDC_SCHED_N_DAYS)->isEnabled());
    auto* year = d->Control<QComboBox>(IDC_SCHED_START_YEAR);
    ASSERT_EQ(year->count(), 10);
    EXPECT_EQ(year->itemText(0), "2026");
    EXPECT_EQ(year->itemText(9), "2035");
    EXPECT_EQ(d->Control<QComboBox>(IDC_SCHED_START_TIME)->currentText(), "10:00");
    EXPECT_EQ(d->Control<QComboBox>(IDC_SCHED_WEEKDAY)->currentText(), "Wednesdays");
    auto* list = d->Control<QListWidget>(IDC_SCHED_LIST);
    ASSERT_EQ(d->Rows().size(), 3u);
    EXPECT_EQ(list->item(0)->isSelected(), true);
    EXPECT_TRUE(Shown(d, IDC_SCHED_DELAY));
    for (size_t i = 1; i < d->Rows().size(); ++i)
      EXPECT_LE(d->Rows()[i - 1].entry.startTime, d->Rows()[i].entry.startTime);
    // A later reply for the table (the status view asks for it too) lists nothing again.
    const size_t rows = d->Rows().size();
    d->RequestData(SchedShutdownBlock::kBlockId, 1, 0);
    link.PumpIdle();
    EXPECT_EQ(d->Rows().size(), rows);
    EXPECT_EQ(list->count(), static_cast<int>(rows));
    if (!c.loadControl) Screenshot(d, "sched_once");
    d->OnCancel();
    link.PumpIdle();
    EXPECT_TRUE(d.isNull());
    EXPECT_TRUE(agent.ReceivedSets().empty());
  }
}

TEST_F(SchedShutdownDlgTest, AddChecksInOrder) {
  using Setup = std::function<void(CSchedShutdownDlg*)>;
  struct Case {
    const char* name;
    Setup setup;
    const char* message;  // "" : added
  };
  const Case cases[] = {
      {"N empty", [](CSchedShutdownDlg* d) { Click(d, IDC_SCHED_DAYS); },
       "Please enter the number of days between\neach shutdown."},
      {"N 0",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_DAYS);
         d->Control<QLineEdit>(IDC_SCHED_N_DAYS)->setText("0");
       },
       "Please enter the number of days between\neach shutdown."},
      {"N 70000",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_DAYS);
         d->Control<QLineEdit>(IDC_SCHED_N_DAYS)->setText("70000");
       },
       "Please enter the number of days between\neach shutdown."},
      {"no start", [](CSchedShutdownDlg* d) { Type(d, IDC_SCHED_START_TIME, ""); },
       "Please enter the starting time"},
      {"start unreadable", [](CSchedShutdownDlg* d) { Type(d, IDC_SCHED_START_TIME, "ab"); },
       "Invalid Start Time"},
      {"start 9:75", [](CSchedShutdownDlg* d) { Type(d, IDC_SCHED_START_TIME, "9:75"); },
       "Invalid start time!"},
      {"start past",
       [](CSchedShutdownDlg* d) {
         Type(d, IDC_SCHED_START_TIME, "9:00");
         Choose(d, IDC_SCHED_START_AMPM, 0);
       },
       "The start time is before the current time!"},
      {"no restart", [](CSchedShutdownDlg* d) { Type(d, IDC_SCHED_NEXT_TIME, ""); },
       "Please enter the restart time."},
      {"restart unreadable", [](CSchedShutdownDlg* d) { Type(d, IDC_SCHED_NEXT_TIME, "x"); },
       "Invalid restart time!"},
      {"same day 9:75",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_SAME_DAY);
         Type(d, IDC_SCHED_SAME_TIME, "9:75");
         Choose(d, IDC_SCHED_SAME_AMPM, 1);
       },
       "Invalid restart time!"},
      {"same day before start",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_SAME_DAY);
         Type(d, IDC_SCHED_SAME_TIME, "11:00");
       },
       "The restart time is before the start time!"},
      {"next day 13:75", [](CSchedShutdownDlg* d) { Type(d, IDC_SCHED_NEXT_TIME, "13:75"); },
       "Invalid restart time!"},
      {"after -1",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_AFTER);
         d->Control<QLineEdit>(IDC_SCHED_AFTER_DAYS)->setText("-1");
       },
       "Invalid restart time!"},
      {"after 30000 days",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_AFTER);
         d->Control<QLineEdit>(IDC_SCHED_AFTER_DAYS)->setText("30000");
       },
       "Invalid restart time!"},
      {"on before start",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_ON);
         Type(d, IDC_SCHED_ON_TIME, "10:15");
       },
       "The restart time is before the start time!"},
      {"on before now",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_ON);
         Type(d, IDC_SCHED_ON_TIME, "9:15");
       },
       "The restart time is before the current time!"},
      {"valid", [](CSchedShutdownDlg*) {}, ""},
      {"same text", [](CSchedShutdownDlg* d) { Click(d, IDC_SCHED_ADD); },
       "This entry has already been made."},
      {"same start",
       [](CSchedShutdownDlg* d) {
         Click(d, IDC_SCHED_ADD);
         Click(d, IDC_SCHED_AFTER);
       },
       "An entry with this start time has already been made."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QPointer<CSchedShutdownDlg> d = Open();
    ValidOnce(d);
    c.setup(d);
    const size_t before = d->Rows().size();
    boxes.Clear();
    Click(d, IDC_SCHED_ADD);
    if (*c.message == '\0') {
      EXPECT_EQ(boxes.Count(), 0);
      ASSERT_EQ(d->Rows().size(), before + 1);
      EXPECT_TRUE(d->Modified());
      const schedule_struct& e = d->Rows()[0].entry;
      EXPECT_EQ(e.startTime, static_cast<uint32_t>(At(2026, 3, 25, 22, 30)));
      EXPECT_EQ(e.restartMode, 1);
      EXPECT_EQ(e.restartValue, 24 * 3600 + 1800);
      EXPECT_EQ(e.segment, -1);
      EXPECT_EQ(e.segmentOnly, 0u);
    } else {
      ASSERT_EQ(boxes.Count(), 1);
      EXPECT_EQ(boxes.Boxes()[0].text, c.message);
      EXPECT_EQ(boxes.Boxes()[0].caption, gcsMessageBoxTitle);
      EXPECT_EQ(boxes.Boxes()[0].flags & MB_ICONMASK, MB_ICONEXCLAMATION);
      EXPECT_EQ(d->Rows().size(), before);
    }
    d->OnCancel();
    link.PumpIdle();
  }
}

TEST_F(SchedShutdownDlgTest, FrequencyFormsAndDates) {
  QPointer<CSchedShutdownDlg> d = Open();
  // 31 February is refused and the date shown again.
  Choose(d, IDC_SCHED_START_DATE, 30);
  EXPECT_EQ(d->CurrentStart(), At(2026, 3, 31, 10, 0));
  Choose(d, IDC_SCHED_START_MONTH, 1);
  EXPECT_TRUE(boxes.Saw("Invalid start Date!"));
  EXPECT_EQ(d->Control<QComboBox>(IDC_SCHED_START_MONTH)->currentIndex(), 2);
  EXPECT_EQ(d->CurrentStart(), At(2026, 3, 31, 10, 0));
  Click(d, IDC_SCHED_ON);
  Choose(d, IDC_SCHED_ON_DATE, 30);
  Choose(d, IDC_SCHED_ON_MONTH, 3);
  EXPECT_TRUE(boxes.Saw("Invalid Restart Date!"));
  EXPECT_EQ(d->Control<QComboBox>(IDC_SCHED_ON_MONTH)->currentIndex(), 2);

  // Leaving "Once" with the "On" restart falls back to the same day and hides the On row.
  Click(d, IDC_SCHED_DAY);
  EXPECT_EQ(d->Frequency(), SCHED_DAILY);
  EXPECT_EQ(d->RestartMode(), 0);
  EXPECT_TRUE(d->Control<QRadioButton>(IDC_SCHED_SAME_DAY)->isChecked());
  EXPECT_FALSE(Shown(d, IDC_SCHED_ON));
  EXPECT_TRUE(Shown(d, IDC_SCHED_SAME_TIME));
  EXPECT_TRUE(Shown(d, IDC_SCHED_SKIP_WEEKENDS));
  Click(d, IDC_SCHED_SKIP_WEEKENDS);
  Screenshot(d, "sched_daily");

  Click(d, IDC_SCHED_WEEK);
  EXPECT_FALSE(Shown(d, IDC_SCHED_SKIP_WEEKENDS));
  EXPECT_TRUE(Shown(d, IDC_SCHED_WEEKDAY));
  Choose(d, IDC_SCHED_WEEKDAY, 0);  // Mondays: next Monday
  EXPECT_EQ(d->CurrentStart(), At(2026, 3, 30, 10, 0));
  EXPECT_EQ(d->Control<QComboBox>(IDC_SCHED_START_DATE)->currentIndex(), 29);
  Screenshot(d, "sched_weekly");

  Click(d, IDC_SCHED_MONTH);
  EXPECT_FALSE(Shown(d, IDC_SCHED_WEEKDAY));
  EXPECT_TRUE(Shown(d, IDC_SCHED_FREQ_DATE));
  EXPECT_FALSE(d->Control(IDC_SCHED_START_DATE)->isEnabled());
  Choose(d, IDC_SCHED_FREQ_DATE, 30);  // the 31st: not in April, so 31 March
  EXPECT_EQ(d->CurrentStart(), At(2026, 3, 31, 10, 0));
  Screenshot(d, "sched_monthly");

  Click(d, IDC_SCHED_DAYS);
  EXPECT_TRUE(d->Control(IDC_SCHED_START_DATE)->isEnabled());
  EXPECT_TRUE(d->Control(IDC_SCHED_N_DAYS)->isEnabled());
  d->Control<QLineEdit>(IDC_SCHED_N_DAYS)->setText("14");
  Click(d, IDC_SCHED_AFTER);
  d->Control<QLineEdit>(IDC_SCHED_AFTER_HOURS)->setText("3");
  Screenshot(d, "sched_every_n_days");
  // The N and After texts come back after a detour.
  Click(d, IDC_SCHED_ONCE);
  Click(d, IDC_SCHED_SAME_DAY);
  EXPECT_TRUE(d->Control<QLineEdit>(IDC_SCHED_N_DAYS)->text().isEmpty());
  EXPECT_FALSE(d->Control(IDC_SCHED_AFTER_HOURS)->isEnabled());
  Click(d, IDC_SCHED_DAYS);
  Click(d, IDC_SCHED_AFTER);
  EXPECT_EQ(d->Control<QLineEdit>(IDC_SCHED_N_DAYS)->text(), "14");
  EXPECT_EQ(d->Control<QLineEdit>(IDC_SCHED_AFTER_HOURS)->text(), "3");
  d->OnCancel();
  link.PumpIdle();
}

TEST_F(SchedShutdownDlgTest, DeleteAndDelaySelections) {
  AgentTable({Once(kNow + 3600), Once(kNow + 7200), Once(kNow + 10800)});
  QPointer<CSchedShutdownDlg> d = Open();
  auto* list = d->Control<QListWidget>(IDC_SCHED_LIST);
  list->clearSelection();
  EXPECT_FALSE(Shown(d, IDC_SCHED_DELAY));
  Click(d, IDC_SCHED_DELETE);
  EXPECT_TRUE(boxes.Saw("Please select the shutdown items you wish to remove."));
  EXPECT_TRUE(list->item(0)->isSelected());
  EXPECT_EQ(d->Rows().size(), 3u);
  EXPECT_FALSE(d->Modified());
  EXPECT_TRUE(Shown(d, IDC_SCHED_DELAY));
  list->item(2)->setSelected(true);
  EXPECT_FALSE(Shown(d, IDC_SCHED_DELAY));  // two rows: no delay
  list->item(0)->setSelected(false);
  list->item(1)->setSelected(true);
  Click(d, IDC_SCHED_DELETE);  // the last two: the new last row is selected
  ASSERT_EQ(d->Rows().size(), 1u);
  EXPECT_TRUE(list->item(0)->isSelected());
  EXPECT_TRUE(d->Modified());
  Click(d, IDC_SCHED_DELETE);
  EXPECT_TRUE(d->Rows().empty());
  EXPECT_FALSE(Shown(d, IDC_SCHED_DELAY));
  boxes.Clear();
  Click(d, IDC_SCHED_DELETE);  // an empty list: nothing
  EXPECT_EQ(boxes.Count(), 0);
  d->OnCancel();
  link.PumpIdle();
}

TEST_F(SchedShutdownDlgTest, PostponementsAndTheModifiedMark) {
  // A same-day restart 20 minutes after the start, and an entry 30 minutes later.
  AgentTable({Once(kNow + 3600, 0, 1200), Once(kNow + 3600 + 1800, 2, 600)});
  {
    QPointer<CSchedShutdownDlg> d = Open();
    // Cancel in the delay dialog changes nothing.
    AnswerDelay(1, true);
    Click(d, IDC_SCHED_DELAY);
    EXPECT_EQ(d->Rows()[0].entry, Once(kNow + 3600, 0, 1200));
    // 30 minutes: collides with the second entry's start, so the entry is put back unchanged.
    AnswerDelay(5);
    Click(d, IDC_SCHED_DELAY);
    EXPECT_TRUE(boxes.Saw("An entry with this start time has already been made."));
    ASSERT_EQ(d->Rows().size(), 2u);
    EXPECT_EQ(d->Rows()[0].entry, Once(kNow + 3600, 0, 1200));
    EXPECT_FALSE(d->Modified());
    // OK after only reading: no password, nothing sent.
    Click(d, IDOK);
    link.PumpIdle();
    EXPECT_TRUE(d.isNull());
    EXPECT_TRUE(agent.ReceivedSets().empty());
  }
  {
    // An unsent deletion keeps its mark through a refused postponement.
    AgentTable({Once(kNow + 3600, 0, 1200), Once(kNow + 3600 + 1800, 2, 600), Once(kNow + 9000)});
    QPointer<CSchedShutdownDlg> d = Open();
    d->Control<QListWidget>(IDC_SCHED_LIST)->setCurrentRow(2);
    Click(d, IDC_SCHED_DELETE);
    d->Control<QListWidget>(IDC_SCHED_LIST)->setCurrentRow(0);
    AnswerDelay(5);
    Click(d, IDC_SCHED_DELAY);
    EXPECT_TRUE(d->Modified());
    // 15 minutes: accepted; the restart 20 minutes after the old start stays where it was.
    boxes.Clear();
    d->Control<QListWidget>(IDC_SCHED_LIST)->setCurrentRow(0);
    AnswerDelay(2);
    Click(d, IDC_SCHED_DELAY);
    EXPECT_EQ(boxes.Count(), 0);
    EXPECT_EQ(d->Rows()[0].entry, Once(kNow + 3600 + 900, 0, 300));
    d->OnCancel();
    link.PumpIdle();
  }
}

TEST_F(SchedShutdownDlgTest, OkAsksForTheAgentsPasswordAndSendsTheList) {
  AgentTable({Once(kNow + 86400 * 3)});
  QPointer<CSchedShutdownDlg> d = Open();
  ValidOnce(d);
  Click(d, IDC_SCHED_ADD);
  ASSERT_EQ(d->Rows().size(), 2u);
  // Cancelled: the dialog stays open, nothing sent.
  QTimer::singleShot(0, [this] {
    if (EnterPasswordDlg* p = OpenModal<EnterPasswordDlg>()) {
      p->Control<QLineEdit>(IDC_ENTER_PASSWORD)->setText("Tulip9");
      Screenshot(p, "enter_password");
      p->Control<QPushButton>(IDCANCEL)->click();
    }
  });
  Click(d, IDOK);
  EXPECT_FALSE(d.isNull());
  // Empty and wrong (the built-in default is not the agent's password): refused, then right.
  boxes.Clear();
  AnswerPassword({"", "4Tulip", "Tulip9"});
  Click(d, IDOK);
  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Please Enter Password");
  EXPECT_EQ(shown[1].text, "Incorrect Password!");
  EXPECT_EQ(shown[1].caption, gcsMessageBoxTitle);
  EXPECT_EQ(shown[1].flags & MB_ICONMASK, 0u);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  const auto sets = agent.ReceivedSets();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].key, (std::vector<uint8_t>{24, 1}));
  auto lock = agent.scp().Lock();
  ASSERT_EQ(agent.scp().schedShutdown.GetCount(), 2);
  EXPECT_EQ(agent.scp().schedShutdown.GetEntry(0)->startTime, static_cast<uint32_t>(At(2026, 3, 25, 22, 30)));
  EXPECT_EQ(*agent.scp().schedShutdown.GetEntry(1), Once(kNow + 86400 * 3));
}

TEST_F(SchedShutdownDlgTest, EmptyListIsSentAsAnEmptyTable) {
  AgentTable({Once(kNow + 3600)});
  QPointer<CSchedShutdownDlg> d = Open();
  Click(d, IDC_SCHED_DELETE);
  AnswerPassword({"Tulip9"});
  Click(d, IDOK);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  ASSERT_EQ(agent.ReceivedSets().size(), 1u);
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().schedShutdown.GetCount(), 0);
}

TEST_F(SchedShutdownDlgTest, LoadSegmentsAndTheSecondsRestartOfModel15) {
  struct Case {
    int model;
    bool secondsRestart;
  };
  for (const Case& c : {Case{0, false}, Case{15, true}}) {
    SCOPED_TRACE(c.model);
    Ups(true, c.model);
    QPointer<CSchedShutdownDlg> d = Open();
    ASSERT_EQ(d->SegmentCount(), 3);
    Choose(d, IDC_SCHED_LOAD, 1);  // segment 2 only
    EXPECT_FALSE(d->Control<QCheckBox>(IDC_SCHED_SHUTDOWN_OS)->isChecked());
    EXPECT_EQ(Shown(d, IDC_SCHED_HMS_SECONDS), c.secondsRestart);
    EXPECT_EQ(Shown(d, IDC_SCHED_ON), !c.secondsRestart);
    EXPECT_EQ(Shown(d, IDC_SCHED_NEXT_DAY), !c.secondsRestart);
    EXPECT_TRUE(Shown(d, IDC_SCHED_AFTER));
    ValidOnce(d);
    if (c.secondsRestart) {
      EXPECT_EQ(d->RestartMode(), 2);
      Choose(d, IDC_SCHED_HMS_HOURS, 1);
      Choose(d, IDC_SCHED_HMS_MINUTES, 2);
      Choose(d, IDC_SCHED_HMS_SECONDS, 3);
      Screenshot(d, "sched_segment_seconds");
    }
    Click(d, IDC_SCHED_ADD);
    ASSERT_EQ(d->Rows().size(), 1u) << boxes.Boxes().size();
    const schedule_struct& e = d->Rows()[0].entry;
    EXPECT_EQ(e.segment, 1);
    EXPECT_EQ(e.segmentOnly, 1u);
    EXPECT_EQ(e.restartMode, c.secondsRestart ? 2 : 1);
    if (c.secondsRestart) {
      EXPECT_EQ(e.restartValue, 3723);
      EXPECT_TRUE(d->Rows()[0].text.endsWith(
          "RESTART: after 1 hours 2 minutes 3 seconds  LOAD CONTROL: only turn off load segment: 2."));
    }
    // "All": the operating system again, next day; the On row only for one-time entries.
    Choose(d, IDC_SCHED_LOAD, 3);
    EXPECT_TRUE(d->Control<QCheckBox>(IDC_SCHED_SHUTDOWN_OS)->isChecked());
    EXPECT_EQ(d->RestartMode(), 1);
    EXPECT_TRUE(Shown(d, IDC_SCHED_ON));
    EXPECT_FALSE(Shown(d, IDC_SCHED_HMS_SECONDS));
    Click(d, IDC_SCHED_DAY);
    Choose(d, IDC_SCHED_LOAD, 3);
    EXPECT_FALSE(Shown(d, IDC_SCHED_ON));
    d->OnCancel();
    link.PumpIdle();
  }
}

// The three open by name as trem_show opens them: shown, without a modal loop.
TEST_F(SchedShutdownDlgTest, OpenByNameAndClientOpensTheNetworkConfiguration) {
  agent.MarkAllFresh();
  const std::pair<const char*, const char*> names[] = {
      {"CSchedShutdownDlg", "Configure Scheduled Shutdown (localhost)"},
      {"DelayShutdownDlg", "Delay Scheduled Shutdown"},
      {"EnterPasswordDlg", "Enter Password"}};
  for (const auto& [name, title] : names) {
    SCOPED_TRACE(name);
    QPointer<QDialog> d = OpenRegisteredDialog(name, nullptr, "localhost");
    ASSERT_FALSE(d.isNull());
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->isModal());
    EXPECT_EQ(d->windowTitle(), title);
    link.PumpIdle();
    if (std::string(name) == "CSchedShutdownDlg") {
      EXPECT_EQ(pSchedShutdownDlg.get(), d.data());
      // "Client..." opens the network configuration once, then brings it forward.
      Click(pSchedShutdownDlg.get(), IDC_SCHED_CLIENT);
      ASSERT_TRUE(DialogIsOpen(pNetworkConfiguration));
      QPointer<CNetworkConfiguration> net = pNetworkConfiguration.get();
      Click(pSchedShutdownDlg.get(), IDC_SCHED_CLIENT);
      EXPECT_EQ(pNetworkConfiguration.get(), net.data());
      link.PumpIdle();
      delete net.data();
    }
    delete d.data();
  }
  EXPECT_EQ(pSchedShutdownDlg.get(), nullptr);
}

}  // namespace
