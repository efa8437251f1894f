// The reboot and terminate dialogs against the in-process agent: the password check against
// the console's copy, the confirmation, and what reaches the agent.
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/agent_commands/reboot.h"
#include "dialogs/agent_commands/terminate_daemon.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class ProtectedCommandTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("discovery"); }
  void SetUp() override {
    TremTest::SetUp();
    auto lock = gScp.Lock();
    gScp.config.Password().Set(KT_Password::kDefaultPassword);
  }
};

struct Case {
  const char* name;
  bool reboot;
  const char* agentPassword;  // null: no reply before the check
  const char* typed;
  int confirmation;              // answer to the confirmation box
  bool incorrect;                // "Incorrect Password!" and the dialog stays
  std::vector<uint8_t> sentKey;  // empty: nothing sent
};

TEST_F(ProtectedCommandTest, PasswordCheckConfirmationAndCommand) {
  const std::vector<Case> cases = {
      {"default before any reply", true, nullptr, "4Tulip", IDOK, false, {27, 2, 1}},
      {"letter case counts", true, nullptr, "4tulip", IDOK, true, {}},
      {"ten characters never match", true, nullptr, "4Tulip1234", IDOK, true, {}},
      {"cancel in the confirmation", true, nullptr, "4Tulip", IDCANCEL, false, {}},
      {"terminate with the default", false, nullptr, "4Tulip", IDOK, false, {27, 1, 1}},
      {"agent's password replaces the default", false, "Secret7", "4Tulip", IDOK, true, {}},
      {"agent's password opens", false, "Secret7", "Secret7", IDOK, false, {27, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    agent.ClearReceived();
    boxes.Clear();
    {
      auto lock = gScp.Lock();
      gScp.config.Password().Set(KT_Password::kDefaultPassword);
    }
    {
      auto lock = agent.scp().Lock();
      agent.scp().config.Password().Set(c.agentPassword ? c.agentPassword : KT_Password::kDefaultPassword);
    }
    agent.MarkAllFresh();
    QPointer<KTDialog> d;
    if (c.reboot) {
      d = new CReboot(nullptr, "localhost");
    } else {
      d = new CTerminateDaemon(nullptr, "localhost");
    }
    EXPECT_EQ(d->windowTitle(), c.reboot ? "Reboot (localhost)" : "Terminate Tremona Agent (localhost)");
    EXPECT_EQ(d->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->maxLength(), 10);
    EXPECT_EQ(d->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->echoMode(), QLineEdit::Password);
    d->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->setText(c.typed);
    boxes.QueueAnswer(c.confirmation);
    if (c.agentPassword != nullptr) {
      ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
      QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    } else {
      // Before the reply: the frame holds the OK button back while busy; the check itself
      // compares with whatever the console's copy holds.
      static_cast<CProtectedCommandDlg*>(d.data())->OnOK();
    }
    link.PumpIdle();
    EXPECT_EQ(boxes.Saw("Incorrect Password!"), c.incorrect);
    if (c.incorrect) {
      ASSERT_FALSE(d.isNull());
      EXPECT_TRUE(d->Control<QLineEdit>(IDC_COMMAND_PASSWORD)->text().isEmpty());
      d->close();
      link.PumpIdle();
    } else {
      EXPECT_TRUE(boxes.Saw(c.reboot
                                ? "-> This will immediately reboot the system! <- \n\nPress OK to continue"
                                : "-> This will immediately terminate communication with the UPS! <-"));
      EXPECT_TRUE(d.isNull());
    }
    const auto sets = agent.ReceivedSets();
    if (c.sentKey.empty()) {
      EXPECT_TRUE(sets.empty());
    } else {
      ASSERT_EQ(sets.size(), 1u);
      EXPECT_EQ(sets[0].key.at(0), c.sentKey[0]);
      EXPECT_EQ(sets[0].key.at(1), c.sentKey[1]);
    }
  }
}

TEST_F(ProtectedCommandTest, AsksForThePasswordOnOpeningAndShowsItsHelp) {
  agent.MarkAllFresh();
  QPointer<CReboot> d = new CReboot(nullptr, "localhost");
  EXPECT_TRUE(d->IsBusy());
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); })) << [&] {
    std::string s;
    for (auto& l : link.Log()) s += l + "\n";
    return s;
  }();
  ASSERT_FALSE(agent.Received().empty());
  EXPECT_EQ(agent.Received()[0].type, SCP_GET);
  EXPECT_EQ(agent.Received()[0].key, (std::vector<uint8_t>{4, 8, 1}));
  EXPECT_EQ(d->HelpContextId(), CReboot::kHelpContext);
  EXPECT_TRUE(HasHelpTopic(kPanelHelpFile, 41));
  EXPECT_TRUE(HasHelpTopic(kPanelHelpFile, 36));
  Screenshot(d, "reboot");
  QPointer<CTerminateDaemon> t = new CTerminateDaemon(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !t->IsBusy(); }));
  Screenshot(t, "terminate_daemon");
}

}  // namespace
