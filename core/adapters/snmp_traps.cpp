// KT_SNMP: the SNMPv1 traps of the UPS MIB (RFC 1628, upsTraps).
//
// Every trap: community = the write community, enterprise upsTraps (1.3.6.1.2.1.33.2), agent
// address = the first IPv4 address of this host's name, generic trap 6 (enterpriseSpecific),
// specific trap 1..4 (UpsTrapKind), time stamp = hundredths of a second since the client's image
// was built. The session must be set to the network manager (port 162) and open.
//
// When the process SCP object says the system SNMP service's trap hand-off is usable, the trap
// is offered to it first; when the hand-off is not set or refuses, the trap goes out once on the
// client's own session.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/base/ktdiag.h"
#include "core/adapters/mib_table.h"
#include "core/adapters/snmp.h"
#include "core/adapters/snmp_convert.h"
#include "core/adapters/trap_alarm_ids.h"
#include "platform/clock.h"
#include "platform/name_resolver.h"

namespace {

// upsTraps: 1.3.6.1.2.1.33.2
constexpr oid kUpsTrapsEnterprise[] = {1, 3, 6, 1, 2, 1, 33, 2};
constexpr size_t kUpsTrapsEnterpriseLength = 8;

// The longest wait for the address of this host's own name (a name server that does not answer
// must not hold the trap's sender; the lookup goes on and the next trap has its answer).
constexpr int kLocalNameWaitMs = 1000;

// The first IPv4 address of this host's own name.
bool LocalHostAddress(in_addr& out) {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return false;
  uint32_t address = 0;
  if (platform::AddressWithin(name, address, kLocalNameWaitMs) != platform::LookupAnswer::kFound) return false;
  out.s_addr = address;
  return true;
}

// Hundredths of a second as TimeTicks carry them: never negative, never beyond 32 bits.
u_long Ticks(int64_t seconds) { return static_cast<u_long>(std::clamp<int64_t>(seconds * 100, 0, UINT32_MAX)); }

}  // namespace

netsnmp_pdu* KT_SNMP::NewTrap(int specific) {
  in_addr local{};
  if (!LocalHostAddress(local)) {
    Diag() << "KT_SNMP: the local host's address cannot be found, no trap sent\n";
    return nullptr;
  }
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP);
  if (pdu == nullptr) return nullptr;
  if (write_community_ && !write_community_->empty()) {
    pdu->community = static_cast<u_char*>(malloc(write_community_->size()));
    if (pdu->community == nullptr) {
      snmp_free_pdu(pdu);
      return nullptr;
    }
    std::memcpy(pdu->community, write_community_->data(), write_community_->size());
    pdu->community_len = write_community_->size();
  }
  pdu->enterprise = snmp_duplicate_objid(kUpsTrapsEnterprise, kUpsTrapsEnterpriseLength);
  if (pdu->enterprise == nullptr) {
    snmp_free_pdu(pdu);
    return nullptr;
  }
  pdu->enterprise_length = kUpsTrapsEnterpriseLength;
  std::memcpy(pdu->agent_addr, &local.s_addr, sizeof pdu->agent_addr);
  pdu->trap_type = SNMP_TRAP_ENTERPRISESPECIFIC;
  pdu->specific_type = specific;
  pdu->time = Ticks(image_->SecondsSinceStart());
  return pdu;
}

int KT_SNMP::AddTrapVariable(netsnmp_pdu* pdu, const std::optional<std::string>& oidText, char type,
                             const std::string& value, const char* who, const char* label, const char* valueLabel) {
  const std::vector<oid> name = oidText ? ParseOidText(oidText->c_str()) : std::vector<oid>();
  if (name.empty()) {
    Diag() << "KT_SNMP::" << who << ": no object identifier for " << label << kendl;
    return -1;
  }
  Diag() << "KT_SNMP::" << who << ": " << label << " oid = " << OidToText(name.data(), name.size()) << ", "
         << valueLabel << " = " << value << kendl;
  if (snmp_add_var(pdu, name.data(), name.size(), type, value.c_str()) != 0) {
    Diag() << "KT_SNMP::" << who << ": the value of " << label << " cannot be encoded\n";
    return -1;
  }
  return 0;
}

int KT_SNMP::FailTrap(netsnmp_pdu* pdu, const char* who) {
  if (pdu != nullptr) snmp_free_pdu(pdu);
  Diag() << who << " ret = " << -1 << kendl;
  return -1;
}

int KT_SNMP::SendTrap(netsnmp_pdu* pdu, const char* kind, const char* who) {
  if (ProcessScp().HasSnmpServiceSupport()) {
    Diag() << "SENDING OS SNMP TRAP for " << kind << kendl;
    const TrapHandoff handoff = CurrentTrapHandoff();
    if (handoff && handoff(session_, pdu) != 0) {
      // The hand-off copied what it needs; the PDU stays ours.
      snmp_free_pdu(pdu);
      Diag() << who << " was successful\n";
      return 1;
    }
    Diag() << "OS Trap failed, SENDING CMU SNMP TRAP for " << kind << kendl;
  } else {
    Diag() << "SENDING CMU SNMP TRAP for " << kind << kendl;
  }
  if (session_ != nullptr && snmp_sess_send(session_, pdu) != 0) {
    // The library owns the PDU from here on.
    Diag() << who << " was successful\n";
    return 1;
  }
  Diag() << who << ": failed!\n";
  return FailTrap(pdu, who);
}

