#include "core/scp/notify_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/scp/scp_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;

Bytes Encode(NotifyBlock& b, Bytes key) {
  Bytes reply;
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, key)), 1);
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  return m.data;
}

int Decode(NotifyBlock& b, Bytes key, const Bytes& data) {
  Bytes reply;
  return b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, key, data));
}

KT_ActionEntry Action(uint8_t event, uint8_t action, uint16_t delay = 0) {
  KT_ActionEntry a(event, action);
  a.delay = delay;
  return a;
}

KT_PagerConfig Pager(const std::string& name, const std::string& number) {
  KT_PagerConfig p;
  EXPECT_EQ(p.SetName(name.c_str()), 0);
  EXPECT_EQ(p.SetAccessNumber(number.c_str()), 0);
  return p;
}

class NotifyTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(NotifyTest, DefaultsSupportThirtyThreeEventsAndTenActions) {
  NotifyBlock b;
  b.SetDefaultActions();
  std::vector<int> events;
  ASSERT_EQ(b.GetSupportedEvents(events), 33);
  std::vector<int> expected;
  for (int e = 1; e <= 25; ++e) expected.push_back(e);
  for (int e = 28; e <= 35; ++e) expected.push_back(e);
  EXPECT_EQ(events, expected);
  EXPECT_EQ(b.CountSupportedEvents(), 33);
  EXPECT_EQ(b.CountSupportedActions(), 10);
  EXPECT_EQ(b.IsActionSupported(10), 1);
  EXPECT_EQ(b.IsActionSupported(11), 0);  // no bit, never supported
  EXPECT_EQ(b.IsActionSupported(12), 0);
  EXPECT_EQ(Encode(b, {5, 1}), (Bytes{5, 0xFF, 0xFF, 0xFF, 0xF9, 0x07, 2, 0xFF, 0x03}));

  // An event-log and an application-log action per supported event, and eight warnings.
  EXPECT_EQ(b.GetActionCount(), 33 + 33 + 8);
  KT_ActionEntry a;
  ASSERT_TRUE(b.FindAction(3, ACTION_USER_WARNING, a));
  EXPECT_EQ(a.delay, 4);
  EXPECT_EQ(a.interval, 60);
  EXPECT_EQ(a.alias, 255);
  EXPECT_EQ(a.message, std::optional<std::string>("Power Failure. Your UPS is now powering the system.\n"));
  ASSERT_TRUE(b.FindAction(35, ACTION_EVENT_LOG, a));
  EXPECT_EQ(a.alias, 1);
  EXPECT_FALSE(a.message.has_value());
  EXPECT_FALSE(b.FindAction(26, ACTION_EVENT_LOG, a));
  // The last one added is first in the list.
  b.ResetActionCursor();
  ASSERT_EQ(b.GetNextAction(a), 1);
  EXPECT_EQ(a.event, 6);
  EXPECT_EQ(a.action, ACTION_CONSOLE_WARNING);
}

TEST_F(NotifyTest, ActionListComesBackInReverseOrderWithItsFields) {
  NotifyBlock b;
  KT_ActionEntry first = Action(3, ACTION_COMMAND, 0x0102);
  first.interval = 0x0304;
  first.SetMessage("run.sh");
  first.retries = 2;
  first.alias = 5;
  first.option = 30;
  KT_ActionEntry second = Action(4, ACTION_REMOTE_HOST);
  second.SetRemoteHost("peer");
  ASSERT_EQ(b.AddAction(first), 0);
  ASSERT_EQ(b.AddAction(second), 0);
  // List order: second, first.
  const Bytes bytes = Encode(b, {5, 2});
  const Bytes expected{2,
                       4, 12, 0, 0, 0, 0, 0, 0, 255, 0, 5, 'p', 'e', 'e', 'r', 0,
                       3, 7, 1, 2, 3, 4, 7, 'r', 'u', 'n', '.', 's', 'h', 0, 2, 5, 30, 0};
  EXPECT_EQ(bytes, expected);

  NotifyBlock copy;
  ASSERT_GE(Decode(copy, {5, 2}, bytes), 0);
  copy.ResetActionCursor();
  KT_ActionEntry a;
  ASSERT_EQ(copy.GetNextAction(a), 1);
  EXPECT_EQ(a.event, 3);
  EXPECT_EQ(a.delay, 0x0102);
  EXPECT_EQ(a.interval, 0x0304);
  EXPECT_EQ(a.message, std::optional<std::string>("run.sh"));
  EXPECT_EQ(a.retries, 2);
  EXPECT_EQ(a.alias, 5);
  EXPECT_EQ(a.option, 30);
  ASSERT_EQ(copy.GetNextAction(a), 1);
  EXPECT_EQ(a.remoteHost, std::optional<std::string>("peer"));
  EXPECT_EQ(copy.GetNextAction(a), -1);  // end: back to the start
  ASSERT_EQ(copy.GetNextAction(a), 1);
  EXPECT_EQ(a.event, 3);
}

