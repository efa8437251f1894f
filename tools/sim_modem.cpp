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
    const bool at = line_.size() >= 2 && (line_[0] == 'A' || line_[0] == 'a') &&
                    (line_[1] == 'T' || line_[1] == 't');
    if (at) {
      ctx.Log("REQ", Printable(line_));
      ctx.Send("\r\nOK\r\n");
    }
    line_.clear();
  }
}

uint32_t Modem::DeviceLines(const UpsState&, uint32_t) const {
  return platform::kLineCts | platform::kLineDsr;
}

}  // namespace upssim
