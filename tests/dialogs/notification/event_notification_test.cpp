// The event notification dialog: what it lists, what it refuses, what it deletes and sends.
#include "dialogs/notification/event_notification.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <algorithm>
#include <set>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/notification/admin_warn.h"
#include "tests/dialogs/notification/notification_test_util.h"

namespace {

using notification_test::Click;
using notification_test::NotificationTest;
using notification_test::Records;
using notification_test::Sent;

TEST_F(NotificationTest, RefusedCombinationsFollowTheActionAndTheLocalMode) {
  const struct {
    std::vector<int> actions;
    std::set<int> refused;
    std::set<int> refusedOnlyRemotely;
  } kRules[] = {
      {{1, 9, 10}, {17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 34, 35}, {}},
      {{2, 3}, {34, 35}, {26, 27}},
      {{5, 6}, {20, 23, 24, 34, 35}, {26, 27}},
      {{7}, {23, 24, 25, 26, 27, 34, 35}, {}},
      {{8, 11}, {26, 27}, {}},
      {{12}, {21, 22, 23, 24, 26, 27, 34, 35}, {}},
      {{4, 13}, {}, {}},
  };
  for (const auto& rule : kRules) {
    for (int action : rule.actions) {
      for (int event = 1; event <= 36; ++event) {
        const bool always = rule.refused.count(event) != 0;
        const bool remote = always || rule.refusedOnlyRemotely.count(event) != 0;
        EXPECT_EQ(CEventNotification::CheckEventsAndActions(event, action, false), remote ? event : 0)
            << "action " << action << " event " << event;
        EXPECT_EQ(CEventNotification::CheckEventsAndActions(event, action, true), always ? event : 0)
            << "local, action " << action << " event " << event;
      }
    }
  }
  // The refusal names only the events that refuse.
  QPointer<CEventNotification> d = OpenNotification();
  Press(d.data(), {3, 20}, &CEventNotification::OnPage);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(
      boxes.Boxes()[0].text,
      "The action you have selected is not supported \nby the following event(s): \n\nProgram Terminated\n");
  boxes.Clear();
  Press(d.data(), {}, &CEventNotification::OnUserWarn);
  EXPECT_TRUE(boxes.Saw("Must select at least one event"));
}

TEST_F(NotificationTest, EventsInNumberOrderActionsByNameAndASecondReplyChangesNothing) {
  AgentAdd(5, 8);
  AgentAdd(3, 7, "/usr/bin/logger power");
  AgentAdd(1, 2, "battery");
  QPointer<CEventNotification> d = OpenNotification();
  EXPECT_EQ(d->windowTitle(), "Configure Events (localhost)");
  EXPECT_EQ(d->HelpContextId(), 11);
  EXPECT_EQ(Sent(link), (std::vector<std::string>{"GET 5"}));
  ASSERT_GE(d->Events()->count(), 3);
  EXPECT_EQ(d->Events()->item(0)->text(), "Bad Battery Detected");
  EXPECT_EQ(d->Events()->item(2)->text(), "UPS On Battery");
  ASSERT_EQ(d->Configured()->RowCount(), 3);
  EXPECT_EQ(d->Configured()->Text(0, 0), "Bad Battery Detected");
  EXPECT_EQ(d->Configured()->Text(0, 1), "Display User Warning Message.");
  EXPECT_EQ(d->Configured()->Text(1, 0), "Low Battery");
  EXPECT_EQ(d->Configured()->Text(2, 0), "UPS On Battery");
  EXPECT_EQ(d->Configured()->Text(2, 1), "Execute command: /usr/bin/logger power");
  Screenshot(d, "event_notification");
  // Another block-5 reply to the same dialog: the lists stay as they were filled.
  {
    auto lock = gScp.Lock();
    gScp.notify.Reset();
  }
  d->RequestData(5, 0, 0);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_EQ(d->Configured()->RowCount(), 3);
  EXPECT_GE(d->Events()->count(), 3);
}

TEST_F(NotificationTest, DeleteTakesTheRowsOwnRecordAndOkSendsTheWholeBlock) {
  AgentAdd(3, 7, "/opt/Page.sh");
  AgentAdd(3, 5, nullptr, 1);
  AgentAdd(4, 8);
  QPointer<CEventNotification> d = OpenNotification();
  Click(d->Control(CEventNotification::IDC_DELETE));
  EXPECT_TRUE(boxes.Saw("Please select at least one item"));
  for (int row = 0; row < d->Configured()->RowCount(); ++row) {
    QTreeWidgetItem* item = d->Configured()->topLevelItem(row);
    item->setSelected(item->text(1).contains("Page.sh"));
  }
  // The Delete key's release deletes as the button does.
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
  QCoreApplication::sendEvent(d.data(), &release);
  // The command named "Page" went; the page action stays.
  EXPECT_EQ(Records(gScp), (std::vector<std::string>{"3/5/0/0/1/", "4/8/0/0/255/"}));
  EXPECT_EQ(d->Configured()->RowCount(), 2);
  Click(d->Control(IDOK));
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(Sent(link).back(), "SET 5");
  std::vector<std::string> held = Records(agent.scp());
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, (std::vector<std::string>{"3/5/0/0/1/", "4/8/0/0/255/"}));
}

