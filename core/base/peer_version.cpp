#include "core/base/peer_version.h"

#include <atomic>

namespace {

constexpr uint32_t Pack(uint8_t second, uint8_t third) { return (static_cast<uint32_t>(second) << 8) | third; }

std::atomic<uint32_t> g_peer_version{Pack(0, 37)};

}  // namespace

PeerSoftwareVersion GetPeerSoftwareVersion() {
  const uint32_t v = g_peer_version.load(std::memory_order_acquire);
  return PeerSoftwareVersion{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

void SetPeerSoftwareVersion(uint8_t second, uint8_t third) {
  g_peer_version.store(Pack(second, third), std::memory_order_release);
}

void ResetPeerSoftwareVersion() { SetPeerSoftwareVersion(0, 37); }
