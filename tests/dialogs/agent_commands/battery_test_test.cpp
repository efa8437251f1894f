// The battery test schedule dialog under TZ=Europe/Berlin on the manual clock, against the
// in-process agent.
#include "dialogs/battery_test/battery_test.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <ctime>

#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/battery_test_results.h"
#include "platform/clock.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

// Wednesday 25 March 2026, 10:00 in Berlin (CET); summer time starts on Sunday the 29th.
constexpr int64_t kWednesday10 = 1774429200;
constexpr int64_t kNextWednesday09 = 1775026800;  // 1 April 2026 09:00 CEST
constexpr int64_t kWednesday1330 = 1774441800;
constexpr int64_t kWednesday0015 = 1774394100;
constexpr int64_t kWednesday1330In2038 = 2147603400;  // past the last second of signed 32 bits

class BatteryTestTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("discovery"); }
  void SetUp() override {
    TremTest::SetUp();
    const char* tz = std::getenv("TZ");
    old_tz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    clock_.Set(kWednesday10);
    platform::SetClock(&clock_);
    SetModel(0);
    {
      auto lock = agent.scp().Lock();
      agent.scp().batteryTest.SetMode(0);
      agent.scp().config.SetBatteryLogSize(20);
      agent.scp().config.SetBatteryLogFileName("battlog.dat");
    }
    agent.MarkAllFresh();
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
  static void SetModel(int code) {
    auto lock = gScp.Lock();
    gScp.upsInfo.SetModelIndex(code);
  }
  CBatteryTest* Open() {
    auto* d = new CBatteryTest(nullptr, "localhost");
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    agent.ClearReceived();
    return d;
  }
  static void Choose(CBatteryTest* d, int day, int time, int ampm) {
    d->Control<QComboBox>(IDC_TEST_DAY)->setCurrentIndex(day);
    d->Control<QComboBox>(IDC_TEST_TIME)->setCurrentIndex(time);
    d->Control<QComboBox>(IDC_TEST_AMPM)->setCurrentIndex(ampm);
  }

  platform::ManualClock clock_;
  std::optional<std::string> old_tz_;
};

TEST_F(BatteryTestTest, NextOccurrenceFollowsTheCalendarAcrossSummerTime) {
  // Today's weekday, time past: next week, same wall-clock time after the change to CEST.
  EXPECT_EQ(CBatteryTest::NextOccurrence(kWednesday10, 2, 9, 0), kNextWednesday09);
  // Today's weekday, time still ahead: today.
  EXPECT_EQ(CBatteryTest::NextOccurrence(kWednesday10, 2, 11, 0), kWednesday10 + 3600);
  // Exactly now is not later than now.
  EXPECT_EQ(CBatteryTest::NextOccurrence(kWednesday10, 2, 10, 0), kWednesday10 + 7 * 86400 - 3600);
  std::tm tm{};
  const time_t t = kNextWednesday09;
  localtime_r(&t, &tm);
  EXPECT_EQ(CBatteryTest::FormatScheduleString(tm), "Wednesday, April 1st, 2026 at 9:00 AM");

  const std::vector<std::pair<int, const char*>> suffixes = {{1, "1st"},   {2, "2nd"},   {3, "3rd"},
                                                             {11, "11th"}, {22, "22nd"}, {31, "31st"}};
  for (const auto& [day, text] : suffixes) {
    std::tm d{};
    d.tm_year = 2026 - 1900;
    d.tm_mon = 11;
    d.tm_mday = day;
    d.tm_hour = 0;
    d.tm_min = 5;
    d.tm_isdst = -1;
    mktime(&d);
    EXPECT_TRUE(CBatteryTest::FormatScheduleString(d).contains(
        QStringLiteral("December %1, 2026 at 12:05 AM").arg(text)))
        << text << " " << CBatteryTest::FormatScheduleString(d).toStdString();
  }
}

