#include "platform/clock.h"

#include <ctime>

namespace platform {

int64_t SystemClock::Now() {
  return static_cast<int64_t>(::time(nullptr));
}

uint64_t SystemClock::TickMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

namespace {
// Never destroyed: the trace and the error log read the time in destructors that run after
// this file's, and threads that run on at exit read it too (a destroyed clock would abort them).
union SystemClockHolder {
  SystemClock clock;
  constexpr SystemClockHolder() : clock() {}
  ~SystemClockHolder() {}
};
constinit SystemClockHolder g_system_clock;
constinit std::atomic<Clock*> g_clock{&g_system_clock.clock};
}  // namespace

Clock& GetClock() {
  return *g_clock.load(std::memory_order_acquire);
}

void SetClock(Clock* clock) {
  g_clock.store(clock ? clock : &g_system_clock.clock, std::memory_order_release);
}

}  // namespace platform
