// The text fields whose texts go into one text of an SCP record: they hold no more than the
// record can carry, so what OK sends is what the field shows.
#include "dialogs/information/record_text_validator.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "core/scp/record_writer.h"
#include "dialogs/battery_test/battery_test.h"
#include "dialogs/information/battery_info.h"
#include "dialogs/information/serial_device_config.h"
#include "dialogs/information/ups_info_dlg.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;

const int kMax = static_cast<int>(kRecordMaxText);

class RecordTextValidatorTest : public InfoTest {};

TEST_F(RecordTextValidatorTest, RecordTextFieldsStopAtTheRecordsByteLimit) {
  QPointer<CBatteryInfo> info = OpenIdle<CBatteryInfo>(nullptr, "localhost");
  QPointer<CUpsInfoDlg> ups = OpenIdle<CUpsInfoDlg>(nullptr, "localhost");
  QPointer<CSerialDeviceConfig> serial = OpenIdle<CSerialDeviceConfig>(nullptr, "localhost");
  QPointer<CBatteryTest> test = OpenIdle<CBatteryTest>(nullptr, "localhost");
  const std::vector<std::pair<const char*, QLineEdit*>> fields = {
      {"battery replaced date", info->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE)},
      {"powered devices", ups->Control<QLineEdit>(CUpsInfoDlg::IDC_POWERED_DEVICES)},
      {"location", ups->Control<QLineEdit>(CUpsInfoDlg::IDC_LOCATION)},
      {"serial device name", serial->Control<QComboBox>(CSerialDeviceConfig::IDC_DEVICE_NAME)->lineEdit()},
      {"battery log file name", test->Control<QLineEdit>(IDC_TEST_FILE_NAME)},
  };
  const QChar eAcute(0x00E9);  // two bytes in UTF-8
  for (const auto& [name, edit] : fields) {
    SCOPED_TRACE(name);
    ASSERT_NE(edit, nullptr);
    // Typing stops at the limit.
    edit->clear();
    QTest::keyClicks(edit, QString(kMax + 40, QChar('x')));
    EXPECT_EQ(edit->text().toStdString(), std::string(kMax, 'x'));
    // Characters of two bytes count twice: a paste beyond the limit is refused whole, one
    // within it is taken.
    edit->clear();
    edit->insert(QString(kMax / 2 + 1, eAcute));
    EXPECT_EQ(edit->text().toStdString(), "");
    edit->insert(QString(kMax / 2, eAcute));
    EXPECT_EQ(edit->text().toStdString(), QString(kMax / 2, eAcute).toStdString());
  }
  for (QWidget* d : std::initializer_list<QWidget*>{info, ups, serial, test})
    if (d != nullptr) d->close();
  link.PumpIdle();
}

TEST_F(RecordTextValidatorTest, ALongReplacedDateReachesTheAgentAsShown) {
  {
    auto lock = agent.scp().Lock();
    agent.scp().batteryInfo.SetReplacedDate("01/01/2020");
  }
  QPointer<CBatteryInfo> d = OpenIdle<CBatteryInfo>(nullptr, "localhost");
  auto* edit = d->Control<QLineEdit>(CBatteryInfo::IDC_REPLACED_DATE);
  edit->clear();
  QTest::keyClicks(edit, QString(kMax + 1, QChar('7')));
  const std::string shown = edit->text().toStdString();
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().batteryInfo.GetReplacedDate().value_or(""), shown);
}

}  // namespace
