#include "agent/service/stop_signals.h"

#include <pthread.h>

#include <algorithm>

#include "core/base/ktdiag.h"
#include "core/scp/command_block.h"
#include "core/scp/scp.h"

sigset_t StopSignalWatcher::WatchedSet() const {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : watched_) sigaddset(&set, sig);
  // SIGUSR2 wakes the watcher to quit.
  sigaddset(&set, SIGUSR2);
  return set;
}

void StopSignalWatcher::Start(KT_SCP& scp, std::initializer_list<int> watched, std::initializer_list<int> stops) {
  if (thread_.joinable()) return;
  scp_ = &scp;
  watched_.assign(watched);
  stop_signals_.assign(stops);
  quit_.store(false);
  const sigset_t set = WatchedSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  thread_ = std::thread([this] { Run(); });
}

void StopSignalWatcher::Stop() {
  if (!thread_.joinable()) return;
  quit_.store(true);
  pthread_kill(thread_.native_handle(), SIGUSR2);
  thread_.join();
}

void StopSignalWatcher::RetryPending() {
  if (pending_.exchange(false)) PostTerminate();
}

void StopSignalWatcher::Run() {
  const sigset_t set = WatchedSet();
  while (!quit_.load()) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (quit_.load()) break;
    if (std::find(stop_signals_.begin(), stop_signals_.end(), sig) != stop_signals_.end()) {
      Diag() << "Stop requested by signal " << sig << kendl;
      if (stop_hook_) {
        stop_hook_(sig);
      } else {
        PostTerminate();
      }
    }
  }
}

void StopSignalWatcher::PostTerminate() {
  if (scp_->system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_TERMINATE) < 0) pending_.store(true);
}
