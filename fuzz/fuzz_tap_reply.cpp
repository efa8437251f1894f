// Whatever a modem or a paging terminal sends, the page link's reply scanners must find a reply
// inside the bytes or report none, and never point past the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/mail_paging/page_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    size_t used = 0;
    const TapReply r = ScanTapReply(rest, &used);
    if (r == TapReply::kNone) break;
    if (used == 0 || used > rest.size()) std::abort();
    rest.remove_prefix(used);
  }
  rest = std::string_view(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    size_t used = 0;
    const ModemReply r = ScanModemReply(rest, &used);
    if (r == ModemReply::kNone) break;
    if (used == 0 || used > rest.size()) std::abort();
    rest.remove_prefix(used);
  }
  const std::string sum = TapChecksum(std::string_view(reinterpret_cast<const char*>(data), size));
  if (sum.size() != 3) std::abort();
  return 0;
}
