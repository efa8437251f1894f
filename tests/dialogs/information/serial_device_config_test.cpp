// The serial device dialog against the in-process agent.
#include "dialogs/information/serial_device_config.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <string>

#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Items;
using info_test::Sent;

class SerialDeviceConfigTest : public InfoTest {
 protected:
  void TearDown() override {
    KT_PortList::SetSources("", "");
    InfoTest::TearDown();
  }
  // The agent lists the serial ports of a tty class folder of the test's own: "/dev/" + name.
  void FillAgent(int commMode, std::vector<std::string> ports, int osType, bool sharing) {
    const std::filesystem::path tty = File("tty" + std::to_string(++tty_dirs_));
    std::filesystem::create_directories(tty);
    for (const auto& p : ports) std::filesystem::create_directories(tty / p / "device");
    KT_PortList::SetSources(tty.string(), "/dev");
    auto lock = agent.scp().Lock();
    ConfigBlock& c = agent.scp().config;
    c.SetCommMode(commMode);
    c.SetSerialDeviceName("/dev/ttyS1");
    c.SetNoLoopbackTest(1);
    agent.scp().upsInfo.SetOsType(osType);
    if (sharing) {
      agent.scp().upsInfo.SetFunctionSupported(2, 2);
    } else {
      agent.scp().upsInfo.ClearFunctionSupported(2, 2);
    }
  }
  int tty_dirs_ = 0;
};

TEST_F(SerialDeviceConfigTest, FiveRequestsAndTheBusyStateEndsWithTheFourthReply) {
  FillAgent(0, {"ttyS0"}, 15, true);
  agent.MarkAllFresh();
  QPointer<CSerialDeviceConfig> d = new CSerialDeviceConfig(nullptr, "localhost");
  EXPECT_EQ(d->GetWaitCount(), 4);
  EXPECT_EQ(d->windowTitle(), "Configure Serial Device (localhost)");
  EXPECT_EQ(d->HelpContextId(), 3);
  std::vector<bool> busy;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(link.Step(), 1);
    QCoreApplication::sendPostedEvents();
    busy.push_back(d->IsBusy());
  }
  EXPECT_EQ(Sent(link),
            (std::vector<std::string>{"GET 2,4,1", "GET 2,1", "GET 4,1", "GET 4,11", "GET 4,13,1"}));
  EXPECT_EQ(busy, (std::vector<bool>{true, true, true, false, false}));
  EXPECT_TRUE(d->Control<QCheckBox>(CSerialDeviceConfig::IDC_NO_LOOPBACK)->isVisible());
  Screenshot(d, "serial_device_config");
  delete d.data();

  gnCommMode = 4;
  QPointer<CSerialDeviceConfig> all = new CSerialDeviceConfig(nullptr, "localhost");
  EXPECT_EQ(all->GetWaitCount(), 2);
}

TEST_F(SerialDeviceConfigTest, RoleFollowsTheCommModeAndOkWritesItBack) {
  const struct {
    int mode;
    int role;
    int buttonId;
  } kCases[] = {{3, 0, CSerialDeviceConfig::IDC_LOCAL},
                {0, 0, CSerialDeviceConfig::IDC_LOCAL},
                {1, 1, CSerialDeviceConfig::IDC_SERVER},
                {2, 2, CSerialDeviceConfig::IDC_CLIENT}};
  for (const auto& c : kCases) {
    FillAgent(c.mode, {"ttyS0", "ttyUSB0"}, 15, true);
    QPointer<CSerialDeviceConfig> d = OpenIdle<CSerialDeviceConfig>(nullptr, "localhost");
    EXPECT_EQ(d->Role(), c.role) << c.mode;
    EXPECT_TRUE(d->Control<QRadioButton>(c.buttonId)->isChecked()) << c.mode;
    d->Control<QComboBox>(CSerialDeviceConfig::IDC_DEVICE_NAME)->setCurrentIndex(1);
    d->Control<QCheckBox>(CSerialDeviceConfig::IDC_NO_LOOPBACK)->setChecked(false);
    agent.ClearReceived();
    QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    ASSERT_TRUE(link.PumpIdle());
    EXPECT_TRUE(d.isNull());
    const std::vector<std::string> sent = Sent(link);
    EXPECT_EQ(std::vector<std::string>(sent.end() - 3, sent.end()),
              (std::vector<std::string>{"SET 4,13,1", "SET 4,1,1", "SET 4,1,3"}));
    auto lock = agent.scp().Lock();
    EXPECT_EQ(agent.scp().config.GetCommMode(), c.role) << c.mode;
    EXPECT_EQ(agent.scp().config.GetSerialDeviceName().value_or(""), "/dev/ttyUSB0");
    EXPECT_EQ(agent.scp().config.GetNoLoopbackTest(), 0u);
  }
}

