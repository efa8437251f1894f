#include "core/adapters/foreign_datagrams.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "core/base/ktdiag.h"

namespace {

// The count is traced at most this often.
constexpr std::chrono::seconds kReportGap{10};

}  // namespace

void ForeignDatagramCount::Count(uint32_t ip, uint16_t port) {
  ++total_;
  ++unreported_;
  last_ip_ = ip;
  last_port_ = port;
  Report();
}

void ForeignDatagramCount::Report() {
  const auto now = std::chrono::steady_clock::now();
  if (unreported_ == 0 || (reported_at_ && now - *reported_at_ < kReportGap)) return;
  char text[INET_ADDRSTRLEN] = "";
  in_addr a{};
  a.s_addr = last_ip_;
  inet_ntop(AF_INET, &a, text, sizeof text);
  Diag() << who_ << ": dropped " << static_cast<unsigned long>(unreported_)
         << " datagram(s) that did not come from the adapter (the last from " << text << ":"
         << static_cast<int>(ntohs(last_port_)) << "), " << static_cast<unsigned long>(total_) << " in all"
         << kendl;
  unreported_ = 0;
  reported_at_ = now;
}
