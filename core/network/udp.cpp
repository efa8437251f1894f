#include "core/network/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/base/ktdiag.h"
#include "platform/name_resolver.h"

namespace {

std::atomic<uint32_t> g_default_bind{0};

bool ParseDotted(const char* text, uint32_t& out) {
  in_addr a{};
  if (::inet_pton(AF_INET, text, &a) != 1) return false;
  out = a.s_addr;
  return true;
}

}  // namespace

int KT_UDP::SetBindAddress(const char* dotted) {
  if (dotted == nullptr || *dotted == '\0') {
    bind_address_.reset();
    return 1;
  }
  uint32_t ip = 0;
  if (!ParseDotted(dotted, ip)) return -1;
  bind_address_ = ip;
  return 1;
}

int KT_UDP::SetDefaultBindAddress(const char* dotted) {
  if (dotted == nullptr || *dotted == '\0') {
    g_default_bind.store(0);
    return 1;
  }
  uint32_t ip = 0;
  if (!ParseDotted(dotted, ip)) return -1;
  g_default_bind.store(ip);
  return 1;
}

uint32_t KT_UDP::DefaultBindAddress() {
  return g_default_bind.load();
}

int KT_UDP::Open(int port) {
  const int fd = NewSocket(AF_INET);
  if (fd < 0) return -1;

  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  sin.sin_addr.s_addr = bind_address_ ? *bind_address_ : DefaultBindAddress();
  if (ops_->Bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0) return FailOpen(fd, 3);

  socket_ = fd;
  open_ = 1;

  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  if (ops_->GetSockName(fd, reinterpret_cast<sockaddr*>(&bound), &len) < 0) return FailOpen(fd, 4);

  local_.Clear();
  local_.SetType(ADDRESS_IP);
  if (bound.sin_addr.s_addr != 0) {
    local_.SetIpAddress(bound.sin_addr.s_addr);
  } else {
    std::string name;
    if (!platform::GetNameResolver().LocalHostName(name)) return FailOpen(fd, 5);
    local_.SetHostName(name.c_str());
  }
  local_.SetPort(bound.sin_port);
  return 0;
}

int KT_UDP::SendData(KT_Address* address, const uint8_t* data, size_t length) {
  return SendTo(address, ADDRESS_IP, data, length, 0);
}

int KT_UDP::ReceiveData(KT_Address* address, std::vector<uint8_t>& buffer) {
  return ReceiveOne(address, buffer, false);
}

int KT_UDP::ReceiveBounded(KT_Address* address, std::vector<uint8_t>& buffer) {
  return ReceiveOne(address, buffer, true);
}

int KT_UDP::ReceiveOne(KT_Address* address, std::vector<uint8_t>& buffer, bool bounded) {
  buffer.clear();
  int waiting = 0;
  ops_->BytesWaiting(socket_, &waiting);  // asked as the system always did; not needed

  uint8_t data[kUdpReceiveBuffer];
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  bool truncated = false;
  const ssize_t n = ops_->ReceiveFrom(socket_, data, sizeof data, reinterpret_cast<sockaddr*>(&from), &fromLength,
                                      &truncated);
  if (n < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 1, GetSocketError());
    return -1;
  }
  if (truncated && !bounded) {
    Diag() << "ERROR(KT_UDP::ReceiveData): datagram longer than 5000 bytes discarded\n";
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 1, EMSGSIZE);
    return -1;
  }
  if (address != nullptr) {
    if (fromLength >= sizeof(sockaddr_in) && from.sin_family == AF_INET) {
      address->SetSender(ADDRESS_IP, from.sin_addr.s_addr, from.sin_port);
    } else {
      address->SetSender(ADDRESS_IP, 0, 0);
    }
  }
  if (truncated) return kUdpOversize;
  if (n == 0) return 0;
  try {
    buffer.assign(data, data + n);
  } catch (const std::bad_alloc&) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 2, 0);
    return -1;
  }
  return 1;
}
