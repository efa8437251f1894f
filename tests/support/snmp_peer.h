// Real SNMP peers for the network adapter client's tests, on 127.0.0.1 high ports.
//
// SnmpAdapterPeer runs the Debian snmpd as an ordinary child process with a generated
// configuration (-C: no system configuration is read; persistent files stay in the peer's
// temporary folder; only the pass_persist and access-control modules are loaded). Everything
// below .1.3.6.1 goes to tools/ups_mib_peer.py, which plays a UPS network adapter: the MIB-II
// system group, interface 1, the UPS MIB (mib-2.33) and the adapter's private subtree
// 1.3.6.1.4.1.32473.1. The read community reads, the write community reads and writes (snmpd
// checks the communities: a SET with the read community gets noSuchName in SNMPv1, an unknown
// community gets no answer at all).
//
// TrapReceiver runs snmptrapd (no authorisation checks, no AgentX) and parses the traps it logs.
//
// Typical use:
//
//   testing_support::SnmpAdapterPeer peer;
//   peer.SetText("ident_model", "Meridian 40K");     // state before start (optional)
//   peer.SetUptime(100);                            // freeze the adapter clock at 100 s
//   ASSERT_TRUE(peer.Start()) << peer.error();
//   client.SetSession(peer.host(), "public", "private", peer.port());
//   peer.SetRaw("alarms", "[2, 6]");                // on battery, then input bad, in this order
//   peer.SetBool("on_battery", true);               // also output source battery, alarm 2
//   peer.SetRaw("alarms", "[]");                    // all explicit alarms cleared
//   peer.SetInt("test_duration", 8);                // a battery test lasts 8 adapter seconds
//   ... client starts a test (spin lock + upsTestId in one SET) ...
//   peer.SetUptime(108);                            // ... and now it has finished
//   peer.Sets()      every SET the adapter received: OID, type word, value, result
//   peer.Requests()  every get/getnext/set that reached the adapter
//   peer.PacketsReceived()  SNMP packets snmpd received (also refused ones)
//
// State keys (tools/ups_mib_peer.py, DEFAULTS, has the full list and the defaults):
//   uptime                    adapter clock in seconds; absent = runs with wall time
//   sys_contact, sys_location, sys_name, sys_descr
//   ident_manufacturer, ident_model, ident_ups_software_version,
//   ident_agent_software_version, ident_name, ident_attached_devices
//   battery_status, minutes_remaining, charge_remaining, battery_voltage, on_battery
//   input_lines, output_lines, bypass_lines   lists of objects, e.g.
//       [{"frequency":600,"voltage":230,"current":12,"true_power":900}, ...]
//   input_num_lines, output_num_lines, bypass_num_lines   override the reported count
//   alarms                    list: well-known alarm numbers, or {"alarm":N,"id":I} or
//                             {"descr":"1.3.6..."}; ids are given in list order
//   alarms_present            override the reported count
//   spin_lock, test_duration, test_outcome, test_detail, test_refuse (an error word)
//   config_output_va, config_input_voltage, ... (upsConfig), shutdown_type, auto_restart
//   override {"<oid>": {"type": "string", "value": "..."}}  serve any value of any type
//   missing ["<oid>", ...]    objects that answer noSuchName
//   set_errors {"<oid>": "not-writable"}   SETs that fail with that error
// Only keys whose value changed since the last write are applied, so values written by SET
// requests stay until the test sets that key again. OIDs in these keys are written without
// the leading dot. A SET request's variables are applied one by one as they come: when one
// fails, those before it have taken effect (no rollback).
//
// The children get SIGTERM when the test's thread that started them ends (PR_SET_PDEATHSIG),
// so start peers from the test's main thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// One child process with its output in a log file.
class DaemonProcess {
 public:
  DaemonProcess() = default;
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Starts argv[0] (a path) with the extra environment entries; stdout and stderr go to log.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& log);
  bool Running();
  // SIGTERM, then SIGKILL when it has not ended after two seconds.
  void Stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A free UDP port on 127.0.0.1 (bound and released; the caller retries when it is taken
// before use).
uint16_t FreeUdpPort();
// Path of a program in /usr/sbin, /usr/local/sbin, /sbin or PATH; empty when not found.
std::string FindProgram(const std::string& name);
// Directory of the source tree (VIGIL_SOURCE_DIR, else the tree this was built from).
std::string SourceDir();
// The MIB module the suite ships for the agent's data directory (packaging/mib.txt).
std::string ShippedMibPath();
// A JSON string literal for the text (quotes and escapes added).
std::string JsonString(const std::string& text);

struct SnmpSetRecord {
  std::string oid;     // dotted, with the leading dot: ".1.3.6.1.2.1.33.1.8.2.0"
  std::string type;    // snmpd's type word: integer, string, octet, objectid, timeticks, ...
  std::string value;   // as sent (texts without quotes, octet strings decoded)
  std::string result;  // DONE or the error word
};

struct SnmpRequestRecord {
  std::string command;  // get, getnext or set
  std::string oid;
};

class SnmpAdapterPeer {
 public:
  explicit SnmpAdapterPeer(std::string readCommunity = "public", std::string writeCommunity = "private");
  ~SnmpAdapterPeer();
  SnmpAdapterPeer(const SnmpAdapterPeer&) = delete;
  SnmpAdapterPeer& operator=(const SnmpAdapterPeer&) = delete;

  // Starts snmpd and waits until it answers a GET (up to 10 s); false with error() set. A
  // port other than 0 is used as it is (an adapter that comes back, or comes late, where a
  // client already looks for it); 0 takes a free one.
  bool Start(uint16_t port = 0);
  void Stop();
  bool Running();

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  std::string peerName() const;  // "127.0.0.1:port"
  const std::string& readCommunity() const { return readCommunity_; }
  const std::string& writeCommunity() const { return writeCommunity_; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& dir() const { return dir_; }

  // State of the simulated adapter; each call rewrites the state file at once.
  void SetRaw(const std::string& key, const std::string& json);
  void SetInt(const std::string& key, int64_t value);
  void SetText(const std::string& key, const std::string& text);
  void SetBool(const std::string& key, bool value);
  void SetUptime(double seconds);
  void Remove(const std::string& key);  // the key goes back to its default

  std::vector<SnmpSetRecord> Sets() const;
  std::vector<SnmpRequestRecord> Requests() const;
  int PacketsReceived() const;
  std::string Log() const;  // snmpd's own log

 private:
  void WriteState();
  bool WriteFiles();

  std::string readCommunity_;
  std::string writeCommunity_;
  std::string host_ = "127.0.0.1";
  uint16_t port_ = 0;
  std::filesystem::path dir_;
  std::map<std::string, std::string> state_;
  DaemonProcess daemon_;
  std::string error_;
  int packetsAtStart_ = 0;   // the start-up probes
  int requestsAtStart_ = 0;
};

struct TrapVariable {
  std::string oid;    // ".1.3.6.1.2.1.33.1.2.3.0"
  std::string type;   // as snmptrapd names it: INTEGER, STRING, OID, Timeticks, Hex-STRING, ...
  std::string value;  // INTEGER: the number; STRING: the text unquoted; OID: the dotted OID;
                      // Timeticks: the ticks; other types: the text as logged
};

struct ReceivedTrap {
  int version = -1;          // 0 for SNMPv1
  std::string enterprise;    // ".1.3.6.1.2.1.33.2"
  int genericType = -1;
  int specificType = -1;
  std::string agentAddress;  // the PDU's agent-addr field
  std::string community;
  uint32_t timeStamp = 0;    // hundredths of a second
  std::vector<TrapVariable> variables;
};

class TrapReceiver {
 public:
  TrapReceiver();
  ~TrapReceiver();
  TrapReceiver(const TrapReceiver&) = delete;
  TrapReceiver& operator=(const TrapReceiver&) = delete;

  // Starts snmptrapd and waits until it listens (up to 10 s); false with error() set.
  bool Start();
  void Stop();

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  std::string peerName() const;
  const std::string& error() const { return error_; }

  // Every complete trap logged so far.
  std::vector<ReceivedTrap> Traps() const;
  // Polls until at least count traps are logged or the time (ms) is over; returns the traps.
  std::vector<ReceivedTrap> WaitForTraps(size_t count, int timeoutMs = 5000) const;
  std::string Log() const;

 private:
  std::string host_ = "127.0.0.1";
  uint16_t port_ = 0;
  std::filesystem::path dir_;
  DaemonProcess daemon_;
  std::string error_;
};

// Parses snmptrapd's log in the receiver's format (exposed for tests of the parser).
std::vector<ReceivedTrap> ParseTrapLog(const std::string& log);

}  // namespace testing_support
