// IPX searches of the dialogs through the IPX socket seam (no current kernel carries IPX):
// scripted service answers (SAP) and the channels pointed at the fake for a test's lifetime.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/discovery/discover.h"
#include "core/network/ipx.h"
#include "tests/core/net_fakes.h"

struct SapServer {
  uint16_t type;
  std::string name;
  uint8_t nodeLast;
};

// An IPX service response: type, then 64-byte entries (big-endian fields).
inline std::vector<uint8_t> Sap(uint16_t responseType, const std::vector<SapServer>& servers) {
  std::vector<uint8_t> b = {static_cast<uint8_t>(responseType >> 8), static_cast<uint8_t>(responseType)};
  for (const SapServer& s : servers) {
    std::vector<uint8_t> e(64, 0);
    e[0] = static_cast<uint8_t>(s.type >> 8);
    e[1] = static_cast<uint8_t>(s.type);
    std::copy(s.name.begin(), s.name.end(), e.begin() + 2);
    e[50] = 0x00, e[51] = 0x00, e[52] = 0x0A, e[53] = 0x01;                // network
    e[54] = 0x00, e[55] = 0x11, e[56] = 0x22, e[57] = 0x33, e[58] = 0x44;  // node
    e[59] = s.nodeLast;
    e[60] = 0x51, e[61] = 0x04;  // socket
    e[63] = 1;                   // hops
    // The 64-byte entry follows the 2-byte type word of the response.
    b.insert(b.end(), e.begin(), e.end());
  }
  return b;
}

// New IPX channels, and those of the given discovery objects, use `ipx` until the end of
// the scope. Dialogs with discovery objects of their own must be gone by then.
class ScopedIpxSearch {
 public:
  explicit ScopedIpxSearch(std::initializer_list<KT_Discover*> discovers) : discovers_(discovers) {
    KT_IPX::SetDefaultSocketOps(&ipx);
    for (KT_Discover* d : discovers_) {
      d->IpxChannel().Close();
      d->IpxChannel().SetSocketOps(nullptr);
    }
  }
  ~ScopedIpxSearch() {
    for (KT_Discover* d : discovers_) d->IpxChannel().Close();
    KT_IPX::SetDefaultSocketOps(nullptr);
    for (KT_Discover* d : discovers_) d->IpxChannel().SetSocketOps(nullptr);
  }
  ScopedIpxSearch(const ScopedIpxSearch&) = delete;
  ScopedIpxSearch& operator=(const ScopedIpxSearch&) = delete;

  net_fakes::FakeIpxOps ipx;

 private:
  std::vector<KT_Discover*> discovers_;
};
