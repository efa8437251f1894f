// The agent's service settings parser on arbitrary text: it either accepts the text or names
// the bad line, and never reads past the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/service_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::ServiceSettings settings;
  std::string error;
  const bool ok =
      platform::ParseServiceSettings(std::string_view(reinterpret_cast<const char*>(data), size), settings, error);
  if (!ok && error.rfind("line ", 0) != 0) __builtin_trap();
  return 0;
}
