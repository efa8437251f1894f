// Stand-ins for the name service and for IPX sockets, shared by the network tests.
#pragma once

#include <arpa/inet.h>
#include <netipx/ipx.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/network/ipx.h"
#include "core/network/socket_ops.h"
#include "platform/name_resolver.h"

namespace net_fakes {

// Answers from two tables; everything else is unknown. Installed for its lifetime.
class FakeResolver : public platform::NameResolver {
 public:
  FakeResolver() { platform::SetNameResolver(this); }
  ~FakeResolver() override { platform::SetNameResolver(nullptr); }

  bool AddressOf(const std::string& name, uint32_t& address) override {
    ++forward_lookups;
    auto it = forward.find(name);
    if (it == forward.end()) return false;
    address = it->second;
    return true;
  }
  bool NameOf(uint32_t address, std::string& name) override {
    ++reverse_lookups;
    auto it = reverse.find(address);
    if (it == reverse.end()) return false;
    name = it->second;
    return true;
  }
  bool LocalHostName(std::string& name) override {
    name = local_name;
    return true;
  }

  std::map<std::string, uint32_t> forward;
  std::map<uint32_t, std::string> reverse;
  std::string local_name = "testbox";
  int forward_lookups = 0;
  int reverse_lookups = 0;
};

inline uint32_t Ip(const char* dotted) {
  in_addr a{};
  ::inet_pton(AF_INET, dotted, &a);
  return a.s_addr;
}

// A scripted IPX socket: datagrams queued by the test arrive in order, each once the
// channel has slept `afterSleeps` times; sends are recorded. No kernel socket is involved.
class FakeIpxOps : public SocketOps {
 public:
  struct Datagram {
    std::vector<uint8_t> bytes;
    uint32_t network = 0;  // network byte order
    uint8_t node[6] = {};
    uint16_t socket = 0;  // network byte order
    int afterSleeps = 0;
  };
  struct Sent {
    std::vector<uint8_t> bytes;
    int flags = 0;
    sockaddr_ipx to{};
  };

  static constexpr int kFd = 4242;

  void Queue(std::vector<uint8_t> bytes, int afterSleeps = 0, uint32_t network = 0x01020304,
             std::vector<uint8_t> node = {1, 2, 3, 4, 5, 6}, uint16_t socket = 0x5104) {
    Datagram d;
    d.bytes = std::move(bytes);
    d.network = network;
    std::copy_n(node.begin(), std::min<size_t>(6, node.size()), d.node);
    d.socket = socket;
    d.afterSleeps = afterSleeps;
    incoming.push_back(std::move(d));
  }

  bool Ready() const { return !incoming.empty() && incoming.front().afterSleeps <= sleeps; }

  int Socket(int domain, int, int) override {
    ++sockets_made;
    if (fail_socket || domain != AF_IPX) {
      errno = EAFNOSUPPORT;
      return -1;
    }
    return kFd;
  }
  int SetNonBlocking(int) override { return 0; }
  int Bind(int, const sockaddr*, socklen_t) override { return 0; }
  int GetSockName(int, sockaddr* address, socklen_t* length) override {
    sockaddr_ipx self{};
    self.sipx_family = AF_IPX;
    std::memcpy(address, &self, std::min<size_t>(*length, sizeof self));
    *length = sizeof self;
    return 0;
  }
  int SetSockOpt(int, int level, int name, const void*, socklen_t) override {
    options.emplace_back(level, name);
    return 0;
  }
  ssize_t SendTo(int, const void* data, size_t length, int flags, const sockaddr* to, socklen_t toLength) override {
    if (fail_send) {
      errno = ENETUNREACH;
      return -1;
    }
    Sent s;
    s.bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
    s.flags = flags;
    std::memcpy(&s.to, to, std::min<size_t>(toLength, sizeof s.to));
    sent.push_back(s);
    return static_cast<ssize_t>(length);
  }
  ssize_t ReceiveFrom(int, void* buffer, size_t capacity, sockaddr* from, socklen_t* fromLength,
                      bool* truncated) override {
    ++receives;
    if (!Ready()) {
      errno = EAGAIN;
      return -1;
    }
    Datagram d = std::move(incoming.front());
    incoming.pop_front();
    const size_t n = std::min(capacity, d.bytes.size());
    if (n > 0) std::memcpy(buffer, d.bytes.data(), n);
    if (truncated != nullptr) *truncated = d.bytes.size() > capacity;
    sockaddr_ipx src{};
    src.sipx_family = AF_IPX;
    src.sipx_network = d.network;
    std::memcpy(src.sipx_node, d.node, 6);
    src.sipx_port = d.socket;
    if (from != nullptr && fromLength != nullptr) {
      std::memcpy(from, &src, std::min<size_t>(*fromLength, sizeof src));
      *fromLength = sizeof src;
    }
    return static_cast<ssize_t>(n);
  }
  // As Linux answers for a datagram socket: the size of the next datagram.
  int BytesWaiting(int, int* count) override {
    *count = Ready() ? static_cast<int>(incoming.front().bytes.size()) : 0;
    return 0;
  }
  int WaitReadable(int, int) override {
    ++waits;
    return Ready() ? 1 : 0;
  }
  int Close(int) override {
    ++closes;
    return 0;
  }
  void SleepMs(int milliseconds) override {
    ++sleeps;
    slept_ms += milliseconds;
  }

  std::deque<Datagram> incoming;
  std::vector<Sent> sent;
  std::vector<std::pair<int, int>> options;
  bool fail_socket = false;
  bool fail_send = false;
  int sleeps = 0;
  int slept_ms = 0;
  int receives = 0;
  int waits = 0;
  int closes = 0;
  int sockets_made = 0;
};

// Makes every new IPX channel use the fake for its lifetime.
class ScopedIpxOps {
 public:
  explicit ScopedIpxOps(SocketOps* ops) { KT_IPX::SetDefaultSocketOps(ops); }
  ~ScopedIpxOps() { KT_IPX::SetDefaultSocketOps(nullptr); }
};

}  // namespace net_fakes
