// The battery information dialog against the in-process agent.
#include "dialogs/information/battery_info.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/time_text.h"
#include "platform/clock.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Rows;
using info_test::Sent;

class BatteryInfoTest : public InfoTest {
 protected:
  void Fill(int64_t reset, uint32_t outages, uint32_t onBattery, uint32_t warnings, int64_t lastWarning,
            const char* replaced) {
    auto lock = agent.scp().Lock();
    BatteryInfoBlock& b = agent.scp().batteryInfo;
    b.SetResetTime(reset);
    b.SetOutageCount(outages);
    b.SetOnBatterySeconds(onBattery);
    b.SetAverageSeconds(onBattery / (outages == 0 ? 1 : outages));
    b.SetLowBatteryWarnings(static_cast<int>(warnings));
    b.SetLastLowBatteryWarning(lastWarning);
    if (replaced != nullptr) b.SetReplacedDate(replaced);
  }
};

TEST_F(BatteryInfoTest, DurationsSwitchFormAtSixtyOneSecondsAndSixtyOneMinutes) {
  const struct {
    uint32_t seconds;
    const char* text;
  } kCases[] = {{0, "0 seconds"},
                {60, "60 seconds"},
                {61, "1 minute(s) and 1 seconds"},
                {3659, "60 minute(s) and 59 seconds"},
                {3660, "1 hour(s) and 1 minute(s) and 0 seconds"},
                {90061, "25 hour(s) and 1 minute(s) and 1 seconds"}};
  for (const auto& c : kCases) EXPECT_EQ(CBatteryInfo::DurationText(c.seconds), c.text) << c.seconds;
}

TEST_F(BatteryInfoTest, ShowsTheStatisticsAndTheirNoneTexts) {
  // Past 2038-01-19 03:14:07 UTC, the last second of a signed 32-bit time.
  const int64_t reset = 2147483648;
  const int64_t warned = 2200000000;
  struct Case {
    int64_t reset;
    int64_t last;
    std::vector<std::string> rows;
  };
  const Case kCases[] = {
      {reset,
       warned,
       {"Time of last reset:|" + CBatteryInfo::ResetTimeText(reset).toStdString(), "Number of outages:|3",
        "Total time on battery:|1 minute(s) and 30 seconds", "Average seconds on battery :|30",
        "Number of low battery warnings:|2",
        "Time of last low battery warning:|" + DefaultTimeText(warned).toStdString()}},
      {0,
       0,
       {"Time of last reset:|(no resets)", "Number of outages:|3",
        "Total time on battery:|1 minute(s) and 30 seconds", "Average seconds on battery :|30",
        "Number of low battery warnings:|2", "Time of last low battery warning:|(no low battery warnings)"}},
  };
  for (const Case& c : kCases) {
    Fill(c.reset, 3, 90, 2, c.last, "03/01/2024");
    QPointer<CBatteryInfo> d = OpenIdle<CBatteryInfo>(nullptr, "localhost");
    EXPECT_EQ(d->windowTitle(), "View Battery Information (localhost)");
    EXPECT_EQ(d->HelpContextId(), 29);
    EXPECT_EQ(Sent(link).back(), "GET 26,1");
    EXPECT_EQ(Rows(d->List()), c.rows);
    EXPECT_EQ(d->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE)->text(), "03/01/2024");
    if (c.reset != 0) Screenshot(d, "battery_info");
    delete d.data();
  }
  // The reset time reads month/day/year.
  EXPECT_EQ(CBatteryInfo::ResetTimeText(reset).left(10), LocalTimeText(reset, "%m/%d/%Y"));
}

