// Host-name resolution: the IPv4 address of a name, the name of an address, and the name of
// this computer. The system resolver asks the C library (getaddrinfo, getnameinfo,
// gethostname); tests install a resolver that answers from a table, so that no lookup leaves
// the machine.
//
// Every name handed out is at most kMaxHostName characters: a longer answer counts as no
// answer rather than being cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

inline constexpr size_t kMaxHostName = 255;

class NameResolver {
 public:
  virtual ~NameResolver() = default;
  // First IPv4 address (network byte order) of a host name; false when the name is unknown.
  virtual bool AddressOf(const std::string& name, uint32_t& address) = 0;
  // Name of an IPv4 address (network byte order); false when it has none.
  virtual bool NameOf(uint32_t address, std::string& name) = 0;
  // Name of this computer; false on failure (errno set).
  virtual bool LocalHostName(std::string& name) = 0;
};

class SystemNameResolver : public NameResolver {
 public:
  bool AddressOf(const std::string& name, uint32_t& address) override;
  bool NameOf(uint32_t address, std::string& name) override;
  bool LocalHostName(std::string& name) override;
};

// The resolver in use; the system resolver unless a test installed another.
NameResolver& GetNameResolver();
// Installs a resolver (not owned); nullptr restores the system resolver.
void SetNameResolver(NameResolver* resolver);

}  // namespace platform
