// Data collection: the setup dialog and its sampler, the display list and the chart dialog,
// against the in-process agent.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstring>

#include "core/scp/meter_block.h"
#include "dialogs/datacollection/data_collection_display.h"
#include "dialogs/datacollection/dc_dlg_setup.h"
#include "dialogs/datacollection/dc_meter_select_dlg.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/widgets/chart_widget.h"
#include "platform/clock.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

enum MeterType {
  kCurrentInA = 0,
  kCurrentOutA = 3,
  kFrequencyIn = 6,
  kBatteryCapacity = 8,
  kLoadA = 9,
  kLoadB = 10,
  kVoltageInA = 12,
  kBatteryVoltage = 18,
};

class DataCollectionTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("graphs"); }
  void SetUp() override {
    TremTest::SetUp();
    platform::SetClock(&clock);
  }
  void TearDown() override {
    TremTest::TearDown();
    platform::SetClock(nullptr);
  }
  // The agent's meters for one reading; a negative voltage is one the UPS did not report.
  void SetMeters(int voltage, int currentTenths, int capacity, int loadPercent) {
    {
      auto lock = agent.scp().Lock();
      MeterBlock& m = agent.scp().meters;
      m.SetInputVoltage(0, voltage);
      m.SetOutputCurrent(0, currentTenths);
      m.SetInputCurrent(0, currentTenths / 2);
      m.SetBatteryCapacity(capacity);
      m.SetInputFrequency(50);
      m.SetBatteryVoltage(54);
      m.SetLoadVARating(1000);
      m.SetOutputVA(loadPercent * 10);
      m.GetPercentLoad(PERCENT_LOAD_COMPUTE);  // stores the percent load the block sends
    }
    agent.MarkAllFresh();
  }
  // One sampling step after the agent has answered the outstanding request.
  void Sample(CDcDlgSetup* d, bool answer = true) {
    if (answer) {
      ASSERT_TRUE(link.PumpIdle());
    }
    clock.AdvanceSeconds(1);
    d->TakeSample();
  }
  std::vector<double> Readings(CDcDlgSetup* d, int type) {
    return std::vector<double>(d->Readings(type).begin(), d->Readings(type).end());
  }
  platform::ManualClock clock{1700000000};
};

bool Same(const std::vector<double>& got, const std::vector<double>& want) {
  if (got.size() != want.size()) return false;
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i]) != std::isnan(got[i])) return false;
    if (!std::isnan(want[i]) && std::fabs(want[i] - got[i]) > 1e-9) return false;
  }
  return true;
}

constexpr double kGap = NAN;