TEST_F(NotifyTest, AddRemoveAndTheirRefusals) {
  NotifyBlock b;
  ASSERT_EQ(b.AddAction(Action(3, 2)), 0);
  EXPECT_EQ(b.AddAction(Action(3, 2, 99)), -1);
  EXPECT_EQ(b.errorClass, ERR_NOTIFY_BLOCK);
  EXPECT_EQ(b.function, 2);
  EXPECT_EQ(b.code, 2);
  EXPECT_EQ(b.GetActionCount(), 1);
  EXPECT_EQ(b.AddAction(Action(38, 2)), -1);
  EXPECT_EQ(b.code, 1);
  KT_ActionEntry long_text = Action(5, 7);
  long_text.message = std::string(255, 'x');
  EXPECT_EQ(b.AddAction(long_text), -1);  // could never be written to notify.dat
  EXPECT_EQ(long_text.SetMessage(std::string(255, 'x').c_str()), -1);
  EXPECT_EQ(long_text.SetMessage(nullptr), 0);

  EXPECT_EQ(b.RemoveAction(Action(0, 2)), -1);
  EXPECT_EQ(b.RemoveAction(Action(4, 2)), 0);
  EXPECT_EQ(b.RemoveAction(Action(3, 2, 7)), 1);
  EXPECT_EQ(b.GetActionCount(), 0);
  std::string text;
  b.ResetActionCursor();
  EXPECT_EQ(b.GetNextActionText(text), -1);
}

TEST_F(NotifyTest, RecipientsAndTheirLimits) {
  NotifyBlock b;
  KT_NetworkManagerList& traps = b.TrapReceivers();
  for (int i = 0; i < 8; ++i) ASSERT_EQ(traps.Add("host" + std::to_string(i), "public"), 0);
  EXPECT_EQ(traps.Add("host9", "public"), -1);
  traps.Clear();
  ASSERT_EQ(traps.Add("a", "public"), 0);
  EXPECT_EQ(traps.Add("a", "public"), -1);
  ASSERT_EQ(traps.Add("b", "private"), 0);
  // Receivers in list order: b (slot 1), a (slot 0).
  NetworkManagerEntry e;
  ASSERT_EQ(traps.GetBySlot(1, e), 1);
  EXPECT_EQ(e.hostName, "b");
  EXPECT_EQ(traps.Update(1, "c", "private"), 0);
  EXPECT_EQ(traps.Update(5, "x", "y"), -1);
  EXPECT_EQ(traps.Remove("zz", "public"), -1);

  KT_PagerList& pagers = b.PagerRecipients();
  for (int i = 0; i < 8; ++i) ASSERT_EQ(pagers.Add(Pager("p" + std::to_string(i), "555")), 0);
  EXPECT_EQ(pagers.Add(Pager("p9", "555")), -1);
  pagers.Clear();
  ASSERT_EQ(pagers.Add(Pager("p", "555")), 0);
  EXPECT_EQ(pagers.Add(Pager("p", "555")), -1);
  KT_PagerConfig p;
  EXPECT_EQ(p.SetName(""), -1);
  EXPECT_EQ(p.code, 2);
  EXPECT_EQ(p.SetName(std::string(21, 'n').c_str()), -1);
  EXPECT_EQ(p.SetName(nullptr), -1);
  EXPECT_EQ(p.code, 1);
  EXPECT_EQ(p.SetDialString("ATDT9"), 0);
  EXPECT_EQ(p.SetDialString("ATDT99"), -1);
  EXPECT_EQ(p.GetDialString(), std::optional<std::string>("ATDT9"));

  KT_MailRecipients& mail = b.MailRecipients();
  ASSERT_EQ(mail.Add("acct1", "Ann"), 0);
  ASSERT_EQ(mail.Add("acct2", "Bob"), 0);
  EXPECT_EQ(mail.Add("acct3", "Cy"), -1);
  EXPECT_EQ(mail.errorClass, ERR_MAIL_RECIPIENTS);
  EXPECT_EQ(mail.code, 1);
  EXPECT_EQ(mail.GetRecipient(2), std::optional<std::string>("Bob"));
  EXPECT_EQ(mail.GetAccount(3), std::nullopt);
  EXPECT_EQ(mail.IndexOf("Bob"), 1);

  std::string text;
  KT_ActionEntry trap = Action(3, ACTION_SNMP_TRAP);
  trap.alias = 0x03;
  b.GetActionText(trap, text);
  // Bits name slots, the receivers the agent traps, not list positions (c is listed first).
  EXPECT_EQ(text, "Send SNMP Trap to a, c, ");
  trap.alias = 0x02;
  b.GetActionText(trap, text);
  EXPECT_EQ(text, "Send SNMP Trap to c, ");
  trap.alias = 0;
  b.GetActionText(trap, text);
  EXPECT_EQ(text, "Send SNMP Trap");
  KT_ActionEntry mail_action = Action(3, ACTION_MAIL);
  mail_action.alias = 0x03;
  b.GetActionText(mail_action, text);
  EXPECT_EQ(text, "Send Electronic Mail to Ann, Bob");
  KT_ActionEntry page = Action(3, ACTION_PAGE);
  page.alias = 0x02;  // no second pager: the plain text
  b.GetActionText(page, text);
  EXPECT_EQ(text, "Send Page");
  b.GetActionText(Action(3, 99), text);
  EXPECT_EQ(text, "Unknown action specified.");
}

