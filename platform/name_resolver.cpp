#include "platform/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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

namespace {

using Clock = std::chrono::steady_clock;

// One lookup on its helper thread; its fields are guarded by the table's mutex.
struct Lookup {
  bool done = false;
  bool found = false;
  uint32_t address = 0;
};

struct LookupTable {
  struct Kept {
    uint32_t address;
    Clock::time_point until;
  };
  std::mutex mutex;
  std::condition_variable cv;
  std::map<std::string, std::shared_ptr<Lookup>> running;
  std::map<std::string, Kept> kept;
};

// Never destroyed: a helper thread whose lookup outlives the wait may end after main has.
LookupTable& Table() {
  static LookupTable* table = new LookupTable;
  return *table;
}

// A running lookup is polled this often for the caller's stop flag.
constexpr auto kStopPoll = std::chrono::milliseconds(50);
// Kept answers beyond this many make the table drop the stale ones.
constexpr size_t kKeptLimit = 256;

void RunLookup(const std::string& name, const std::shared_ptr<Lookup>& lookup) {
  uint32_t address = 0;
  const bool found = GetNameResolver().AddressOf(name, address);
  LookupTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  lookup->done = true;
  lookup->found = found;
  lookup->address = address;
  auto it = table.running.find(name);
  if (it != table.running.end() && it->second == lookup) table.running.erase(it);
  if (found) {
    const Clock::time_point now = Clock::now();
    if (table.kept.size() >= kKeptLimit) {
      for (auto k = table.kept.begin(); k != table.kept.end();) k = k->second.until <= now ? table.kept.erase(k) : std::next(k);
    }
    table.kept[name] = LookupTable::Kept{address, now + std::chrono::seconds(kLookupKeepSeconds)};
  }
  table.cv.notify_all();
}

}  // namespace

LookupAnswer AddressWithin(const std::string& name, uint32_t& address, int waitMs, const std::atomic<bool>* stop) {
  if (name.empty() || name.size() > kMaxHostName || name.find('\0') != std::string::npos) {
    return LookupAnswer::kUnknown;
  }
  in_addr dotted{};
  if (::inet_aton(name.c_str(), &dotted) != 0) {
    address = dotted.s_addr;
    return LookupAnswer::kFound;
  }
  LookupTable& table = Table();
  std::unique_lock<std::mutex> lock(table.mutex);
  const Clock::time_point start = Clock::now();
  if (auto k = table.kept.find(name); k != table.kept.end()) {
    if (k->second.until > start) {
      address = k->second.address;
      return LookupAnswer::kFound;
    }
    table.kept.erase(k);
  }
  std::shared_ptr<Lookup> lookup;
  if (auto r = table.running.find(name); r != table.running.end()) {
    lookup = r->second;
  } else {
    lookup = std::make_shared<Lookup>();
    try {
      std::thread(RunLookup, name, lookup).detach();
    } catch (const std::system_error&) {
      return LookupAnswer::kNoAnswerYet;
    }
    table.running[name] = lookup;
  }
  const Clock::time_point deadline = start + std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
  while (!lookup->done) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline || (stop != nullptr && stop->load())) return LookupAnswer::kNoAnswerYet;
    table.cv.wait_until(lock, std::min(deadline, now + kStopPoll));
  }
  if (!lookup->found) return LookupAnswer::kUnknown;
  address = lookup->address;
  return LookupAnswer::kFound;
}

void ForgetLookups() {
  LookupTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.kept.clear();
}

}  // namespace platform
