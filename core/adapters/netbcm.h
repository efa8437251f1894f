// KT_NetBCM: the network BCM driver. It reaches a UPS through a network adapter that relays
// the UPS's binary BCM protocol over UDP (port 7010 of the adapter), and is the agent's driver
// in communication mode 9: the NetBCM worker thread polls status, identification,
// configuration, meters and the battery test through it and switches the UPS output and load
// segments with its command layer (KT_BCMBase).
//
// Request datagram (sent blocks of core/adapters/bcm_block.h: 0xAB, n, n payload bytes, checksum):
//
//   select block   AB 02 CE s sum        s = 1 the UPS, else a load-segment indicator
//   access block   AB 07 CF c1..c6 sum   the 6-byte access code (before every command that
//                                        changes the UPS, and the battery-test queries)
//   command block  AB n cmd data.. sum
//
//   query                 block after the select block    reply block types
//   status and alarms     AB 01 35 1F                     3 and 5
//   identification        AB 01 31 23                     1 (the adapter puts the status
//                                                         block in front, and may send its
//                                                         configuration block after it)
//   configuration         AB 01 36 1E                     6
//   ratings               AB 01 3C 18                     12
//   meters                AB 01 34 20                     4
//   supported commands    AB 01 40 14                     16
//   load segments         AB 01 41 13                     17
//   battery-test result   AB 01 3B 19                     11
//
//   command                                   bytes                          reply
//   immediate on / off                        89 / 8B [indicator]            9
//   delayed off                               8A s [s_hi] [indicator]        9
//   on / off after minutes                    91 / 93 m_lo m_hi [indicator]  9
//   on / off at a moment                      92 / 94 Y1|80 Y2 M D h m [ind] 9
//   set configuration value                   95 which v 00                  9
//   segment parameter (2 restart delay,       97 sub indicator lo hi         9
//     3 off, 4 on)
//   battery test (10 s)                       B1 02 0A                       9
//   access-code check                         B2                             9
//
// Replies: see core/adapters/netbcm_reply.h. The acknowledgement (type 9) carries the result code
// ('1' accepted, '7' accepted with an adjusted parameter, '3' busy, ...) and the command.
//
// Every exchange is one request datagram and its reply datagram(s); the driver keeps no connection.
// A reply counts only when it comes from the address and port the request went to: datagrams from
// anyone else, and any too long to read (over 5000 bytes), are dropped and counted (the trace gives
// their count now and then, not a line each, and they leave no error record), so that no other
// computer can make the agent believe a power failure or fill its error log. The socket is read
// throughout an exchange, also in the pause after a request (the adapter's datagrams are held until
// the pause ends), so that a stream of foreign datagrams cannot fill the socket's buffer and crowd
// the adapter's answer out. A request is tried up to R + 1 times; a try fails when no datagram
// comes, when the datagram holds no complete reply of the wanted type, or when it is the UPS's busy
// answer. A datagram without any block of the wanted type is a late answer to an earlier request
// (the adapter's second datagram, or a reply that came after its try gave up): the try reads on
// within its wait, so that one late datagram does not shift every later exchange by one.
//
// Capability word: bit 0 configuration query, 2 identification read, 4 battery test, 5 delays
// of two bytes, 7 and 13 delayed off, 8 on/off after minutes, 9 on/off at a moment,
// 10 configuration settings. The model code of the configuration reply replaces the word.
//
// A delayed off never wraps: a delay that one byte cannot carry goes out in a form that
// carries it (two bytes, the segment-parameter command, or whole minutes rounded up), and only
// when the adapter offers none is it cut to 255 s, with a trace line. Likewise a sleep-mode
// off rounds its minutes (and its moment) up, never down to an earlier or immediate off, and
// the segment-parameter form carries its delay in seconds, as the command always does.
//
// Locking: block updates take the SCP object's lock for each short step; no lock is held while
// a datagram is on the wire. One thread uses a driver object at a time.
//
// Errors: the channel's records (class 8); the driver's own are class 11 (function 4
// identification, 5 status and alarms, 6 configuration, 7 ratings, 8 meters, 9 commands,
// 10 battery test, 12 the supported-command and load-segment tables; code 3 a reply shorter
// than what it announces).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/network/address.h"
#include "core/adapters/bcm_base.h"
#include "core/adapters/bcm_decoder.h"
#include "core/adapters/foreign_datagrams.h"
#include "core/base/maker_codes.h"
#include "core/adapters/netbcm_reply.h"
#include "core/network/udp.h"

