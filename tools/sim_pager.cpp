#include "tools/sim_pager.h"

#include <cctype>

namespace upssim {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEtb = 0x17;
constexpr char kEsc = 0x1B;
constexpr char kRs = 0x1E;
constexpr char kUs = 0x1F;
constexpr char kCr = '\r';

constexpr size_t kMaxEscape = 32;

std::string Upper(const std::string& s) {
  std::string out = s;
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool Printables(const std::string& s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

bool OnOff(const std::vector<std::string>& w, const char* on, const char* off, bool* value, std::string* error) {
  if (w.size() != 2 || (w[1] != on && w[1] != off)) {
    *error = "usage: " + w[0] + " " + on + "|" + off;
    return true;
  }
  *value = (w[1] == on);
  return true;
}

}  // namespace

std::string PagerModem::Checksum(const std::string& bytes) {
  unsigned sum = 0;
  for (unsigned char c : bytes) sum += c & 0x7F;
  sum &= 0xFFF;
  std::string out(3, '0');
  out[0] = static_cast<char>('0' + ((sum >> 8) & 0xF));
  out[1] = static_cast<char>('0' + ((sum >> 4) & 0xF));
  out[2] = static_cast<char>('0' + (sum & 0xF));
  return out;
}

void PagerModem::OnBytes(SimContext& ctx, const uint8_t* data, size_t size) {
  ctx.Log("BYTES", HexBytes(data, size));
  for (size_t i = 0; i < size; ++i) {
    if (connected_) {
      TerminalByte(ctx, data[i]);
    } else {
      CommandByte(ctx, static_cast<char>(data[i]));
    }
  }
}

void PagerModem::CommandByte(SimContext& ctx, char c) {
  if (mode_ == Mode::kDialling) {
    // Any key aborts a dial in progress.
    ++call_;
    mode_ = Mode::kCommand;
    ctx.Log("ACTION", "dial aborted");
    ctx.Send("\r\nNO CARRIER\r\n");
    return;
  }
  if (echo_) ctx.Send(std::string(1, c));
  if (c == '\n') return;
  if (c != kCr) {
    if (line_.size() < kMaxLine) line_ += c;
    return;
  }
  const std::string line = line_;
  line_.clear();
  CommandLine(ctx, line);
}

void PagerModem::CommandLine(SimContext& ctx, const std::string& line) {
  if (line.size() < 2 || Upper(line.substr(0, 2)) != "AT") return;  // not for the modem
  ctx.Log("REQ", Printable(line));
  if (!Printables(line)) {
    ctx.Send("\r\nERROR\r\n");
    return;
  }
  const std::string up = Upper(line);
  for (size_t i = 2; i < up.size(); ++i) {
    const char c = up[i];
    if (c == 'D') {
      std::string dial = line.substr(i + 1);
      if (!dial.empty() && (std::toupper(static_cast<unsigned char>(dial[0])) == 'T' ||
                            std::toupper(static_cast<unsigned char>(dial[0])) == 'P')) {
        dial.erase(0, 1);
      }
      Dial(ctx, dial);
      return;
    }
    if (c == 'E' && i + 1 < up.size() && (up[i + 1] == '0' || up[i + 1] == '1')) {
      echo_ = up[++i] == '1';
    } else if (c == 'Z' || (c == '&' && i + 1 < up.size() && up[i + 1] == 'F')) {
      echo_ = true;
    } else if (c == 'H') {
      Hangup(ctx, false);
    }
  }
  ctx.Send("\r\nOK\r\n");
}

void PagerModem::Dial(SimContext& ctx, const std::string& dial) {
  ctx.Log("DIAL", Printable(dial));
  const unsigned call = ++call_;
  mode_ = Mode::kDialling;
  std::string answer;
  bool connect = false;
  if (busy_) {
    answer = "BUSY";
  } else if (!carrier_) {
    answer = "NO CARRIER";
  } else if (!dial.empty() && dial.back() == ';') {
    // A numeric page: the number, the pauses, the digits and the end mark.
    const size_t comma = dial.find(',');
    const std::string number = dial.substr(0, comma == std::string::npos ? dial.size() - 1 : comma);
    std::string digits;
    if (comma != std::string::npos) {
      for (size_t i = comma; i < dial.size(); ++i) {
        const char c = dial[i];
        if (c == '#' || c == ';') break;
        if (c != ',') digits += c;
      }
    }
    ctx.Log("PAGE", "NUMERIC " + Printable(number) + " " + Printable(digits));
    ++pages_;
    answer = "OK";
  } else {
    connect = true;
  }
  ctx.After(kDialMs, [this, &ctx, call, answer, connect] {
    if (call != call_ || mode_ != Mode::kDialling) return;
    if (!connect) {
      mode_ = Mode::kCommand;
      ctx.Send("\r\n" + answer + "\r\n");
      return;
    }
    connected_ = true;
    mode_ = Mode::kWaitLogon;
    in_escape_ = false;
    in_block_ = false;
    pending_text_.clear();
    const uint32_t bps = ctx.Line().bps;
    ctx.Log("ACTION", "connect");
    ctx.Send("\r\nCONNECT " + std::to_string(bps ? bps : 2400) + "\r\n");
  });
}

void PagerModem::TerminalByte(SimContext& ctx, uint8_t byte) {
  const char c = static_cast<char>(byte & 0x7F);  // seven data bits on the paging line
  if (mode_ == Mode::kWaitLogon) {
    if (in_escape_) {
      if (c == kCr) {
        in_escape_ = false;
        if (escape_.rfind("PG1", 0) == 0) {
          ctx.Log("REQ", "logon " + Printable(escape_.substr(3)));
          Logon(ctx);
        }
      } else if (escape_.size() < kMaxEscape) {
        escape_ += c;
      }
      return;
    }
    if (c == kEsc) {
      in_escape_ = true;
      escape_.clear();
    } else if (c == kCr) {
      ctx.Send("ID=");
    }
    return;
  }
  if (mode_ != Mode::kTransaction) return;
  if (in_block_) {
    if (block_.size() >= kMaxBlock) {
      // Longer than any block may be: refuse it and wait for the next.
      in_block_ = false;
      ctx.Log("REQ", "block too long");
      ctx.Send(std::string{kCr, kNak, kCr});
      return;
    }
    if (!block_end_) {
      block_ += c;
      if (c == kEtx || c == kUs || c == kEtb) {
        block_end_ = true;
        checksum_left_ = 3;
      }
    } else if (checksum_left_ > 0) {
      block_ += c;
      --checksum_left_;
    } else {
      in_block_ = false;
      Block(ctx);
    }
    return;
  }
  if (c == kStx) {
    in_block_ = true;
    block_end_ = false;
    checksum_left_ = 0;
    block_.assign(1, c);
  } else if (c == kEot) {
    ctx.Log("ACTION", "transaction end");
    ctx.Send(std::string{kCr, kEsc, kEot, kCr});
    Hangup(ctx, true);
  }
}

void PagerModem::Logon(SimContext& ctx) {
  if (refuse_logon_) {
    ctx.Log("ACTION", "logon refused");
    ctx.Send(std::string{kCr, kEsc, kEot, kCr});
    Hangup(ctx, true);
    return;
  }
  mode_ = Mode::kTransaction;
  ctx.Send(std::string{kCr, kAck, kCr} + std::string{kEsc, '[', 'p', kCr});
}

void PagerModem::Block(SimContext& ctx) {
  const std::string nak{kCr, kNak, kCr};
  const size_t end = block_.size() - 3 - 1;  // the end character
  const std::string sum = block_.substr(end + 1, 3);
  if (Checksum(block_.substr(0, end + 1)) != sum) {
    ctx.Log("REQ", "block checksum wrong");
    ctx.Send(nak);
    return;
  }
  if (nak_ > 0) {
    --nak_;
    ctx.Log("REQ", "block refused on request");
    ctx.Send(nak);
    return;
  }
  if (pending_text_.size() + end > kMaxMessage) {
    pending_text_.clear();
    ctx.Send(std::string{kCr, kRs, kCr});
    return;
  }
  pending_text_ += block_.substr(1, end - 1);
  if (block_[end] != kEtx) {  // the field goes on in the next block
    ctx.Send(std::string{kCr, kAck, kCr});
    return;
  }
  // Fields end with CR: the pager id, then the text.
  std::vector<std::string> fields;
  std::string field;
  for (char ch : pending_text_) {
    if (ch == kCr) {
      fields.push_back(field);
      field.clear();
    } else {
      field += ch;
    }
  }
  if (!field.empty()) fields.push_back(field);
  pending_text_.clear();
  const std::string id = fields.empty() ? "" : fields[0];
  const std::string text = fields.size() > 1 ? fields[1] : "";
  if (reject_ || id.empty()) {
    ctx.Log("ACTION", "page refused " + Printable(id));
    ctx.Send(std::string{kCr, kRs, kCr});
    return;
  }
  ++pages_;
  ctx.Log("PAGE", "TAP " + Printable(id) + " " + Printable(text));
  ctx.Send(std::string{kCr, kAck, kCr});
}

void PagerModem::Hangup(SimContext& ctx, bool tell) {
  const bool was = connected_ || mode_ == Mode::kDialling;
  connected_ = false;
  mode_ = Mode::kCommand;
  ++call_;
  in_block_ = false;
  in_escape_ = false;
  pending_text_.clear();
  line_.clear();
  if (!was) return;
  ctx.Log("ACTION", "hangup");
  if (tell) ctx.Send("\r\nNO CARRIER\r\n");
}

void PagerModem::OnHostLines(SimContext& ctx, uint32_t before, uint32_t now) {
  if ((before & platform::kLineDtr) && !(now & platform::kLineDtr)) Hangup(ctx, false);
}

uint32_t PagerModem::DeviceLines(const UpsState&, uint32_t) const {
  return platform::kLineCts | platform::kLineDsr | (connected_ ? platform::kLineDcd : 0);
}

bool PagerModem::Control(SimContext&, const std::vector<std::string>& w, std::string* error,
                         std::vector<std::string>*) {
  if (w.empty()) return false;
  if (w[0] == "busy") return OnOff(w, "on", "off", &busy_, error);
  if (w[0] == "carrier") return OnOff(w, "on", "off", &carrier_, error);
  if (w[0] == "reject") return OnOff(w, "on", "off", &reject_, error);
  if (w[0] == "logon") {
    bool accept = true;
    OnOff(w, "accept", "refuse", &accept, error);
    if (error->empty()) refuse_logon_ = !accept;
    return true;
  }
  if (w[0] == "nak") {
    if (w.size() != 2 || w[1].empty() || w[1].size() > 3 ||
        w[1].find_first_not_of("0123456789") != std::string::npos) {
      *error = "usage: nak N (0..999)";
    } else {
      nak_ = std::stoi(w[1]);
    }
    return true;
  }
  return false;
}

std::string PagerModem::Describe() const {
  return std::string("echo=") + (echo_ ? "on" : "off") + " connected=" + (connected_ ? "yes" : "no") +
         " busy=" + (busy_ ? "on" : "off") + " carrier=" + (carrier_ ? "on" : "off") +
         " reject=" + (reject_ ? "on" : "off") + " nak=" + std::to_string(nak_) +
         " logon=" + (refuse_logon_ ? "refuse" : "accept") + " pages=" + std::to_string(pages_);
}

}  // namespace upssim
