#include "core/mail_paging/page_link.h"

#include <algorithm>
#include <vector>

#include "core/mail_paging/comm_device.h"
#include "core/mail_paging/serial_port.h"
#include "core/base/ktdiag.h"
#include "platform/clock.h"

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEsc = 0x1B;
constexpr char kRs = 0x1E;
constexpr char kUs = 0x1F;
constexpr char kCr = '\r';

// Longest pause before the digits of a numeric page.
constexpr int kMaxDelaySeconds = 60;

bool Printable(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A whole decimal number of 1..5 digits; -1 otherwise.
int SmallNumber(std::string_view s) {
  if (s.empty() || s.size() > 5) return -1;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The speed code of a bit rate; -1 for a rate the serial layer has no code for.
int CodeOfRate(int bps) {
  for (int code = 0; code <= 9; ++code) {
    if (BaudRateFromCode(code) == static_cast<uint32_t>(bps)) return code;
  }
  return -1;
}

const char* ModemReplyText(ModemReply r) {
  switch (r) {
    case ModemReply::kNone: return "nothing";
    case ModemReply::kOk: return "OK";
    case ModemReply::kError: return "ERROR";
    case ModemReply::kConnect: return "CONNECT";
    case ModemReply::kBusy: return "BUSY";
    case ModemReply::kNoCarrier: return "NO CARRIER";
    case ModemReply::kNoDialtone: return "NO DIALTONE";
    case ModemReply::kNoAnswer: return "NO ANSWER";
  }
  return "?";
}

// The result of a dial that did not connect.
int DialFailure(ModemReply r) {
  switch (r) {
    case ModemReply::kBusy: return PAGE_BUSY;
    case ModemReply::kNoDialtone: return PAGE_NO_DIALTONE;
    case ModemReply::kError: return PAGE_DIAL_REFUSED;
    case ModemReply::kNoAnswer:
    case ModemReply::kNone: return PAGE_NO_ANSWER;
    default: return PAGE_NO_CARRIER;
  }
}

}  // namespace

const char* PageResultText(int result) {
  switch (result) {
    case PAGE_SENT: return "page sent";
    case PAGE_INTERRUPTED: return "the call was stopped";
    case PAGE_BUSY: return "number busy";
    case PAGE_NO_CARRIER: return "no carrier";
    case PAGE_NO_DIALTONE: return "no dial tone";
    case PAGE_NO_ANSWER: return "no answer";
    case PAGE_NO_ID_PROMPT: return "the paging terminal did not ask for an id";
    case PAGE_NO_REPLY: return "the paging terminal stopped answering";
    case PAGE_LINE_DROPPED: return "the call dropped";
    case PAGE_PORT_UNAVAILABLE: return "the port cannot be opened";
    case PAGE_PORT_SETUP: return "the modem lines cannot be raised";
    case PAGE_MODEM_SILENT: return "no modem answers";
    case PAGE_INIT_REFUSED: return "the modem refuses the initialisation string";
    case PAGE_DIAL_REFUSED: return "the modem refuses the dial command";
    case PAGE_PORT_FAILED: return "the port failed";
    case PAGE_BAD_NUMBER: return "the access number cannot be dialled";
    case PAGE_BAD_PIN: return "the pager id cannot be sent";
    case PAGE_BAD_MESSAGE: return "the message has no digits to send";
    case PAGE_BAD_SETTINGS: return "the pager settings are unusable";
    case PAGE_LOGON_REFUSED: return "the paging terminal refused the logon";
    case PAGE_DISCONNECTED: return "the paging terminal ended the call";
    case PAGE_REJECTED: return "the paging terminal refused the page";
    case PAGE_BLOCK_REFUSED: return "the paging terminal refused a block";
  }
  return "unknown result";
}

TapReply ScanTapReply(std::string_view bytes, size_t* used) {
  *used = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t i) { return static_cast<char>(bytes[i] & 0x7F); };
  auto match = [&](size_t i, std::string_view word) {
    if (n - i < word.size()) return false;
    for (size_t k = 0; k < word.size(); ++k) {
      if (at(i + k) != word[k]) return false;
    }
    return true;
  };
  for (size_t i = 0; i < n; ++i) {
    const char c = at(i);
    TapReply r = TapReply::kNone;
    size_t len = 1;
    if (c == kAck) {
      r = TapReply::kAck;
    } else if (c == kNak) {
      r = TapReply::kNak;
    } else if (c == kRs) {
      r = TapReply::kRs;
    } else if (c == kEsc) {
      if (i + 1 >= n) return TapReply::kNone;  // the rest has not come yet
      if (at(i + 1) == kEot) {
        r = TapReply::kDisconnect;
        len = 2;
      } else if (at(i + 1) == '[') {
        if (i + 2 >= n) return TapReply::kNone;
        if (at(i + 2) == 'p' || at(i + 2) == 'P') {
          r = TapReply::kGoAhead;
          len = 3;
        }
      }
    } else if (match(i, "ID=")) {
      r = TapReply::kIdPrompt;
      len = 3;
    } else if (match(i, "NO CARRIER")) {
      r = TapReply::kNoCarrier;
      len = 10;
    }
    if (r != TapReply::kNone) {
      *used = i + len;
      return r;
    }
  }
  return TapReply::kNone;
}

