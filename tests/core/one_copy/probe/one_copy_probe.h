// A shared library that reaches core's process-wide objects from its own code, as the dialog
// library does.
#pragma once

#include <cstdint>

class KT_SCP;
class KtDiag;
namespace platform {
class Clock;
}

struct ProbeView {
  KT_SCP* scp;
  KtDiag* diag;
  platform::Clock* clock;
  int64_t now;
  uint8_t peer_second;
  uint8_t peer_third;
};

// What the library sees of the process-wide objects.
ProbeView ProbeLook();
// Changes the peer version from inside the library.
void ProbeSetPeerVersion(uint8_t second, uint8_t third);
