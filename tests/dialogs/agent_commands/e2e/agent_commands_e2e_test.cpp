// The protected agent commands against a real VigilNT over UDP, in a network of the test's
// own. The agent's reboot command is a harmless stand-in (/bin/true).
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/agent_commands/password_dlg.h"
#include "dialogs/agent_commands/reboot.h"
#include "dialogs/agent_commands/terminate_daemon.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class AgentCommandsE2eTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("discovery"); }
  void SetUp() override {
    TremTest::SetUp();
    if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
    {
      auto lock = gScp.Lock();
      gScp.config.Password().Set(KT_Password::kDefaultPassword);
    }
    ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000))
        << vigil.Stderr();
    std::string error;
    ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  }
  std::string Output() { return vigil.Stderr() + vigil.Stdout(); }

  AgentProcess vigil;
  trem_harness::UdpAgent udp;
  trem_harness::AgentLink real{udp};
};

TEST_F(AgentCommandsE2eTest, TerminateWithTheDefaultPasswordEndsTheAgent) {
  QPointer<CTerminateDaemon> d = new CTerminateDaemon(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 10000));
  d->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->setText("4Tulip");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  real.PumpIdle(10000);
  EXPECT_TRUE(d.isNull());
  EXPECT_GE(vigil.Wait(20000), 0) << Output();
  EXPECT_TRUE(Contains(Output(), "Terminate Daemon")) << Output();
}

TEST_F(AgentCommandsE2eTest, ChangedPasswordComesBackFromTheAgentAndOpensReboot) {
  QPointer<CPassWordDlg> p = new CPassWordDlg(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !p->IsBusy(); }, 10000));
  p->Control<QLineEdit>(IDC_OLD_PASSWORD)->setText("4Tulip");
  p->Control<QLineEdit>(IDC_NEW_PASSWORD)->setText("Rose9");
  p->Control<QLineEdit>(IDC_CONFIRM_PASSWORD)->setText("Rose9");
  QTest::mouseClick(p->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(real.PumpIdle(10000));
  EXPECT_TRUE(boxes.Saw("Password has been changed."));
  // Forget the console's copy; a fresh GET (4, 8, 1) brings the agent's new password.
  {
    auto lock = gScp.Lock();
    gScp.config.Password().Set(KT_Password::kDefaultPassword);
  }
  QPointer<CReboot> r = new CReboot(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !r->IsBusy(); }, 10000));
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.config.Password().Check("Rose9"), 1);
  }
  boxes.Clear();
  r->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->setText("4Tulip");
  QTest::mouseClick(r->Control<QPushButton>(IDOK), Qt::LeftButton);
  EXPECT_TRUE(boxes.Saw("Incorrect Password!"));
  r->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->setText("Rose9");
  QTest::mouseClick(r->Control<QPushButton>(IDOK), Qt::LeftButton);
  real.PumpIdle(10000);
  EXPECT_TRUE(r.isNull());
  // The agent runs its shutdown sequence for the reboot (stand-in commands).
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(Output(), "Rebooting system"); }, 60000))
      << Output();
}

}  // namespace
