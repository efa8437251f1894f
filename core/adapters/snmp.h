// KT_SNMP: the SNMP manager through which the system watches and controls a UPS behind a
// network adapter that serves the UPS MIB (RFC 1628). It keeps an SCP image of that UPS (a
// KT_SCP), fills the image's blocks from SNMPv1 GET and GETNEXT requests, writes settings and
// control delays with SET requests, starts and follows battery tests, and sends the UPS MIB
// traps. Three users:
//   - the agent's SNMP worker thread, on the agent's own SCP object (agent side);
//   - the agent's action engine, only to send traps to the configured network managers;
//   - consoles, for a host reached through an adapter: the client keeps its own image and
//     answers the console's SCP requests from it (console side).
//
// SNMP is net-snmp's single-session API: every client owns one session and is used by one
// thread at a time. KT_SNMP::Initialize must run once in the process before any thread uses a
// client (it starts the library without reading configuration files or saving state).
//
// Sessions: SNMPv1, community = the read community (every GET/GETNEXT); the write community goes
// into every SET and every trap. Retries 2, time-out 1 s. A response counts only when it answers
// the request's id (the library's rule) and comes from the adapter's address and port (a request to
// the broadcast address excepted): one from any other sender is dropped, counted, and the request
// waits on for the adapter's own (core/adapters/foreign_datagrams.h). Opening a session resolves
// the peer name itself (a dotted address, "255.255.255.255" as the limited broadcast address, else
// a host-name lookup), takes the port given to the session, else the UDP port of the service
// "kt-snmp" in the services database, else 161, and switches SO_BROADCAST on, so that requests and
// traps may go to a broadcast address.
//
// Object identifiers are written as texts relative to mib-2 ("33.1.6.1.0") and mostly taken from
// the adapter MIB table by row (core/adapters/mib_table.h). Every value from the adapter is checked for
// type and length before it reaches a block (core/adapters/snmp_convert.h); counts and indexes from the
// adapter are bounded.
//
// Locking: block updates take the image's lock (KT_SCPBase::Lock) for each short step; no lock
// is held while a request is on the wire.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/network/address.h"
#include "core/base/error_status.h"
#include "core/adapters/foreign_datagrams.h"
#include "core/scp/scp.h"
#include "core/scp/scp_message.h"
#include "core/adapters/snmp_value.h"

// PDU types of SNMPCommand.
inline constexpr int kSnmpGet = SNMP_MSG_GET;          // 0xA0
inline constexpr int kSnmpGetNext = SNMP_MSG_GETNEXT;  // 0xA1
inline constexpr int kSnmpSet = SNMP_MSG_SET;          // 0xA3

// Specific trap codes of the UPS MIB traps (enterprise upsTraps, 1.3.6.1.2.1.33.2).
enum UpsTrapKind : int {
  UPS_TRAP_ON_BATTERY = 1,
  UPS_TRAP_TEST_COMPLETED = 2,
  UPS_TRAP_ALARM_ENTRY_ADDED = 3,
  UPS_TRAP_ALARM_ENTRY_REMOVED = 4,
};

// Control delay kinds of SetControlDelay.
enum SnmpControlDelay : int {
  CONTROL_SHUTDOWN_DELAY = 0,  // upsShutdownAfterDelay
  CONTROL_STARTUP_DELAY = 1,   // upsStartupAfterDelay
  CONTROL_OFF_DELAY = 2,       // upsShutdownAfterDelay, for a delayed off
};

// Objects the client names outside the MIB table (relative to mib-2).
inline constexpr const char* kSysContactOid = "1.4.0";      // sysContact.0
inline constexpr const char* kSysLocationOid = "1.6.0";     // sysLocation.0
inline constexpr const char* kIfAdminStatusOid = "2.2.1.7.1";  // ifAdminStatus of interface 1

// The well-known tests a client starts.
inline constexpr const char* kGeneralSystemsTestId = "33.1.7.7.3";
inline constexpr const char* kQuickBatteryTestId = "33.1.7.7.4";

class KT_SNMP : public KT_ErrorStatus {
 public:
  // Starts net-snmp for this process (once; later calls do nothing) and takes the process-wide
  // SCP object, whose start time stamps the traps' test start time and whose capability bit
  // says whether the system SNMP service's trap hand-off may be used. Call before any thread
  // uses a client; null takes GetProcessScp().
  static void Initialize(KT_SCP* processScp = nullptr);

