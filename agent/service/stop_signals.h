// The stop signals of an agent program. A stop never does its work in a signal handler: the
// signals are taken by a thread of their own (sigwait), which posts the terminate command
// (block 27 branch 1) to system_queue, as a stop control of the service manager does; the next
// monitor pass stops the agent and writes the record files.
//
// Start blocks the watched signals in the calling thread, so every thread started from it
// afterwards inherits the mask: call it before any other thread starts.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <thread>
#include <vector>

class KT_SCP;

class StopSignalWatcher {
 public:
  StopSignalWatcher() = default;
  ~StopSignalWatcher() { Stop(); }
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

  // Takes the `watched` signals; those also in `stops` post the terminate command, the others
  // are taken and ignored. Also ignores SIGPIPE for the process.
  void Start(KT_SCP& scp, std::initializer_list<int> watched, std::initializer_list<int> stops);
  // Set before Start: a stop signal calls `hook` on the watcher's thread in place of posting
  // the terminate command, for a program that decides itself what a stop means while its
  // agent may not run yet.
  void SetStopHook(std::function<void(int signal)> hook) { stop_hook_ = std::move(hook); }
  // Ends the watcher thread (the signals stay blocked).
  void Stop();
  // A stop that could not be posted (system_queue was full) is posted again: the monitor loop
  // calls this before every pass.
  void RetryPending();

 private:
  void Run();
  sigset_t WatchedSet() const;
  void PostTerminate();

  KT_SCP* scp_ = nullptr;
  std::vector<int> watched_;
  std::vector<int> stop_signals_;
  std::function<void(int)> stop_hook_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> pending_{false};
};
