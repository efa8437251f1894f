// The fault tests' user of a named event pair and mutex: uses them without end (waits of 0 to
// 20 ms, sets, resets, takes and gives back, in an order drawn from `seed`) until it is killed.
#pragma once

#include "platform/named_object.h"

[[noreturn]] inline void ChurnNamedObjects(platform::NamedEvent& ev, platform::NamedEvent& manual,
                                           platform::NamedMutex& m, unsigned seed) {
  for (unsigned n = seed;; n = n * 1103515245u + 12345u) {
    const uint32_t ms = (n >> 16) % 21;
    switch ((n >> 8) % 6) {
      case 0: ev.Wait(ms); break;
      case 1: ev.Set(); break;
      case 2: manual.Wait(ms); break;
      case 3: ((n >> 12) & 1) != 0 ? manual.Set() : manual.Reset(); break;
      default:
        if (m.Wait(ms) != platform::WaitResult::kTimedOut) {
          ev.Wait(1);
          m.Release();
        }
        break;
    }
  }
}
