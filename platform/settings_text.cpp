#include "platform/settings_text.h"

namespace platform {

namespace {
constexpr std::string_view kBlanks = " \t";
}  // namespace

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  if (text.substr(0, kMark.size()) == kMark) text.remove_prefix(kMark.size());
  return text;
}

std::string_view TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasControlCharacter(std::string_view s) {
  for (unsigned char c : s) {
    if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
  }
  return false;
}

bool ParseYesNo(std::string_view s, bool& out) {
  const std::string v = LowerAscii(s);
  if (v == "yes" || v == "1" || v == "true" || v == "on") {
    out = true;
    return true;
  }
  if (v == "no" || v == "0" || v == "false" || v == "off") {
    out = false;
    return true;
  }
  return false;
}

}  // namespace platform
