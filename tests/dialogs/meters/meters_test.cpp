// The meters dialog against the in-process agent: requests, the list, its rebuilds, the
// range file's name, the saved view and the gauges it reopens.
#include "dialogs/meters/meters.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class MetersTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("meters"); }

  void SetUp() override {
    TremTest::SetUp();
    {
      auto lock = gScp.Lock();
      gScp.ResetUpsData();
    }
    CMeters::SetScreenWidthOverride(1280);
    auto lock = agent.scp().Lock();
    KT_SCP& s = agent.scp();
    s.upsInfo.SetSoftwareVersion(1, 4);
    s.upsInfo.SetModelIndex(255);
    s.upsInfo.SetVARating(1500);
    s.upsInfo.SetWattRating(1050);
    s.upsInfo.SetNominalInputVoltage(120);
    s.upsInfo.SetNominalOutputVoltage(120);
    s.upsInfo.SetNominalInputFrequency(60);
    s.upsInfo.SetNominalOutputFrequency(60);
    s.upsInfo.SetNumberOfPhases(1);
    s.meters.SetLoadVARating(1500);
    s.meters.SetLoadWattRating(1050);
    s.meters.SetOutputVA(480);     // 32 %
    s.meters.SetOutputWatts(300);  // 28 %
    s.meters.SetBatteryCapacity(100);
    s.meters.SetBatteryTime(900);
    s.meters.SetInputFrequency(60);
    s.meters.SetOutputFrequency(60);
    s.meters.SetTemperature(31);
    s.meters.SetInputVoltage(0, 121);
    s.meters.SetOutputVoltage(0, 119);
    s.meters.SetInputCurrent(0, 125);
    s.meters.SetOutputCurrent(0, 40);
  }
  void TearDown() override {
    CMeters::SetScreenWidthOverride(0);
    TremTest::TearDown();
  }

  // GETs of a block the agent received.
  int Requests(int block) const {
    int n = 0;
    for (const KT_ScpMessage& m : agent.Received()) {
      if (m.type == SCP_GET && !m.key.empty() && m.key[0] == block) ++n;
    }
    return n;
  }
  // Runs until the dialog, having taken in the meter reply to the request now waiting, has
  // asked for the next one (it asks with every meter reply, as long as it is open).
  bool NextReadings() {
    const int asked = Requests(3);
    return link.PumpUntil([&] { return Requests(3) >= asked + 2; });
  }
  // Opens the dialog and runs until its requests are answered.
  CMeters* Open() {
    const int asked = Requests(3);
    auto* d = new CMeters(nullptr, "localhost");
    agent.MarkAllFresh();
    EXPECT_TRUE(link.PumpUntil([&] { return Requests(3) >= asked + 2; }));
    return d;
  }
  // The agent's meter block reaches the dialog again.
  void Refresh() {
    agent.MarkAllFresh();
    ASSERT_TRUE(NextReadings());
  }
  static QStringList Column(CMeters* d, int column) {
    QStringList out;
    for (int r = 0; r < d->List()->topLevelItemCount(); ++r) out << d->List()->topLevelItem(r)->text(column);
    return out;
  }
};

