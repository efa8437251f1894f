// The action dialogs of the event notification: their checks in order, what they store.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <functional>

#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/admin_warn.h"
#include "dialogs/notification/email.h"
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/execute_command.h"
#include "dialogs/notification/log_event.h"
#include "dialogs/notification/network_message.h"
#include "dialogs/notification/user_warn.h"
#include "tests/dialogs/notification/notification_test_util.h"

namespace {

using notification_test::Click;
using notification_test::NotificationTest;
using notification_test::Record;

class ActionDialogTest : public NotificationTest {
 protected:
  // The event notification dialog open, the events selected as an action button does.
  CEventNotification* OpenFor(std::initializer_list<int> events) {
    CEventNotification* d = OpenNotification();
    Select(d, events);
    EXPECT_EQ(d->GetSelectedEvents(), 1);
    return d;
  }
  static void SetTime(QComboBox* minutes, QComboBox* seconds, const char* m, const char* s) {
    minutes->setEditText(m);
    if (seconds != nullptr) seconds->setEditText(s);
  }
};

TEST_F(ActionDialogTest, TimesAreCheckedInOrderAndStoredInSeconds) {
  struct Case {
    const char* minutes;
    const char* seconds;
    const char* message;  // null: accepted
    int stored;
  };
  const Case kIntervalCases[] = {
      {"0", "", "Must select interval seconds", 0},
      {"0", "0", nullptr, 0},
      {"abc", "7", nullptr, 7},
      {"21", "0", "Interval minutes must be between 0 and 20", 0},
      {"2", "", nullptr, 120},
      {"1", "60", "Interval seconds must be between 0 and 59", 0},
  };
  const Case kDelayCases[] = {
      {"0", "", "Must select delay seconds", 0},
      {"0", "0", nullptr, 0},
      {"abc", "abc", nullptr, 0},
      {"21", "0", "Delay minutes must be between 0 and 20", 0},
      {"3", "5", nullptr, 185},
      {"0", "75", "Delay seconds must be between 0 and 59", 0},
  };
  // Each dialog: how to open it, fill its text, reach its combos and find what it stored.
  struct Dialog {
    const char* name;
    const Case* cases;
    std::function<KTDialog*()> open;
    std::function<void(KTDialog*, const Case&)> fill;
    std::function<int()> stored;
  };
  const Dialog kDialogs[] = {
      {"user warning interval", kIntervalCases, [] { return new CUserWarn(nullptr, "localhost"); },
       [](KTDialog* d, const Case& c) {
         auto* w = static_cast<CUserWarn*>(d);
         w->Message()->setPlainText("power");
         SetTime(w->IntervalMinutes(), w->IntervalSeconds(), c.minutes, c.seconds);
       },
       [this] {
         auto lock = gScp.Lock();
         KT_ActionEntry e;
         return gScp.notify.FindAction(3, ACTION_USER_WARNING, e) ? e.interval : -1;
       }},
      {"command delay", kDelayCases, [] { return new CExecuteCommand(nullptr, "localhost"); },
       [](KTDialog* d, const Case& c) {
         auto* w = static_cast<CExecuteCommand*>(d);
         w->Command()->setText("/usr/local/bin/on-battery --now");
         SetTime(w->DelayMinutes(), w->DelaySeconds(), c.minutes, c.seconds);
       },
       [this] {
         auto lock = gScp.Lock();
         KT_ActionEntry e;
         return gScp.notify.FindAction(3, ACTION_COMMAND, e) ? e.delay : -1;
       }},
      {"mail delay", kDelayCases, [] { return new CEMail(nullptr, "localhost"); },
       [](KTDialog* d, const Case& c) {
         auto* w = static_cast<CEMail*>(d);
         w->Recipients()->item(0)->setSelected(true);
         w->Message()->setPlainText("on battery");
         SetTime(w->DelayMinutes(), w->DelaySeconds(), c.minutes, c.seconds);
       },
       [this] {
         auto lock = gScp.Lock();
         KT_ActionEntry e;
         return gScp.notify.FindAction(3, ACTION_MAIL, e) ? e.delay : -1;
       }},
      {"trap interval", kIntervalCases, [] { return new CNetworkMessage(nullptr, "localhost"); },
       [](KTDialog* d, const Case& c) {
         auto* w = static_cast<CNetworkMessage*>(d);
         w->List()->topLevelItem(0)->setSelected(true);
         SetTime(w->IntervalMinutes(), w->IntervalSeconds(), c.minutes, c.seconds);
       },
       [this] {
         auto lock = gScp.Lock();
         KT_ActionEntry e;
         return gScp.notify.FindAction(3, ACTION_SNMP_TRAP, e) ? e.interval : -1;
       }},
  };
  {
    auto lock = agent.scp().Lock();
    agent.scp().notify.MailRecipients().Add("ops@example.org", "Operations");
    agent.scp().notify.TrapReceivers().Add("nms1", "public");
  }
  QPointer<CEventNotification> n = OpenFor({3});
  for (const Dialog& dialog : kDialogs) {
    for (int i = 0; i < 6; ++i) {
      const Case& c = dialog.cases[i];
      boxes.Clear();
      {
        auto lock = gScp.Lock();
        for (int a = 1; a <= 12; ++a) gScp.notify.RemoveAction(KT_ActionEntry(3, static_cast<uint8_t>(a)));
      }
      QPointer<KTDialog> d = dialog.open();
      dialog.fill(d, c);
      Click(d->Control(IDOK));
      link.PumpIdle();
      if (c.message != nullptr) {
        ASSERT_EQ(boxes.Count(), 1) << dialog.name << " " << c.minutes << "/" << c.seconds;
        EXPECT_EQ(boxes.Boxes()[0].text, c.message) << dialog.name;
        EXPECT_FALSE(d.isNull()) << dialog.name;
        EXPECT_EQ(dialog.stored(), -1) << dialog.name;
        delete d.data();
      } else {
        EXPECT_EQ(boxes.Count(), 0) << dialog.name << " " << c.minutes << "/" << c.seconds;
        EXPECT_TRUE(d.isNull()) << dialog.name;
        EXPECT_EQ(dialog.stored(), c.stored) << dialog.name << " " << c.minutes << "/" << c.seconds;
      }
    }
  }
}

TEST_F(ActionDialogTest, EachDialogsOwnChecksComeFirst) {
  QPointer<CEventNotification> n = OpenFor({3});
  const struct {
    std::function<KTDialog*()> open;
    const char* message;
  } kCases[] = {
      {[] { return new CUserWarn(nullptr, "localhost"); }, "Please enter a message to be sent."},
      {[] { return new CAdminWarn(nullptr, "localhost"); },
       "Please select Visual Message and/or Audio Message. "},
      {[] { return new CExecuteCommand(nullptr, "localhost"); }, "Must supply a complete path and filename"},
      {[] {
         auto* d = new CExecuteCommand(nullptr, "localhost");
         d->Command()->setText("/bin/echo \"x\"");
         return d;
       },
       "A filename cannot have any of the following characters:\n \\ / : * ? \\\" < > |"},
      {[] { return new CEMail(nullptr, "localhost"); }, "Must select recipient"},
      {[] { return new CNetworkMessage(nullptr, "localhost"); }, "Please select at least one item"},
  };
  for (const auto& c : kCases) {
    boxes.Clear();
    QPointer<KTDialog> d = c.open();
    if (auto* command = qobject_cast<CExecuteCommand*>(d.data());
        command && !command->Command()->text().isEmpty()) {
      Screenshot(d, "execute_command");
    }
    Click(d->Control(IDOK));
    ASSERT_EQ(boxes.Count(), 1) << c.message;
    EXPECT_EQ(boxes.Boxes()[0].text, c.message);
    EXPECT_FALSE(d.isNull());
    delete d.data();
  }
}

TEST_F(ActionDialogTest, SeveralEventsOpenOnTheDefaultsAndAreAllReplaced) {
  AgentAdd(3, ACTION_USER_WARNING, "old three");
  AgentAdd(5, ACTION_USER_WARNING, "old five");
  QPointer<CEventNotification> n = OpenFor({3});
  QPointer<CUserWarn> one = new CUserWarn(nullptr, "localhost");
  EXPECT_EQ(one->Message()->toPlainText(), "old three");
  delete one.data();
  Select(n.data(), {3, 5});
  ASSERT_EQ(n->GetSelectedEvents(), 1);
  QPointer<CUserWarn> d = new CUserWarn(nullptr, "localhost");
  EXPECT_EQ(d->Message()->toPlainText(), "");
  EXPECT_EQ(d->IntervalMinutes()->currentText(), "1");
  Screenshot(d, "user_warn");
  d->Message()->setPlainText("new");
  // A text is cut at what one record text holds.
  QPointer<CUserWarn> probe = new CUserWarn(nullptr, "localhost");
  probe->Message()->setPlainText(QString(300, 'x'));
  EXPECT_EQ(probe->Message()->toPlainText().size(), 254);
  delete probe.data();
  Click(d->Control(IDOK));
  EXPECT_EQ(Record(gScp, 3, ACTION_USER_WARNING), "0/60/255/new");
  EXPECT_EQ(Record(gScp, 5, ACTION_USER_WARNING), "0/60/255/new");
  EXPECT_EQ(n->Configured()->RowCount(), 2);
}

TEST_F(ActionDialogTest, LocalWarningKeepsTheConsoleWarningWhenTheAudioFileIsMissing) {
  QPointer<CEventNotification> n = OpenFor({3});
  QPointer<CAdminWarn> d = new CAdminWarn(nullptr, "localhost");
  EXPECT_FALSE(d->Message()->isEnabled());
  Click(d->Visual());
  Click(d->Audible());
  EXPECT_TRUE(d->Message()->isEnabled());
  EXPECT_TRUE(d->AudioFile()->isEnabled());
  d->Message()->setPlainText("Power failed");
  Screenshot(d, "admin_warn");
  Click(d->Control(IDOK));
  EXPECT_TRUE(boxes.Saw("Please enter an audio filename to be played."));
  EXPECT_FALSE(d.isNull());
  EXPECT_EQ(Record(gScp, 3, ACTION_CONSOLE_WARNING), "0/60/255/Power failed");
  EXPECT_EQ(Record(gScp, 3, ACTION_AUDIO), "");
  files.QueueAnswer(QStringLiteral("/usr/share/sounds/alarm.wav"));
  Click(d->Control(CAdminWarn::IDC_BROWSE));
  d->DelayMinutes()->setEditText("2");
  Click(d->Control(IDOK));
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(Record(gScp, 3, ACTION_AUDIO), "120/60/255//usr/share/sounds/alarm.wav");
  // Reopened for that event: both boxes ticked, the audio action's times shown.
  QPointer<CAdminWarn> again = new CAdminWarn(nullptr, "localhost");
  EXPECT_TRUE(again->Visual()->isChecked());
  EXPECT_TRUE(again->Audible()->isChecked());
  EXPECT_EQ(again->DelayMinutes()->currentText(), "2");
}

TEST_F(ActionDialogTest, MailSelectsTheRecipientsOfItsMaskAndItsRecipientsFollowTheSystemType) {
  {
    auto lock = agent.scp().Lock();
    agent.scp().notify.MailRecipients().Add("ann@example.org", "Ann");
    agent.scp().notify.MailRecipients().Add("bob@example.org", "Bob");
  }
  AgentAdd(3, ACTION_MAIL, "on battery", 2);
  QPointer<CEventNotification> n = OpenFor({3});
  QPointer<CEMail> d = new CEMail(nullptr, "localhost");
  ASSERT_EQ(d->Recipients()->count(), 2);
  EXPECT_FALSE(d->Recipients()->item(0)->isSelected());
  EXPECT_TRUE(d->Recipients()->item(1)->isSelected());
  EXPECT_EQ(d->Message()->toPlainText(), "on battery");
  Screenshot(d, "email");

  const QString user = CEMailConfig::CurrentUserName();
  const QString domain = CEMailConfig::CurrentDomain();
  const struct {
    int osType;
    bool account;
  } kTypes[] = {{3, true}, {15, false}};
  for (const auto& t : kTypes) {
    {
      auto lock = gScp.Lock();
      gScp.upsInfo.SetOsType(t.osType);
    }
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetOsType(t.osType);
    }
    QPointer<CEMailConfig> c = new CEMailConfig(d, "localhost");
    link.PumpUntil([&] { return !c->IsBusy(); });
    EXPECT_EQ(c->AccountMode(), t.account);
    auto* address1 = c->Control<QLineEdit>(CEMailConfig::IDC_ADDRESS1);
    EXPECT_EQ(c->Control(CEMailConfig::IDC_USER_LABEL)->isVisible(), t.account);
    EXPECT_EQ(c->Control(CEMailConfig::IDC_ADDRESS1_LABEL)->isVisible(), !t.account);
    EXPECT_EQ(c->Control(CEMailConfig::IDC_DOMAIN)->isEnabled(), t.account);
    Screenshot(c, t.account ? "email_config_account" : "email_config_address");
    if (t.account) {
      // The console's own account only, also in letter case.
      EXPECT_EQ(address1->text(), user);
      address1->setText(user.toUpper() == user ? user.toLower() : user.toUpper());
      c->Control<QLineEdit>(CEMailConfig::IDC_DOMAIN)->setText(domain);
      c->Control<QLineEdit>(CEMailConfig::IDC_PASSWORD)->setText("secret");
      boxes.Clear();
      Click(c->Control(IDOK));
      EXPECT_TRUE(boxes.Saw("Tremona could not log on to the system."));
      EXPECT_FALSE(c.isNull());
      // The right account, but user, domain and password together too long for one text.
      address1->setText(user);
      c->Control<QLineEdit>(CEMailConfig::IDC_PASSWORD)->setText(QString(250, 'p'));
      boxes.Clear();
      Click(c->Control(IDOK));
      EXPECT_TRUE(boxes.Saw("The user name, domain and password are too long together."));
      EXPECT_FALSE(c.isNull());
      auto lock = gScp.Lock();
      EXPECT_EQ(gScp.notify.MailRecipients().Count(), 2);
    }
    delete c.data();
  }
}

