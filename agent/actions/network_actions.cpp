#include "agent/actions/network_actions.h"

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/base/ktdiag.h"
#include "platform/name_resolver.h"

struct KT_NetworkActions::Shared {
  struct Lane {
    std::deque<std::pair<std::string, Send>> queue;
    std::thread thread;
    bool started = false;
    bool busy = false;   // a send is running
    bool ended = false;  // the worker has left its loop
  };
  std::mutex mutex;  // guards what follows
  std::condition_variable cv;
  Lane lanes[kLanes];
  std::atomic<bool> stop{false};
};

namespace {

void Worker(const std::shared_ptr<KT_NetworkActions::Shared>& shared, int index) {
  KT_NetworkActions::Shared::Lane& lane = shared->lanes[index];
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    shared->cv.wait(lock, [&] { return shared->stop.load() || !lane.queue.empty(); });
    if (shared->stop.load()) break;
    KT_NetworkActions::Send send = std::move(lane.queue.front().second);
    lane.queue.pop_front();
    lane.busy = true;
    lock.unlock();
    send(shared->stop);
    send = nullptr;
    lock.lock();
    lane.busy = false;
    shared->cv.notify_all();
  }
  if (!lane.queue.empty())
    Diag() << "Network actions: " << static_cast<int>(lane.queue.size()) << " send(s) dropped at the stop\n";
  lane.queue.clear();
  lane.ended = true;
  shared->cv.notify_all();
}

}  // namespace

KT_NetworkActions::KT_NetworkActions() : shared_(std::make_shared<Shared>()) {}

KT_NetworkActions::~KT_NetworkActions() { Stop(kStopWaitMs); }

KT_NetworkActions::Lane KT_NetworkActions::LaneOf(const std::string& host) {
  in_addr dotted{};
  return ::inet_aton(host.c_str(), &dotted) != 0 ? kNumericLane : kNameLane;
}

bool KT_NetworkActions::Post(const std::string& what, Lane lane, Send send) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->stop.load()) return false;
  Shared::Lane& l = shared_->lanes[lane == kNumericLane ? kNumericLane : kNameLane];
  if (l.queue.size() >= kMaxWaiting) {
    Diag() << "Network actions: " << static_cast<int>(kMaxWaiting) << " sends are waiting; " << what << " dropped\n";
    return false;
  }
  if (!l.started) {
    try {
      l.thread = std::thread(Worker, shared_, static_cast<int>(&l - shared_->lanes));
    } catch (const std::system_error&) {
      Diag() << "Network actions: the worker thread cannot be started; " << what << " dropped\n";
      return false;
    }
    l.started = true;
  }
  l.queue.emplace_back(what, std::move(send));
  shared_->cv.notify_all();
  return true;
}

bool KT_NetworkActions::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const Shared::Lane& l : shared_->lanes) {
      if (!l.queue.empty() || l.busy) return false;
    }
    return true;
  });
}

bool KT_NetworkActions::Stop(int waitMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->stop.store(true);
  shared_->cv.notify_all();
  const bool ended = shared_->cv.wait_for(lock, std::chrono::milliseconds(waitMs), [&] {
    for (const Shared::Lane& l : shared_->lanes) {
      if (l.thread.joinable() && !l.ended) return false;
    }
    return true;
  });
  std::thread threads[kLanes];
  bool laneEnded[kLanes];
  for (int i = 0; i < kLanes; ++i) {
    threads[i] = std::move(shared_->lanes[i].thread);
    laneEnded[i] = shared_->lanes[i].ended;
  }
  lock.unlock();
  for (int i = 0; i < kLanes; ++i) {
    if (!threads[i].joinable()) continue;
    if (laneEnded[i]) {
      threads[i].join();
    } else {
      // The thread holds what it uses; it ends with its send, or with the process.
      threads[i].detach();
    }
  }
  if (!ended) Diag() << "Network actions: the worker did not stop in time\n";
  return ended;
}

bool KT_NetworkActions::AddressOf(const std::string& host, uint32_t& address, const std::atomic<bool>& stop,
                                  const std::string& what) {
  switch (platform::AddressWithin(host, address, kLookupWaitMs, &stop)) {
    case platform::LookupAnswer::kFound:
      return true;
    case platform::LookupAnswer::kUnknown:
      Diag() << what << ": host " << host << " not found\n";
      return false;
    case platform::LookupAnswer::kNoAnswerYet:
      break;
  }
  Diag() << what << ": no answer for the name " << host << " within " << kLookupWaitMs / 1000
         << " s; not sent\n";
  return false;
}