  // Default: no peer, no communities, session closed, its own new image (console side).
  KT_SNMP();
  // Copies the texts (null stays null); port 0 = the default port (see the head of the file).
  KT_SNMP(const char* peerHost, const char* readCommunity, const char* writeCommunity, int port);
  // agentSide non-zero: works on the given image (not owned), agent side. 0: as the default.
  KT_SNMP(KT_SCP* image, int agentSide);
  ~KT_SNMP();
  KT_SNMP(const KT_SNMP&) = delete;
  KT_SNMP& operator=(const KT_SNMP&) = delete;

  // ---- session --------------------------------------------------------------------------
  // Closes an open session and takes the new peer, communities and port (0 = default).
  // Returns 1.
  int SetSession(const char* peerHost, const char* readCommunity, const char* writeCommunity, int port);
  // 0, or -1 (no peer, unknown host, no socket) with the session left closed.
  int OpenSession();
  bool IsSessionOpen() const { return session_ != nullptr || exchange_ != nullptr; }
  // 1 when the open session's socket may send to a broadcast address, 0 when not, -1 when no
  // session is open.
  int BroadcastEnabled() const;

  // ---- requests -------------------------------------------------------------------------
  // One request with one variable. The first variable of the response goes into `value`
  // (emptied first). 1 success; 0 no answer, an SNMP error status (noSuchName among them) or a
  // malformed response; -1 for a null or unparsable identifier, a SET value that cannot be
  // encoded, or no open session.
  int SNMPCommand(int pduType, const char* oidText, KT_SnmpValue& value, char typeLetter = 0,
                  const char* valueText = nullptr);
  int Get(const char* oidText, KT_SnmpValue& value) { return SNMPCommand(kSnmpGet, oidText, value); }
  int GetNext(const char* oidText, KT_SnmpValue& value) { return SNMPCommand(kSnmpGetNext, oidText, value); }
  int Set(const char* oidText, KT_SnmpValue& value, char typeLetter, const char* valueText) {
    return SNMPCommand(kSnmpSet, oidText, value, typeLetter, valueText);
  }

  // The MIB table row's identifier relative to mib-2 ("33.1.6.1.0"); nullopt outside rows
  // 14..68 (see core/adapters/mib_table.h).
  static std::optional<std::string> GetOidText(int row);

  // Appends one variable to a PDU, its value made from a type letter and a text:
  //   a IpAddress (dotted), s OCTET STRING (the text), d / x OCTET STRING from decimal /
  //   hexadecimal byte values separated by white space, i INTEGER, t TimeTicks (decimal),
  //   n NULL, o OBJECT IDENTIFIER (an identifier text).
  // 0, or -1 for a value that does not parse or an unknown letter (nothing is appended).
  static int snmp_add_var(netsnmp_pdu* pdu, const oid* name, size_t nameLength, char type, const char* value);

  // ---- console side ---------------------------------------------------------------------
  // Carries out one SCP request of a console for the host behind `host` (its host name and
  // communities; default port): a GET refreshes the addressed block of the image from the
  // adapter, a SET applies the data to the image and writes block 4's texts to the adapter.
  // Returns the result of the refresh or SET (1 when a reply is ready); -1 for a frame that
  // is not a whole SCP frame, a failed session, or a failed refresh or SET.
  int SendRequest(KT_Address& host, const uint8_t* frame, int length);
  // Answers the request of the last SendRequest: a GET with the image's data of the addressed
  // part (or its status reply), any other type with "Set OK" ("Get Failed" / "Set Failed"
  // when SendRequest failed). `replyAddress` becomes the adapter (IP, port 7010, the
  // communities). 1 when a request was pending and has been answered, else 0.
  int AnswerPendingRequest(KT_Address& replyAddress, std::vector<uint8_t>& reply);
  // Refreshes the image block of key byte 0: 1 status, 2 information and capabilities,
  // 3 meters, 4 configuration texts; -1 for another block or an empty key.
  int RefreshBlock(const uint8_t* key, int keyLength);
  // Applies a console's SET frame to the image; only block 4 is written to the adapter
  // (WriteDevicesAndLocation). -1 for a frame that does not decode, data the image refuses,
  // or any other block.
  int SNMPSet(const uint8_t* frame, int length);

