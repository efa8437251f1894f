// The password change dialog against the in-process agent: the rules in their order, the
// change in force at once, and a change that reaches no agent.
#include "dialogs/agent_commands/password_dlg.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class PassWordDlgTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("discovery"); }
  void SetUp() override {
    TremTest::SetUp();
    {
      auto lock = gScp.Lock();
      gScp.config.Password().Set(KT_Password::kDefaultPassword);
    }
    agent.MarkAllFresh();
  }
  static std::string ConsolePassword() {
    auto lock = gScp.Lock();
    return gScp.config.Password().Get().value_or("");
  }
  void Fill(CPassWordDlg* d, const char* oldText, const char* newText, const char* confirm) {
    d->Control<QLineEdit>(IDC_OLD_PASSWORD)->setText(oldText);
    d->Control<QLineEdit>(IDC_NEW_PASSWORD)->setText(newText);
    d->Control<QLineEdit>(IDC_CONFIRM_PASSWORD)->setText(confirm);
  }
};

TEST_F(PassWordDlgTest, RulesInOrderLeaveTheDialogOpenWithFieldsEmptied) {
  struct Case {
    const char* oldText;
    const char* newText;
    const char* confirm;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"4Tulip", "", "", "A new password must be supplied!"},
      {"", "abc", "abc", "The old password is incorrect!"},
      {"", "", "", "A new password must be supplied!"},
      {"4tulip", "abc", "abc", "The old password is incorrect!"},
      {"4Tulip", "4Tulip", "4Tulip", "The new password and old password cannot be the same."},
      {"4Tulip", "abc", "abd", "The new password and its confirmation do not match."},
  };
  QPointer<CPassWordDlg> d = new CPassWordDlg(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  EXPECT_EQ(d->windowTitle(), "Configure Password (localhost)");
  for (int id : {IDC_OLD_PASSWORD, IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD}) {
    EXPECT_EQ(d->Control<QLineEdit>(id)->maxLength(), 8);
    EXPECT_EQ(d->Control<QLineEdit>(id)->echoMode(), QLineEdit::Password);
  }
  Fill(d, "4Tulip", "n3w", "n3w");
  Screenshot(d, "password");
  agent.ClearReceived();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    boxes.Clear();
    Fill(d, c.oldText, c.newText, c.confirm);
    QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    link.PumpIdle();
    ASSERT_FALSE(d.isNull());
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Boxes()[0].text, c.message);
    for (int id : {IDC_OLD_PASSWORD, IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD})
      EXPECT_TRUE(d->Control<QLineEdit>(id)->text().isEmpty());
    EXPECT_EQ(ConsolePassword(), "4Tulip");
  }
  EXPECT_TRUE(agent.Received().empty());
}

TEST_F(PassWordDlgTest, ChangeIsInForceAtOnceAndReachesTheAgent) {
  QPointer<CPassWordDlg> d = new CPassWordDlg(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  agent.ClearReceived();
  Fill(d, "4Tulip", "Rose9", "Rose9");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  // In force in the console before the agent has seen the SET.
  EXPECT_EQ(ConsolePassword(), "Rose9");
  EXPECT_TRUE(boxes.Saw("Password has been changed."));
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  ASSERT_EQ(agent.Received().size(), 1u);
  EXPECT_EQ(agent.Received()[0].type, SCP_SET);
  EXPECT_EQ(agent.Received()[0].key.at(1), 8);
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().config.Password().Check("Rose9"), 1);
}

TEST_F(PassWordDlgTest, NothingQueuedIsAFailureAndTheOldPasswordStays) {
  QPointer<CPassWordDlg> d = new CPassWordDlg(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  {
    // The host has left the table: SendCommand queues nothing.
    KT_HostControl writer;
    gHosts.ResetHosts();
  }
  boxes.Clear();
  agent.ClearReceived();
  Fill(d, "4Tulip", "Rose9", "Rose9");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  link.PumpIdle();
  EXPECT_TRUE(boxes.Saw("Attempt to change password failed!"));
  EXPECT_FALSE(boxes.Saw("Password has been changed."));
  EXPECT_FALSE(d.isNull());
  EXPECT_EQ(ConsolePassword(), "4Tulip");
  EXPECT_TRUE(agent.Received().empty());
}

}  // namespace