class KT_SCP;

// Capability word bits.
enum NetBcmCapability : uint32_t {
  NETBCM_CAP_CONFIG_QUERY = 1u << 0,
  NETBCM_CAP_IDENTIFIED = 1u << 2,
  NETBCM_CAP_BATTERY_TEST = 1u << 4,
  NETBCM_CAP_TWO_BYTE_DELAY = 1u << 5,
  NETBCM_CAP_DELAYED_OFF = 1u << 7,
  NETBCM_CAP_SCHEDULED = 1u << 8,
  NETBCM_CAP_DATE_TIME = 1u << 9,
  NETBCM_CAP_CONFIG_SETTINGS = 1u << 10,
  NETBCM_CAP_DELAYED_OFF_SEGMENTS = 1u << 13,
};

// Query numbers (the request byte after the select block).
enum NetBcmQuery : uint8_t {
  NETBCM_QUERY_IDENTIFICATION = 0x31,
  NETBCM_QUERY_METERS = 0x34,
  NETBCM_QUERY_STATUS = 0x35,
  NETBCM_QUERY_CONFIG = 0x36,
  NETBCM_QUERY_BATTERY_TEST = 0x3B,
  NETBCM_QUERY_RATINGS = 0x3C,
  NETBCM_QUERY_COMMANDS = 0x40,
  NETBCM_QUERY_SEGMENTS = 0x41,
};

// Sub-code of the battery-test command and its length in seconds.
inline constexpr uint8_t kNetBcmBatteryTestKind = 2;
inline constexpr uint8_t kNetBcmBatteryTestSeconds = 10;
// The adapter's port, and the access code used when none is set.
inline constexpr int kNetBcmAdapterPort = 7010;
inline constexpr const char* kNetBcmDefaultAccessCode = "KelpR3";
inline constexpr size_t kNetBcmAccessCodeLength = 6;
// Select-block indicator of the whole UPS.
inline constexpr uint8_t kNetBcmUpsIndicator = 1;
// Segment state when the adapter has no load-segment table.
inline constexpr int kNetBcmSegmentStateUnknown = 5;
// Adapter versions from this one on address single segments inside the command.
inline constexpr int kNetBcmNewAdapterVersion = 350;  // 3.50

// What QueryAdapter found out.
struct NetBcmAdapterIdentity {
  std::string upsText;      // "<model> <rating> VA"
  std::string adapterText;  // "Cradlenet version <major>.<minor>"
  int upsState = -1;        // the status block's first byte; -1 when none came
  int upsFlags = -1;        // its second byte (bit 7 set: on mains); -1 when none came
};

// The fields of an identification reply, in their order:
//   k = number of version entries (2 bytes each; the first: minor, major, BCD),
//   rating: a non-zero byte x 1000 VA, or 0 and a 16-bit count of 50 VA steps,
//   number of phases (also the rating multiplier of per-phase models), one byte unused,
//   model-name length and name, meter map (count, a format byte per meter 1..count),
//   alarm map (count, bitmap bytes: bit b of byte j = BCM alarm 8j + b),
//   16-bit size of the configuration block.
struct NetBcmIdentification {
  int versionMajor = -1;  // -1: no version entry (255 for a digit that is no BCD digit)
  int versionMinor = -1;
  int va = 0;
  int phases = 0;
  std::string name;
  std::vector<uint16_t> meterIds;
  std::vector<uint16_t> meterFormats;
  std::vector<uint16_t> alarms;
  int configSize = 0;     // 0 also when the reply ends before it
};
// Where an identification reply ends too early.
enum NetBcmIdentificationStage : int {
  NETBCM_ID_COMPLETE = 0,
  NETBCM_ID_NO_DATA = 1,
  NETBCM_ID_NO_RATING = 2,    // versions or rating cut
  NETBCM_ID_NO_NAME = 3,      // phases, the unused byte or the name length missing
  NETBCM_ID_SHORT_NAME = 4,   // fewer name bytes than announced
  NETBCM_ID_NO_METERS = 5,    // meter map missing or cut (the name is valid)
  NETBCM_ID_NO_ALARMS = 6,    // alarm map missing or cut (the name is valid)
};
// Reads an identification reply as far as its bytes go: NETBCM_ID_COMPLETE, or the stage at
// which it ended. Every count is checked against the bytes present.
int ParseNetBcmIdentification(const std::vector<uint8_t>& data, NetBcmIdentification& out);