TEST_F(DataCollectionTest, SetupShowsItsDefaultsAndRefusesValuesOutOfRange) {
  QPointer<CDcDlgSetup> d = new CDcDlgSetup(nullptr, "localhost");
  EXPECT_EQ(pDcDlgSetup.get(), d.data());
  EXPECT_EQ(d->windowTitle(), "Data Collection Setup");
  auto* list = d->Control<QListWidget>(CDcDlgSetup::IDC_METER_LIST);
  ASSERT_EQ(list->count(), 19);
  EXPECT_EQ(list->item(0)->text(), "Current Input Phase A");
  EXPECT_EQ(list->item(9)->text(), "Percent Load Phase A");
  EXPECT_EQ(list->item(18)->text(), "Voltage Total Battery");
  EXPECT_TRUE(list->item(0)->isSelected());
  EXPECT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(d->Control<QLineEdit>(CDcDlgSetup::IDC_SAMPLES)->text(), "100");
  EXPECT_EQ(d->Control<QLineEdit>(CDcDlgSetup::IDC_INTERVAL)->text(), "1");
  EXPECT_EQ(d->Control<QLineEdit>(CDcDlgSetup::IDC_FILE_NAME)->text(), "storage.mtr");
  EXPECT_EQ(d->Control<QLineEdit>(CDcDlgSetup::IDC_MAX_ENTRIES)->text(), "100");
  list->item(12)->setSelected(true);
  Screenshot(d, "dc_setup");

  struct Case {
    int control;
    QString text;
    QString message;
  };
  for (const Case& c : std::vector<Case>{
           {CDcDlgSetup::IDC_SAMPLES, "5", "Please enter an integer between 10 and 1000."},
           {CDcDlgSetup::IDC_SAMPLES, "1001", "Please enter an integer between 10 and 1000."},
           {CDcDlgSetup::IDC_SAMPLES, "ten", "Please enter an integer."},
           {CDcDlgSetup::IDC_MAX_ENTRIES, "9", "Please enter an integer between 10 and 100000."},
           {CDcDlgSetup::IDC_INTERVAL, "0.0005", "Please enter a number between 0.001 and 100."},
           {CDcDlgSetup::IDC_INTERVAL, "100.5", "Please enter a number between 0.001 and 100."}}) {
    d->WriteControls();
    d->Control<QLineEdit>(c.control)->setText(c.text);
    const int before = boxes.Count();
    EXPECT_FALSE(d->UpdateData()) << c.text.toStdString();
    EXPECT_EQ(boxes.Count(), before + 1);
    EXPECT_TRUE(boxes.Saw(c.message)) << c.message.toStdString();
    EXPECT_EQ(d->numberOfSamples, 100);  // nothing taken from a refused form
  }
  d->WriteControls();
  d->Control<QLineEdit>(CDcDlgSetup::IDC_SAMPLES)->setText("10");
  d->Control<QLineEdit>(CDcDlgSetup::IDC_INTERVAL)->setText("0.001");
  d->Control<QLineEdit>(CDcDlgSetup::IDC_MAX_ENTRIES)->setText("100000");
  EXPECT_TRUE(d->UpdateData());
  EXPECT_EQ(d->numberOfSamples, 10);

  // OK keeps nothing: the next opening shows the defaults again.
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  link.PumpFor(20);
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(pDcDlgSetup.get(), nullptr);
  QPointer<CDcDlgSetup> again = new CDcDlgSetup(nullptr, "localhost");
  EXPECT_EQ(again->Control<QLineEdit>(CDcDlgSetup::IDC_SAMPLES)->text(), "100");
}

TEST_F(DataCollectionTest, BrowseChoosesTheFileNameThroughTheFileLayer) {
  QPointer<CDcDlgSetup> d = new CDcDlgSetup(nullptr, "localhost");
  files.QueueAnswer(QString("/data/run1"));
  QTest::mouseClick(d->Control<QPushButton>(CDcDlgSetup::IDC_BROWSE), Qt::LeftButton);
  ASSERT_EQ(files.Calls().size(), 1u);
  EXPECT_TRUE(files.Calls()[0].save);
  EXPECT_EQ(files.Calls()[0].filter, "Meter Files (*.mtr);;All Files (*.*)");
  EXPECT_EQ(d->Control<QLineEdit>(CDcDlgSetup::IDC_FILE_NAME)->text(), "/data/run1.mtr");
  files.QueueAnswer(std::nullopt);  // Cancel changes nothing
  QTest::mouseClick(d->Control<QPushButton>(CDcDlgSetup::IDC_BROWSE), Qt::LeftButton);
  EXPECT_EQ(d->fileName, "/data/run1.mtr");
}

