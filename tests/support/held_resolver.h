// A name service that holds one name: a lookup of that name answers 127.0.0.1 only once the
// test releases it (or, so that a caller that waits for it cannot hang a test, after maxHoldMs),
// as a name server that does not answer would; names under ".invalid" are unknown at once;
// every other name is looked up as the system does. Installed for its lifetime.
#pragma once

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/name_resolver.h"

namespace testing_support {

class HeldResolver : public platform::NameResolver {
 public:
  explicit HeldResolver(std::string held, int maxHoldMs = 30000) : held_(std::move(held)), max_hold_ms_(maxHoldMs) {
    platform::SetNameResolver(this);
  }
  // Lookups may run on threads of their own: the resolver goes only once none is inside it.
  ~HeldResolver() override {
    platform::SetNameResolver(nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return inside_ == 0; });
  }

  bool AddressOf(const std::string& name, uint32_t& address) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++inside_;
    }
    const bool found = Look(name, address);
    std::lock_guard<std::mutex> lock(mutex_);
    --inside_;
    cv_.notify_all();
    return found;
  }
  bool NameOf(uint32_t address, std::string& name) override { return system_.NameOf(address, name); }
  bool LocalHostName(std::string& name) override { return system_.LocalHostName(name); }

  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  // Lookups of the held name and of ".invalid" names so far.
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  bool Look(const std::string& name, uint32_t& address) {
    const std::string invalid = ".invalid";
    if (name.size() > invalid.size() && name.compare(name.size() - invalid.size(), invalid.size(), invalid) == 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++calls_;
      return false;
    }
    if (name != held_) return system_.AddressOf(name, address);
    std::unique_lock<std::mutex> lock(mutex_);
    ++calls_;
    cv_.wait_for(lock, std::chrono::milliseconds(max_hold_ms_), [&] { return released_; });
    address = htonl(INADDR_LOOPBACK);
    return true;
  }

  const std::string held_;
  const int max_hold_ms_;
  platform::SystemNameResolver system_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
  int calls_ = 0;
  int inside_ = 0;
};

}  // namespace testing_support