TEST_F(MetersTest, AsksForConfigurationInformationAndMetersAndListsTheReadings) {
  QPointer<CMeters> d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(pMeters.get(), d.data());
  EXPECT_EQ(d->windowTitle(), "View Meters (localhost)");
  EXPECT_EQ(d->HelpContextId(), 32);
  ASSERT_GE(agent.Received().size(), 3u);
  EXPECT_EQ(agent.Received()[0].key, (std::vector<uint8_t>{4, 2}));
  EXPECT_EQ(agent.Received()[1].key, (std::vector<uint8_t>{2}));
  EXPECT_EQ(agent.Received()[2].key, (std::vector<uint8_t>{3}));
  EXPECT_FALSE(d->IsBusy());
  EXPECT_EQ(d->List()->headerItem()->text(0), "View Meters");
  EXPECT_EQ(d->List()->headerItem()->text(1), "Value");
  EXPECT_EQ(Column(d, 0),
            (QStringList{"Percent Load - Linear", "Output Power - Apparent", "Percent Load",
                         "Battery Capacity", "Battery Time Remaining", "Input Frequency", "Output Frequency",
                         "Output Power - Real", "Percent Load - Non Linear", "Temperature", "Input Voltage",
                         "Output Voltage", "Input Current", "Output Current"}));
  EXPECT_EQ(Column(d, 1), (QStringList{"< 33%", "480VA", "< 33%", "100%", "900s", "60Hz", "60Hz", "300WATTS",
                                       "< 33%", "31C", "121V", "119V", "12.5A", "4.0A"}));
  // The saved view is missing: the four default gauges opened, each for its own meter.
  for (int meter : {0, 4, 11, 12}) {
    KtGaugeWindow* w = CMeters::GaugeWindowOf(meter);
    ASSERT_NE(w, nullptr) << meter;
    EXPECT_EQ(w->windowTitle(), CMeters::MeterLabel(meter));
    const KtGaugeDefinition* def = KtGaugeFind(w->Control()->Handle());
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->name, QString::fromLatin1(kMeterTable[meter].gaugeName));
  }
  const KtGaugeDefinition* load = KtGaugeFind(CMeters::GaugeHandleOf(0));
  ASSERT_NE(load, nullptr);
  EXPECT_DOUBLE_EQ(load->value, 33);  // 32 % shows 33 on the gauge
  EXPECT_DOUBLE_EQ(load->max, 125);
  EXPECT_DOUBLE_EQ(load->step, 25);
  Screenshot(d, "meters_list");
  Screenshot(CMeters::GaugeWindowOf(0), "gauge_percent_load");
  Screenshot(CMeters::GaugeWindowOf(11), "gauge_input_voltage");

  const int gauges = KtGaugeCount();
  const int windows = KtGaugeWindowCount();
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  link.PumpIdle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(KtGaugeCount(), gauges - 4);  // every gauge destroyed with the dialog
  EXPECT_EQ(KtGaugeWindowCount(), windows - 4);
}

TEST_F(MetersTest, PhaseLabelsFollowPhaseBReadings) {
  {
    auto lock = agent.scp().Lock();
    agent.scp().meters.SetInputVoltage(1, 122);
    agent.scp().meters.SetInputVoltage(2, 123);
    agent.scp().meters.SetOutputVoltage(1, 118);
    agent.scp().upsInfo.SetNumberOfPhases(3);
  }
  CMeters* d = Open();
  const QStringList labels = Column(d, 0);
  for (const char* label : {"Input Voltage - Phase A", "Output Voltage - Phase A", "Input Current - Phase A",
                            "Output Current - Phase A", "Input Voltage - Phase B", "Input Voltage - Phase C",
                            "Output Voltage - Phase B"}) {
    EXPECT_TRUE(labels.contains(label)) << label;
  }
  EXPECT_FALSE(labels.contains("Input Voltage"));
  // The default view's "Input Voltage" names no meter of a three-phase UPS.
  EXPECT_EQ(CMeters::GaugeWindowOf(11), nullptr);
}

TEST_F(MetersTest, AvailabilityChangesRebuildValueChangesKeepTheSelection) {
  CMeters* d = Open();
  const int rows = d->List()->topLevelItemCount();
  QTreeWidgetItem* temperature = d->List()->topLevelItem(9);
  temperature->setSelected(true);
  {
    auto lock = agent.scp().Lock();
    agent.scp().meters.SetTemperature(35);
  }
  Refresh();
  EXPECT_EQ(d->List()->topLevelItem(9), temperature);  // the same row, rewritten in place
  EXPECT_TRUE(temperature->isSelected());
  EXPECT_EQ(temperature->text(1), "35C");

  {
    auto lock = agent.scp().Lock();
    agent.scp().meters.SetBatteryVoltage(54);
  }
  Refresh();
  EXPECT_EQ(d->List()->topLevelItemCount(), rows + 1);
  EXPECT_EQ(d->List()->topLevelItem(3)->text(0), "Battery Voltage");
  EXPECT_EQ(d->List()->topLevelItem(3)->text(1), "54V");
  EXPECT_EQ(d->GetCurrentLocation(), 9);  // the row number is selected again in the new list
}

