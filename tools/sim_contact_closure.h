// Simulated contact-closure UPS: no data protocol, only relay contacts wired into the cable.
//   - On line power the on-line contact loops the computer's transmit line back to its receive
//     line: every byte sent comes straight back, at any speed. On battery the loop opens.
//   - The battery contact drives DCD: closed (DCD on) while the battery is good, open when it
//     runs low.
//   - The cable loops RTS back to CTS (the computer's cable test).
// The computer's DTR and RTS changes are logged (LINES) by the core.
#pragma once

#include "tools/sim_device.h"

namespace upssim {

class ContactClosureUps : public SimDevice {
 public:
  std::string Name() const override { return "contact"; }
  void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) override;
  uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const override;
};

}  // namespace upssim
