// A stand-in agent for discovery searches: answers every datagram on UDP port 7010 of the
// test's own network with a copy of it, and notes what the console showed at that moment.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

class UdpResponder {
 public:
  // Binds `ip`:7010 (network order; INADDR_ANY for broadcasts). False when it cannot.
  bool Start(uint32_t ip = htonl(INADDR_ANY)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(7010);
    self.sin_addr.s_addr = ip;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  ~UdpResponder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  // Called on the responder's thread for each request, before the answer (the console's
  // thread is blocked in its search then).
  void OnRequest(std::function<void()> probe) { probe_ = std::move(probe); }
  int Requests() const { return requests_; }

 private:
  void Run() {
    // Bounded: the responder ends with the test, at the latest after 60 s.
    for (int i = 0; i < 1200 && !stop_; ++i) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      unsigned char buffer[1500];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      ++requests_;
      if (probe_) probe_();
      ::sendto(fd_, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::function<void()> probe_;
};
