// Simulated modem on the UPS port (what the agent must not mistake for a UPS): it echoes what
// it receives and answers every command line that holds the attention characters "AT" with
// "\r\nOK\r\n" (anything in front of them is ignored). It holds CTS and DSR on.
#pragma once

#include "tools/sim_device.h"

namespace upssim {

class Modem : public SimDevice {
 public:
  static constexpr size_t kMaxLine = 256;

  std::string Name() const override { return "modem"; }
  void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) override;
  uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const override;

 private:
  std::string line_;
};

}  // namespace upssim