ModemReply ScanModemReply(std::string_view bytes, size_t* used) {
  *used = 0;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    std::string_view line = bytes.substr(start, i - start);
    start = i + 1;
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    ModemReply r = ModemReply::kNone;
    if (line == "OK") {
      r = ModemReply::kOk;
    } else if (line == "ERROR") {
      r = ModemReply::kError;
    } else if (line.substr(0, 7) == "CONNECT") {
      r = ModemReply::kConnect;
    } else if (line == "BUSY") {
      r = ModemReply::kBusy;
    } else if (line == "NO CARRIER") {
      r = ModemReply::kNoCarrier;
    } else if (line == "NO DIALTONE" || line == "NO DIAL TONE") {
      r = ModemReply::kNoDialtone;
    } else if (line == "NO ANSWER") {
      r = ModemReply::kNoAnswer;
    }
    if (r != ModemReply::kNone) {
      *used = i + 1;
      return r;
    }
  }
  return ModemReply::kNone;
}

std::string TapChecksum(std::string_view block) {
  unsigned sum = 0;
  for (char c : block) sum += static_cast<unsigned char>(c) & 0x7Fu;
  sum &= 0xFFFu;
  std::string out(3, '0');
  out[0] = static_cast<char>('0' + ((sum >> 8) & 0xF));
  out[1] = static_cast<char>('0' + ((sum >> 4) & 0xF));
  out[2] = static_cast<char>('0' + (sum & 0xF));
  return out;
}

int KT_PageLink::Send(const KT_PageCall& call, std::string* resultText) {
  KT_SerialPort port;
  return SendOn(port, call, resultText);
}

int KT_PageLink::SendOn(KT_CommDevice& device, const KT_PageCall& call, std::string* resultText) {
  detail_.clear();
  pending_.clear();
  int result = Check(call, &detail_);
  if (result == PAGE_SENT) {
    device.Settings().CopyFrom(call.port);
    if (!call.lineText.empty()) device.Settings().SetBaudIndex(CodeOfRate(SmallNumber(call.lineText.substr(1))));
    result = Run(device, call);
  }
  std::string text = PageResultText(result);
  if (!detail_.empty()) text += " (" + detail_ + ")";
  Diag() << "Pager: " << text << " [" << result << "]\n";
  if (resultText) *resultText = text;
  return result;
}

