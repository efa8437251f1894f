// The console's networking settings and their dialog: cfgnet.dat read at start-up and by the
// dialog, OK putting the values in force and rewriting the file.
#include "dialogs/network/networking_prop_config.h"

#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>

#include "core/scp/scp_base.h"
#include "dialogs/network/net_settings.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/test_support.h"

namespace {

class NetworkingPropTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("adapters"); }
  void SetUp() override {
    TremTest::SetUp();
    SetPollingIntervalSeconds(kDefaultPollingIntervalSeconds);
    SetCommTimeoutSeconds(kDefaultCommTimeoutSeconds);
  }
  void TearDown() override {
    SetPollingIntervalSeconds(kDefaultPollingIntervalSeconds);
    SetCommTimeoutSeconds(kDefaultCommTimeoutSeconds);
    TremTest::TearDown();
  }
  static QSpinBox* Spin(KTDialog* d, int id) { return d->Control<QSpinBox>(id); }
};

struct FileCase {
  const char* content;  // null: no file
  int polling;
  int timeout;
};

TEST_F(NetworkingPropTest, StartUpAndTheDialogTakeTheFilesValuesInRange) {
  const FileCase cases[] = {
      {nullptr, 30, 90},    {"45\n240\n", 45, 240},  {"600\n3600\n", 600, 3600}, {"9\n3601\n", 30, 90},
      {"10\n30\n", 10, 30}, {"abc\n120\n", 30, 120}, {"77 seconds\n", 77, 90},   {"", 30, 90},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "(no file)");
    SetPollingIntervalSeconds(30);
    SetCommTimeoutSeconds(90);
    std::filesystem::remove("cfgnet.dat");
    if (c.content != nullptr) testing_support::WriteFileText("cfgnet.dat", c.content);
    LoadNetSettings();
    EXPECT_EQ(PollingIntervalSeconds(), c.polling);
    EXPECT_EQ(CommTimeoutSeconds(), c.timeout);
    QPointer<CNetworkingPropConfig> d = new CNetworkingPropConfig(nullptr, "localhost");
    EXPECT_EQ(Spin(d, IDC_NP_POLLING)->value(), c.polling);
    EXPECT_EQ(Spin(d, IDC_NP_TIMEOUT)->value(), c.timeout);
    d->OnCancel();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(NetworkingPropTest, TheFilesTimeOutIsTheOneTheCommunicationTestUses) {
  testing_support::ScopedManualClock clock;
  KT_SCPBase image;
  image.TouchCommTime();
  clock->AdvanceSeconds(100);
  EXPECT_TRUE(image.IsCommTimedOut()) << "100 s of silence against the default 90";
  testing_support::WriteFileText("cfgnet.dat", "45\n240\n");
  LoadNetSettings();
  EXPECT_FALSE(image.IsCommTimedOut()) << "240 from cfgnet.dat";
  clock->AdvanceSeconds(141);
  EXPECT_TRUE(image.IsCommTimedOut());
}

TEST_F(NetworkingPropTest, OkPutsTheValuesInForceAndWritesBothLines) {
  QPointer<CNetworkingPropConfig> d = new CNetworkingPropConfig(nullptr, "localhost");
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure Networking Properties (localhost)"));
  Spin(d, IDC_NP_POLLING)->setValue(45);
  Spin(d, IDC_NP_TIMEOUT)->setValue(240);
  Screenshot(d, QStringLiteral("networking_properties"));
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(testing_support::ReadFileText("cfgnet.dat"), "45\n240\n");
  EXPECT_EQ(PollingIntervalSeconds(), 45);
  EXPECT_EQ(CommTimeoutSeconds(), 240);
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(NetworkingPropTest, AFileThatCannotBeWrittenKeepsTheDialogOpenWithTheValuesInForce) {
  // A directory in the file's place cannot be opened for writing, whoever runs the test.
  std::filesystem::create_directory("cfgnet.dat");
  QPointer<CNetworkingPropConfig> d = new CNetworkingPropConfig(nullptr, "localhost");
  Spin(d, IDC_NP_POLLING)->setValue(60);
  Spin(d, IDC_NP_TIMEOUT)->setValue(300);
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_FALSE(d.isNull());
  EXPECT_TRUE(d->WindowExists());
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, QStringLiteral("Unable to open file for writing!"));
  EXPECT_TRUE(boxes.Boxes()[0].caption.isEmpty());
  EXPECT_EQ(PollingIntervalSeconds(), 60);
  EXPECT_EQ(CommTimeoutSeconds(), 300);
  // Help does nothing here.
  QTest::mouseClick(d->Control<QPushButton>(ID_HELP), Qt::LeftButton);
  EXPECT_TRUE(help.Requests().empty());
}

}  // namespace
