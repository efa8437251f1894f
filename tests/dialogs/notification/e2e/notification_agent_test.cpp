// The notification dialogs against a real VigilNT over UDP, in a network of the test's own:
// records of every kind built through the dialogs reach the agent's notify.dat, and a trap
// receiver removed in the network manager dialog takes its action's bits along.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "core/scp/notify_block.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/network_manager.h"
#include "dialogs/information/report_list.h"
#include "dialogs/notification/admin_warn.h"
#include "dialogs/notification/email.h"
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/notification/execute_command.h"
#include "dialogs/notification/log_event.h"
#include "dialogs/notification/network_message.h"
#include "dialogs/notification/user_warn.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/dialogs/harness/trem_fixture.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using trem_harness::TremTest;

// The records of a block as "event/action/alias", sorted.
std::vector<std::string> Records(const NotifyBlock& block) {
  std::vector<std::string> out;
  for (const KT_ActionEntry& a : block.Actions()) {
    out.push_back(std::to_string(a.event) + "/" + std::to_string(a.action) + "/" + std::to_string(a.alias));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The trap receivers as "host@slot", in slot order.
std::vector<std::string> Receivers(const NotifyBlock& block) {
  std::vector<std::string> out;
  for (int slot = 0; slot < KT_NetworkManagerList::kSlots; ++slot) {
    NetworkManagerEntry e;
    if (block.TrapReceivers().GetBySlot(slot, e) > 0) out.push_back(e.hostName + "@" + std::to_string(slot));
  }
  return out;
}

class NotificationAgentTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("notification"); }
  void SetUp() override {
    TremTest::SetUp();
    gnCommMode = 0;
    gScp.requestTable.ResetCursor();
    auto lock = gScp.Lock();
    gScp.notify.Reset();
  }
  template <class D>
  bool Idle(D* d, int boundMs = 20000) {
    const bool idle = link_->PumpUntil([&] { return !d->IsBusy(); }, boundMs);
    link_->PumpIdle(boundMs);
    return idle;
  }
  void Select(CEventNotification* d, int event) {
    d->Events()->clearSelection();
    const auto found = d->Events()->findItems(QString::fromUtf8(GetEventName(event)), Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty()) << event;
    found.front()->setSelected(true);
  }
  // The agent's notify.dat once it holds what `done` asks for (bounded).
  bool WaitForFile(AgentProcess& vigil, NotifyBlock& out,
                   const std::function<bool(const NotifyBlock&)>& done) {
    return AgentProcess::WaitFor(
        [&] {
          out.Reset();
          return ReadBlockFile(vigil.File("notify.dat"), out) && done(out);
        },
        30000);
  }
  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

  trem_harness::UdpAgent udp_;
  std::unique_ptr<trem_harness::AgentLink> link_;
};