TEST_F(ActionDialogTest, TrapRowsAreSlotsAndAClearingEventGetsItsTrapOnce) {
  {
    auto lock = agent.scp().Lock();
    for (const char* h : {"a", "b", "c"}) agent.scp().notify.TrapReceivers().Add(h, "public");
  }
  QPointer<CEventNotification> n = OpenFor({3});
  QPointer<CNetworkMessage> d = new CNetworkMessage(nullptr, "localhost");
  EXPECT_EQ(d->windowTitle(), "Configure Network Manager Message (localhost)");
  ASSERT_EQ(d->List()->RowCount(), 3);
  EXPECT_EQ(d->List()->Text(0, 0), "a");
  EXPECT_EQ(d->List()->Text(2, 0), "c");
  for (int i = 0; i < 6; ++i) d->AddSNMP(QStringLiteral("extra%1").arg(i), "public");
  d->List()->topLevelItem(0)->setSelected(true);
  d->List()->topLevelItem(2)->setSelected(true);
  d->List()->topLevelItem(8)->setSelected(true);
  Screenshot(d, "network_message");
  Click(d->Control(IDOK));
  EXPECT_EQ(Record(gScp, 3, ACTION_SNMP_TRAP), "0/60/5/");
  EXPECT_TRUE(n->Configured()->findItems("Send SNMP Trap to a, c, ", Qt::MatchExactly, 1).size() == 1);

  // A clearing event: no timing shown, the default timing stored.
  Select(n.data(), {4});
  ASSERT_EQ(n->GetSelectedEvents(), 1);
  QPointer<CNetworkMessage> clearing = new CNetworkMessage(nullptr, "localhost");
  EXPECT_TRUE(clearing->TimeGroup()->isHidden());
  clearing->List()->topLevelItem(1)->setSelected(true);
  Click(clearing->Control(IDOK));
  EXPECT_EQ(Record(gScp, 4, ACTION_SNMP_TRAP), "0/60/2/");
}