TEST_F(NotificationTest, LocalModeServesTheBlockInProcessAndAcceptsTheLostAgentEvents) {
  KT_SCP local;
  {
    auto lock = local.Lock();
    local.notify.SetDefaultSupport(SUPPORT_EVENTS);
    local.notify.SetDefaultSupport(SUPPORT_ACTIONS);
    local.notify.SetSupportBit(SUPPORT_EVENTS, 3, 1);  // 26
    local.notify.SetSupportBit(SUPPORT_EVENTS, 3, 2);  // 27
    KT_ActionEntry e(5, ACTION_EVENT_LOG);
    local.notify.AddAction(e);
  }
  prunScp = &local;
  {
    auto lock = gScp.Lock();
    gScp.notify.SetLocalMode(1);
  }
  QPointer<CEventNotification> d = new CEventNotification(nullptr, "localhost");
  link.PumpIdle();
  EXPECT_FALSE(d->IsBusy());
  EXPECT_TRUE(link.Sent().empty());
  EXPECT_EQ(d->Configured()->RowCount(), 1);
  for (int id : {CEventNotification::IDC_USER_WARN, CEventNotification::IDC_LOG_EVENT,
                 CEventNotification::IDC_REMOTE_WARN, CEventNotification::IDC_EXECUTE_CMD,
                 CEventNotification::IDC_NETWORK_MSG}) {
    EXPECT_FALSE(d->ActionButton(id)->isEnabled()) << id;
  }
  EXPECT_TRUE(d->ActionButton(CEventNotification::IDC_ADMIN_WARN)->isEnabled());
  EXPECT_TRUE(d->ActionButton(CEventNotification::IDC_EMAIL)->isEnabled());
  for (int action : {2, 3, 5, 6}) {
    Select(d.data(), {26, 27});
    ASSERT_EQ(d->GetSelectedEvents(), 1);
    EXPECT_EQ(d->GetEventsAndActionsErrorMsg(action), "") << action;
  }
  Press(d.data(), {26}, &CEventNotification::OnAdminWarn);
  ASSERT_FALSE(pAdminWarn.get() == nullptr);
  pAdminWarn->Visual()->setChecked(true);
  pAdminWarn->Message()->setPlainText("agent lost");
  Click(pAdminWarn->Control(IDOK));
  Click(d->Control(IDOK));
  link.PumpIdle();
  EXPECT_TRUE(link.Sent().empty());
  auto lock = local.Lock();
  KT_ActionEntry found;
  EXPECT_TRUE(local.notify.FindAction(26, ACTION_CONSOLE_WARNING, found));
  EXPECT_TRUE(local.notify.FindAction(5, ACTION_EVENT_LOG, found));
}

TEST_F(NotificationTest, EveryDialogOpensByItsClassName) {
  agent.MarkAllFresh();
  for (const char* name : {"CEventNotification", "CUserWarn", "CAdminWarn", "CEMail", "CEMailConfig",
                           "CExecuteCommand", "CLogEvent", "CNetworkMessage"}) {
    QPointer<QDialog> d = OpenRegisteredDialog(name, nullptr, "localhost");
    ASSERT_FALSE(d.isNull()) << name;
    EXPECT_TRUE(d->isVisible()) << name;
    EXPECT_TRUE(link.PumpUntil([&] { return d.isNull() || !static_cast<KTDialog*>(d.data())->IsBusy(); }))
        << name;
    delete d.data();
  }
}

}  // namespace