TEST_F(NotificationAgentTest, RecordsOfEveryKindAndAMovedReceiverReachNotifyDat) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  {
    // An idle agent knows no event before it finds a UPS: the file gives it the default maps,
    // three receivers and a trap to C (slot 2).
    NotifyBlock prepared;
    prepared.SetDefaultSupport(SUPPORT_EVENTS);
    prepared.SetDefaultSupport(SUPPORT_ACTIONS);
    for (const char* h : {"A", "B", "C"}) prepared.TrapReceivers().Add(h, "public");
    KT_ActionEntry trap(9, ACTION_SNMP_TRAP);
    trap.alias = 0x04;
    prepared.AddAction(trap);
    ASSERT_TRUE(WriteBlockFile(vigil.File("notify.dat"), prepared));
  }
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 120000))
      << vigil.Stderr();
  std::string error;
  ASSERT_TRUE(udp_.Open(error, "127.0.0.1")) << error;
  link_ = std::make_unique<trem_harness::AgentLink>(udp_);

  // The mail recipients go to the agent at once, though the notification dialog is cancelled.
  QPointer<CEventNotification> n = new CEventNotification(nullptr, "localhost");
  ASSERT_TRUE(Idle(n.data()));
  ASSERT_EQ(n->Configured()->RowCount(), 1);
  EXPECT_EQ(n->Configured()->Text(0, 1), "Send SNMP Trap to C, ");
  Select(n, 5);
  n->OnEmail();
  ASSERT_TRUE(DialogIsOpen(pEMail.get()));
  pEMail->OnEmailConfig();
  QPointer<CEMailConfig> mailConfig = pEMailConfig.get();
  ASSERT_FALSE(mailConfig.isNull());
  ASSERT_TRUE(Idle(mailConfig.data()));
  ASSERT_FALSE(mailConfig->AccountMode());
  mailConfig->Control<QLineEdit>(CEMailConfig::IDC_NAME1)->setText("Operations");
  mailConfig->Control<QLineEdit>(CEMailConfig::IDC_ADDRESS1)->setText("ops@example.org");
  Click(mailConfig->Control(IDOK));
  link_->PumpIdle(10000);
  Click(pEMail->Control(IDCANCEL));
  Click(n->Control(IDCANCEL));
  link_->PumpIdle(10000);
  NotifyBlock file;
  ASSERT_TRUE(WaitForFile(vigil, file, [](const NotifyBlock& b) { return b.MailRecipients().Count() == 1; }))
      << vigil.Stderr();
  EXPECT_EQ(file.MailRecipients().GetRecipient(1), std::optional<std::string>("Operations"));

  // One record of each kind, for events this run never raises; one of them deleted again.
  n = new CEventNotification(nullptr, "localhost");
  ASSERT_TRUE(Idle(n.data()));
  Select(n, 1);
  n->OnUserWarn();
  pUserWarn->Message()->setPlainText("Replace the battery");
  Click(pUserWarn->Control(IDOK));
  Select(n, 3);
  n->OnAdminWarn();
  pAdminWarn->Visual()->setChecked(true);
  pAdminWarn->Message()->setPlainText("On battery");
  Click(pAdminWarn->Control(IDOK));
  Select(n, 5);
  n->OnEmail();
  pEMail->Recipients()->item(0)->setSelected(true);
  pEMail->Message()->setPlainText("Low battery");
  Click(pEMail->Control(IDOK));
  Select(n, 7);
  n->OnExecuteCmd();
  pExecuteCommand->Command()->setText("/usr/local/bin/component-failed --notify");
  Click(pExecuteCommand->Control(IDOK));
  Select(n, 11);
  n->OnLogEvent();
  pLogEvent->EventLog()->setChecked(true);
  Click(pLogEvent->Control(IDOK));
  Select(n, 13);
  n->OnNetworkMsg();
  pNetworkMessageDialog->List()->topLevelItem(0)->setSelected(true);
  Click(pNetworkMessageDialog->Control(IDOK));
  link_->PumpIdle(5000);
  for (int row = 0; row < n->Configured()->RowCount(); ++row) {
    n->Configured()->topLevelItem(row)->setSelected(n->Configured()->Text(row, 1) ==
                                                    "Display User Warning Message.");
  }
  Click(n->Control(CEventNotification::IDC_DELETE));
  Screenshot(n, "event_notification_agent");
  Click(n->Control(IDOK));
  link_->PumpIdle(10000);
  EXPECT_EQ(boxes.Count(), 0);
  const std::vector<std::string> configured{"11/8/255", "13/1/1", "3/3/255", "5/6/1", "7/7/255", "9/1/4"};
  ASSERT_TRUE(WaitForFile(vigil, file, [&](const NotifyBlock& b) { return Records(b) == configured; }))
      << testing::PrintToString(Records(file)) << "\n"
      << vigil.Stderr();

  // B removed: C moves to slot 1 and the trap written for it follows, in one SET of the block.
  QPointer<CNetworkManager> m = new CNetworkManager(nullptr, "localhost");
  ASSERT_TRUE(Idle(m.data()));
  ASSERT_EQ(m->List()->RowCount(), 3);
  m->List()->topLevelItem(1)->setSelected(true);
  Click(m->Control(CNetworkManager::IDC_DELETE));
  Click(m->Control(IDOK));
  link_->PumpIdle(10000);
  const std::vector<std::string> moved{"11/8/255", "13/1/1", "3/3/255", "5/6/1", "7/7/255", "9/1/2"};
  ASSERT_TRUE(WaitForFile(vigil, file, [&](const NotifyBlock& b) { return Records(b) == moved; }))
      << testing::PrintToString(Records(file)) << "\n"
      << vigil.Stderr();
  EXPECT_EQ(Receivers(file), (std::vector<std::string>{"A@0", "C@1"}));
  const QString kept = trem_harness::ScreenshotDir(ScreenshotTopic()) + "/notify.dat";
  QFile::remove(kept);
  QFile::copy(QString::fromStdString(vigil.File("notify.dat")), kept);

  // A fresh GET of the whole block agrees.
  {
    auto lock = gScp.Lock();
    gScp.notify.Reset();
  }
  QPointer<CEventNotification> fresh = new CEventNotification(nullptr, "localhost");
  ASSERT_TRUE(Idle(fresh.data()));
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(Records(gScp.notify), moved);
    EXPECT_EQ(Receivers(gScp.notify), (std::vector<std::string>{"A@0", "C@1"}));
  }
  EXPECT_TRUE(fresh->Configured()->findItems("Send SNMP Trap to C, ", Qt::MatchExactly, 1).size() == 1);
  delete fresh.data();

  vigil.Signal(SIGTERM);
  EXPECT_EQ(vigil.Wait(60000), 0) << vigil.Stderr();
}

}  // namespace
