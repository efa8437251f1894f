// KT_PageLink: sends one page through a modem on a serial port. It takes the place of the
// paging library the agent's pager thread calls: one call, one page, one result number.
//
// The call (KT_PageCall) carries what the pager thread hands over: the port, the line text
// ("" or "B" and a bit rate), the modem initialisation and dial strings, then for a paging
// company that speaks the alphanumeric paging protocol the access number, the pager id (PIN)
// and the most message characters per block; for a numeric pager the access number and the
// seconds to wait before the digits; then the message.
//
// Modem: AT commands, one per line ended by CR; result lines "OK", "ERROR", "CONNECT ...",
// "BUSY", "NO CARRIER", "NO DIALTONE" ("NO DIAL TONE"), "NO ANSWER"; echo lines are skipped.
//   AT                      the modem is there
//   <init>                  the configured initialisation string (when one is set)
//   <dial><number>          alphanumeric: a data call to the paging terminal
//   <dial><number>,,,<digits>#;   numeric: dial, pause (one ',' per 2 s of delay), the
//                           message's digits and '#'; ';' keeps the modem in command mode
// The call ends by dropping DTR (the modem hangs up) and closing the port.
//
// Alphanumeric paging protocol, after CONNECT:
//   computer                              paging terminal
//   CR (every 2 s, up to 5 times)         "ID="
//   ESC "PG1" CR                          ACK (logon accepted), NAK (again), ESC EOT (go away)
//                                         then ESC "[p" (go ahead)
//   STX pin CR text CR ETX ccc CR         ACK, NAK (resend, up to 3 sends), RS (page refused),
//                                         ESC EOT (go away)
//   (a text longer than one block goes on in the next block; a block that continues the text
//   ends with US in place of CR ETX)
//   EOT CR                                ESC EOT, and the call ends
// ccc: the sum of the 7-bit values of every byte from STX through ETX (or US), its low 12 bits
// as three characters '0' + 4 bits, the highest first. The terminal's replies may carry text
// lines before the control characters; they are traced and otherwise ignored.
//
// Results (the pager thread groups them: 0 done; 4..9 and 26..29 this computer's setup, no
// retry; 30..36 the paging company refused, no retry; anything else: try again):
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/scp/port_settings.h"

class KT_CommDevice;

enum PageResult : int {
  PAGE_SENT = 0,
  // The caller stopped the call (KT_PageLink::SetStopFlag): the user cancelled a test page.
  PAGE_INTERRUPTED = 1,
  // Worth another try.
  PAGE_BUSY = 14,           // the number is busy
  PAGE_NO_CARRIER = 2,      // the call did not connect
  PAGE_NO_DIALTONE = 3,     // the telephone line is in use or dead
  PAGE_NO_ANSWER = 10,      // nobody answered, or the dial took too long
  PAGE_NO_ID_PROMPT = 11,   // the paging terminal never asked for an id
  PAGE_NO_REPLY = 12,       // the paging terminal stopped answering
  PAGE_LINE_DROPPED = 13,   // the call ended in the middle
  // This computer's setup.
  PAGE_PORT_UNAVAILABLE = 4,  // the port cannot be opened (missing, in use)
  PAGE_PORT_SETUP = 5,        // the modem lines cannot be raised
  PAGE_MODEM_SILENT = 6,      // no modem answers AT
  PAGE_INIT_REFUSED = 7,      // the modem refuses the initialisation string
  PAGE_DIAL_REFUSED = 8,      // the modem refuses the dial command
  PAGE_PORT_FAILED = 9,       // the port fails a read or a write
  // The page itself.
  PAGE_BAD_NUMBER = 26,     // no access number, or one with characters a modem cannot dial
  PAGE_BAD_PIN = 27,        // no pager id, or one that cannot travel in a block
  PAGE_BAD_MESSAGE = 28,    // a numeric page without a digit to send
  PAGE_BAD_SETTINGS = 29,   // line text, dial or init string, block size or delay unusable
  // The paging company.
  PAGE_LOGON_REFUSED = 30,  // logon refused three times
  PAGE_DISCONNECTED = 31,   // the terminal ended the call (ESC EOT)
  PAGE_REJECTED = 32,       // the terminal refused the page (RS)
  PAGE_BLOCK_REFUSED = 33,  // a block refused three times
};

