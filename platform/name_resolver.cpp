#include "platform/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {

bool SystemNameResolver::AddressOf(const std::string& name, uint32_t& address) {
  if (name.empty() || name.size() > kMaxHostName || name.find('\0') != std::string::npos) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
  bool found = false;
  for (addrinfo* p = result; p != nullptr; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in sin{};
      std::memcpy(&sin, p->ai_addr, sizeof sin);
      address = sin.sin_addr.s_addr;
      found = true;
      break;
    }
  }
  ::freeaddrinfo(result);
  return found;
}

bool SystemNameResolver::NameOf(uint32_t address, std::string& name) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = address;
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0) {
    return false;
  }
  host[sizeof host - 1] = '\0';
  const size_t n = ::strnlen(host, sizeof host);
  if (n == 0 || n > kMaxHostName) return false;
  name.assign(host, n);
  return true;
}

bool SystemNameResolver::LocalHostName(std::string& name) {
  char host[kMaxHostName + 2] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return false;
  host[sizeof host - 1] = '\0';
  name.assign(host, ::strnlen(host, kMaxHostName + 1));
  if (name.size() > kMaxHostName) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

namespace {
SystemNameResolver g_system_resolver;
std::atomic<NameResolver*> g_resolver{&g_system_resolver};
}  // namespace

NameResolver& GetNameResolver() {
  return *g_resolver.load(std::memory_order_acquire);
}

void SetNameResolver(NameResolver* resolver) {
  g_resolver.store(resolver ? resolver : &g_system_resolver, std::memory_order_release);
}

}  // namespace platform