int KT_PageLink::Check(const KT_PageCall& call, std::string* why) {
  if (!call.port.HasPortName() || call.port.PortNameRef().empty()) {
    *why = "no port";
    return PAGE_PORT_UNAVAILABLE;
  }
  if (!call.lineText.empty() &&
      (call.lineText[0] != 'B' || CodeOfRate(SmallNumber(call.lineText.substr(1))) < 0)) {
    *why = "line text";
    return PAGE_BAD_SETTINGS;
  }
  const std::string dial = call.dialString.empty() ? "ATDT" : call.dialString;
  if (!Printable(dial) || !StartsWithNoCase(dial, "ATD") || dial.find(';') != std::string::npos) {
    *why = "dial string";
    return PAGE_BAD_SETTINGS;
  }
  if (!Printable(call.initString)) {
    *why = "initialisation string";
    return PAGE_BAD_SETTINGS;
  }
  // A modem ignores blanks, dashes and brackets in a number; anything but digits, the DTMF
  // signs and the dial modifiers could make the dial command mean something else.
  std::string number;
  for (char c : call.accessNumber) {
    if (c == ' ' || c == '-' || c == '(' || c == ')') continue;
    const bool ok = (c >= '0' && c <= '9') || c == '*' || c == '#' || c == ',' || c == 'W' || c == 'w' ||
                    c == '!' || c == '@' || c == 'P' || c == 'p' || c == 'T' || c == 't';
    if (!ok) {
      *why = "access number";
      return PAGE_BAD_NUMBER;
    }
    number += c;
  }
  if (number.empty()) {
    *why = "no access number";
    return PAGE_BAD_NUMBER;
  }
  if (call.tap) {
    if (call.pin.empty() || !Printable(call.pin)) {
      *why = "pager id";
      return PAGE_BAD_PIN;
    }
    if (SmallNumber(call.maxCharacters) < 1) {
      *why = "maximum characters";
      return PAGE_BAD_SETTINGS;
    }
  } else {
    const int delay = call.delaySeconds.empty() ? 0 : SmallNumber(call.delaySeconds);
    if (delay < 0 || delay > kMaxDelaySeconds) {
      *why = "delay seconds";
      return PAGE_BAD_SETTINGS;
    }
    if (call.message.find_first_of("0123456789") == std::string::npos) return PAGE_BAD_MESSAGE;
  }
  return PAGE_SENT;
}

int KT_PageLink::Run(KT_CommDevice& device, const KT_PageCall& call) {
  if (Stopped()) return PAGE_INTERRUPTED;
  if (device.Open() != 0) return PAGE_PORT_UNAVAILABLE;
  int result = PAGE_SENT;
  ModemReply reply = ModemReply::kNone;
  if (device.ControlSet(KT_SerialPort::kDtr | KT_SerialPort::kRts) != 0) {
    result = PAGE_PORT_SETUP;
  } else {
    // A modem just woken may miss the first AT.
    for (int i = 0; i < 2 && result == PAGE_SENT && reply == ModemReply::kNone; ++i) {
      result = Command(device, "AT", timing_.commandMs, &reply);
    }
    if (result == PAGE_SENT && reply != ModemReply::kOk) result = PAGE_MODEM_SILENT;
    if (result == PAGE_SENT && !call.initString.empty()) {
      result = Command(device, call.initString, timing_.commandMs, &reply);
      if (result == PAGE_SENT && reply == ModemReply::kError) result = PAGE_INIT_REFUSED;
      if (result == PAGE_SENT && reply != ModemReply::kOk) result = PAGE_MODEM_SILENT;
    }
    if (result == PAGE_SENT) result = call.tap ? Alphanumeric(device, call) : Numeric(device, call);
    // Dropping DTR makes the modem hang up.
    device.ControlSet(0);
  }
  device.Close();
  return result;
}

namespace {

std::string DialNumber(const std::string& accessNumber) {
  std::string number;
  for (char c : accessNumber) {
    if (c != ' ' && c != '-' && c != '(' && c != ')') number += c;
  }
  return number;
}

}  // namespace

