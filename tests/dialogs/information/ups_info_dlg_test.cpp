// The system information dialog against the in-process agent.
#include "dialogs/information/ups_info_dlg.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "core/base/setup_data.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Rows;
using info_test::Sent;

class UpsInfoDlgTest : public InfoTest {
 protected:
  // A fully described UPS behind an agent in the given communication mode.
  void FillAgent(int commMode) {
    auto lock = agent.scp().Lock();
    UpsInfoBlock& info = agent.scp().upsInfo;
    info.SetModelIndex(1);
    info.SetSerialNumber("SN4711");
    info.SetCto("CTO-88");
    info.SetModelText("Tower 1000");
    info.SetVersion(2, 5);
    info.SetVariant(2);
    info.SetVARating(1000);
    info.SetWattRating(700);
    info.SetNumberOfPhases(1);
    info.SetNominalInputVoltage(230);
    info.SetNominalInputFrequency(50);
    info.SetNominalOutputVoltage(230);
    info.SetNominalOutputFrequency(50);
    info.SetInterfaceType(1);
    info.SetSoftwareVersion(3, 7);
    info.SetOsType(15);
    info.SetOsVersion(6, 1, 0);
    info.SetAdapterVersion(1, 3);
    ConfigBlock& config = agent.scp().config;
    config.SetCommMode(commMode);
    config.SetAdapterName("ups-adapter");
    config.SetPoweredDevices("file server, switch");
    config.SetLocation("rack 4");
  }
};

TEST_F(UpsInfoDlgTest, AsksForConfigurationThenInformationShowsNothingBeforeAndWaitsForBothUnlessAllNetworks) {
  for (int mode : {0, 4}) {
    gnCommMode = mode;
    const size_t before = link.Sent().size();
    agent.MarkAllFresh();
    QPointer<CUpsInfoDlg> d = new CUpsInfoDlg(nullptr, "localhost");
    EXPECT_EQ(d->GetWaitCount(), mode == 4 ? 1 : 2) << mode;
    EXPECT_EQ(d->windowTitle(), "View System Information (localhost)");
    EXPECT_EQ(d->HelpContextId(), 31);
    EXPECT_EQ(d->GetPrintFile(), "sysinfo.txt");
    // Nothing of the console's own defaults before the agent's answer.
    EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"UPS DESCRIPTION:|", "|", "UPS RATINGS:|", "|", "SOFTWARE:|"}));
    if (mode == 0) Screenshot(d, "ups_info_waiting");
    ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    link.PumpIdle();
    const std::vector<std::string> sent = Sent(link);
    EXPECT_EQ(std::vector<std::string>(sent.begin() + static_cast<long>(before), sent.end()),
              (std::vector<std::string>{"GET 4", "GET 2"}));
    delete d.data();
  }
}

TEST_F(UpsInfoDlgTest, AnUnsetBlockShowsHeadingsNameVendorAndApplicationTypeOnly) {
  auto* d = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
  const SetupData setup;
  std::vector<std::string> expected = {
      "UPS DESCRIPTION:|", "Name:|" + setup.GetUpsModelName(255), "|", "UPS RATINGS:|", "|", "SOFTWARE:|"};
  if (!setup.GetVendorText().empty()) expected.push_back("Vendor:|" + setup.GetVendorText());
  expected.push_back("Application Type|" + setup.GetApplicationTypeName(0));
  EXPECT_EQ(Rows(d->List()), expected);
}

