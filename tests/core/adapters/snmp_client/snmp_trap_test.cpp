// The UPS MIB traps as a real snmptrapd receives them.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/adapters/snmp.h"
#include "core/adapters/trap_alarm_ids.h"
#include "tests/support/snmp_peer.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ReceivedTrap;
using testing_support::TrapReceiver;

// The agent address a trap carries: the first IPv4 address of this host's name.
std::string LocalAddress() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return "";
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(list);
  return text;
}

class TrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KT_SNMP::Initialize();
    local_ = LocalAddress();
    if (local_.empty()) GTEST_SKIP() << "this host's name has no IPv4 address";
    ASSERT_TRUE(receiver_.Start()) << receiver_.error();
  }
  void TearDown() override {
    GetProcessScp().ClearFlag(SCP_FLAG_SNMP_SERVICE);
    KT_SNMP::SetTrapHandoff(nullptr);
  }
  // A sender whose session goes to `receiver` with the manager's community as both communities.
  std::unique_ptr<KT_SNMP> Sender(TrapReceiver& receiver, const char* community = "managers") {
    auto client = std::make_unique<KT_SNMP>();
    client->SetSession(receiver.host().c_str(), community, community, receiver.port());
    EXPECT_EQ(client->OpenSession(), 0);
    return client;
  }
  void ExpectUpsTrap(const ReceivedTrap& trap, int specific, size_t variables) {
    EXPECT_EQ(trap.version, 0);
    EXPECT_EQ(trap.enterprise, ".1.3.6.1.2.1.33.2");
    EXPECT_EQ(trap.genericType, 6);
    EXPECT_EQ(trap.specificType, specific);
    EXPECT_EQ(trap.agentAddress, local_);
    EXPECT_EQ(trap.community, "managers");
    EXPECT_EQ(trap.variables.size(), variables);
  }

  testing_support::TempDir dir_;
  TrapReceiver receiver_;
  std::string local_;
};

TEST_F(TrapTest, OnBatteryTrap) {
  testing_support::ScopedManualClock clock(1700000000);
  std::unique_ptr<KT_SNMP> sender = Sender(receiver_);
  clock->AdvanceSeconds(12);
  ASSERT_EQ(sender->SendOnBatteryTrap(45, 30, 0x102), 1);
  std::vector<ReceivedTrap> traps = receiver_.WaitForTraps(1);
  ASSERT_EQ(traps.size(), 1u) << receiver_.Log();
  ExpectUpsTrap(traps[0], UPS_TRAP_ON_BATTERY, 3);
  EXPECT_EQ(traps[0].timeStamp, 1200u);
  ASSERT_EQ(traps[0].variables.size(), 3u);
  EXPECT_EQ(traps[0].variables[0].oid, ".1.3.6.1.2.1.33.1.2.3.0");
  EXPECT_EQ(traps[0].variables[0].type, "INTEGER");
  EXPECT_EQ(traps[0].variables[0].value, "45");
  EXPECT_EQ(traps[0].variables[1].oid, ".1.3.6.1.2.1.33.1.2.2.0");
  EXPECT_EQ(traps[0].variables[1].value, "30");
  EXPECT_EQ(traps[0].variables[2].oid, ".1.3.6.1.2.1.33.1.9.7.0");
  EXPECT_EQ(traps[0].variables[2].value, "2");  // the low byte of the low-battery time

  // Clearing alarm 1 afterwards removes the entry under the id the on-battery trap took.
  const int id = PeekAlarmId(ALARM_ON_BATTERY);
  ASSERT_GT(id, 0);
  ASSERT_EQ(sender->SendAlarmEntryTrap(ALARM_ON_BATTERY, 1), 1);
  traps = receiver_.WaitForTraps(2);
  ASSERT_EQ(traps.size(), 2u);
  ExpectUpsTrap(traps[1], UPS_TRAP_ALARM_ENTRY_REMOVED, 2);
  EXPECT_EQ(traps[1].variables[0].oid, ".1.3.6.1.2.1.33.1.6.2.1.1." + std::to_string(id));
  EXPECT_EQ(traps[1].variables[0].value, "2");
}