  // ---- the image from the adapter ---------------------------------------------------------
  // Status block from the adapter's alarm table (upsAlarmsPresent and a GETNEXT walk of
  // upsAlarmDescr, at most 25 entries). No answer raises alarm 16 (lost communication with the
  // adapter), the next answer clears it. Returns 1, the failed request's result (0 / -1), or -1
  // for a count that is not a count.
  int UpdateStatus();
  // Applies the 25 alarm flags of one poll (see UpdateStatus).
  int UpdateSCPStatus(const uint8_t flags[25]);
  // UPS information: interface type, identification, versions, serial number, CTO, ratings.
  // The result of the upsIdentName request.
  int UpdateInfo();
  // Supported functions, events and actions by side and model. 1.
  int UpdateCapabilities();
  // Nominal ratings and the number of phases. 1.
  int UpdateRatings();
  // Meters of up to three input lines. 1.
  int UpdateMeters();
  // Configuration block's location (sysLocation.0) and powered-devices
  // (upsIdentAttachedDevices) texts from / to the adapter.
  int ReadDevicesAndLocation();
  int WriteDevicesAndLocation();

  // ---- adapter management ------------------------------------------------------------------
  // upsIdentModel, or nullopt when the adapter does not answer.
  std::optional<std::string> ProbeAdapter();
  // -1 when either community is not 2..15 characters; else writes upsIdentAttachedDevices back
  // with the text just read: the SET's result (1 accepted), 0 when the read fails.
  int TestWriteAccess();
  // sysContact.0: the text, or nullopt (also for an empty text).
  std::optional<std::string> ReadAdapterText();
  int WriteAdapterText(const char* text);
  // ifAdminStatus of interface 1 := 2 (the adapter restarts its agent).
  int RestartAdapterAgent();

  // ---- output control -------------------------------------------------------------------
  // Kind 1 upsStartupAfterDelay, 0 and 2 upsShutdownAfterDelay; -1 switches a pending delay
  // off. The SET's result; -1 for another kind.
  int SetControlDelay(int kind, int seconds);
  // Shutdown then restart with the command block's delays (each at least 1; for the maker's
  // own UPSes the restart delay is at least the shutdown delay + 60). -1 when the first SET
  // fails, else the second SET's result.
  int StartSleepMode();
  // flag 0xFF: off after the configuration's operating-system shutdown time, else at once.
  // The SET's result.
  int DelayedOff(int flag);
  // Reads both delays; an unreadable one is -2. 1 when both were read, else 0.
  int ReadControlDelays(int& startup, int& shutdown);

  // ---- battery test -----------------------------------------------------------------------
  // Starts a test (spin lock and test id in one SET). 1 started (alarm 17 raised); 0 refused
  // or no answer; -1 when the spin lock cannot be read.
  int InitiateBatteryTest();
  // Follows the test. Agent side: 1 still running, 0 finished (a test this client started is
  // logged in the battery log and alarm 17 cleared), -1 when the outcome cannot be read.
  // Console side: the outcome on the dialogs' scale: 0 passed, 1 warning, 2 error, 3 aborted,
  // 4 in progress, 5 none; -1 when it cannot be read.
  int UpdateBatteryTest();

  // ---- traps (session set to the manager, port 162, and opened) ----------------------------
  // upsTrapOnBattery. 1 sent, -1 failed.
  int SendOnBatteryTrap(int minutesRemaining, int secondsOnBattery, int lowBatteryMinutes);
  // upsTrapTestCompleted. 1 sent, -1 failed.
  int SendDiagTestCompletedTrap(const char* testId, int spinLock, int outcome, const char* detail,
                                time_t startTime, int elapsed);
  // upsTrapAlarmEntryAdded (clear 0) / upsTrapAlarmEntryRemoved (clear non-zero) for a status
  // alarm code. 1 sent or nothing to send (a code without a well-known alarm); -1 failed or a
  // removal of an alarm that was never added.
  int SendAlarmEntryTrap(int scpAlarm, int clear);

  // The system SNMP service's trap hand-off: gets the session handle and the trap PDU (which
  // stays the caller's); 1 when the trap was handed over, 0 when not. Used while the process
  // SCP object has SCP_FLAG_SNMP_SERVICE; unset, or answering 0, the trap goes out directly.
  using TrapHandoff = std::function<int(void* session, netsnmp_pdu* trap)>;
  static void SetTrapHandoff(TrapHandoff handoff);

  // ---- state ----------------------------------------------------------------------------
  KT_SCP& Image() { return *image_; }
  bool IsAgentSide() const { return agent_side_ != 0; }
  const std::optional<std::string>& PeerHost() const { return peer_; }
  const std::optional<std::string>& ReadCommunity() const { return read_community_; }
  const std::optional<std::string>& WriteCommunity() const { return write_community_; }
  // The running test: its id text ("" when none), spin lock, start and request times.
  const std::optional<std::string>& TestId() const { return test_id_; }
  int32_t TestSpinLock() const { return test_spin_lock_; }
  time_t TestStartTime() const { return test_start_time_; }
  time_t TestRequestTime() const { return test_request_time_; }