TEST_F(UpsInfoDlgTest, AdapterRowsOnlyWithTheTwoAdapterModes) {
  for (int mode : {0, 3, 8, 9}) {
    FillAgent(mode);
    auto* d = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
    const SetupData setup;
    std::vector<std::string> expected = {
        "UPS DESCRIPTION:|",
        "Name:|" + setup.GetUpsModelName(1),
        "Serial Number:|SN4711",
        "CTO Number:|CTO-88",
        "Model:|Tower 1000",
        "Version:|2.05",
        "Topology:|Line Interactive",
        "|",
        "UPS RATINGS:|",
        "VA Rating:|1000",
        "Watt Rating:|700",
        "Number of Phases:|1",
        "Nominal Input Voltage:|230",
        "Nominal Input Frequency:|50",
        "Nominal Output Voltage:|230",
        "Nominal Output Frequency:|50",
        "|",
        "SOFTWARE:|",
    };
    if (!setup.GetVendorText().empty()) expected.push_back("Vendor:|" + setup.GetVendorText());
    expected.push_back("Application Type|" + setup.GetApplicationTypeName(1));
    expected.push_back("Application Version:|4.3.07");
    expected.push_back("Operating System:|Linux");
    expected.push_back("OS Version:|6.1");
    if (mode == 8 || mode == 9) {
      expected.push_back("Network Adapter Version:|1.03");
      expected.push_back("Network Adapter Name:|ups-adapter");
    }
    EXPECT_EQ(Rows(d->List()), expected) << "mode " << mode;
    EXPECT_EQ(d->Control<QLineEdit>(CUpsInfoDlg::IDC_POWERED_DEVICES)->text(), "file server, switch");
    EXPECT_EQ(d->Control<QLineEdit>(CUpsInfoDlg::IDC_LOCATION)->text(), "rack 4");
    if (mode == 8) Screenshot(d, "ups_info");
    delete d;
  }
}

TEST_F(UpsInfoDlgTest, OkSendsTheTwoTextsIntoTheAgentsConfiguration) {
  FillAgent(0);
  QPointer<CUpsInfoDlg> d = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
  d->Control<QLineEdit>(CUpsInfoDlg::IDC_POWERED_DEVICES)->setText("two PCs");
  d->Control<QLineEdit>(CUpsInfoDlg::IDC_LOCATION)->setText("basement");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(Sent(link).back(), "SET 4,4");
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().config.GetPoweredDevices().value_or(""), "two PCs");
  EXPECT_EQ(agent.scp().config.GetLocation().value_or(""), "basement");
}

TEST_F(UpsInfoDlgTest, MakeMultiLineWrapsAtWhiteSpaceWithinSixtySixColumns) {
  QString words;
  while (words.size() < 150) words += "abcdefgh ";
  words.truncate(150);
  QString wrapped = words;
  CUpsInfoDlg::MakeMultiLine(wrapped);
  const QStringList lines = wrapped.split('\n');
  EXPECT_GT(lines.size(), 2);
  for (const QString& line : lines) EXPECT_LE(line.size(), 66) << line.toStdString();
  EXPECT_EQ(wrapped.size(), words.size());
  EXPECT_EQ(QString(wrapped).replace('\n', ' '), words);

  QString solid(150, 'x');
  QString same = solid;
  CUpsInfoDlg::MakeMultiLine(same);
  EXPECT_EQ(same, solid);
  // Exactly 66 characters stay one line; the 67th may break at a blank in column 67.
  QString exact = QString(66, 'a') + " b";
  CUpsInfoDlg::MakeMultiLine(exact);
  EXPECT_EQ(exact, QString(66, 'a') + "\nb");
}

TEST_F(UpsInfoDlgTest, PrintWritesSysinfoAndPrintsIt) {
  FillAgent(0);
  auto* d = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
  QString location;
  for (int i = 0; i < 15; ++i) location += "shelf " + QString::number(i) + ", ";
  d->Control<QLineEdit>(CUpsInfoDlg::IDC_LOCATION)->setText(location);
  d->Control<QLineEdit>(CUpsInfoDlg::IDC_POWERED_DEVICES)->setText(QString(80, 'P'));
  QTest::mouseClick(d->Control<QPushButton>(CUpsInfoDlg::IDC_PRINT_INFO), Qt::LeftButton);
  EXPECT_EQ(print.Count(), 1);
  EXPECT_TRUE(std::filesystem::file_size(File("print.pdf")) > 0);

  std::string expected;
  for (const QStringList& row : d->List()->Rows()) {
    std::string label = row[0].toStdString();
    label.resize(std::max<size_t>(30, label.size()), ' ');
    expected += label + row[1].toStdString() + "\n";
  }
  QString wrapped = location;
  CUpsInfoDlg::MakeMultiLine(wrapped);
  expected += "\nPowered Devices:              \n  " + std::string(80, 'P') + "\n";
  expected += "Location:                     \n  " + wrapped.toStdString() + "\n";
  EXPECT_EQ(info_test::ReadFile(File("sysinfo.txt")), expected);
  EXPECT_NE(wrapped.indexOf('\n'), -1);
  info_test::KeepBesideScreenshots(File("sysinfo.txt"), ScreenshotTopic(), "sysinfo.txt");
  info_test::KeepBesideScreenshots(File("print.pdf"), ScreenshotTopic(), "sysinfo.pdf");
}