TEST_F(DataCollectionTest, SamplerRecordsTheAgentsReadingsWithGapsForUnknownValues) {
  SetMeters(230, 52, 100, 40);
  QPointer<CDcDlgSetup> d = new CDcDlgSetup(nullptr, "localhost");
  // Opening asks for the meters of the first host.
  ASSERT_EQ(gScp.requestTable.GetCount(), 1);
  Sample(d);  // reading 1
  SetMeters(231, 60, 99, 45);
  Sample(d);                    // reading 2
  SetMeters(-1, 61, 300, 45);   // the UPS reports no input voltage and no capacity
  Sample(d);                    // reading 3
  Sample(d, /*answer=*/false);  // no reply since the last request: a gap
  SetMeters(229, 62, 98, 50);
  Sample(d);  // reading 5

  EXPECT_EQ(d->SamplesTaken(), 5);
  EXPECT_TRUE(Same(Readings(d, kVoltageInA), {230, 231, kGap, kGap, 229}));
  EXPECT_TRUE(Same(Readings(d, kCurrentOutA), {5.2, 6.0, 6.1, kGap, 6.2}));
  EXPECT_TRUE(Same(Readings(d, kCurrentInA), {2.6, 3.0, 3.0, kGap, 3.1}));
  EXPECT_TRUE(Same(Readings(d, kBatteryCapacity), {100, 99, kGap, kGap, 98}));
  EXPECT_TRUE(Same(Readings(d, kLoadA), {40, 45, 45, kGap, 50}));
  EXPECT_TRUE(Same(Readings(d, kLoadB), {kGap, kGap, kGap, kGap, kGap}));
  EXPECT_TRUE(Same(Readings(d, kFrequencyIn), {50, 50, 50, kGap, 50}));
  EXPECT_TRUE(Same(Readings(d, kBatteryVoltage), {54, 54, 54, kGap, 54}));
  // Every request went to the first host as a GET of the whole meter block.
  for (const auto& m : agent.Received()) {
    EXPECT_EQ(m.type, SCP_GET);
    EXPECT_EQ(m.key, std::vector<uint8_t>{3});
  }

  // The newest "Maximum Value Entries" are kept.
  d->Control<QLineEdit>(CDcDlgSetup::IDC_MAX_ENTRIES)->setText("10");
  ASSERT_TRUE(d->UpdateData());
  for (int i = 0; i < 8; ++i) Sample(d);
  EXPECT_EQ(d->Readings(kVoltageInA).size(), 10u);
  EXPECT_EQ(d->Readings(kVoltageInA).back(), 229);
  // The sample count the chart gets is the smaller of "Number of Samples" and those stored.
  EXPECT_EQ(d->GetSampleCount(), 10);
  // Nothing is written to a collection file.
  EXPECT_TRUE(QDir(QString::fromStdString(File(""))).entryList({"*.mtr"}, QDir::Files).isEmpty());
  EXPECT_FALSE(QFile::exists("storage.mtr"));
}

TEST_F(DataCollectionTest, LegendSlotsAreFortyTwoBytesWithTheirTerminator) {
  QPointer<CDcDlgSetup> d = new CDcDlgSetup(nullptr, "localhost");
  auto* select = new CDcMeterSelectDlg(nullptr, "localhost");
  select->Create(IDD_DC_METER_SELECT);
  QListWidget* list = select->DisplayList();
  list->clear();
  const QString exact(41, QChar('a'));
  const QString longer(50, QChar('b'));
  list->addItem(exact);
  list->addItem("not chosen");
  list->addItem(longer);
  list->item(0)->setSelected(true);
  list->item(2)->setSelected(true);
  const char* legend = d->GetPtrLegendStrings();
  ASSERT_NE(legend, nullptr);
  ASSERT_EQ(d->LegendCount(), 2);
  EXPECT_EQ(std::string(legend, 41), exact.toStdString());
  EXPECT_EQ(legend[41], '\0');
  EXPECT_EQ(std::string(legend + 42), std::string(41, 'b'));
  d->FreeLegendStrings();
  EXPECT_EQ(d->LegendCount(), 0);
  select->DestroyWindow();
}