TEST_F(ActionDialogTest, TheDefaultRecipientIsAddedOnlyOnceTheTimesPass) {
  {
    auto lock = gScp.Lock();
    gScp.upsInfo.SetOsType(0);
  }
  QPointer<CEventNotification> n = OpenFor({3});
  {
    auto lock = gScp.Lock();
    gScp.upsInfo.SetOsType(0);
  }
  QPointer<CNetworkMessage> d = new CNetworkMessage(nullptr, "localhost");
  ASSERT_EQ(d->List()->RowCount(), 1);
  EXPECT_EQ(d->List()->Text(0, 1), "lanternharborsky");
  EXPECT_FALSE(d->Control(CNetworkMessage::IDC_CONFIGURE)->isVisible());
  d->List()->topLevelItem(0)->setSelected(true);
  d->IntervalMinutes()->setEditText("0");
  d->IntervalSeconds()->setEditText("");
  Click(d->Control(IDOK));
  EXPECT_TRUE(boxes.Saw("Must select interval seconds"));
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.notify.TrapReceivers().Count(), 0);
  }
  d->IntervalSeconds()->setEditText("30");
  Click(d->Control(IDOK));
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  auto lock = gScp.Lock();
  NetworkManagerEntry e;
  ASSERT_EQ(gScp.notify.TrapReceivers().GetBySlot(0, e), 1);
  EXPECT_EQ(e.hostName, CNetworkMessage::kDefaultHostName);
}