TEST_F(UpsInfoDlgTest, PicturesFollowTheModelAndTheLogoMovesUpWithoutOne) {
  struct Case {
    int model;
    int va;
    int bitmap;
  };
  const Case kCases[] = {{1, 1000, 188},  {13, 20000, 252}, {13, 10000, 236},
                         {18, 1000, 265}, {14, 1000, 0},    {255, 1000, 0}};
  SetupData setup;
  setup.SetVendorCode(204);
  ASSERT_EQ(setup.WriteFile(SetupData::kFileName), 1);
  for (const Case& c : kCases) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetModelIndex(c.model);
      agent.scp().upsInfo.SetVARating(c.va);
    }
    auto* d = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
    d->repaint();
    const CUpsInfoDlg::Pictures p = d->ComputePictures();
    const QRect list = d->List()->geometry();
    EXPECT_EQ(p.upsBitmap, c.bitmap) << c.model;
    EXPECT_EQ(p.logoBitmap, 204);
    if (c.bitmap == 0) {
      EXPECT_EQ(d->PictureHeight(), 0);
      EXPECT_EQ(p.logoRect.top(), list.top()) << "logo on top";
    } else {
      EXPECT_EQ(d->PictureHeight(), p.upsRect.height());
      EXPECT_EQ(p.logoRect.top(), p.upsRect.bottom() + 6);
      EXPECT_EQ(p.upsRect.height(), c.model == 13 ? list.height() - list.height() / 4 : list.height() / 2);
    }
    EXPECT_EQ(p.logoRect.height(), list.height() / 4);
    if (c.model == 13 && c.bitmap == 252) Screenshot(d, "ups_info_tall_picture");
    if (c.bitmap == 0 && c.model == 14) Screenshot(d, "ups_info_no_picture");
    delete d;
  }
}

}  // namespace

namespace {

TEST_F(UpsInfoDlgTest, ResizingGrowsTheListAndKeepsTheOtherControlsInPlace) {
  auto* d = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
  const int ids[] = {CUpsInfoDlg::IDC_POWERED_DEVICES,
                     CUpsInfoDlg::IDC_LOCATION,
                     CUpsInfoDlg::IDC_POWERED_LABEL,
                     CUpsInfoDlg::IDC_LOCATION_LABEL,
                     IDOK,
                     IDCANCEL,
                     CUpsInfoDlg::IDC_PRINT_INFO,
                     ID_HELP};
  auto offsets = [&] {
    std::vector<std::pair<QPoint, QSize>> out;
    const QPoint anchor(d->width() / 2, d->height());
    for (int id : ids) {
      QWidget* w = d->Control(id);
      out.emplace_back(w->geometry().topLeft() - anchor, w->size());
    }
    return out;
  };
  d->show();
  QCoreApplication::processEvents();
  const auto before = offsets();
  const QSize list = d->List()->size();
  d->resize(d->width() + 200, d->height() + 120);
  QCoreApplication::processEvents();
  EXPECT_EQ(d->List()->size(), list + QSize(200, 120));
  const auto after = offsets();
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].second, before[i].second) << ids[i];
    EXPECT_EQ(after[i].first, before[i].first) << ids[i];
  }
}

}  // namespace
