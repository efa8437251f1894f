// Host-name resolution: the IPv4 address of a name, the name of an address, and the name of
// this computer. The system resolver asks the C library (getaddrinfo, getnameinfo,
// gethostname); tests install a resolver that answers from a table, so that no lookup leaves
// the machine.
//
// Every name handed out is at most kMaxHostName characters: a longer answer counts as no
// answer rather than being cut.
#pragma once

#include <atomic>
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

namespace platform {

// Host-name lookups that never hold their caller longer than it chooses: the lookup runs on a
// helper thread of its own and the caller waits at most `waitMs` for it (or until `*stop`
// turns true). A lookup that outlives the wait goes on and keeps its answer, so the next call
// for that name answers at once. One lookup of a name runs at a time: callers of a name whose
// lookup is still running wait on that one rather than starting another, so a name server
// that never answers costs one helper thread per name, not one per call. Answers found are
// kept kLookupKeepSeconds; names the resolver does not know are asked again each time.
// Numeric addresses (every form inet_aton takes) are answered without a lookup.
inline constexpr int kLookupKeepSeconds = 60;

enum class LookupAnswer {
  kFound,       // `address` holds the first IPv4 address (network byte order)
  kUnknown,     // the resolver does not know the name
  kNoAnswerYet, // the wait ended (or was stopped) before the resolver answered
};

LookupAnswer AddressWithin(const std::string& name, uint32_t& address, int waitMs,
                           const std::atomic<bool>* stop = nullptr);
// Forgets every kept answer (tests).
void ForgetLookups();

}  // namespace platform