TEST_F(BatteryTestTest, ListsAndTheAgentsScheduleOnOpening) {
  struct Case {
    int64_t testTime;
    const char* time;
    const char* ampm;
  };
  for (const Case& c : {Case{kWednesday1330, "01:30", "PM"}, Case{kWednesday0015, "12:15", "AM"},
                        Case{kWednesday1330In2038, "01:30", "PM"}}) {
    SCOPED_TRACE(c.time);
    {
      auto lock = agent.scp().Lock();
      agent.scp().batteryTest.SetMode(1);
      agent.scp().batteryTest.SetNextTestTime(c.testTime);
      agent.scp().batteryTest.SetIntervalDays(21);
    }
    agent.MarkAllFresh();
    QPointer<CBatteryTest> d = Open();
    EXPECT_EQ(d->windowTitle(), "Configure Scheduled Diagnostic Test (localhost)");
    auto* day = d->Control<QComboBox>(IDC_TEST_DAY);
    auto* time = d->Control<QComboBox>(IDC_TEST_TIME);
    ASSERT_EQ(day->count(), 7);
    EXPECT_EQ(day->itemText(0), "Monday");
    ASSERT_EQ(time->count(), 48);
    EXPECT_EQ(time->itemText(0), "12:00");
    EXPECT_EQ(time->itemText(4), "01:00");
    EXPECT_EQ(time->itemText(47), "11:45");
    EXPECT_EQ(day->currentText(), "Wednesday");
    EXPECT_EQ(time->currentText(), c.time);
    EXPECT_EQ(d->Control<QComboBox>(IDC_TEST_AMPM)->currentText(), c.ampm);
    EXPECT_EQ(d->Control<QLineEdit>(IDC_TEST_INTERVAL)->text(), "21");
    EXPECT_EQ(d->Control<QLineEdit>(IDC_TEST_MAX_ENTRIES)->text(), "20");
    EXPECT_TRUE(d->Enabled());
    EXPECT_TRUE(d->Control<QLabel>(IDC_TEST_SCHEDULE_TEXT)->text().startsWith("Wednesday, "));
    if (c.testTime == kWednesday1330) Screenshot(d, "battery_test");
    d->close();
    link.PumpIdle();
  }
}

// Each group of fields stands empty until its data arrive: the schedule's with the agent's
// schedule, the log's with its log settings; the console image's defaults never show.
TEST_F(BatteryTestTest, FieldsStandEmptyUntilTheirDataArrive) {
  {
    auto lock = agent.scp().Lock();
    agent.scp().batteryTest.SetMode(1);
    agent.scp().batteryTest.SetNextTestTime(kWednesday1330);
    agent.scp().batteryTest.SetIntervalDays(21);
  }
  agent.MarkAllFresh();
  QPointer<CBatteryTest> d = new CBatteryTest(nullptr, "localhost");
  const auto shown = [&] {
    return std::vector<std::string>{
        d->Control<QComboBox>(IDC_TEST_DAY)->currentText().toStdString(),
        d->Control<QComboBox>(IDC_TEST_TIME)->currentText().toStdString(),
        d->Control<QComboBox>(IDC_TEST_AMPM)->currentText().toStdString(),
        d->Control<QLineEdit>(IDC_TEST_INTERVAL)->text().toStdString(),
        d->Control<QLabel>(IDC_TEST_SCHEDULE_TEXT)->text().left(10).toStdString(),
        d->Control<QLineEdit>(IDC_TEST_MAX_ENTRIES)->text().toStdString(),
        d->Control<QLineEdit>(IDC_TEST_FILE_NAME)->text().toStdString()};
  };
  EXPECT_EQ(shown(), (std::vector<std::string>{"", "", "", "", "", "", ""}));
  Screenshot(d, "battery_test_waiting");
  // The schedule is asked for first: it shows while the log settings are still on their way.
  ASSERT_EQ(link.Step(), 1);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(shown(), (std::vector<std::string>{"Wednesday", "01:30", "PM", "21", "Wednesday,", "", ""}));
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  const std::vector<std::string> all = shown();
  EXPECT_EQ(all[5], "20");
  EXPECT_FALSE(all[6].empty());
}