// The maker's model entry whose name occurs in a model name (core/base/maker_codes.h); null when
// none does.
const NetBcmModelName* FindNetBcmModel(const std::string& name);

class KT_NetBCM : public KT_UDP, public KT_BCMBase {
 public:
  // Works on the process-wide SCP object, not agent side.
  KT_NetBCM();
  // Works on the given object (its own new image when null); agent side when the flag is
  // set and an object is given.
  KT_NetBCM(KT_SCP* scp, int agentSide);
  ~KT_NetBCM() override;
  KT_NetBCM(const KT_NetBCM&) = delete;
  KT_NetBCM& operator=(const KT_NetBCM&) = delete;

  // Closes the channel, sets the adapter (type IP, host, port in network order; port 0 is
  // 7010) and the access code: a null code is the default one, a shorter one replaces the
  // first bytes of the default, a longer one is cut to 6 bytes. Returns 1.
  int SetAdapter(const char* host, const char* accessCode, int port);
  // Starts the socket layer and opens the channel on a port of the system's choice: 0, or -1.
  int Open();
  using KT_UDP::Open;

  // ---- polling ------------------------------------------------------------------------
  // Status and alarms. 1; -1 (alarm 7 raised) when the adapter gave no usable reply.
  int UpdateStatus();
  // Identification (and the configuration when the UPS has one), then the capabilities.
  // 1, or -1.
  int UpdateInfo();
  // Configuration and ratings. 1; 0 without a configuration query or when the ratings
  // failed; -1 when the configuration failed.
  int UpdateConfig();
  // Meters. 1, or -1.
  int UpdateMeter();
  // Supported functions, events and actions by model; the supported-command and
  // load-segment tables. 1.
  int UpdateCapabilities();
  // Audible alarm and low-battery warning of the configuration block to the UPS (values of
  // 255 are not set and not sent). 1 when every value sent was accepted; 0 when the UPS
  // cannot take them or refused one.
  int SendConfigSettings();

  // ---- adapter -----------------------------------------------------------------------
  // Identification query on the open channel: the UPS's model name, or nothing.
  std::optional<std::string> ProbeAdapter();
  // One-shot identification of the adapter `host` (on the port SetAdapter gave, 7010 unless
  // set): 1 when the adapter reported the UPS state (the texts as far as they came), else 0
  // (texts empty). What is missing is shown through the message handler.
  int QueryAdapter(const char* host, NetBcmAdapterIdentity& out);
  // Access-code check against `host` with the code SetAdapter gave: 1 the adapter answered
  // the check; -3 a reply too short to hold an answer; -1 or -2 no answer (-1 when the
  // channel's last system error is 16, 32, 48, 80 or 240). The channel is closed afterwards.
  int CheckAccessCode(const char* host);

  // ---- commands ----------------------------------------------------------------------
  int BCMSleepMode(int onOff, int load, int seconds) override;
  int BCMDelayedOff(int load, int seconds) override;
  int BCMDelayedOn(int load, int seconds) override;
  // 1 when the UPS took the test; 0 when it cannot test or refused.
  int InitiateBatteryTest();
  // 1 still running (or no answer yet), 0 finished (a test this driver started is logged in
  // the battery log and alarm 17 is cleared), 0 without a battery test.
  int UpdateBatteryTest();
  // The state of load segment `load` in the adapter's table (5 when it has none); the
  // receptacle block learns that the segment is on (states 2 and 4).
  int UpdateSegmentState(int load);
  // Text of an acknowledgement code.
  static const char* CommandResultText(int code);
  // 1 for the codes that mean accepted ('1', '7').
  static int CommandResult(int code);