TEST_F(DataCollectionTest, GraphChartsTheChosenTypesFromTheNewestReadings) {
  QPointer<CDcDlgSetup> d = new CDcDlgSetup(nullptr, "localhost");
  auto* list = d->Control<QListWidget>(CDcDlgSetup::IDC_METER_LIST);
  list->item(0)->setSelected(false);
  list->item(kVoltageInA)->setSelected(true);
  list->item(kCurrentOutA)->setSelected(true);
  list->item(kLoadA)->setSelected(true);
  d->Control<QLineEdit>(CDcDlgSetup::IDC_SAMPLES)->setText("20");
  for (int k = 0; k < 30; ++k) {
    SetMeters(k == 12 ? -1 : 220 + static_cast<int>(std::lround(8 * std::sin(k / 3.0))), 40 + 3 * k, 100,
              20 + k);
    Sample(d);
  }

  bool sawChart = false;
  bool sawEmpty = false;
  QTimer::singleShot(0, [&] {
    CDcMeterSelectDlg* select = pDcMeterSelectDlg.get();
    ASSERT_NE(select, nullptr);
    EXPECT_EQ(select->windowTitle(), "Data Collection Display");
    QListWidget* shown = select->DisplayList();
    // The types chosen in the setup dialog, in list order; the first one selected.
    ASSERT_EQ(shown->count(), 3);
    EXPECT_EQ(shown->item(0)->text(), "Current Output Phase A");
    EXPECT_EQ(shown->item(1)->text(), "Percent Load Phase A");
    EXPECT_EQ(shown->item(2)->text(), "Voltage Input Phase A");
    EXPECT_TRUE(shown->item(0)->isSelected());
    shown->item(1)->setSelected(true);
    Screenshot(select, "dc_display_list");

    QTimer::singleShot(0, [&] {
      CDataCollectionDisplay* display = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* x = qobject_cast<CDataCollectionDisplay*>(w); x != nullptr && x->isVisible()) display = x;
      }
      ASSERT_NE(display, nullptr);
      KtChart* chart = display->Chart();
      ASSERT_EQ(chart->SeriesCount(), 2);
      EXPECT_EQ(chart->Names(), (QStringList{"Current Output Phase A", "Percent Load Phase A"}));
      // The newest 20 readings, oldest first.
      ASSERT_EQ(chart->Values()[0].size(), 20u);
      EXPECT_NEAR(chart->Values()[0].front(), (40 + 3 * 10) * 0.1, 1e-9);
      EXPECT_NEAR(chart->Values()[0].back(), (40 + 3 * 29) * 0.1, 1e-9);
      EXPECT_EQ(chart->Values()[1].back(), 20 + 29);
      EXPECT_TRUE(chart->Scale().drawable);
      EXPECT_EQ(chart->Scale().yMin, 0);
      EXPECT_EQ(chart->Scale().yMax, 50);
      EXPECT_EQ(chart->Scale().xMax, 20);
      display->resize(720, 540);
      Screenshot(display, "dc_chart_two_types");
      // A double click redraws from the newest readings.
      SetMeters(220, 40, 100, 20 + 40);
      Sample(d);
      QTest::mouseDClick(chart, Qt::LeftButton, {}, chart->rect().center());
      EXPECT_EQ(chart->Values()[1].back(), 60);
      EXPECT_EQ(chart->Scale().yMax, 60);
      sawChart = true;
      display->OnCancel();
    });
    QTest::mouseClick(select->Control<QPushButton>(CDcMeterSelectDlg::IDC_GRAPH), Qt::LeftButton);

    // Nothing chosen: the chart dialog says so and goes with its box, leaving no empty window.
    shown->clearSelection();
    QTest::mouseClick(select->Control<QPushButton>(CDcMeterSelectDlg::IDC_GRAPH), Qt::LeftButton);
    EXPECT_TRUE(boxes.Saw("No meter types selected"));
    sawEmpty = true;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* x = qobject_cast<CDataCollectionDisplay*>(w); x != nullptr && x->isVisible()) sawEmpty = false;
    }
    QTest::mouseClick(select->Control<QPushButton>(IDOK), Qt::LeftButton);  // reads "Cancel"
  });
  QTest::mouseClick(d->Control<QPushButton>(CDcDlgSetup::IDC_GRAPH), Qt::LeftButton);
  EXPECT_TRUE(sawChart);
  EXPECT_TRUE(sawEmpty);
  EXPECT_EQ(pDcMeterSelectDlg.get(), nullptr);
  EXPECT_EQ(d->Selection()[kVoltageInA], 1);
  EXPECT_EQ(d->Selection()[0], 0);
  EXPECT_TRUE(d->WindowExists());
}

TEST_F(DataCollectionTest, AnEmptyChooserSaysWhyAndOffersNoGraph) {
  // Opened on its own: no setup has chosen any type.
  QPointer<CDcMeterSelectDlg> select = new CDcMeterSelectDlg(nullptr, "localhost");
  select->Create(IDD_DC_METER_SELECT);
  EXPECT_EQ(select->DisplayList()->count(), 0);
  EXPECT_TRUE(select->EmptyHint()->isVisible());
  EXPECT_FALSE(select->Control<QPushButton>(CDcMeterSelectDlg::IDC_GRAPH)->isEnabled());
  EXPECT_TRUE(select->Control<QPushButton>(IDOK)->isDefault());
  Screenshot(select, "dc_display_list_empty");
  delete select.data();
  // The chart opened on its own has nothing to chart: its box, then no window.
  QPointer<CDataCollectionDisplay> display = new CDataCollectionDisplay(nullptr, "localhost");
  display->Create(IDD_DC_DISPLAY);
  EXPECT_TRUE(boxes.Saw("No meter types selected"));
  EXPECT_FALSE(!display.isNull() && display->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(display.isNull());
}

}  // namespace