TEST_F(MetersTest, WhileOpenEachMeterReplyAsksForTheNextSoTheListAndTheNeedlesFollow) {
  QPointer<CMeters> d = Open();
  ASSERT_NE(CMeters::GaugeWindowOf(11), nullptr);
  for (const auto& [volts, text] : {std::pair{108, "108V"}, std::pair{127, "127V"}}) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().meters.SetInputVoltage(0, volts);
    }
    // Nothing but the dialog asks, and never more than one request waits.
    Refresh();
    {
      ScpQueueLock lock;
      EXPECT_LE(gScp.requestTable.GetCount(), 1);
    }
    EXPECT_EQ(Column(d, 1)[Column(d, 0).indexOf("Input Voltage")], text);
    EXPECT_DOUBLE_EQ(KtGaugeFind(CMeters::GaugeHandleOf(11))->value, volts);
  }
  // A reading the agent no longer has leaves the list and takes the open gauge's needle with
  // it; the next reading brings both back.
  for (const int volts : {0xFFFF, 115}) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().meters.SetInputVoltage(0, volts);
    }
    Refresh();
    const bool known = volts != 0xFFFF;
    EXPECT_EQ(Column(d, 0).contains("Input Voltage"), known);
    ASSERT_NE(CMeters::GaugeWindowOf(11), nullptr);
    EXPECT_EQ(KtGaugeFind(CMeters::GaugeHandleOf(11))->hasValue, known);
  }
  // Closed, it asks no more: the last request is answered and nothing follows.
  const int asked = Requests(3);
  delete d.data();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(link.PumpIdle());
  EXPECT_LE(Requests(3), asked + 1);
}

TEST_F(MetersTest, ModelCodePicksTheRangeFile) {
  const std::pair<int, const char*> cases[] = {
      {7, "MMGROUP2.DAT"}, {255, "MMDFAULT.DAT"}, {20, "MMGROUP5.DAT"}};
  for (const auto& [model, file] : cases) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetModelIndex(model);
    }
    CMeters* d = Open();
    EXPECT_EQ(d->RangeFileName().toStdString(), file) << model;
    d->ReadMinMax();  // no such file here: the message, then the defaults
    EXPECT_TRUE(boxes.Saw("could not be opened")) << model;
    EXPECT_EQ(boxes.Boxes().back().caption, "ERROR");
    d->DestroyWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    boxes.Clear();
  }
}

TEST_F(MetersTest, SavedViewRoundTripAndItsLineRule) {
  CMeters* d = Open();
  d->OnSaveView();
  std::ifstream in("cfgmeter.dat");
  std::stringstream text;
  text << in.rdbuf();
  const std::string saved = text.str();
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), kMeterCount);
  EXPECT_EQ(saved.substr(0, saved.find('\n')), "Percent Load - Linear");
  for (int i = 0; i < kMeterCount; ++i) CMeters::ConfiguredMeter(i) = "x";
  EXPECT_EQ(d->ReadFileFromDisk(), 1);
  QStringList open;
  for (int i = 0; i < kMeterCount; ++i) {
    if (CMeters::ConfiguredMeter(i) != " ") open << CMeters::ConfiguredMeter(i);
  }
  EXPECT_EQ(open,
            (QStringList{"Percent Load - Linear", "Battery Capacity", "Input Voltage", "Output Voltage"}));

  // A line of 80 characters keeps all 80 and its newline reads as an empty entry; a last line
  // without a newline keeps its last letter.
  {
    std::ofstream out("cfgmeter.dat", std::ios::trunc);
    out << std::string(80, 'a') << "\n"
        << "Temperature\n"
        << "Input Voltage";
  }
  EXPECT_EQ(d->ReadFileFromDisk(), 1);
  EXPECT_EQ(CMeters::ConfiguredMeter(0), QString(80, 'a'));
  EXPECT_EQ(CMeters::ConfiguredMeter(1), "");
  EXPECT_EQ(CMeters::ConfiguredMeter(2), "Temperature");
  EXPECT_EQ(CMeters::ConfiguredMeter(3), "Input Voltage");
  EXPECT_EQ(CMeters::ConfiguredMeter(4), " ");

  std::remove("cfgmeter.dat");
  EXPECT_EQ(d->ReadFileFromDisk(), 0);
  EXPECT_EQ(CMeters::ConfiguredMeter(1), "Battery Capacity");
}

