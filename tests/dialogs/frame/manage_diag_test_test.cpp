// The diagnostic test confirmation against the in-process agent.
#include "dialogs/monitoring/manage_diag_test.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class ManageDiagTestTest : public TremTest {};

TEST_F(ManageDiagTestTest, OkSendsTheBatteryTestCommandOnce) {
  QPointer<CManageDiagTest> d = new CManageDiagTest(nullptr, "localhost");
  EXPECT_EQ(pManageDiagTest.get(), d.data());
  EXPECT_EQ(d->windowTitle(), "Manage Diagnostic Test (localhost)");
  EXPECT_EQ(d->Control<QLabel>(CManageDiagTest::IDC_DIAG_TEXT)->text(),
            "UPS is about to perform a diagnostic test.\nDo you want to continue?");
  EXPECT_FALSE(d->IsBusy());
  EXPECT_EQ(gScp.requestTable.GetCount(), 0);  // nothing asked on opening
  Screenshot(d, "manage_diag_test");

  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(pManageDiagTest.get(), nullptr);
  ASSERT_EQ(agent.Received().size(), 1u);
  EXPECT_EQ(agent.Received()[0].type, SCP_SET);
  EXPECT_EQ(agent.Received()[0].key, (std::vector<uint8_t>{27, 5}));
  EXPECT_EQ(agent.Hosts()[0], 1);
  // The agent queued the command for its system-request handler and answered "Set OK".
  EXPECT_GE(agent.scp().system_queue.Find(BLOCK_COMMAND, COMMAND_BATTERY_TEST), 0);
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(ManageDiagTestTest, CancelSendsNothingAndF1OpensItsTopic) {
  QPointer<CManageDiagTest> d = new CManageDiagTest(nullptr, "localhost");
  QTest::keyClick(d, Qt::Key_F1);
  ASSERT_EQ(help.Count(), 1);
  EXPECT_EQ(help.Requests()[0].context, CManageDiagTest::kHelpContext);
  EXPECT_TRUE(HasHelpTopic(kPanelHelpFile, CManageDiagTest::kHelpContext));
  QTest::mouseClick(d->Control<QPushButton>(IDCANCEL), Qt::LeftButton);
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  EXPECT_TRUE(agent.Received().empty());
}

TEST_F(ManageDiagTestTest, SelectedHostsEachGetTheCommand) {
  {
    KT_HostControl writer;
    KT_Address other(ADDRESS_IP);
    other.SetIpAddress(0x0200000A);
    other.SetHostName("ups-room");
    gHosts.AddHost(other);
  }
  auto* d = new CManageDiagTest(nullptr, "Selected Hosts", "", {"localhost", "ups-room"});
  EXPECT_EQ(d->windowTitle(), "Manage Diagnostic Test (Selected Hosts)");
  d->OnOK();
  link.PumpIdle();
  EXPECT_EQ(agent.Hosts(), (std::vector<int>{1, 2}));
  EXPECT_EQ(boxes.Count(), 0);
}

}  // namespace