TEST_F(BatteryTestTest, ChecksInOrderWithAStopBox) {
  struct Case {
    int model;
    const char* interval;
    const char* maxEntries;
    const char* file;
    const char* message;  // empty: passes
  };
  const std::vector<Case> cases = {
      {3, "35", "50", "battlog.dat", ""},
      {3, "34", "50", "battlog.dat", "Invalid repeat interval selected, must be greater than 35"},
      {1, "13", "50", "battlog.dat", "Invalid repeat interval selected, must be greater than 14"},
      // The block stores 1..255 days only: outside that OK would close without storing.
      {0, "0", "50", "battlog.dat", "Invalid repeat interval selected, must be between 1 and 255"},
      {0, "256", "50", "battlog.dat", "Invalid repeat interval selected, must be between 1 and 255"},
      {3, "256", "50", "battlog.dat", "Invalid repeat interval selected, must be between 1 and 255"},
      {0, "1", "50", "battlog.dat", ""},
      {0, "255", "50", "battlog.dat", ""},
      {0, "7", "9", "battlog.dat", "Max Entries must be between 10 and 100"},
      {0, "7", "101", "battlog.dat", "Max Entries must be between 10 and 100"},
      // The agent keeps the log only under a plain name in its folder.
      {0, "7", "10", "C:\\logs\\batt.dat",
       "The agent keeps its log only under a plain file name in its own folder: letters, digits, '.', '_' "
       "and '-', "
       "not starting with '.', at most 64 characters, and not the name of one of its other files."},
      {0, "7", "10", "bat_info.dat",
       "The agent keeps its log only under a plain file name in its own folder: letters, digits, '.', '_' "
       "and '-', "
       "not starting with '.', at most 64 characters, and not the name of one of its other files."},
      {0, "7", "10", "bad?.dat",
       "A filename cannot have any of the following characters:\n \\ / : * ? \" < > |"},
      {0, "7", "10", "", "Invalid filename specified"},
      {3, "1", "5", "", "Max Entries must be between 10 and 100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.interval) + " " + c.maxEntries + " " + c.file);
    SetModel(c.model);
    QPointer<CBatteryTest> d = Open();
    boxes.Clear();
    d->Control<QLineEdit>(IDC_TEST_INTERVAL)->setText(c.interval);
    d->Control<QLineEdit>(IDC_TEST_MAX_ENTRIES)->setText(c.maxEntries);
    d->Control<QLineEdit>(IDC_TEST_FILE_NAME)->setText(c.file);
    QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_SCHEDULE), Qt::LeftButton);
    if (*c.message == '\0') {
      EXPECT_EQ(boxes.Count(), 0);
      EXPECT_TRUE(d->Enabled());
    } else {
      ASSERT_EQ(boxes.Count(), 1);
      EXPECT_EQ(boxes.Boxes()[0].text, c.message);
      EXPECT_EQ(boxes.Boxes()[0].flags & MB_ICONMASK, MB_ICONSTOP);
      EXPECT_EQ(boxes.Boxes()[0].caption, gcsMessageBoxTitle);
      EXPECT_FALSE(d->Enabled());
    }
    d->close();
    link.PumpIdle();
    EXPECT_TRUE(agent.ReceivedSets().empty());  // Schedule alone sends nothing
  }
}

TEST_F(BatteryTestTest, OkSendsTheScheduleAndTheLogSettings) {
  SetModel(1);
  QPointer<CBatteryTest> d = Open();
  Choose(d, 2, 36, 0);  // Wednesday 09:00 AM, already past today
  d->Control<QLineEdit>(IDC_TEST_INTERVAL)->setText("14");
  d->Control<QLineEdit>(IDC_TEST_MAX_ENTRIES)->setText("30");
  d->Control<QLineEdit>(IDC_TEST_FILE_NAME)->setText("tests.dat");
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_SCHEDULE), Qt::LeftButton);
  EXPECT_EQ(d->Control<QLabel>(IDC_TEST_SCHEDULE_TEXT)->text(), "Wednesday, April 1st, 2026 at 9:00 AM");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  const auto sets = agent.ReceivedSets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].key.at(0), 25);
  EXPECT_EQ(sets[1].key.at(0), 4);
  EXPECT_EQ(sets[1].key.at(1), 6);
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().batteryTest.GetMode(), 1);
  EXPECT_EQ(agent.scp().batteryTest.GetNextTestTime(), kNextWednesday09);
  EXPECT_EQ(agent.scp().batteryTest.GetIntervalDays(), 14);
  EXPECT_EQ(agent.scp().config.GetBatteryLogSize(), 30);
  EXPECT_EQ(agent.scp().config.GetBatteryLogFileName().value_or(""), "tests.dat");
}

