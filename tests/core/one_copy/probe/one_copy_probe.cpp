#include "tests/core/one_copy/probe/one_copy_probe.h"

#include "core/base/ktdiag.h"
#include "core/base/peer_version.h"
#include "core/scp/scp.h"
#include "platform/clock.h"

ProbeView ProbeLook() {
  PeerSoftwareVersion peer = GetPeerSoftwareVersion();
  return {&GetProcessScp(), &Diag(), &platform::GetClock(), platform::Now(), peer.second, peer.third};
}

void ProbeSetPeerVersion(uint8_t second, uint8_t third) { SetPeerSoftwareVersion(second, third); }