  // ---- reply decoding (also reached by tests and the fuzz target) -----------------------
  // Each takes the joined data of one reply type; -1 for data too short for what it
  // announces (nothing is changed then).
  int DecodeIdentification(const std::vector<uint8_t>& data);
  int DecodeConfig(const std::vector<uint8_t>& data);
  int DecodeRatings(const std::vector<uint8_t>& data);
  int DecodeSupportedCommands(const std::vector<uint8_t>& data);
  int DecodeLoadSegments(const std::vector<uint8_t>& data);
  // The status query's whole datagram (status and alarm blocks). 1, or -1.
  int DecodeStatusDatagram(const uint8_t* bytes, size_t size);

  // ---- state -------------------------------------------------------------------------
  KT_SCP& Scp() { return *scp_; }
  bool IsAgentSide() const { return agent_side_ != 0; }
  uint32_t Capabilities() const { return capabilities_; }
  void SetCapabilities(uint32_t word) { capabilities_ = word; }
  // Capability test by command or query number (6 configuration, 11 and 177 battery test,
  // 12 ratings, 138 delayed off, 145/147, 146/148, 149).
  bool IsCommandSupported(int command) const;
  // The adapter's own list of commands (the supported-commands query).
  bool IsListedCommand(int command) const {
    return command > 0 && command < static_cast<int>(supported_commands_.size()) && supported_commands_[command] != 0;
  }
  // Adapter version 3.50 or later.
  bool IsNewAdapter();
  const std::optional<std::string>& ModelName() const { return model_name_; }
  const char* AccessCode() const { return access_code_.data(); }
  KT_Address& AdapterAddress() { return adapter_; }
  int IsConnectionSet() const { return connection_set_; }
  int SegmentCount() const { return segment_count_; }
  int FirstSegment() const { return first_segment_; }
  int SegmentState() const { return segment_state_; }
  uint8_t RatingMultiplier() const { return rating_multiplier_; }
  const BcmReplyDecoder& Decoder() const { return decoder_; }
  BcmReplyDecoder& Decoder() { return decoder_; }
  const NetBcmParseCounters& ParseCounters() const { return counters_; }
  int ReplyLength() const { return reply_length_; }
  const std::vector<uint8_t>& LastDatagram() const { return reply_; }
  const std::optional<std::string>& TestId() const { return test_id_; }
  int TestCount() const { return test_count_; }

  // Milliseconds that stand for one second in every pause and wait of this driver (1000;
  // tests shorten it).
  void SetSecondLength(int ms) { second_ms_ = ms > 0 ? ms : 1; }

  // Asked between the slices of every wait and pause: once it answers true the driver stops
  // waiting for the adapter, and each exchange fails at once (a thread that is told to stop
  // does not sit out a silent adapter's time-out). None: the waits run their full length.
  using StopCheck = std::function<bool()>;
  void SetStopCheck(StopCheck stop) { stop_ = std::move(stop); }
  bool Stopping() const { return stop_ && stop_(); }

  // Where the texts of QueryAdapter go (text, caption, message-box style); the default writes
  // them to the trace. An empty function restores the default.
  using MessageHandler = std::function<void(const std::string& text, const char* caption, uint32_t style)>;
  static void SetMessageHandler(MessageHandler handler);
  static void ShowMessage(const std::string& text);

 protected:
  KT_SCP& CommandScp() override { return *scp_; }
  void PauseSeconds(int seconds) override;

 private:
  // Request building.
  static void AppendSelect(std::vector<uint8_t>& out, uint8_t indicator);
  void AppendAccess(std::vector<uint8_t>& out) const;
  static void AppendPayload(std::vector<uint8_t>& out, const std::vector<uint8_t>& payload);
  std::vector<uint8_t> Query(uint8_t query, bool access = false) const;