TEST_F(TrapTest, AlarmEntryAddedAndRemoved) {
  std::unique_ptr<KT_SNMP> sender = Sender(receiver_);
  // Boosting reports upsAlarmInputBad, like input out of range.
  ASSERT_EQ(sender->SendAlarmEntryTrap(ALARM_BOOSTING, 0), 1);
  const int id = PeekAlarmId(ALARM_BOOSTING);
  ASSERT_GT(id, 0);
  ASSERT_EQ(sender->SendAlarmEntryTrap(ALARM_BOOSTING, 1), 1);
  std::vector<ReceivedTrap> traps = receiver_.WaitForTraps(2);
  ASSERT_EQ(traps.size(), 2u) << receiver_.Log();
  for (int i = 0; i < 2; ++i) {
    ExpectUpsTrap(traps[i], i == 0 ? UPS_TRAP_ALARM_ENTRY_ADDED : UPS_TRAP_ALARM_ENTRY_REMOVED, 2);
    ASSERT_EQ(traps[i].variables.size(), 2u);
    EXPECT_EQ(traps[i].variables[0].oid, ".1.3.6.1.2.1.33.1.6.2.1.1." + std::to_string(id));
    EXPECT_EQ(traps[i].variables[0].type, "INTEGER");
    EXPECT_EQ(traps[i].variables[0].value, "6");
    EXPECT_EQ(traps[i].variables[1].oid, ".1.3.6.1.2.1.33.1.6.2.1.2." + std::to_string(id));
    EXPECT_EQ(traps[i].variables[1].type, "OID");
    EXPECT_EQ(traps[i].variables[1].value, ".1.3.6.1.2.1.33.1.6.3.6");
  }
  EXPECT_EQ(PeekAlarmId(ALARM_BOOSTING), -1);

  // A removal of an alarm never added sends nothing; codes without a well-known alarm send
  // nothing and succeed.
  EXPECT_EQ(sender->SendAlarmEntryTrap(ALARM_BUCKING, 1), -1);
  EXPECT_EQ(sender->SendAlarmEntryTrap(ALARM_AGENT_STARTED, 0), 1);
  EXPECT_EQ(sender->SendAlarmEntryTrap(ALARM_SYSTEM_NORMAL, 1), 1);
  ASSERT_EQ(sender->SendOnBatteryTrap(1, 2, 3), 1);  // a marker: nothing came before it
  traps = receiver_.WaitForTraps(3);
  ASSERT_EQ(traps.size(), 3u);
  EXPECT_EQ(traps[2].specificType, UPS_TRAP_ON_BATTERY);
}

TEST_F(TrapTest, EveryManagerHearsOneIdForAnAlarm) {
  TrapReceiver second;
  ASSERT_TRUE(second.Start()) << second.error();
  std::unique_ptr<KT_SNMP> sender = Sender(receiver_);
  std::unique_ptr<KT_SNMP> other = Sender(second);
  // As the action engine does: one call per manager for each change.
  ASSERT_EQ(sender->SendAlarmEntryTrap(ALARM_OVERLOAD, 0), 1);
  ASSERT_EQ(other->SendAlarmEntryTrap(ALARM_OVERLOAD, 0), 1);
  ASSERT_EQ(sender->SendAlarmEntryTrap(ALARM_OVERLOAD, 1), 1);
  ASSERT_EQ(other->SendAlarmEntryTrap(ALARM_OVERLOAD, 1), 1);
  std::vector<ReceivedTrap> first = receiver_.WaitForTraps(2);
  std::vector<ReceivedTrap> next = second.WaitForTraps(2);
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(next.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(first[i].variables.size(), 2u);
    ASSERT_EQ(next[i].variables.size(), 2u);
    EXPECT_EQ(first[i].variables[0].oid, next[i].variables[0].oid);
    EXPECT_EQ(first[i].variables[0].oid, first[0].variables[0].oid);
    EXPECT_EQ(next[i].specificType, i == 0 ? UPS_TRAP_ALARM_ENTRY_ADDED : UPS_TRAP_ALARM_ENTRY_REMOVED);
  }
}

