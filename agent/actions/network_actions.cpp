#include "agent/actions/network_actions.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/base/ktdiag.h"
#include "platform/name_resolver.h"

struct KT_NetworkActions::Shared {
  std::mutex mutex;  // guards what follows
  std::condition_variable cv;
  std::deque<std::pair<std::string, Send>> queue;
  std::thread thread;
  bool started = false;
  bool busy = false;   // a send is running
  bool ended = false;  // the worker has left its loop
  std::atomic<bool> stop{false};
};

namespace {

void Worker(const std::shared_ptr<KT_NetworkActions::Shared>& shared) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    shared->cv.wait(lock, [&] { return shared->stop.load() || !shared->queue.empty(); });
    if (shared->stop.load()) break;
    KT_NetworkActions::Send send = std::move(shared->queue.front().second);
    shared->queue.pop_front();
    shared->busy = true;
    lock.unlock();
    send(shared->stop);
    send = nullptr;
    lock.lock();
    shared->busy = false;
    shared->cv.notify_all();
  }
  if (!shared->queue.empty()) Diag() << "Network actions: " << static_cast<int>(shared->queue.size()) << " send(s) dropped at the stop\n";
  shared->queue.clear();
  shared->ended = true;
  shared->cv.notify_all();
}

}  // namespace

KT_NetworkActions::KT_NetworkActions() : shared_(std::make_shared<Shared>()) {}

KT_NetworkActions::~KT_NetworkActions() { Stop(kStopWaitMs); }

bool KT_NetworkActions::Post(const std::string& what, Send send) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->stop.load()) return false;
  if (shared_->queue.size() >= kMaxWaiting) {
    Diag() << "Network actions: " << static_cast<int>(kMaxWaiting) << " sends are waiting; " << what << " dropped\n";
    return false;
  }
  if (!shared_->started) {
    try {
      shared_->thread = std::thread(Worker, shared_);
    } catch (const std::system_error&) {
      Diag() << "Network actions: the worker thread cannot be started; " << what << " dropped\n";
      return false;
    }
    shared_->started = true;
  }
  shared_->queue.emplace_back(what, std::move(send));
  shared_->cv.notify_all();
  return true;
}

bool KT_NetworkActions::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return shared_->queue.empty() && !shared_->busy; });
}

bool KT_NetworkActions::Stop(int waitMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->stop.store(true);
  shared_->cv.notify_all();
  if (!shared_->thread.joinable()) return true;
  const bool ended =
      shared_->cv.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return shared_->ended; });
  std::thread thread = std::move(shared_->thread);
  lock.unlock();
  if (ended) {
    thread.join();
  } else {
    // The thread holds what it uses; it ends with its send, or with the process.
    Diag() << "Network actions: the worker did not stop in time\n";
    thread.detach();
  }
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