// Until the agent's statistics arrive the console's image holds its own defaults (a reset now,
// no outages): the dialog shows the labels and no value, then the agent's.
TEST_F(BatteryInfoTest, ShowsNoValueBeforeTheAgentsStatisticsArrive) {
  Fill(1700000000, 1, 8, 0, 0, "03/01/2024");
  agent.MarkAllFresh();
  {
    auto lock = gScp.Lock();
    gScp.batteryInfo.Reset();
  }
  QPointer<CBatteryInfo> d = new CBatteryInfo(nullptr, "localhost");
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"Time of last reset:|", "Number of outages:|",
                                                         "Total time on battery:|", "Average seconds on battery :|",
                                                         "Number of low battery warnings:|",
                                                         "Time of last low battery warning:|"}));
  EXPECT_EQ(d->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE)->text(), "");
  Screenshot(d, "battery_info_waiting");
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  link.PumpIdle();
  const std::vector<std::string> rows = Rows(d->List());
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], "Time of last reset:|" + CBatteryInfo::ResetTimeText(1700000000).toStdString());
  EXPECT_EQ(rows[1], "Number of outages:|1");
  EXPECT_EQ(rows[2], "Total time on battery:|8 seconds");
  EXPECT_EQ(d->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE)->text(), "03/01/2024");
}

TEST_F(BatteryInfoTest, ValuesWithoutARowLeaveNoInformationFound) {
  {
    auto lock = agent.scp().Lock();
    BatteryInfoBlock& b = agent.scp().batteryInfo;
    b.SetResetTime(-1);
    b.SetOutageCount(0xFFFF);
    b.SetOnBatterySeconds(0xFFFF);
    b.SetAverageSeconds(0xFFFF);
    b.SetLowBatteryWarnings(0xFFFF);
    b.SetLastLowBatteryWarning(-1);
  }
  QPointer<CBatteryInfo> d = OpenIdle<CBatteryInfo>(nullptr, "localhost");
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"(no information found)|"}));
}

TEST_F(BatteryInfoTest, OkSendsTheReplacedDate) {
  Fill(1700000000, 3, 90, 2, 0, "01/01/2020");
  QPointer<CBatteryInfo> d = OpenIdle<CBatteryInfo>(nullptr, "localhost");
  d->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE)->setText("12/24/2025");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(Sent(link).back(), "SET 26,1");
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().batteryInfo.GetReplacedDate().value_or(""), "12/24/2025");
  EXPECT_EQ(agent.scp().batteryInfo.GetOutageCount(), 3u);
}

TEST_F(BatteryInfoTest, ResetClearsEverythingOnTheAgentAtOnceAndStaysOpen) {
  Fill(1700000000, 3, 90, 2, 1700003600, "01/01/2020");
  QPointer<CBatteryInfo> d = OpenIdle<CBatteryInfo>(nullptr, "localhost");
  // The reset time is the system clock's; a manual one pins it.
  struct ClockGuard {
    platform::ManualClock clock{1750000000};
    ClockGuard() { platform::SetClock(&clock); }
    ~ClockGuard() { platform::SetClock(nullptr); }
  } pinned;
  QTest::mouseClick(d->Control<QPushButton>(CBatteryInfo::IDC_RESET), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(Sent(link).back(), "SET 26,1");
  EXPECT_EQ(d->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE)->text(), "");
  EXPECT_EQ(info_test::Rows(d->List())[1], "Number of outages:|0");
  auto lock = agent.scp().Lock();
  const BatteryInfoBlock& b = agent.scp().batteryInfo;
  EXPECT_EQ(b.GetResetTime(), 1750000000);
  EXPECT_EQ(b.GetOutageCount(), 0u);
  EXPECT_EQ(b.GetOnBatterySeconds(), 0u);
  EXPECT_EQ(b.GetAverageSeconds(), 0u);
  EXPECT_EQ(b.GetLowBatteryWarnings(), 0u);
  EXPECT_EQ(b.GetLastLowBatteryWarning(), 0);
  EXPECT_EQ(b.GetReplacedDate().value_or(""), "");
}

TEST_F(BatteryInfoTest, ResetDoesNothingBeforeTheStatisticsArrive) {
  Fill(1700000000, 3, 90, 2, 0, "01/01/2020");
  agent.MarkAllFresh();
  QPointer<CBatteryInfo> d = new CBatteryInfo(nullptr, "localhost");
  ASSERT_TRUE(d->IsBusy());
  QTest::mouseClick(d->Control<QPushButton>(CBatteryInfo::IDC_RESET), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_EQ(Sent(link), (std::vector<std::string>{"GET 26,1"}));
  EXPECT_EQ(info_test::Rows(d->List())[1], "Number of outages:|3");
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().batteryInfo.GetOutageCount(), 3u);
}

}  // namespace
