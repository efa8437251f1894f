// The trap hand-off to a running snmpd (AgentX master) and the direct path without one.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "agent/actions/trap_handoff.h"
#include "core/scp/scp.h"
#include "core/adapters/snmp.h"
#include "tests/support/snmp_peer.h"
#include "tests/agent/actions/trap_handoff/agentx_master.h"

namespace {

using testing_support::ReceivedTrap;
using testing_support::TrapReceiver;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

const testing_support::TrapVariable* Find(const ReceivedTrap& trap, const std::string& oid) {
  for (const auto& v : trap.variables) {
    if (v.oid == oid) return &v;
  }
  return nullptr;
}

// The UPS traps a receiver logged (snmpd also sends its own start and stop traps), waiting up
// to timeoutMs for at least count of them.
std::vector<ReceivedTrap> UpsTraps(const TrapReceiver& receiver, size_t count, int timeoutMs) {
  std::vector<ReceivedTrap> ups;
  WaitUntil(
      [&] {
        ups.clear();
        for (const auto& t : receiver.Traps()) {
          if (t.enterprise == ".1.3.6.1.2.1.33.2") ups.push_back(t);
        }
        return ups.size() >= count;
      },
      timeoutMs);
  return ups;
}

// An enterprise-specific trap PDU with variables of the given identifier lengths.
netsnmp_pdu* Trap(long generic, long specific, std::vector<size_t> oidLengths) {
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP);
  static const oid kEnterprise[] = {1, 3, 6, 1, 2, 1, 33, 2};
  pdu->enterprise = snmp_duplicate_objid(kEnterprise, 8);
  pdu->enterprise_length = 8;
  pdu->trap_type = generic;
  pdu->specific_type = specific;
  for (size_t length : oidLengths) {
    std::vector<oid> name = {1, 3, 6, 1, 2, 1, 33, 1, 2, 3, 0};
    name.resize(length, 7);
    long value = static_cast<long>(length);
    snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_INTEGER, &value, sizeof value);
  }
  return pdu;
}

class TrapHandoffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sink_.Start()) << sink_.error();
    ASSERT_TRUE(direct_.Start()) << direct_.error();
  }
  void TearDown() override {
    KT_SNMP::SetTrapHandoff(nullptr);
    handoff_.reset();
  }
  void StartHandoff(const std::string& socket) {
    handoff_ = KT_TrapHandoff::Start(scp_, socket);
    KT_SNMP::SetTrapHandoff([h = handoff_.get()](void* s, netsnmp_pdu* p) { return h->PostTrap(s, p); });
    client_ = std::make_unique<KT_SNMP>(direct_.host().c_str(), "public", "private", direct_.port());
    ASSERT_EQ(client_->OpenSession(), 0);
  }

  KT_SCP scp_;
  TrapReceiver sink_;    // snmpd's trap destination
  TrapReceiver direct_;  // the network manager the agent itself would send to
  AgentxMaster master_;
  std::unique_ptr<KT_TrapHandoff> handoff_;
  std::unique_ptr<KT_SNMP> client_;
};