// A text for a result ("page sent", "number busy", ...).
const char* PageResultText(int result);

struct KT_PageCall {
  KT_PortSettings port;       // port name, speed, parity, data bits, flow control
  std::string lineText;       // "" (the port's speed) or "B" and a bit rate
  std::string initString;     // "" sends none
  std::string dialString;     // "" means "ATDT"
  bool tap = false;
  std::string accessNumber;
  std::string pin;            // alphanumeric only
  std::string maxCharacters;  // alphanumeric only: message characters per block
  std::string delaySeconds;   // numeric only
  std::string message;
};

// What the paging terminal said, as far as the protocol cares.
enum class TapReply {
  kNone,        // nothing complete yet
  kIdPrompt,    // "ID="
  kAck,
  kNak,
  kRs,
  kGoAhead,     // ESC [ p
  kDisconnect,  // ESC EOT
  kNoCarrier,   // the modem's "NO CARRIER": the line dropped
};

// The first complete reply in `bytes`; `used` becomes the count of bytes up to its end (0 for
// kNone). Bytes before it (text lines, noise) are skipped; a lone ESC at the end waits for more.
TapReply ScanTapReply(std::string_view bytes, size_t* used);

// The result line of a modem command found in `bytes` (echo and empty lines skipped).
enum class ModemReply { kNone, kOk, kError, kConnect, kBusy, kNoCarrier, kNoDialtone, kNoAnswer };
ModemReply ScanModemReply(std::string_view bytes, size_t* used);

// The three checksum characters of a block (the bytes from STX through the end character).
std::string TapChecksum(std::string_view block);

class KT_PageLink {
 public:
  struct Timing {
    int commandMs = 3000;    // a modem command's result
    int connectMs = 60000;   // a dial's result
    int idPromptMs = 2000;   // between the CRs that ask for "ID="
    int idTries = 5;
    int replyMs = 10000;     // a reply of the paging terminal
    int sendTries = 3;       // logon and each block
  };
  // Most message characters in one block, whatever the settings ask.
  static constexpr size_t kMaxBlockText = 200;
  // Longest dial command the link builds.
  static constexpr size_t kMaxDialCommand = 120;
  // Kept of the line's bytes while waiting for a reply.
  static constexpr size_t kMaxPending = 2048;

  KT_PageLink() = default;
  explicit KT_PageLink(Timing timing) : timing_(timing) {}

  // A flag the caller may raise from another thread to end the call: every wait checks it,
  // and the call then hangs up and answers PAGE_INTERRUPTED. Null (the default): no flag.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

  // Sends the page on a serial port of its own (opened and closed here). The result number;
  // `resultText` (when given) receives a short text of what happened.
  int Send(const KT_PageCall& call, std::string* resultText);
  // The same on a device the caller made (tests); the device is opened and closed here.
  int SendOn(KT_CommDevice& device, const KT_PageCall& call, std::string* resultText);

 private:
  int Check(const KT_PageCall& call, std::string* why);
  int Run(KT_CommDevice& device, const KT_PageCall& call);
  int Alphanumeric(KT_CommDevice& device, const KT_PageCall& call);
  int Numeric(KT_CommDevice& device, const KT_PageCall& call);
  int Command(KT_CommDevice& device, const std::string& command, int timeoutMs, ModemReply* reply);
  int WaitTap(KT_CommDevice& device, int timeoutMs, TapReply* reply);
  bool Write(KT_CommDevice& device, const std::string& bytes);
  // Reads what arrives within about a second into pending_; false when the port fails.
  bool ReadSome(KT_CommDevice& device);

  bool Stopped() const { return stop_ != nullptr && stop_->load(); }

  Timing timing_;
  const std::atomic<bool>* stop_ = nullptr;
  std::string pending_;
  std::string detail_;
};