int KT_SNMP::SendOnBatteryTrap(int minutesRemaining, int secondsOnBattery, int lowBatteryMinutes) {
  const char* who = "SendOnBatteryTrap";
  TakeOnBatteryAlarmId();
  netsnmp_pdu* pdu = NewTrap(UPS_TRAP_ON_BATTERY);
  if (pdu == nullptr) return FailTrap(nullptr, who);
  if (AddTrapVariable(pdu, GetOidText(kRowUpsEstimatedMinutesRemaining), 'i', std::to_string(minutesRemaining), who,
                      "ESTIMATEDMINUTESREMAINING", "batt_time_remain") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsSecondsOnBattery), 'i', std::to_string(secondsOnBattery), who,
                      "SECONDSONBATTERY", "secs_on_batt") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsConfigLowBattTime), 'i', std::to_string(lowBatteryMinutes & 0xFF), who,
                      "CONFIGLOWBATTTIME", "low_batt_time") < 0) {
    return FailTrap(pdu, who);
  }
  return SendTrap(pdu, "OnBattery", who);
}

int KT_SNMP::SendDiagTestCompletedTrap(const char* testId, int spinLock, int outcome, const char* detail,
                                       time_t startTime, int elapsed) {
  const char* who = "SendDiagTestCompletedTrap";
  if (testId == nullptr) {
    Diag() << "KT_SNMP::" << who << ": no test id\n";
    return FailTrap(nullptr, who);
  }
  netsnmp_pdu* pdu = NewTrap(UPS_TRAP_TEST_COMPLETED);
  if (pdu == nullptr) return FailTrap(nullptr, who);
  // The start time as the process's SCP object counts its uptime; a test started before the
  // object was built stamps 0.
  KT_SCP& process = ProcessScp();
  const int64_t now = platform::Now();
  const int64_t processStart = now - process.SecondsSinceStart();
  const u_long startTicks = Ticks(static_cast<int64_t>(startTime) - processStart);
  const u_long elapsedTicks = static_cast<u_long>(std::max(elapsed, 0));
  if (AddTrapVariable(pdu, GetOidText(kRowUpsTestId), 'o', testId, who, "TESTID", "test_id") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsTestSpinLock), 'i', std::to_string(spinLock), who, "TESTSPINLOCK",
                      "spin_lock") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsTestResultsSummary), 'i', std::to_string(outcome & 0xFF), who,
                      "TESTRESULTSSUMMARY", "result") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsTestResultsDetail), 's', detail != nullptr ? detail : "", who,
                      "TESTRESULTSDETAIL", "detail") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsTestStartTime), 't', std::to_string(startTicks), who, "TESTSTARTTIME",
                      "start_time") < 0 ||
      AddTrapVariable(pdu, GetOidText(kRowUpsTestElapsedTime), 't', std::to_string(elapsedTicks), who,
                      "TESTELAPSEDTIME", "elapsed_time") < 0) {
    return FailTrap(pdu, who);
  }
  return SendTrap(pdu, "DiagTestCompleted", who);
}

int KT_SNMP::SendAlarmEntryTrap(int scpAlarm, int clear) {
  const char* who = "SendAlarmEntryTrap";
  const int code = scpAlarm & 0xFF;
  Diag() << "KT_SNMP::SendAlarmEntryTrap: scp_alarm = " << code << ", clear = " << clear << kendl;
  const int wellKnown = WellKnownAlarmForScpAlarm(code);
  if (wellKnown < 0) return 1;
  Diag() << "KT_SNMP::SendAlarmEntryTrap: Cradlenet alarm = " << wellKnown << kendl;

  const int added = clear == 0;
  const int alarmId = added ? TakeAddedAlarmId(code) : TakeRemovedAlarmId(code);
  if (alarmId < 0) {
    Diag() << "KT_SNMP::SendAlarmEntryTrap: alarm " << code << " was never reported as added\n";
    return FailTrap(nullptr, who);
  }
  netsnmp_pdu* pdu = NewTrap(added ? UPS_TRAP_ALARM_ENTRY_ADDED : UPS_TRAP_ALARM_ENTRY_REMOVED);
  if (pdu == nullptr) return FailTrap(nullptr, who);
  char descr[32];
  std::snprintf(descr, sizeof descr, "33.1.6.3.%d", wellKnown);
  if (AddTrapVariable(pdu, RowOidWithIndex(kRowUpsAlarmId, alarmId), 'i', std::to_string(wellKnown), who, "ALARMID",
                      "alarm") < 0 ||
      AddTrapVariable(pdu, RowOidWithIndex(kRowUpsAlarmDescr, alarmId), 'o', descr, who, "ALARMDESCR", "descr") < 0) {
    return FailTrap(pdu, who);
  }
  return SendTrap(pdu, "AlarmEntry", who);
}
