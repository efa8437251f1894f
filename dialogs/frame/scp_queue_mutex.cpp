#include "dialogs/frame/scp_queue_mutex.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

struct ScpQueueMutex::State {
  std::mutex m;
  std::condition_variable free;
  std::thread::id owner;
  int count = 0;  // takes of the owner
};

namespace {

// The process's mutexes by name; an entry lives while a handle does. Never destroyed, so that a
// handle closed at exit still finds it.
std::mutex& RegistryMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::map<std::string, std::weak_ptr<ScpQueueMutex::State>>& Registry() {
  static auto* r = new std::map<std::string, std::weak_ptr<ScpQueueMutex::State>>;
  return *r;
}

}  // namespace

ScpQueueMutex::~ScpQueueMutex() {
  Close();
}

bool ScpQueueMutex::Create(std::string_view name) {
  Close();
  if (name.empty()) return false;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  std::weak_ptr<State>& slot = Registry()[std::string(name)];
  state_ = slot.lock();
  existed_ = state_ != nullptr;
  if (!existed_) {
    state_ = std::make_shared<State>();
    slot = state_;
  }
  return true;
}

bool ScpQueueMutex::Open(std::string_view name) {
  Close();
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto& registry = Registry();
  const auto found = registry.find(std::string(name));
  if (found == registry.end()) return false;
  state_ = found->second.lock();
  if (state_ == nullptr) registry.erase(found);
  return state_ != nullptr;
}

void ScpQueueMutex::Close() {
  if (state_ == nullptr) return;
  while (takes_ > 0 && Release()) {
  }
  takes_ = 0;
  existed_ = false;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  state_.reset();
  // The name goes with its last handle.
  std::erase_if(Registry(), [](const auto& entry) { return entry.second.expired(); });
}

platform::WaitResult ScpQueueMutex::Wait(uint32_t timeoutMs, const std::function<bool()>& giveWay) {
  if (state_ == nullptr) return platform::WaitResult::kFailed;
  State& s = *state_;
  const std::thread::id self = std::this_thread::get_id();
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == platform::kInfinite;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  std::unique_lock<std::mutex> lock(s.m);
  if (s.count > 0 && s.owner != self) {
    for (;;) {
      if (giveWay && giveWay()) return platform::WaitResult::kTimedOut;
      const Clock::time_point now = Clock::now();
      if (!forever && now >= deadline) return platform::WaitResult::kTimedOut;
      Clock::time_point until = now + std::chrono::milliseconds(kSliceMs);
      if (!forever) until = std::min(until, deadline);
      if (s.free.wait_until(lock, until, [&] { return s.count == 0; })) break;
    }
  }
  s.owner = self;
  ++s.count;
  ++takes_;
  return platform::WaitResult::kSignaled;
}

bool ScpQueueMutex::Release() {
  if (state_ == nullptr) return false;
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.m);
    if (s.count == 0 || s.owner != std::this_thread::get_id()) return false;
    if (--s.count == 0) s.owner = std::thread::id();
  }
  if (takes_ > 0) --takes_;
  s.free.notify_all();
  return true;
}
