#include "tools/sim_modem.h"

namespace upssim {

void Modem::OnBytes(SimContext& ctx, const uint8_t* data, size_t size) {
  ctx.Log("BYTES", HexBytes(data, size));
  ctx.Send(std::string(reinterpret_cast<const char*>(data), size));  // command echo
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c != '\r') {
      if (c != '\n' && line_.size() < kMaxLine) line_ += c;
      continue;
    }
    // Like a real modem, it ignores whatever came before the attention characters "AT" (noise,
    // bytes sent at another speed).
    size_t at = std::string::npos;
    for (size_t j = 0; j + 1 < line_.size(); ++j) {
      if ((line_[j] == 'A' || line_[j] == 'a') && (line_[j + 1] == 'T' || line_[j + 1] == 't')) {
        at = j;
        break;
      }
    }
    if (at != std::string::npos) {
      ctx.Log("REQ", Printable(line_.substr(at)));
      ctx.Send("\r\nOK\r\n");
    }
    line_.clear();
  }
}

uint32_t Modem::DeviceLines(const UpsState&, uint32_t) const {
  return platform::kLineCts | platform::kLineDsr;
}

}  // namespace upssim
