// snmpd as the system SNMP service of the trap hand-off's tests: an AgentX master on a socket
// of the test's own, whose trap destinations are a trap receiver of the test (trapsink,
// SNMPv1).
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/snmp_peer.h"
#include "tests/support/test_support.h"

class AgentxMaster {
 public:
  AgentxMaster();
  ~AgentxMaster() { Stop(); }

  // Starts snmpd sending its traps to trapsink host:port; waits until the AgentX socket is
  // there (up to 10 s). False with error() set.
  bool Start(const std::string& trapHost, uint16_t trapPort);
  void Stop();
  bool Running() { return daemon_.Running(); }

  // "unix:<path>", as the hand-off is given it.
  std::string Socket() const { return "unix:" + socket_; }
  const std::string& error() const { return error_; }
  std::string Log() const;

 private:
  testing_support::TempDir dir_{false};
  std::string socket_;
  testing_support::DaemonProcess daemon_;
  std::string error_;
};