TEST_F(TrapHandoffTest, TrapsGoThroughTheRunningSnmpdToItsOwnDestinations) {
  ASSERT_TRUE(master_.Start(sink_.host(), sink_.port())) << master_.error();
  StartHandoff(master_.Socket());
  ASSERT_TRUE(WaitUntil([&] { return handoff_->IsAvailable(); }, 5000)) << master_.Log();
  EXPECT_TRUE(scp_.HasSnmpServiceSupport());

  EXPECT_EQ(client_->SendOnBatteryTrap(12, 30, 2), 1);
  ASSERT_TRUE(handoff_->WaitUntilSent(5000));
  const auto traps = UpsTraps(sink_, 1, 5000);
  ASSERT_EQ(traps.size(), 1u) << master_.Log();

  EXPECT_EQ(traps[0].version, 0);
  EXPECT_EQ(traps[0].enterprise, ".1.3.6.1.2.1.33.2");
  EXPECT_EQ(traps[0].genericType, 6);
  EXPECT_EQ(traps[0].specificType, UPS_TRAP_ON_BATTERY);
  const auto* minutes = Find(traps[0], ".1.3.6.1.2.1.33.1.2.3.0");
  ASSERT_NE(minutes, nullptr);
  EXPECT_EQ(minutes->value, "12");
  const auto* seconds = Find(traps[0], ".1.3.6.1.2.1.33.1.2.2.0");
  ASSERT_NE(seconds, nullptr);
  EXPECT_EQ(seconds->value, "30");
  EXPECT_TRUE(UpsTraps(direct_, 1, 500).empty());

  // What the hand-off refuses goes nowhere through it: a generic trap, codes 0 and 5, an
  // identifier of 14 sub-identifiers. 13 sub-identifiers are fine; no variables: nothing sent.
  void* session = reinterpret_cast<void*>(client_.get());
  const uint64_t sentBefore = handoff_->SentCount();
  struct Case {
    long generic;
    long specific;
    std::vector<size_t> lengths;
    int expected;
  } const cases[] = {
      {0, 1, {11}, 0}, {6, 0, {11}, 0}, {6, 5, {11}, 0}, {6, 3, {11, 14}, 0}, {6, 4, {}, 1}, {6, 3, {13}, 1},
  };
  for (const Case& c : cases) {
    netsnmp_pdu* pdu = Trap(c.generic, c.specific, c.lengths);
    EXPECT_EQ(handoff_->PostTrap(session, pdu), c.expected) << c.generic << "/" << c.specific;
    snmp_free_pdu(pdu);
  }
  EXPECT_EQ(handoff_->PostTrap(nullptr, nullptr), 0);
  ASSERT_TRUE(handoff_->WaitUntilSent(5000));
  EXPECT_EQ(handoff_->SentCount(), sentBefore + 1);
  const auto all = UpsTraps(sink_, 2, 5000);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].specificType, 3);
  ASSERT_EQ(all[1].variables.size(), 2u);  // the variable, and snmpd's snmpTrapEnterprise.0
  EXPECT_EQ(all[1].variables[0].oid, ".1.3.6.1.2.1.33.1.2.3.0.7.7");
  EXPECT_TRUE(UpsTraps(sink_, 3, 500).size() == 2u);
}

TEST_F(TrapHandoffTest, WithoutAMasterTheBitStaysClearAndTrapsGoOutDirectly) {
  testing_support::TempDir nowhere(false);
  StartHandoff("unix:" + nowhere.File("agentx"));
  EXPECT_FALSE(handoff_->IsAvailable());
  EXPECT_FALSE(scp_.HasSnmpServiceSupport());
  EXPECT_EQ(client_->SendAlarmEntryTrap(ALARM_ON_BATTERY, 0), 1);
  const auto traps = UpsTraps(direct_, 1, 5000);
  ASSERT_EQ(traps.size(), 1u);
  EXPECT_EQ(traps[0].specificType, UPS_TRAP_ALARM_ENTRY_ADDED);
  EXPECT_EQ(traps[0].community, "private");
}

TEST_F(TrapHandoffTest, MasterThatGoesAwayIsFollowedAndFoundAgain) {
  ASSERT_TRUE(master_.Start(sink_.host(), sink_.port())) << master_.error();
  StartHandoff(master_.Socket());
  ASSERT_TRUE(WaitUntil([&] { return handoff_->IsAvailable(); }, 5000));

  master_.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !handoff_->IsAvailable() && !scp_.HasSnmpServiceSupport(); }, 5000));
  EXPECT_EQ(client_->SendOnBatteryTrap(5, 60, 2), 1);
  EXPECT_EQ(UpsTraps(direct_, 1, 5000).size(), 1u);

  ASSERT_TRUE(master_.Start(sink_.host(), sink_.port())) << master_.error();
  ASSERT_TRUE(WaitUntil([&] { return handoff_->IsAvailable() && scp_.HasSnmpServiceSupport(); },
                        (KT_TrapHandoff::kRetrySeconds + 5) * 1000));
  EXPECT_EQ(client_->SendOnBatteryTrap(4, 90, 2), 1);
  ASSERT_TRUE(handoff_->WaitUntilSent(5000));
  const auto traps = UpsTraps(sink_, 1, 5000);
  ASSERT_EQ(traps.size(), 1u);
  EXPECT_EQ(Find(traps[0], ".1.3.6.1.2.1.33.1.2.3.0")->value, "4");
  EXPECT_EQ(UpsTraps(direct_, 2, 500).size(), 1u);
}

}  // namespace