TEST_F(SerialDeviceConfigTest, PortListAsTheAgentSendsItElseComPortsOnlyForWindowsHosts) {
  const struct {
    std::vector<std::string> ports;
    int osType;
    QStringList items;
    bool message;
  } kCases[] = {{{"COM7", "COM1", "COM3"}, 2, {"/dev/COM1", "/dev/COM3", "/dev/COM7"}, false},
                {{"ttyUSB0", "ttyS10", "ttyS2"}, 15, {"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}, false},
                {{}, 2, {"COM1", "COM2", "COM3", "COM4"}, false},
                {{}, 15, {}, true}};
  for (const auto& c : kCases) {
    boxes.Clear();
    FillAgent(0, c.ports, c.osType, true);
    QPointer<CSerialDeviceConfig> d = OpenIdle<CSerialDeviceConfig>(nullptr, "localhost");
    auto* combo = d->Control<QComboBox>(CSerialDeviceConfig::IDC_DEVICE_NAME);
    EXPECT_EQ(Items(combo), c.items);
    EXPECT_EQ(combo->currentText(), "/dev/ttyS1");
    EXPECT_EQ(boxes.Saw("Unable to assemble list of available serial ports."), c.message);
    delete d.data();
  }
}

TEST_F(SerialDeviceConfigTest, SharingButtonsWarnOnEveryClickAndHideWithoutTheHardware) {
  FillAgent(0, {"ttyS0"}, 15, true);
  QPointer<CSerialDeviceConfig> d = OpenIdle<CSerialDeviceConfig>(nullptr, "localhost");
  for (int i = 0; i < 2; ++i) {
    QTest::mouseClick(d->Control<QRadioButton>(CSerialDeviceConfig::IDC_CLIENT), Qt::LeftButton);
  }
  QTest::mouseClick(d->Control<QRadioButton>(CSerialDeviceConfig::IDC_SERVER), Qt::LeftButton);
  EXPECT_EQ(boxes.Count(), 3);
  EXPECT_TRUE(boxes.Saw("Additional hardware is required in\norder to implement this feature."));
  EXPECT_TRUE(d->Control<QRadioButton>(CSerialDeviceConfig::IDC_SERVER)->isChecked());
  delete d.data();

  FillAgent(2, {"ttyS0"}, 15, false);
  QPointer<CSerialDeviceConfig> hidden = OpenIdle<CSerialDeviceConfig>(nullptr, "localhost");
  for (int id :
       {CSerialDeviceConfig::IDC_LOCAL, CSerialDeviceConfig::IDC_SERVER, CSerialDeviceConfig::IDC_CLIENT}) {
    EXPECT_TRUE(hidden->Control<QRadioButton>(id)->isHidden()) << id;
  }
  Screenshot(hidden, "serial_device_config_no_sharing");
  QTest::mouseClick(hidden->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().config.GetCommMode(), 2);  // the role read from the configuration
}

TEST_F(SerialDeviceConfigTest, NotAvailableAnswersForPortsAndLoopbackReachTheDialog) {
  FillAgent(0, {}, 2, true);
  agent.ForceStatus(6);  // "Not Available"
  QPointer<CSerialDeviceConfig> d = new CSerialDeviceConfig(nullptr, "localhost");
  link.PumpIdle();
  // Only (4, 11) and (4, 13) reach the dialog; it keeps waiting for the rest.
  EXPECT_EQ(d->GetWaitCount(), 2);
  EXPECT_EQ(Items(d->Control<QComboBox>(CSerialDeviceConfig::IDC_DEVICE_NAME)).size(), 0);
}

}  // namespace