int KT_PageLink::Alphanumeric(KT_CommDevice& device, const KT_PageCall& call) {
  const std::string dial = (call.dialString.empty() ? std::string("ATDT") : call.dialString) + DialNumber(call.accessNumber);
  if (dial.size() > kMaxDialCommand) {
    detail_ = "dial command too long";
    return PAGE_BAD_NUMBER;
  }
  ModemReply reply = ModemReply::kNone;
  if (int r = Command(device, dial, timing_.connectMs, &reply)) return r;
  if (reply != ModemReply::kConnect) {
    detail_ = ModemReplyText(reply);
    return DialFailure(reply);
  }
  Diag() << "Pager: connected\n";

  // Ask for the id prompt.
  TapReply tap = TapReply::kNone;
  for (int i = 0; i < timing_.idTries && tap != TapReply::kIdPrompt; ++i) {
    if (!Write(device, std::string(1, kCr))) return PAGE_PORT_FAILED;
    const uint64_t until = platform::TickMs() + static_cast<uint64_t>(timing_.idPromptMs);
    while (platform::TickMs() < until) {
      const int r = WaitTap(device, static_cast<int>(until - platform::TickMs()), &tap);
      if (r == PAGE_NO_REPLY) break;
      if (r != PAGE_SENT) return r;
      if (tap == TapReply::kIdPrompt) break;
      if (tap == TapReply::kNoCarrier) return PAGE_LINE_DROPPED;
      if (tap == TapReply::kDisconnect) return PAGE_DISCONNECTED;
    }
  }
  if (tap != TapReply::kIdPrompt) return PAGE_NO_ID_PROMPT;

  // Log on, then wait for the go-ahead.
  bool accepted = false;
  for (int t = 0; t < timing_.sendTries && !accepted; ++t) {
    pending_.clear();  // further "ID=" answers to our CRs
    if (!Write(device, std::string{kEsc, 'P', 'G', '1', kCr})) return PAGE_PORT_FAILED;
    for (;;) {
      if (int r = WaitTap(device, timing_.replyMs, &tap)) return r;
      if (tap == TapReply::kAck) {
        accepted = true;
        break;
      }
      if (tap == TapReply::kNak || tap == TapReply::kRs) break;
      if (tap == TapReply::kDisconnect) return PAGE_DISCONNECTED;
      if (tap == TapReply::kNoCarrier) return PAGE_LINE_DROPPED;
    }
  }
  if (!accepted) return PAGE_LOGON_REFUSED;
  for (;;) {
    if (int r = WaitTap(device, timing_.replyMs, &tap)) return r;
    if (tap == TapReply::kGoAhead) break;
    if (tap == TapReply::kDisconnect) return PAGE_DISCONNECTED;
    if (tap == TapReply::kNoCarrier) return PAGE_LINE_DROPPED;
  }

  // The blocks: the text in pieces of at most the configured size; only the last piece ends
  // the field and the transaction.
  std::string text;
  for (char c : call.message) {
    const unsigned char u = static_cast<unsigned char>(c);
    text += (u < 0x20) ? ' ' : (u >= 0x7F ? '?' : c);
  }
  const size_t piece = std::min<size_t>(static_cast<size_t>(SmallNumber(call.maxCharacters)), kMaxBlockText);
  std::vector<std::string> blocks;
  size_t pos = 0;
  do {
    const size_t len = std::min(piece, text.size() - pos);
    const bool last = pos + len >= text.size();
    std::string block(1, kStx);
    if (pos == 0) block += call.pin + kCr;
    block += text.substr(pos, len);
    block += last ? std::string{kCr, kEtx} : std::string(1, kUs);
    block += TapChecksum(block);
    block += kCr;
    blocks.push_back(block);
    pos += len;
  } while (pos < text.size());

  for (size_t b = 0; b < blocks.size(); ++b) {
    bool acked = false;
    for (int t = 0; t < timing_.sendTries && !acked; ++t) {
      pending_.clear();
      if (!Write(device, blocks[b])) return PAGE_PORT_FAILED;
      for (;;) {
        if (int r = WaitTap(device, timing_.replyMs, &tap)) return r;
        if (tap == TapReply::kAck) {
          acked = true;
          break;
        }
        if (tap == TapReply::kNak) {
          Diag() << "Pager: block " << static_cast<int>(b + 1) << " refused, sending again\n";
          break;
        }
        if (tap == TapReply::kRs) return PAGE_REJECTED;
        if (tap == TapReply::kDisconnect) return PAGE_DISCONNECTED;
        if (tap == TapReply::kNoCarrier) return PAGE_LINE_DROPPED;
      }
    }
    if (!acked) return PAGE_BLOCK_REFUSED;
  }

  // The page is taken; the end of the call is a courtesy.
  pending_.clear();
  if (Write(device, std::string{kEot, kCr})) WaitTap(device, timing_.replyMs, &tap);
  return PAGE_SENT;
}