TEST_F(MetersTest, SavedViewOfFourMetersReopensFourGaugesShowingTheirOwnMetersAndLeavesTheKeyboardWithTheDialog) {
  {
    std::ofstream out("cfgmeter.dat", std::ios::trunc);
    out << "Temperature\n \nInput Current\nOutput Power - Real\nBattery Time Remaining\n";
  }
  CMeters* d = Open();
  const std::pair<int, double> shown[] = {{10, 31}, {13, 12.5}, {8, 300}, {5, 420}};
  for (const auto& [meter, value] : shown) {
    KtGaugeWindow* w = CMeters::GaugeWindowOf(meter);
    ASSERT_NE(w, nullptr) << meter;
    const KtGaugeDefinition* def = KtGaugeFind(w->Control()->Handle());
    ASSERT_NE(def, nullptr) << meter;
    EXPECT_EQ(def->name, QString::fromLatin1(kMeterTable[meter].gaugeName)) << meter;
    EXPECT_EQ(def->unit, QString::fromLatin1(kMeterTable[meter].gaugeUnit)) << meter;
    EXPECT_DOUBLE_EQ(def->value, value) << meter;  // clamped to the scale (battery time)
  }
  EXPECT_EQ(CMeters::GaugeWindowOf(0), nullptr);
  // Slots follow the list order; Save View writes them by slot.
  EXPECT_EQ(CMeters::SlotMeter(0), 5);
  EXPECT_EQ(CMeters::SlotMeter(1), 8);
  EXPECT_EQ(CMeters::SlotMeter(3), 13);
  Screenshot(CMeters::GaugeWindowOf(13), "gauge_input_current");
  Screenshot(CMeters::GaugeWindowOf(5), "gauge_battery_time");
  // The gauges that opened left the keyboard with the dialog: Escape, typed where the keyboard
  // is, closes it.
  QPointer<CMeters> open = d;
  link.PumpFor(50);
  ASSERT_EQ(QApplication::activeWindow(), d);
  QWidget* keyboard = QApplication::focusWidget();
  QTest::keyClick(keyboard != nullptr ? keyboard : QApplication::activeWindow(), Qt::Key_Escape);
  link.PumpFor(50);
  EXPECT_TRUE(open.isNull() || !open->isVisible());
}

TEST_F(MetersTest, GaugesTakeTheirScaleFromRatingsThatArriveAfterThem) {
  // The ratings reach the console after the gauges opened: by a reply of their own, or into
  // the console's image while the dialog waits for the next readings.
  for (const bool ownReply : {true, false}) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetNominalInputVoltage(0xFFFF);
      agent.scp().upsInfo.SetNominalOutputVoltage(0xFFFF);
      agent.scp().meters.SetInputVoltage(0, 230);
      agent.scp().meters.SetOutputVoltage(0, 229);
    }
    QPointer<CMeters> d = Open();
    for (int meter : {11, 12}) {
      const KtGaugeDefinition* def = KtGaugeFind(CMeters::GaugeHandleOf(meter));
      ASSERT_NE(def, nullptr) << meter;
      EXPECT_DOUBLE_EQ(def->max, 150) << meter;  // no ratings yet: those of 120 V
    }
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetNominalInputVoltage(230);
      agent.scp().upsInfo.SetNominalOutputVoltage(230);
    }
    if (ownReply) {
      agent.MarkAllFresh();
      const int asked = Requests(2);
      RequestForHost(1, 2, 0, 0);
      ASSERT_TRUE(link.PumpUntil([&] { return Requests(2) > asked; }));
      ASSERT_TRUE(NextReadings());
    } else {
      {
        auto lock = gScp.Lock();
        gScp.upsInfo.SetNominalInputVoltage(230);
        gScp.upsInfo.SetNominalOutputVoltage(230);
      }
      Refresh();
    }
    for (const auto& [meter, value] : {std::pair{11, 230.0}, std::pair{12, 229.0}}) {
      const KtGaugeDefinition* def = KtGaugeFind(CMeters::GaugeHandleOf(meter));
      ASSERT_NE(def, nullptr) << meter;
      EXPECT_DOUBLE_EQ(def->max, 290) << ownReply << " " << meter;
      EXPECT_DOUBLE_EQ(def->value, value) << ownReply << " " << meter;
      // The dial shows the new definition.
      EXPECT_EQ(CMeters::GaugeWindowOf(meter)->Control()->Handle(), CMeters::GaugeHandleOf(meter));
    }
    if (ownReply) Screenshot(CMeters::GaugeWindowOf(11), "gauge_input_voltage_late_ratings");
    delete d.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto lock = gScp.Lock();
    gScp.ResetUpsData();
  }
}