  // The port the next OpenSession uses for a session port of 0: the UDP service "kt-snmp",
  // else 161. The lookup can be replaced (tests stand in for the services database); an
  // empty function restores getservbyname.
  using ServicePortLookup = std::function<std::optional<uint16_t>(const char* service)>;
  static void SetServicePortLookup(ServicePortLookup lookup);
  static uint16_t DefaultPort();

  // Replaces the network exchange of this client (request PDU in, response PDU out, with the
  // results of snmp_sess_synch_response; the function owns the request and the response
  // belongs to the caller). For tests and fuzzing; an empty function restores the session.
  using Exchange = std::function<int(netsnmp_pdu* request, netsnmp_pdu** response)>;
  void SetExchange(Exchange exchange) { exchange_ = std::move(exchange); }

  // Asked before every request and, in slices, while its answer is awaited: once it answers
  // true the wait ends (the session is closed) and no request goes out any more (each fails as
  // unanswered), so that a thread told to stop does not sit out a silent adapter's time-outs.
  // None: the wait runs its time-outs.
  using StopCheck = std::function<bool()>;
  void SetStopCheck(StopCheck stop) { stop_ = std::move(stop); }

 private:
  void CloseSession();
  static KT_SCP& ProcessScp();
  static TrapHandoff CurrentTrapHandoff();
  // Sends a request and waits: the status of snmp_sess_synch_response (the request is consumed).
  int Transact(netsnmp_pdu* request, netsnmp_pdu** response);
  // The library's call for the request awaited (magic: the client).
  static int TakeAnswer(int operation, netsnmp_session* session, int requestId, netsnmp_pdu* pdu, void* magic);
  // Whether a received PDU comes from the session's peer.
  bool IsFromPeer(const netsnmp_pdu* pdu) const;
  // A request's response into `value`; logs errors. 1 / 0 as SNMPCommand.
  int TakeResponse(int status, netsnmp_pdu* response, KT_SnmpValue& value, const char* who);
  netsnmp_pdu* NewPdu(int type) const;
  // GET of a table row's object; the request's result (-1 without an identifier).
  int GetRow(int row, KT_SnmpValue& value);
  std::optional<int32_t> GetRowInteger(int row);
  std::optional<int32_t> GetRowCount(int row);
  std::optional<std::string> GetRowText(int row);
  // The row's identifier text with its last sub-identifier (instance or placeholder)
  // replaced by `index`; nullopt when the row has none.
  static std::optional<std::string> RowOidWithIndex(int row, int64_t index);
  // Trap building and sending (snmp_traps.cpp).
  netsnmp_pdu* NewTrap(int specific);
  int AddTrapVariable(netsnmp_pdu* pdu, const std::optional<std::string>& oidText, char type, const std::string& value,
                      const char* who, const char* label, const char* valueLabel);
  int SendTrap(netsnmp_pdu* pdu, const char* kind, const char* who);
  // Frees the PDU (null: none), logs the failure: -1.
  static int FailTrap(netsnmp_pdu* pdu, const char* who);
  void ApplyUpsVersion(const std::string& text);
  void ApplyAdapterVersion(const std::string& text);
  void ApplyIdentName(const std::string& text);

  // Fields in order.
  std::optional<std::string> peer_;
  std::optional<std::string> read_community_;
  std::optional<std::string> write_community_;
  int port_ = 0;
  void* session_ = nullptr;
  KT_ScpMessage pending_;
  bool pending_failed_ = false;
  std::unique_ptr<KT_SCP> owned_image_;
  KT_SCP* image_ = nullptr;
  int agent_side_ = 0;
  int32_t test_spin_lock_ = 0;
  std::optional<std::string> test_id_;
  time_t test_start_time_ = 0;
  time_t test_request_time_ = 0;
  Exchange exchange_;
  StopCheck stop_;
  // The open session's peer (network byte order).
  uint32_t peer_ip_ = 0;
  uint16_t peer_port_ = 0;
  // Responses from other senders than the peer.
  ForeignDatagramCount foreign_{"KT_SNMP"};
  // The request awaited (0: none) and how it ended.
  int awaited_ = 0;
  int answer_status_ = 0;
  netsnmp_pdu* answer_ = nullptr;
};
