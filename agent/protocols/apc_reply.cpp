#include "agent/protocols/apc_reply.h"

namespace {

size_t SkipLineBreaks(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == '\r' || bytes[i] == '\n')) ++i;
  return i;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool ApcHasWholeLine(const std::string& bytes) {
  return bytes.find('\n', SkipLineBreaks(bytes)) != std::string::npos;
}

std::string ApcReplyLine(const std::string& bytes) {
  const size_t start = SkipLineBreaks(bytes);
  size_t end = bytes.find('\n', start);
  if (end == std::string::npos) end = bytes.size();
  size_t length = end - start;
  if (length > kApcMaxReply) length = kApcMaxReply;
  return bytes.substr(start, length);
}

std::string ApcReplyText(const std::string& line) {
  std::string text;
  text.reserve(line.size());
  for (char c : line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    if (c == kApcAlertMainsFailed || c == kApcAlertMainsReturned || c == kApcCarriedOut) continue;
    text += c;
  }
  return text;
}

bool ApcReplyNumber(const std::string& text, int* value) {
  size_t cut = text.find('.');
  if (cut == std::string::npos) cut = text.find(':');
  if (cut == std::string::npos) return false;
  size_t i = 0;
  const bool negative = cut > 0 && text[0] == '-';
  if (negative) ++i;
  if (i == cut || cut - i > 9) return false;
  int v = 0;
  for (; i < cut; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = negative ? -v : v;
  return true;
}

bool ApcStatusRegister(const std::string& text, uint8_t* value) {
  if (text.size() != 2) return false;
  const int high = HexValue(text[0]);
  const int low = HexValue(text[1]);
  if (high < 0 || low < 0) return false;
  *value = static_cast<uint8_t>(high * 16 + low);
  return true;
}