TEST_F(MetersTest, GaugePlacementSlotsAndReclaim) {
  const std::tuple<int, int, int, int> places[] = {
      {800, 4, 0, 20},  {800, 28, 0, 140},    {800, 3, 600, 0},     {640, 3, 0, 20},
      {1024, 5, 0, 20}, {1024, 34, 800, 120}, {800, 34, 1200, 140},
  };
  for (const auto& [width, slot, x, y] : places) {
    EXPECT_EQ(CMeters::GaugePlacement(slot, width), QPoint(x, y)) << width << " " << slot;
  }
  // The panel holds the columns its gauges fill, one frame apart, and the rows' cascade.
  const struct {
    int highest, width;
    QSize cell, panel;
  } panels[] = {
      {3, 1280, {204, 204}, {816, 204}},  // the four default gauges
      {0, 1280, {204, 204}, {204, 204}},
      {5, 1280, {204, 204}, {1020, 224}},
      {34, 640, {200, 200}, {600, 340}},  // every slot: the last row holds the rest
  };
  for (const auto& c : panels) {
    EXPECT_EQ(CMeters::GaugePanelSize(c.highest, c.width, c.cell), c.panel) << c.highest << " " << c.width;
  }
  // On the screen (here 1280 x 1000 from (0, 24)): beside the dialog, else above or below it,
  // wherever the panel fits; else at the area's edge that covers least of the dialog.
  const QRect available(0, 24, 1280, 1000);
  const struct {
    QRect area, dialog;
    QSize panel;
    QPoint at;
  } origins[] = {
      {available, {10, 40, 300, 400}, {800, 200}, {318, 40}},        // right of the dialog
      {available, {1000, 40, 250, 400}, {600, 204}, {392, 40}},      // no room right: left
      {available, {447, 295, 386, 434}, {816, 204}, {232, 83}},      // neither side: above, centred
      {available, {700, 40, 300, 400}, {800, 204}, {450, 448}},      // no room above: below
      {available, {10, 900, 300, 100}, {600, 344}, {318, 680}},      // beside, raised to fit
      {available, {0, 0, 2000, 100}, {400, 204}, {800, 108}},        // a dialog wider than the area
      {{0, 0, 640, 480}, {127, 23, 386, 434}, {612, 224}, {14, 0}},  // no room anywhere
  };
  for (const auto& c : origins) {
    EXPECT_EQ(CMeters::GaugePanelOrigin(c.dialog, c.area, c.panel), c.at)
        << c.dialog.x() << "," << c.dialog.y() << " " << c.panel.width() << "x" << c.panel.height();
  }
  // A dialog the user has not moved moves the least that gives a side room (as on 1024 x 768
  // under openbox, up by 29), else (no room anywhere) as far from the panel as the area allows;
  // the panel leaves the buttons clear wherever a spot does (a dialog that stays put included).
  const QRect area800(0, 0, 800, 600);
  const QRect area1024(0, 0, 1024, 768);
  const struct {
    QRect area, dialog, buttons;
    QSize panel;
    bool mayMove;
    CMeters::GaugeLayout layout;
  } layouts[] = {
      {available, {10, 40, 300, 400}, {40, 400, 240, 22}, {800, 200}, true, {{318, 40}, {10, 40}}},  // room
      {area1024, {310, 109, 384, 455}, {376, 526, 252, 22}, {808, 225}, true, {{98, 543}, {310, 80}}},
      {{0, 0, 1280, 600},
       {450, 100, 386, 434},
       {516, 490, 252, 22},
       {816, 204},
       true,
       {{0, 100}, {824, 100}}},
      {area1024, {310, 109, 384, 455}, {376, 526, 252, 22}, {808, 225}, false, {{98, 0}, {310, 109}}},
      {area800, {198, 25, 384, 455}, {264, 442, 252, 22}, {808, 225}, true, {{0, 0}, {198, 145}}},
      {area800, {198, 25, 384, 455}, {264, 442, 252, 22}, {808, 225}, false, {{0, 0}, {198, 25}}},
      {area800, {198, 145, 384, 455}, {264, 562, 252, 22}, {808, 225}, false, {{0, 0}, {198, 145}}},
      // The buttons at the top: the panel takes the bottom.
      {area800, {198, 25, 384, 455}, {264, 60, 252, 22}, {808, 225}, true, {{0, 375}, {198, 0}}},
  };
  for (const auto& c : layouts) {
    const CMeters::GaugeLayout l = CMeters::GaugePanelLayout(c.dialog, c.buttons, c.area, c.panel, c.mayMove);
    EXPECT_EQ(l, c.layout) << c.dialog.x() << "," << c.dialog.y() << " on " << c.area.width() << " "
                           << c.mayMove << ": panel " << l.panel.x() << "," << l.panel.y() << " dialog "
                           << l.dialog.x() << "," << l.dialog.y();
  }
  // A window's place in the panel, its frame kept inside the area.
  EXPECT_EQ(CMeters::GaugeScreenPosition(available, {232, 83}, 3, 1280, {204, 204}), QPoint(844, 83));
  EXPECT_EQ(CMeters::GaugeScreenPosition(available, {1000, 900}, 2, 1280, {204, 204}), QPoint(1076, 820));
  CMeters* d = Open();
  // Open every meter: the panel fills all 35 slots.
  for (int i = 0; i < kMeterCount; ++i) d->CreatePages(CMeters::MeterLabel(i));
  for (int s = 0; s < kMeterCount; ++s) EXPECT_GE(CMeters::SlotMeter(s), 0) << s;
  const int windows = KtGaugeWindowCount();
  // A 36th request (a meter already open) opens nothing more.
  d->CreatePages(CMeters::MeterLabel(20));
  d->CreatePages("No such meter");
  EXPECT_EQ(KtGaugeWindowCount(), windows);
  // Closing slot 0's window frees it for the next gauge.
  const int first = CMeters::SlotMeter(0);
  CMeters::GaugeWindowOf(first)->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CMeters::SlotMeter(0), -1);
  d->CreatePages(CMeters::MeterLabel(first));
  EXPECT_EQ(CMeters::SlotMeter(0), first);
  EXPECT_EQ(KtGaugeWindowCount(), windows);
}

