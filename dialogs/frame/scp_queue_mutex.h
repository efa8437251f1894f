// "Mutex to lock SCP queue": the lock that a console's user-interface thread and its
// communication worker take around gScp's table of outstanding requests (and what they read of
// gHosts with it).
//
// The table is the process's own, and so is its lock: the name is known within this process
// only. As with a named mutex, the console creates it before its worker starts, the library
// only opens it (a request made while it does not exist is dropped), every handle of one name
// is the same mutex, and the last handle closed ends it. But it is no file in /dev/shm: no
// other process -- another user's, another console, a console of another release -- can hold
// it, break it or keep it from being made.
//
// It is recursive, as a named mutex is: the thread that holds it may take it again, each take
// with its own Release. A wait has a limit and can give way early: `giveWay` is asked before
// the wait and then every kSliceMs while another thread holds the mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/named_object.h"

class ScpQueueMutex {
 public:
  static constexpr uint32_t kSliceMs = 20;

  ScpQueueMutex() = default;
  ~ScpQueueMutex();
  ScpQueueMutex(const ScpQueueMutex&) = delete;
  ScpQueueMutex& operator=(const ScpQueueMutex&) = delete;

  // Creates the mutex of that name, or opens this process's existing one. False for an empty
  // name.
  bool Create(std::string_view name);
  // Opens this process's mutex of that name; false when there is none.
  bool Open(std::string_view name);
  // Closes the handle; the mutex ends with its last handle. Takes this thread still holds
  // through the handle are given back first.
  void Close();
  bool IsOpen() const { return state_ != nullptr; }
  // True when the last Create found the mutex already there.
  bool AlreadyExisted() const { return existed_; }

  // Takes the mutex, waiting up to timeoutMs (platform::kInfinite: no limit; 0: just try):
  // kSignaled once owned, kTimedOut at the limit or when `giveWay` answered true, kFailed on a
  // closed handle.
  platform::WaitResult Wait(uint32_t timeoutMs, const std::function<bool()>& giveWay = {});
  // Gives one take back; false when the calling thread does not hold the mutex.
  bool Release();

  // The one record of a mutex that all its handles share.
  struct State;

 private:
  std::shared_ptr<State> state_;
  int takes_ = 0;  // takes made through this handle and not yet given back
  bool existed_ = false;
};
