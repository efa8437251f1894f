// The peer software version: one process-wide pair of numbers, the second and third numbers
// of the peer's product version (0 and 37 at start). It is set from fields 3.1 and 3.2 of a
// UPS information block whenever that block's branch 5 is converted, and selects the width of
// several fields on the wire in the UPS information, meter and configuration blocks.
#pragma once

#include <cstdint>

struct PeerSoftwareVersion {
  uint8_t second = 0;
  uint8_t third = 37;
};

// Safe to call from any thread; the pair is read and written as one value.
PeerSoftwareVersion GetPeerSoftwareVersion();
void SetPeerSoftwareVersion(uint8_t second, uint8_t third);
// Back to 0 and 37.
void ResetPeerSoftwareVersion();
