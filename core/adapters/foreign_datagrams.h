// Datagrams that reach an adapter client from another sender than the adapter it asked: they
// are dropped, and counted here. The trace names the first at once, then the count every few
// seconds while they keep coming, so that a flood of them does not flood the trace too.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class ForeignDatagramCount {
 public:
  // `who` begins each trace line ("KT_NetBCM").
  explicit ForeignDatagramCount(const char* who) : who_(who) {}

  // One more, from this IPv4 address and port (network byte order); traced as said above.
  void Count(uint32_t ip, uint16_t port);
  // Traces the count not yet traced, when the last line is old enough.
  void Report();
  uint64_t Total() const { return total_; }

 private:
  const char* who_;
  uint64_t total_ = 0;
  uint64_t unreported_ = 0;
  uint32_t last_ip_ = 0;
  uint16_t last_port_ = 0;
  std::optional<std::chrono::steady_clock::time_point> reported_at_;
};