TEST_F(TrapTest, TestCompletedTrap) {
  testing_support::ScopedManualClock clock(1700000000);
  std::unique_ptr<KT_SNMP> sender = Sender(receiver_);
  const time_t processStart = static_cast<time_t>(platform::Now() - GetProcessScp().SecondsSinceStart());
  ASSERT_EQ(sender->SendDiagTestCompletedTrap("33.1.7.7.4", 300, 0x101, "Battery passed", processStart + 5, 800), 1);
  // A test started before the process's SCP object existed stamps 0, never a wrapped value.
  ASSERT_EQ(sender->SendDiagTestCompletedTrap("33.1.7.7.3", 1, 4, nullptr, processStart - 60, -5), 1);
  std::vector<ReceivedTrap> traps = receiver_.WaitForTraps(2);
  ASSERT_EQ(traps.size(), 2u) << receiver_.Log();
  ExpectUpsTrap(traps[0], UPS_TRAP_TEST_COMPLETED, 6);
  const std::vector<testing_support::TrapVariable>& v = traps[0].variables;
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[0].oid, ".1.3.6.1.2.1.33.1.7.1.0");
  EXPECT_EQ(v[0].type, "OID");
  EXPECT_EQ(v[0].value, ".1.3.6.1.2.1.33.1.7.7.4");
  EXPECT_EQ(v[1].oid, ".1.3.6.1.2.1.33.1.7.2.0");
  EXPECT_EQ(v[1].value, "300");
  EXPECT_EQ(v[2].oid, ".1.3.6.1.2.1.33.1.7.3.0");
  EXPECT_EQ(v[2].value, "1");
  EXPECT_EQ(v[3].oid, ".1.3.6.1.2.1.33.1.7.4.0");
  EXPECT_EQ(v[3].type, "STRING");
  EXPECT_EQ(v[3].value, "Battery passed");
  EXPECT_EQ(v[4].oid, ".1.3.6.1.2.1.33.1.7.5.0");
  EXPECT_EQ(v[4].type, "Timeticks");
  EXPECT_EQ(v[4].value, "500");
  EXPECT_EQ(v[5].oid, ".1.3.6.1.2.1.33.1.7.6.0");
  EXPECT_EQ(v[5].value, "800");
  ASSERT_EQ(traps[1].variables.size(), 6u);
  EXPECT_EQ(traps[1].variables[3].value, "");
  EXPECT_EQ(traps[1].variables[4].value, "0");
  EXPECT_EQ(traps[1].variables[5].value, "0");

  EXPECT_EQ(sender->SendDiagTestCompletedTrap(nullptr, 1, 1, "x", processStart, 1), -1);
  EXPECT_EQ(sender->SendDiagTestCompletedTrap("not an oid", 1, 1, "x", processStart, 1), -1);
}

TEST_F(TrapTest, HandOffToTheSystemServiceFirst) {
  std::unique_ptr<KT_SNMP> sender = Sender(receiver_);
  GetProcessScp().SetFlag(SCP_FLAG_SNMP_SERVICE);

  // Refused by the hand-off: exactly one direct send follows.
  int offered = 0;
  KT_SNMP::SetTrapHandoff([&](void*, netsnmp_pdu* trap) {
    ++offered;
    EXPECT_EQ(trap->specific_type, UPS_TRAP_ON_BATTERY);
    return 0;
  });
  ASSERT_EQ(sender->SendOnBatteryTrap(10, 20, 2), 1);
  EXPECT_EQ(offered, 1);

  // Taken by the hand-off: nothing goes out directly.
  KT_SNMP::SetTrapHandoff([&](void*, netsnmp_pdu*) {
    ++offered;
    return 1;
  });
  ASSERT_EQ(sender->SendOnBatteryTrap(11, 21, 2), 1);
  EXPECT_EQ(offered, 2);

  GetProcessScp().ClearFlag(SCP_FLAG_SNMP_SERVICE);
  ASSERT_EQ(sender->SendOnBatteryTrap(12, 22, 2), 1);
  EXPECT_EQ(offered, 2);
  std::vector<ReceivedTrap> traps = receiver_.WaitForTraps(2);
  ASSERT_EQ(traps.size(), 2u) << receiver_.Log();
  EXPECT_EQ(traps[0].variables[0].value, "10");
  EXPECT_EQ(traps[1].variables[0].value, "12");
}

}  // namespace