TEST_F(ActionDialogTest, ADisabledApplicationLogBoxNeitherAddsNorRemoves) {
  AgentAdd(3, ACTION_APPLICATION_LOG);
  AgentAdd(3, ACTION_EVENT_LOG);
  QPointer<CEventNotification> n = OpenFor({3, 5});
  QPointer<CLogEvent> d = new CLogEvent(nullptr, "localhost");
  EXPECT_TRUE(d->EventLog()->isChecked());
  EXPECT_TRUE(d->ApplicationLog()->isChecked());
  EXPECT_FALSE(d->ApplicationLog()->isEnabled());
  Screenshot(d, "log_event");
  Click(d->Control(IDOK));
  EXPECT_EQ(Record(gScp, 5, ACTION_EVENT_LOG), "0/0/255/");
  EXPECT_EQ(Record(gScp, 5, ACTION_APPLICATION_LOG), "");
  EXPECT_EQ(Record(gScp, 3, ACTION_APPLICATION_LOG), "0/0/255/");
  // Unticked, the event log goes from every selected event that had it.
  QPointer<CLogEvent> off = new CLogEvent(nullptr, "localhost");
  off->EventLog()->setChecked(false);
  Click(off->Control(IDOK));
  EXPECT_EQ(Record(gScp, 3, ACTION_EVENT_LOG), "");
  EXPECT_EQ(Record(gScp, 5, ACTION_EVENT_LOG), "");
  EXPECT_EQ(Record(gScp, 3, ACTION_APPLICATION_LOG), "0/0/255/");
}

TEST_F(ActionDialogTest, ARefusedReplacementPutsTheOldRecordBack) {
  NotifyBlock block;
  KT_ActionEntry old(3, ACTION_COMMAND);
  old.SetMessage("/bin/old");
  ASSERT_EQ(block.AddAction(old), 0);
  KT_ActionEntry unfit(3, ACTION_COMMAND);
  unfit.message = std::string(300, 'x');  // more than a record text holds
  EXPECT_FALSE(AddOrReplaceAction(block, unfit));
  KT_ActionEntry held;
  ASSERT_TRUE(block.FindAction(3, ACTION_COMMAND, held));
  EXPECT_EQ(held.message, std::optional<std::string>("/bin/old"));
}

}  // namespace