TEST_F(NotifyTest, RecipientBranchesRoundTrip) {
  NotifyBlock b;
  b.MailRecipients().Add("acct", "Ann");
  b.TrapReceivers().Add("a", "public");
  b.TrapReceivers().Add("b", "private");
  KT_PagerConfig p = Pager("Pat", "5551234");
  p.SetPin("42");
  p.SetMaxCharacters("80");
  p.SetDelaySeconds("2");
  p.SetPortName("/dev/ttyS1");
  p.SetBaudIndex(5);
  p.SetTap(1);
  b.PagerRecipients().Add(p);

  EXPECT_EQ(Encode(b, {5, 3}), (Bytes{1, 5, 'a', 'c', 'c', 't', 0, 4, 'A', 'n', 'n', 0}));
  EXPECT_EQ(Encode(b, {5, 4}), (Bytes{2, 2, 'b', 0, 8, 'p', 'r', 'i', 'v', 'a', 't', 'e', 0, 2, 'a', 0, 7, 'p', 'u',
                                      'b', 'l', 'i', 'c', 0}));
  NotifyBlock copy;
  ASSERT_GE(Decode(copy, {5}, Encode(b, {5})), 0);
  // Every trap receiver keeps its slot (a trap action names receivers by slot) and the list
  // its order, however often the list goes through the record form.
  NetworkManagerEntry e;
  ASSERT_EQ(copy.TrapReceivers().GetBySlot(0, e), 1);
  EXPECT_EQ(e.hostName, "a");
  ASSERT_EQ(copy.TrapReceivers().GetBySlot(1, e), 1);
  EXPECT_EQ(e.hostName, "b");
  EXPECT_EQ(Encode(copy, {5, 4}), Encode(b, {5, 4}));
  b.TrapReceivers().Add("c", "public");
  for (int round = 0; round < 3; ++round) {
    NotifyBlock next;
    ASSERT_GE(Decode(next, {5, 4}, Encode(b, {5, 4})), 0);
    for (int slot = 0; slot < 3; ++slot) {
      NetworkManagerEntry before;
      ASSERT_EQ(b.TrapReceivers().GetBySlot(slot, before), 1);
      ASSERT_EQ(next.TrapReceivers().GetBySlot(slot, e), 1);
      EXPECT_EQ(e.hostName, before.hostName) << "slot " << slot << ", round " << round;
    }
    EXPECT_EQ(Encode(next, {5, 4}), Encode(b, {5, 4}));
    ASSERT_GE(Decode(b, {5, 4}, Encode(next, {5, 4})), 0);
  }
  ASSERT_EQ(copy.PagerRecipients().Count(), 1);
  KT_PagerConfig q;
  ASSERT_EQ(copy.PagerRecipients().GetAt(0, q), 1);
  EXPECT_EQ(q.GetPin(), std::optional<std::string>("42"));
  EXPECT_EQ(q.GetPortName(), std::optional<std::string>("/dev/ttyS1"));
  EXPECT_EQ(q.GetBaudIndex(), 5);
  EXPECT_EQ(q.GetTap(), 1);
  EXPECT_FALSE(q.GetTermination().has_value());
  EXPECT_EQ(Encode(copy, {5, 5}), Encode(b, {5, 5}));
  EXPECT_EQ(copy.MailRecipients().GetAccount(1), std::optional<std::string>("acct"));
}