int KT_PageLink::Numeric(KT_CommDevice& device, const KT_PageCall& call) {
  std::string digits;
  for (char c : call.message) {
    if ((c >= '0' && c <= '9') || c == '*') digits += c;
  }
  const int delay = call.delaySeconds.empty() ? 0 : SmallNumber(call.delaySeconds);
  const std::string dial = (call.dialString.empty() ? std::string("ATDT") : call.dialString) +
                           DialNumber(call.accessNumber) + std::string(static_cast<size_t>((delay + 1) / 2), ',') +
                           digits + "#;";
  if (dial.size() > kMaxDialCommand) {
    detail_ = "dial command too long";
    return PAGE_BAD_MESSAGE;
  }
  ModemReply reply = ModemReply::kNone;
  if (int r = Command(device, dial, timing_.connectMs, &reply)) return r;
  if (reply != ModemReply::kOk) {
    detail_ = ModemReplyText(reply);
    return DialFailure(reply);
  }
  Command(device, "ATH", timing_.commandMs, &reply);
  return PAGE_SENT;
}

int KT_PageLink::Command(KT_CommDevice& device, const std::string& command, int timeoutMs, ModemReply* reply) {
  *reply = ModemReply::kNone;
  pending_.clear();
  Diag() << "Pager: " << command << "\n";
  if (!Write(device, command + kCr)) return PAGE_PORT_FAILED;
  const uint64_t until = platform::TickMs() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    size_t used = 0;
    *reply = ScanModemReply(pending_, &used);
    if (*reply != ModemReply::kNone) {
      pending_.erase(0, used);
      return PAGE_SENT;
    }
    if (Stopped()) return PAGE_INTERRUPTED;
    if (platform::TickMs() >= until) return PAGE_SENT;
    if (!ReadSome(device)) return PAGE_PORT_FAILED;
  }
}

int KT_PageLink::WaitTap(KT_CommDevice& device, int timeoutMs, TapReply* reply) {
  *reply = TapReply::kNone;
  const uint64_t until = platform::TickMs() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    size_t used = 0;
    *reply = ScanTapReply(pending_, &used);
    if (*reply != TapReply::kNone) {
      pending_.erase(0, used);
      return PAGE_SENT;
    }
    if (Stopped()) return PAGE_INTERRUPTED;
    if (platform::TickMs() >= until) return PAGE_NO_REPLY;
    if (!ReadSome(device)) return PAGE_PORT_FAILED;
  }
}

bool KT_PageLink::Write(KT_CommDevice& device, const std::string& bytes) {
  return device.Write(bytes.data(), static_cast<int>(bytes.size())) == 1;
}

bool KT_PageLink::ReadSome(KT_CommDevice& device) {
  // One byte at a time: the read returns as soon as it has one, or after about a second.
  KT_ReadRecord record;
  record.capacity = 1;
  if (device.Read(record) < 0) return false;
  pending_.append(record.data.begin(), record.data.end());
  if (pending_.size() > kMaxPending) pending_.erase(0, pending_.size() - kMaxPending / 2);
  return true;
}
