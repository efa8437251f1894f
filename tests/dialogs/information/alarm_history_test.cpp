// The alarm queue dialog against the in-process agent.
#include "dialogs/information/alarm_history.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "dialogs/frame/string_table.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/time_text.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Rows;
using info_test::Sent;

class AlarmHistoryTest : public InfoTest {
 protected:
  void AddAlarm(int code, uint32_t time, int flag) {
    auto lock = agent.scp().Lock();
    agent.scp().alarmQueue.Add(code, time, flag);
  }
  static std::string T(uint32_t t) { return DefaultTimeText(t).toStdString(); }
};

TEST_F(AlarmHistoryTest, ListsNewestFirstNumberedWithClearedEntriesMarked) {
  AddAlarm(57, 1700000000, 0);   // A
  AddAlarm(56, 1700000060, 1);   // B, cleared
  AddAlarm(200, 1700000120, 0);  // C, a code without a text of its own
  QPointer<CAlarmHistory> d = OpenIdle<CAlarmHistory>(nullptr, "localhost");
  EXPECT_EQ(d->windowTitle(), "View Alarm Queue (localhost)");
  EXPECT_EQ(d->HelpContextId(), 35);
  EXPECT_EQ(Sent(link), (std::vector<std::string>{"GET 8,1"}));
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"1|" + T(1700000120) + "|Unknown alarm (code 200)",
                                                       "2|" + T(1700000060) + "|CLEAR: Battery low",
                                                       "3|" + T(1700000000) + "|Utility fail"}));
  EXPECT_EQ(d->List()->headerItem()->text(0), "#");
  EXPECT_EQ(d->List()->headerItem()->text(2), "Alarm");
  EXPECT_EQ(d->List()->topLevelItem(0)->textAlignment(0) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  Screenshot(d, "alarm_history");
}

TEST_F(AlarmHistoryTest, AlarmTextsCoverCodesZeroTo193AndNoMore) {
  const struct {
    unsigned code;
    const char* text;
  } kCases[] = {{0, "Inverter AC over voltage"},   {56, "Battery low"},
                {153, "UPS series status"},        {193, "Fan Failure"},
                {194, "Unknown alarm (code 194)"}, {255, "Unknown alarm (code 255)"}};
  for (const auto& c : kCases) EXPECT_EQ(CAlarmHistory::AlarmText(c.code), c.text) << c.code;
  for (unsigned code = 0; code < 194; ++code) EXPECT_FALSE(CAlarmHistory::AlarmText(code).isEmpty()) << code;
  EXPECT_TRUE(StringTableConflicts().empty());
}

TEST_F(AlarmHistoryTest, ShowsAtMostTheFirstThousandEntries) {
  {
    auto lock = agent.scp().Lock();
    for (int i = 0; i < 1200; ++i) agent.scp().alarmQueue.Add(i % 194, 1700000000 + i, 0);
  }
  QPointer<CAlarmHistory> d = OpenIdle<CAlarmHistory>(nullptr, "localhost");
  ASSERT_EQ(d->List()->RowCount(), 1000);
  EXPECT_EQ(d->List()->Text(0, 1).toStdString(), T(1700000000 + 999));
  EXPECT_EQ(d->List()->Text(999, 0), "1000");
}

TEST_F(AlarmHistoryTest, PrintFileHoldsRightAlignedFieldsAndIsWrittenAnew) {
  AddAlarm(57, 1700000000, 0);
  AddAlarm(56, 1700000060, 1);
  QPointer<CAlarmHistory> d = OpenIdle<CAlarmHistory>(nullptr, "localhost");
  {
    std::ofstream old(File("alarmque.txt"));
    old << std::string(5000, 'z');
  }
  QTest::mouseClick(d->Control<QPushButton>(CAlarmHistory::IDC_PRINT_ALARMS), Qt::LeftButton);
  EXPECT_EQ(print.Count(), 1);
  EXPECT_GT(std::filesystem::file_size(File("print.pdf")), 0u);
  auto pad = [](const std::string& s, size_t w) {
    return std::string(s.size() < w ? w - s.size() : 0, ' ') + s;
  };
  const std::string expected = pad("Number", 10) + pad("Time", 20) + pad("Alarm", 40) + "\n" + pad("1", 10) +
                               pad(T(1700000060), 20) + pad("CLEAR: Battery low", 40) + "\n" + pad("2", 10) +
                               pad(T(1700000000), 20) + pad("Utility fail", 40) + "\n";
  EXPECT_EQ(info_test::ReadFile(File("alarmque.txt")), expected);
  info_test::KeepBesideScreenshots(File("alarmque.txt"), ScreenshotTopic(), "alarmque.txt");
  info_test::KeepBesideScreenshots(File("print.pdf"), ScreenshotTopic(), "alarmque.pdf");
}

TEST_F(AlarmHistoryTest, AnEmptyQueueSaysSoOnScreenAndInThePrintFile) {
  QPointer<CAlarmHistory> d = OpenIdle<CAlarmHistory>(nullptr, "localhost");
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"|(no alarms found)|"}));
  ASSERT_TRUE(d->write_text_file());
  EXPECT_EQ(info_test::ReadFile(File("alarmque.txt")),
            "    Number                Time                                   Alarm\n"
            "          " +
                std::string(3, ' ') + "(no alarms found)" + std::string(40, ' ') + "\n");
  Screenshot(d, "alarm_history_empty");
}

}  // namespace
