#include "tools/sim_contact_closure.h"

namespace upssim {

void ContactClosureUps::OnBytes(SimContext& ctx, const uint8_t* data, size_t size) {
  const bool looped = ctx.State().mains_ok;
  ctx.Log("BYTES", HexBytes(data, size) + (looped ? " (looped back)" : " (loop open)"));
  if (looped) ctx.Send(std::string(reinterpret_cast<const char*>(data), size));
}

uint32_t ContactClosureUps::DeviceLines(const UpsState& state, uint32_t host_lines) const {
  uint32_t lines = 0;
  if (host_lines & platform::kLineRts) lines |= platform::kLineCts;
  if (!state.battery_low) lines |= platform::kLineDcd;
  return lines;
}

}  // namespace upssim