TEST_F(NotifyTest, ReceivedCountsAreBoundedBeforeAnythingIsKept) {
  NotifyBlock b;
  b.MailRecipients().Add("acct", "Ann");
  b.AddAction(Action(3, 2));
  b.TrapReceivers().Add("a", "public");
  const Bytes mail_before = Encode(b, {5, 3});

  // Three mail recipients: the block has two slots; nothing is kept.
  EXPECT_LT(Decode(b, {5, 3}, Bytes{3, 2, 'x', 0, 2, 'y', 0, 2, 'x', 0, 2, 'y', 0, 2, 'x', 0, 2, 'y', 0}), 0);
  EXPECT_EQ(Encode(b, {5, 3}), mail_before);
  // 255 actions announced, one present.
  EXPECT_LT(Decode(b, {5, 2}, Bytes{255, 3, 2, 0, 0, 0, 0, 0, 0, 255, 0, 0}), 0);
  EXPECT_EQ(b.GetActionCount(), 1);
  // Nine trap receivers, and nine pager recipients.
  Bytes nine_traps{9};
  for (int i = 0; i < 9; ++i) nine_traps.insert(nine_traps.end(), {2, static_cast<uint8_t>('a' + i), 0, 0});
  EXPECT_LT(Decode(b, {5, 4}, nine_traps), 0);
  EXPECT_EQ(b.TrapReceivers().Count(), 1);
  Bytes nine_pagers(1 + 9 * 16, 0);
  nine_pagers[0] = 9;
  EXPECT_LT(Decode(b, {5, 5}, nine_pagers), 0);
  // An action for an event that does not exist is refused, not dropped unseen.
  EXPECT_LT(Decode(b, {5, 2}, Bytes{1, 40, 2, 0, 0, 0, 0, 0, 0, 255, 0, 0}), 0);
  EXPECT_EQ(b.GetActionCount(), 1);
  // A repeated pair collapses into one.
  ASSERT_GE(Decode(b, {5, 2}, Bytes{2, 3, 2, 0, 1, 0, 0, 0, 0, 255, 0, 0, 3, 2, 0, 2, 0, 0, 0, 0, 255, 0, 0}), 0);
  EXPECT_EQ(b.GetActionCount(), 1);
}

TEST_F(NotifyTest, MapsLongerThanTheTablesStayWithinThem) {
  NotifyBlock b;
  Bytes maps{255};
  maps.insert(maps.end(), 255, 0xFF);
  maps.push_back(3);
  maps.insert(maps.end(), {0xFF, 0xFF, 0xFF});
  ASSERT_GE(Decode(b, {5, 1}, maps), 0);
  EXPECT_EQ(b.GetSupportMapSize(SUPPORT_EVENTS), 255);
  std::vector<int> events;
  EXPECT_EQ(b.GetSupportedEvents(events), 37);
  EXPECT_EQ(events.back(), 37);
  EXPECT_EQ(b.CountSupportedEvents(), 37);
  EXPECT_EQ(b.CountSupportedActions(), 11);  // every action but 11
  EXPECT_EQ(Encode(b, {5, 1}), maps);         // and the bytes are kept as received

  EXPECT_EQ(b.TestSupportBit(SUPPORT_EVENTS, 254, 7), 1);
  EXPECT_EQ(b.TestSupportBit(SUPPORT_EVENTS, 255, 0), 0);
  EXPECT_EQ(b.TestSupportBit(SUPPORT_EVENTS, 0, 8), -1);
  EXPECT_EQ(b.SetSupportBit(SUPPORT_ACTIONS, 256, 0), -1);
  EXPECT_EQ(b.ClearSupportBit(SUPPORT_ACTIONS, 3, 0), -1);
  EXPECT_EQ(b.code, 2);
  EXPECT_EQ(b.ClearSupportBit(SUPPORT_ACTIONS, 1, 3), 1);
  EXPECT_EQ(b.IsActionSupported(12), 0);
  EXPECT_EQ(b.SetSupportBit(SUPPORT_ACTIONS, 5, 1), 1);
  EXPECT_EQ(b.GetSupportMapSize(SUPPORT_ACTIONS), 6);
}

TEST_F(NotifyTest, AssignCopiesActionsAndPagersButNotTrapReceivers) {
  NotifyBlock source;
  source.AddAction(Action(3, 2));
  source.AddAction(Action(4, 3));
  source.TrapReceivers().Add("a", "public");
  source.PagerRecipients().Add(Pager("p", "1"));
  source.MailRecipients().Add("acct", "Ann");
  NotifyBlock b;
  b.AddAction(Action(9, 9));
  b.Assign(source);
  EXPECT_EQ(b.GetActionCount(), 2);
  KT_ActionEntry a;
  EXPECT_FALSE(b.FindAction(9, 9, a));
  b.ResetActionCursor();
  ASSERT_EQ(b.GetNextAction(a), 1);
  EXPECT_EQ(a.event, 3);  // added again one by one: the order turns round
  EXPECT_EQ(b.TrapReceivers().Count(), 0);
  EXPECT_EQ(b.PagerRecipients().Count(), 1);
  EXPECT_EQ(b.MailRecipients().Count(), 1);
  EXPECT_EQ(b.CountSupportedEvents(), 33);
  EXPECT_TRUE(NotifyBlock::IsClearingEvent(35));
  EXPECT_FALSE(NotifyBlock::IsClearingEvent(20));
}

}  // namespace
