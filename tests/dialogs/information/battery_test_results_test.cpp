// The battery test results list against the in-process agent.
#include "dialogs/information/battery_test_results.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class BatteryTestResultsTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return "information"; }
  void AddResult(uint32_t time, uint8_t code) {
    auto lock = agent.scp().Lock();
    agent.scp().batteryLog.AddRecord(time, 1, &code);
  }
  CBatteryTestResults* OpenFilled() {
    agent.MarkAllFresh();
    auto* d = new CBatteryTestResults(nullptr, "localhost");
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    return d;
  }
};

TEST_F(BatteryTestResultsTest, AsksForTheLogAndListsNewestFirstWithResultTexts) {
  const struct {
    uint32_t time;
    uint8_t code;
    const char* text;
  } kCases[] = {{1000000000, 2, "Passed"},
                {1000000100, 3, "Unable to perform"},
                {1000000200, 4, "Failed"},
                {1000000300, 0, "{unknown}"},
                {1000000400, 9, "{unknown}"}};
  for (const auto& c : kCases) AddResult(c.time, c.code);
  QPointer<CBatteryTestResults> d = OpenFilled();
  EXPECT_EQ(pBatteryTestResults.get(), d.data());
  EXPECT_EQ(d->windowTitle(), "View Diagnostic Results (localhost)");
  EXPECT_EQ(d->HelpContextId(), 34);
  ASSERT_EQ(link.Sent().size(), 1u);
  EXPECT_EQ(trem_harness::DescribeMessage(link.Sent()[0]), "GET 7,1");

  ReportList* list = d->List();
  EXPECT_EQ(list->headerItem()->text(0), "Time");
  EXPECT_EQ(list->headerItem()->text(1), "Status");
  ASSERT_EQ(list->RowCount(), 5);
  for (int i = 0; i < 5; ++i) {
    const auto& c = kCases[4 - i];
    EXPECT_EQ(list->Text(i, 0), CBatteryTestResults::CtimeText(c.time)) << i;
    EXPECT_EQ(list->Text(i, 1), c.text) << i;
  }
  // ctime's own 24-character form.
  EXPECT_EQ(CBatteryTestResults::CtimeText(kCases[0].time).size(), 24);
  const int w = list->ClientWidth();
  EXPECT_EQ(list->columnWidth(0), w * 3 / 5);
  EXPECT_EQ(list->columnWidth(0) + list->columnWidth(1), w);
  Screenshot(d, "battery_test_results");
}

TEST_F(BatteryTestResultsTest, ListsAtMostTheFirstThousandAndSaysWhenEmpty) {
  QPointer<CBatteryTestResults> empty = OpenFilled();
  ASSERT_EQ(empty->List()->RowCount(), 1);
  EXPECT_EQ(empty->List()->Text(0, 0), "(no results found)");
  EXPECT_EQ(empty->List()->Text(0, 1), "");
  Screenshot(empty, "battery_test_results_empty");
  QTest::mouseClick(empty->Control<QPushButton>(IDOK), Qt::LeftButton);
  link.PumpIdle();
  EXPECT_TRUE(empty.isNull());

  for (uint32_t i = 0; i < 1500; ++i) AddResult(1000000000 + i * 60, 2);
  QPointer<CBatteryTestResults> d = OpenFilled();
  ASSERT_EQ(d->List()->RowCount(), 1000);
  EXPECT_EQ(d->List()->Text(0, 0), CBatteryTestResults::CtimeText(1000000000 + 999 * 60));
  EXPECT_EQ(d->List()->Text(999, 0), CBatteryTestResults::CtimeText(1000000000));
}

TEST_F(BatteryTestResultsTest, HostListFormAsksTheFirstHostAndShowsTheSelection) {
  AddResult(1000000000, 2);
  agent.MarkAllFresh();
  QPointer<CBatteryTestResults> d =
      new CBatteryTestResults(nullptr, "Selected Hosts", "localhost", QStringList{"localhost"});
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  EXPECT_EQ(d->windowTitle(), "View Diagnostic Results (Selected Hosts)");
  ASSERT_EQ(d->List()->RowCount(), 1);
  EXPECT_EQ(d->List()->Text(0, 1), "Passed");
  EXPECT_EQ(agent.Hosts().at(0), 1);
}

}  // namespace
