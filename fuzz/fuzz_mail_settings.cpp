// Mail settings parser: any bytes give a clean result, and accepted settings hold only values
// the SMTP layer can use.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/mail_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  platform::MailSettings s;
  std::string error;
  if (platform::ParseMailSettings(text, s, error)) {
    if (s.port < 1 || s.port > 65535) std::abort();
    if (!platform::IsValidMailAddress(s.from, true)) std::abort();
    if (s.server.empty() || s.server.find_first_of("/@ \r\n") != std::string::npos) std::abort();
    for (const auto& [name, address] : s.aliases) {
      if (!platform::IsValidMailAddress(address, false)) std::abort();
      if (s.LookUpAlias(name).value_or("") != address) std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
