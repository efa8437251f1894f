// Message composer: whatever subject, names and text a caller passes, the header block keeps
// its shape (only "Name: value" fields and continuation lines, no bare CR or LF) and no line of
// the message exceeds the SMTP limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/mail_message.h"

namespace {

void CheckMessage(const std::string& m) {
  size_t end = m.find("\r\n\r\n");
  if (end == std::string::npos) std::abort();
  size_t pos = 0;
  while (pos <= end) {
    size_t eol = m.find("\r\n", pos);
    std::string line = m.substr(pos, eol - pos);
    if (line.empty()) std::abort();
    if (line[0] != ' ') {
      size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0) std::abort();
      for (size_t i = 0; i < colon; ++i) {
        char c = line[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-')) std::abort();
      }
    }
    for (char c : line) {
      if (c == '\r' || c == '\n') std::abort();
    }
    pos = eol + 2;
  }
  for (size_t p = 0, e; (e = m.find("\r\n", p)) != std::string::npos; p = e + 2) {
    if (e - p > 998) std::abort();
    if (m.substr(p, e - p).find_first_of("\r\n") != std::string::npos) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Fields separated by 0xFF bytes: subject, TO name, CC name, text.
  std::string in(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts(4);
  size_t k = 0;
  for (char c : in) {
    if (static_cast<unsigned char>(c) == 0xFF && k < 3) {
      ++k;
    } else {
      parts[k] += c;
    }
  }
  platform::MailSettings settings;
  std::string error;
  platform::ParseMailSettings("from = agent@ups.test\n", settings, error);
  platform::MailMessage m;
  m.subject = parts[0];
  m.noteText = parts[3];
  m.recips.push_back({platform::MAPI_TO, parts[1], ""});
  m.recips.push_back({platform::MAPI_CC, parts[2], ""});
  std::vector<std::string> addresses;
  for (const auto& r : m.recips) {
    std::string a;
    if (platform::ResolveMailRecipient(settings, r, a) != platform::SUCCESS_SUCCESS) a = "someone@x.test";
    if (!platform::IsValidMailAddress(a, false)) std::abort();
    addresses.push_back(a);
  }
  std::string out;
  if (platform::ComposeMailMessage(settings, m, addresses, 1700000000, out, error) !=
      platform::SUCCESS_SUCCESS) {
    std::abort();
  }
  CheckMessage(out);
  return 0;
}