// Counts the moves of each window.
struct MoveCounter : QObject {
  MoveCounter() { qApp->installEventFilter(this); }
  ~MoveCounter() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Move && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow())
      ++moves[watched];
    return QObject::eventFilter(watched, event);
  }
  std::map<QObject*, int> moves;
};

TEST_F(MetersTest, TheDialogMakesRoomForTheGaugesUntilTheUserMovesIt) {
  // The dialog in the middle of the screen, where neither above nor below it holds the row of
  // the default gauges: it moves up the least that makes room below, and the gauges open there
  // all at once.
  const int asked = Requests(3);
  QPointer<CMeters> d = new CMeters(nullptr, "localhost");
  const QRect available = d->screen()->availableGeometry();
  const QRect first(QPoint(available.left() + 40, available.center().y() - d->frameGeometry().height() / 2),
                    d->frameGeometry().size());
  d->move(first.topLeft());
  QCoreApplication::processEvents();
  MoveCounter counter;
  agent.MarkAllFresh();
  ASSERT_TRUE(link.PumpUntil([&] { return Requests(3) >= asked + 2; }));
  std::vector<int> gauges;
  for (int s = 0; s < kMeterCount; ++s) {
    if (CMeters::SlotMeter(s) >= 0) gauges.push_back(CMeters::SlotMeter(s));
  }
  ASSERT_EQ(gauges, (std::vector<int>{0, 4, 11, 12}));
  // The gauges' frames and the gap above them.
  const int row = CMeters::GaugeWindowOf(0)->frameGeometry().height() + 8;
  ASSERT_GT(first.bottom() + row, available.bottom()) << "the screen is too small for this test";
  ASSERT_LT(first.top() - row, available.top()) << "the screen is too small for this test";
  EXPECT_EQ(d->frameGeometry().bottom() + row, available.bottom());
  EXPECT_EQ(d->frameGeometry().left(), first.left());
  // Each window moved once at most, not again at each gauge that opens.
  EXPECT_EQ(counter.moves[d], 1);
  for (int meter : gauges) {
    EXPECT_LE(counter.moves[CMeters::GaugeWindowOf(meter)], 1) << meter;
    const QRect g = CMeters::GaugeWindowOf(meter)->frameGeometry();
    EXPECT_FALSE(g.intersects(d->frameGeometry())) << meter;
    EXPECT_EQ(g.bottom(), available.bottom()) << meter;
  }
  // Moved by the user, the dialog stays where it was put when the next gauge opens.
  const QPoint put = first.topLeft() + QPoint(30, 20);
  d->move(put);
  QCoreApplication::processEvents();
  d->CreatePages("Temperature");
  ASSERT_NE(CMeters::GaugeWindowOf(10), nullptr);
  EXPECT_EQ(d->frameGeometry().topLeft(), put);
  delete d.data();
}

}  // namespace