TEST_F(BatteryTestTest, OkSendsTheIntervalsTheBlockStores) {
  for (const char* interval : {"1", "255"}) {
    SCOPED_TRACE(interval);
    QPointer<CBatteryTest> d = Open();
    d->Control<QLineEdit>(IDC_TEST_INTERVAL)->setText(interval);
    QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    ASSERT_TRUE(link.PumpIdle());
    EXPECT_TRUE(d.isNull());
    const auto sets = agent.ReceivedSets();
    ASSERT_FALSE(sets.empty());
    EXPECT_EQ(sets[0].key, (std::vector<uint8_t>{25, 1}));
    auto lock = agent.scp().Lock();
    EXPECT_EQ(agent.scp().batteryTest.GetIntervalDays(), std::atoi(interval));
  }
}

TEST_F(BatteryTestTest, UnscheduleCancelBrowseAndTestNow) {
  QPointer<CBatteryTest> d = Open();
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_UNSCHEDULE), Qt::LeftButton);
  EXPECT_EQ(d->Control<QLabel>(IDC_TEST_SCHEDULE_TEXT)->text(), "no test scheduled");
  files.QueueAnswer(QStringLiteral("/var/log/vigil/battery.dat"));
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_BROWSE), Qt::LeftButton);
  EXPECT_EQ(d->Control<QLineEdit>(IDC_TEST_FILE_NAME)->text(), "/var/log/vigil/battery.dat");
  ASSERT_EQ(files.Calls().size(), 1u);
  EXPECT_TRUE(files.Calls()[0].save);
  // A chosen path too long for the record is refused whole rather than cut short.
  files.QueueAnswer(QStringLiteral("/var/log/") + QString(300, QChar('d')) + QStringLiteral("/battery.dat"));
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_BROWSE), Qt::LeftButton);
  EXPECT_TRUE(boxes.Saw("Invalid filename specified"));
  EXPECT_EQ(d->Control<QLineEdit>(IDC_TEST_FILE_NAME)->text(), "/var/log/vigil/battery.dat");
  boxes.Clear();

  boxes.QueueAnswer(IDCANCEL);
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_NOW), Qt::LeftButton);
  link.PumpIdle();
  EXPECT_TRUE(boxes.Saw("Press OK to perform diagnostic test now"));
  EXPECT_TRUE(agent.ReceivedSets().empty());
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_NOW), Qt::LeftButton);
  link.PumpIdle();
  ASSERT_EQ(agent.ReceivedSets().size(), 1u);
  EXPECT_EQ(agent.ReceivedSets()[0].key, (std::vector<uint8_t>{27, 5}));
  agent.ClearReceived();

  // Results... opens the results dialog once, then brings it to the front.
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_RESULTS), Qt::LeftButton);
  ASSERT_TRUE(DialogIsOpen(pBatteryTestResults));
  QPointer<CBatteryTestResults> results = pBatteryTestResults.get();
  QTest::mouseClick(d->Control<QPushButton>(IDC_TEST_RESULTS), Qt::LeftButton);
  EXPECT_EQ(pBatteryTestResults.get(), results.data());
  link.PumpIdle();
  results->close();
  link.PumpIdle();
  agent.ClearReceived();

  QTest::mouseClick(d->Control<QPushButton>(IDCANCEL), Qt::LeftButton);
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  EXPECT_TRUE(agent.Received().empty());
}

}  // namespace
