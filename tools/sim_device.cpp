#include "tools/sim_device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tools/sim_apc.h"
#include "tools/sim_bcm.h"
#include "tools/sim_contact_closure.h"
#include "tools/sim_modem.h"
#include "tools/sim_pager.h"
#include "tools/sim_varnis.h"

namespace upssim {

std::unique_ptr<SimDevice> MakeSimDevice(const std::string& kind) {
  if (kind == "apc") return std::make_unique<ApcSmartUps>();
  if (kind == "contact") return std::make_unique<ContactClosureUps>();
  if (kind == "modem") return std::make_unique<Modem>();
  if (kind == "pager") return std::make_unique<PagerModem>();
  if (kind == "bcm") return std::make_unique<BcmUps>();
  if (kind == "varnis") return std::make_unique<VarnisUps>();
  return nullptr;
}

std::vector<std::string> SimDeviceKinds() {
  return {"apc", "contact", "modem", "pager", "bcm", "varnis"};
}

std::string HexBytes(const uint8_t* data, size_t size) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, "%02X", data[i]);
    if (i) out += ' ';
    out += b;
  }
  return out;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> w;
  std::istringstream in(line);
  std::string s;
  while (in >> s) w.push_back(s);
  return w;
}

bool ParseNumber(const std::string& text, long lo, long hi, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  char b[8];
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F || c == ' ') {
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool Unescape(const std::string& text, std::string* out) {
  std::string r;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      r += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 'r': r += '\r'; break;
      case 'n': r += '\n'; break;
      case 't': r += '\t'; break;
      case 's': r += ' '; break;
      case '\\': r += '\\'; break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int hi = HexDigit(text[i + 1]);
        const int lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        r += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  *out = r;
  return true;
}

std::string LineText(const platform::LineSettings& line) {
  const char parity = line.parity == platform::Parity::kEven ? 'E'
                      : line.parity == platform::Parity::kOdd ? 'O'
                                                              : 'N';
  std::string text = std::to_string(line.bps) + " " + std::to_string(line.data_bits) + parity +
                     (line.two_stop_bits ? "2" : "1");
  if (line.flow == platform::FlowControl::kHardware) text += " rtscts";
  if (line.flow == platform::FlowControl::kXonXoff) text += " xonxoff";
  if (!line.raw) text += " cooked";
  return text;
}

}  // namespace upssim
