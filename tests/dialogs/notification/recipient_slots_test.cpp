// Actions keep reaching the recipients they were configured for when the recipient lists are
// edited: trap receivers removed in the network manager dialog, mail recipients moved up.
#include <QLineEdit>

#include "dialogs/information/network_manager.h"
#include "dialogs/notification/email_config.h"
#include "dialogs/notification/recipient_remap.h"
#include "tests/dialogs/notification/notification_test_util.h"

namespace {

using notification_test::Click;
using notification_test::NotificationTest;
using notification_test::Record;
using notification_test::Sent;

TEST_F(NotificationTest, BitsMoveWithTheirRecipients) {
  const struct {
    std::vector<int> newSlot;
    uint8_t before;
    uint8_t after;
    bool changed;
  } kCases[] = {
      {{0, -1, 1}, 0x04, 0x02, true},  // C after removed B
      {{0, -1, 1}, 0x02, 0x00, true},  // the removed one's bit is cleared
      {{0, 1, 2}, 0x05, 0x05, false},  // nobody moved
      {{-1, 0}, 0x03, 0x01, true},     // mail: recipient 2 becomes the first
  };
  for (const auto& c : kCases) {
    NotifyBlock block;
    KT_ActionEntry e(3, ACTION_SNMP_TRAP);
    e.alias = c.before;
    block.AddAction(e);
    block.AddAction(KT_ActionEntry(4, ACTION_MAIL));
    EXPECT_EQ(MoveRecipientBits(block, ACTION_SNMP_TRAP, c.newSlot), c.changed);
    KT_ActionEntry held;
    ASSERT_TRUE(block.FindAction(3, ACTION_SNMP_TRAP, held));
    EXPECT_EQ(held.alias, c.after);
    ASSERT_TRUE(block.FindAction(4, ACTION_MAIL, held));
    EXPECT_EQ(held.alias, 255);
  }
}

TEST_F(NotificationTest, RemovingAReceiverMovesTheTrapActionsOfThoseAfterIt) {
  {
    auto lock = agent.scp().Lock();
    for (const char* h : {"A", "B", "C"}) agent.scp().notify.TrapReceivers().Add(h, "public");
  }
  AgentAdd(3, ACTION_SNMP_TRAP, nullptr, 0x04);
  QPointer<CEventNotification> n = OpenNotification();
  EXPECT_EQ(n->Configured()->Text(0, 1), "Send SNMP Trap to C, ");
  QPointer<CNetworkManager> m = new CNetworkManager(nullptr, "localhost");
  link.PumpUntil([&] { return !m->IsBusy(); });
  ASSERT_EQ(m->List()->RowCount(), 3);
  m->List()->topLevelItem(1)->setSelected(true);
  Click(m->Control(CNetworkManager::IDC_DELETE));
  Click(m->Control(IDOK));
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_EQ(Sent(link).back(), "SET 5");
  EXPECT_EQ(Record(agent.scp(), 3, ACTION_SNMP_TRAP), "0/0/2/");
  auto lock = agent.scp().Lock();
  NetworkManagerEntry e;
  ASSERT_EQ(agent.scp().notify.TrapReceivers().GetBySlot(1, e), 1);
  EXPECT_EQ(e.hostName, "C");
  EXPECT_EQ(n->Configured()->Text(0, 1), "Send SNMP Trap to C, ");
}

TEST_F(NotificationTest, EmptyingTheFirstMailRecipientMovesTheSecondsMailToBitZero) {
  {
    auto lock = agent.scp().Lock();
    agent.scp().notify.MailRecipients().Add("ann@example.org", "Ann");
    agent.scp().notify.MailRecipients().Add("bob@example.org", "Bob");
    agent.scp().upsInfo.SetOsType(15);
  }
  AgentAdd(3, ACTION_MAIL, "on battery", 0x02);
  agent.MarkAllFresh();
  // Opened by itself: the whole block, so that what it sends is current.
  QPointer<CEMailConfig> c = new CEMailConfig(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !c->IsBusy(); }));
  EXPECT_EQ(Sent(link), (std::vector<std::string>{"GET 2,4", "GET 5"}));
  EXPECT_EQ(c->Control<QLineEdit>(CEMailConfig::IDC_NAME2)->text(), "Bob");
  c->Control<QLineEdit>(CEMailConfig::IDC_NAME1)->clear();
  c->Control<QLineEdit>(CEMailConfig::IDC_ADDRESS1)->clear();
  Click(c->Control(IDOK));
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_EQ(Sent(link).back(), "SET 5");
  EXPECT_EQ(Record(agent.scp(), 3, ACTION_MAIL), "0/0/1/on battery");
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().notify.MailRecipients().GetRecipient(1), std::optional<std::string>("Bob"));
}

}  // namespace