namespace {

class MetersActionsTest : public MetersTest {};

TEST_F(MetersActionsTest, DoubleClickOpensTheRowsGaugeAndSaveViewReportsAnUnwritableFile) {
  CMeters* d = Open();
  EXPECT_EQ(CMeters::GaugeWindowOf(10), nullptr);
  QTreeWidgetItem* temperature = d->List()->topLevelItem(9);
  ASSERT_EQ(temperature->text(0), "Temperature");
  d->List()->scrollToItem(temperature);
  const QRect r = d->List()->visualItemRect(temperature);
  QTest::mouseClick(d->List()->viewport(), Qt::LeftButton, {}, r.center());
  QTest::mouseDClick(d->List()->viewport(), Qt::LeftButton, {}, r.center());
  KtGaugeWindow* w = CMeters::GaugeWindowOf(10);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), "Temperature");
  EXPECT_DOUBLE_EQ(KtGaugeFind(CMeters::GaugeHandleOf(10))->value, 31);
  EXPECT_TRUE(temperature->isSelected());
  Screenshot(w, "gauge_temperature");

  // "cfgmeter.dat" cannot be written: the message, nothing else happens.
  std::filesystem::create_directory("cfgmeter.dat");
  QTest::mouseClick(d->Control<QPushButton>(CMeters::IDC_SAVE_VIEW), Qt::LeftButton);
  EXPECT_TRUE(boxes.Saw("Unable to open file for writing!"));
  EXPECT_EQ(d->WriteFileToDisk(), 0);
}

TEST_F(MetersActionsTest, LimitsFollowTheConfigurationsBatteryTime) {
  {
    auto lock = agent.scp().Lock();
    agent.scp().config.SetTotalBatteryTime(10);
  }
  CMeters* d = Open();
  EXPECT_FLOAT_EQ(CMeters::Limits(5).scaleMax, 600);
  EXPECT_FLOAT_EQ(CMeters::Limits(5).lowerAlarm, 120);
  EXPECT_EQ(CMeters::Limits(5).section, std::string("[batttime]"));
  EXPECT_EQ(d->List()->topLevelItem(4)->text(1), "900s");  // the reading, beyond the scale
}

}  // namespace