  // An IPv4 address and port, both in network byte order.
  struct Endpoint {
    uint32_t ip = 0;
    uint16_t port = 0;
  };
  // Where a datagram to `address` goes (a name looked up now); nullopt when it has no
  // destination.
  static std::optional<Endpoint> EndpointOf(KT_Address& address);
  // An address that sends to the endpoint without looking anything up; without one, an
  // address that no datagram can go to (its send fails with the error record of any address
  // that cannot be found).
  static KT_Address SendAddress(const std::optional<Endpoint>& endpoint);

  // Waits up to `seconds` (or `ms`) for a datagram: > 0 one is waiting, 0 none, -1 failure.
  int Wait(int seconds);
  int WaitMs(int64_t ms);
  // Reads and drops every datagram already waiting (and those held), up to a bound; those
  // that do not come from `adapter` are counted as foreign.
  void Drain(const std::optional<Endpoint>& adapter);
  // Receives into reply_ the next datagram from `peer` that comes within `ms` (one held from
  // the pause first); the others are dropped and counted. 1, 0 when none came (or an empty
  // one), -1 when the socket fails.
  int ReceiveFrom(const Endpoint& peer, int64_t ms);
  // The pause after a request: `seconds` long (shorter on a stop), reading all along; the
  // datagrams of `peer` are held for ReceiveFrom.
  void HoldReplies(const Endpoint& peer, int seconds);

  // One exchange with tries (see the head of the file). wantedType < 0: any datagram; a
  // second type (alsoType >= 0) must be whole in the same datagram too. 0 with `data` (the
  // joined data of the wanted type) on success, -1 when every try failed.
  int Exchange(const std::vector<uint8_t>& request, int wantedType, int sleepSeconds, int retries, int waitSeconds,
               std::vector<uint8_t>* data, int alsoType = -1);
  // A command exchange: the acknowledgement code, 0 when none came.
  int Command(const std::vector<uint8_t>& request, int sleepSeconds, int retries);
  bool IsBusyAnswer(int wantedType, const std::vector<uint8_t>& data) const;

  int ReadSupportedCommands();
  int ReadLoadSegments();
  // Sleep-mode and delayed-off forms.
  std::vector<uint8_t> CommandRequest(uint8_t select, const std::vector<std::vector<uint8_t>>& payloads) const;
  int SegmentIndicator(int load) const;
  int DelayedOffWholeUps(int seconds);
  int DelayedOffSegment(int load, int seconds);
  void LogResult(const std::string& head, int code);

  std::array<uint8_t, 255> supported_commands_{};
  std::unique_ptr<KT_SCP> own_image_;
  KT_SCP* scp_;
  // Meter list, alarm list and non-standard alarms, and the status, alarm and meter decoding.
  BcmReplyDecoder decoder_;
  std::optional<std::string> adapter_host_;
  std::array<char, kNetBcmAccessCodeLength + 1> access_code_{};
  int connection_set_ = 0;
  int agent_side_ = 0;
  int reply_length_ = 0;
  uint8_t rating_multiplier_ = 1;
  KT_Address adapter_;
  int segment_count_ = 1;
  int first_segment_ = kNetBcmUpsIndicator;
  int segment_state_ = kNetBcmSegmentStateUnknown;
  std::vector<uint8_t> segment_table_;  // pairs of segment number and state
  std::optional<std::string> test_id_;
  int test_count_ = 0;
  int64_t test_request_time_ = 0;
  int64_t test_start_time_ = 0;
  uint32_t capabilities_ = 0;
  std::optional<std::string> model_name_;
  std::vector<uint8_t> reply_;
  // The peer's datagrams read in the pause after a request.
  std::deque<std::vector<uint8_t>> held_;
  // Datagrams of other senders than the one asked.
  ForeignDatagramCount foreign_{"KT_NetBCM"};
  NetBcmParseCounters counters_;
  bool status_lost_ = false;
  bool meter_failed_ = false;
  int second_ms_ = 1000;
  StopCheck stop_;
};
