// KT_TrapHandoff: hands the agent's SNMP traps to the system SNMP service, so that the
// service sends them to its own trap destinations.
//
// On Linux the system SNMP service is snmpd and its interface for extensions is AgentX: the
// agent runs as an AgentX sub-agent (net-snmp's agent library) of a running snmpd and sends
// each handed-over trap as an AgentX notification; snmpd forwards it to its trapsink (SNMPv1,
// enterprise upsTraps, the same specific code) and trap2sink (SNMPv2c, snmpTrapOID
// upsTraps.0.<code>) destinations.
//
// The AgentX session belongs to one worker thread of the hand-off, which connects (and
// reconnects every kRetrySeconds while snmpd is away), sends the queued traps and reads what
// the master answers. The SCP object's capability bit for the system SNMP service
// (SCP_FLAG_SNMP_SERVICE) follows the connection: set while a master is connected, clear
// otherwise, re-asserted about once a second. PostTrap only copies a trap into the queue (the
// trap list) and wakes the thread (the event).
//
// net-snmp allows one start of its library per process: the sub-agent role must be chosen
// before KT_SNMP::Initialize starts the library. Start does both in that order; when the
// library was already started the hand-off stays unavailable and every trap goes out directly.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/base/error_status.h"

class KT_SCP;

class KT_TrapHandoff : public KT_ErrorStatus {
 public:
  // Longest object identifier a handed-over variable may have.
  static constexpr size_t kMaxOidLength = 13;
  // Traps waiting for the worker thread at most; a trap beyond that is refused (sent directly).
  static constexpr size_t kMaxQueued = 64;
  static constexpr int kRetrySeconds = 5;

  // Chooses the sub-agent role with the AgentX socket (empty: net-snmp's default,
  // /var/agentx/master), starts net-snmp through KT_SNMP::Initialize and starts the worker
  // thread. The hand-off is unavailable when the library had already been started.
  static std::unique_ptr<KT_TrapHandoff> Start(KT_SCP& scp, const std::string& agentxSocket);
  ~KT_TrapHandoff();
  KT_TrapHandoff(const KT_TrapHandoff&) = delete;
  KT_TrapHandoff& operator=(const KT_TrapHandoff&) = delete;

  // A master agent is connected.
  bool IsAvailable() const;
  // Hands one SNMPv1 trap over (the PDU stays the caller's): 1 handed over, 0 not -- a null
  // session or trap, a generic type other than 6, a specific code outside 1..4, a variable
  // whose identifier is longer than 13 sub-identifiers, no master, or a full queue. A trap
  // without variables answers 1 and nothing is sent.
  int PostTrap(void* session, netsnmp_pdu* trap);

  // Waits up to timeoutMs until every handed-over trap was sent (tests). True when none waits.
  bool WaitUntilSent(int timeoutMs);
  // Number of traps sent to the master so far.
  uint64_t SentCount() const;

 private:
  struct Variable {
    std::vector<oid> name;
    uint8_t type = 0;
    std::vector<uint8_t> value;
  };
  struct Trap {
    std::vector<oid> enterprise;
    long specific = 0;
    std::vector<Variable> variables;
  };

  KT_TrapHandoff(KT_SCP& scp, bool subagent);
  void Run();
  void SendOne(const Trap& trap);
  void Publish(bool connected);

  KT_SCP& scp_;
  const bool subagent_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable sent_;
  std::deque<Trap> queue_;
  bool stop_ = false;
  bool connected_ = false;
  bool sending_ = false;
  uint64_t sent_count_ = 0;
  std::thread thread_;
};
