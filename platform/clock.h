// Process-wide clock: wall time (seconds since 1970) and a monotonic millisecond tick.
// Every timing rule of the system reads time through GetClock(), so tests can install a
// ManualClock and move time forward without sleeping.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 UTC.
  virtual int64_t Now() = 0;
  // Milliseconds of a monotonic counter with an arbitrary origin.
  virtual uint64_t TickMs() = 0;
};

class SystemClock : public Clock {
 public:
  int64_t Now() override;
  uint64_t TickMs() override;
};

// A clock that moves only when told to; safe to read from several threads.
class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t now = 1000000000, uint64_t tick = 1000000) : now_(now), tick_(tick) {}
  int64_t Now() override { return now_.load(); }
  uint64_t TickMs() override { return tick_.load(); }
  void Set(int64_t now) { now_.store(now); }
  // Moves both the wall time and the tick forward.
  void AdvanceSeconds(int64_t s) {
    now_ += s;
    tick_ += static_cast<uint64_t>(s) * 1000u;
  }
  // Moves only the tick (wall time keeps whole seconds).
  void AdvanceMs(uint64_t ms) { tick_ += ms; }

 private:
  std::atomic<int64_t> now_;
  std::atomic<uint64_t> tick_;
};

// The clock in use; the system clock unless a test installed another.
Clock& GetClock();
// Installs a clock (not owned); nullptr restores the system clock.
void SetClock(Clock* clock);

// Shorthands.
inline int64_t Now() { return GetClock().Now(); }
inline uint64_t TickMs() { return GetClock().TickMs(); }

}  // namespace platform
