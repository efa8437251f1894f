// KT_NetworkActions: the action engine's sends over the network -- notices to other agents and
// SNMP traps -- on a worker thread of their own. A host given by name may cost a lookup that the
// name server never answers (an outage often takes it down too); on this thread it holds neither
// the monitor loop nor the shutdown sequence, which only queue their sends and go on.
//
// The worker starts with the first send and runs the sends in the order they came. Each name
// lookup waits at most kLookupWaitMs (platform::AddressWithin: the lookup itself goes on and
// keeps its answer for the next send to that name); a name without an answer by then skips
// that one send, and the trace says so. At most kMaxWaiting sends wait: a send beyond that is
// dropped and traced, so a worker held by lookups never piles up without bound.
//
// Stop (also at destruction) drops the sends still queued, tells the running one to give up its
// waits, and waits at most the given time for the thread; the agent's stop is never held longer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class KT_NetworkActions {
 public:
  // One send; `stop` turns true when the worker is asked to stop: the send then gives up.
  using Send = std::function<void(const std::atomic<bool>& stop)>;

  static constexpr size_t kMaxWaiting = 64;
  static constexpr int kLookupWaitMs = 2000;
  static constexpr int kStopWaitMs = 2000;

  KT_NetworkActions();
  ~KT_NetworkActions();
  KT_NetworkActions(const KT_NetworkActions&) = delete;
  KT_NetworkActions& operator=(const KT_NetworkActions&) = delete;

  // Queues a send (traced as `what` when it is dropped). False when it was dropped: the queue
  // is full, the worker cannot start or has stopped.
  bool Post(const std::string& what, Send send);
  // Waits up to timeoutMs until no send is queued or running; true when none is (tests).
  bool WaitIdle(int timeoutMs);
  // See the head of this file. True when the thread ended within waitMs.
  bool Stop(int waitMs);

  // The IPv4 address (network byte order) of a host for a send: a numeric address at once, a
  // name within kLookupWaitMs (or until `stop`). False, traced with `what`, when there is none.
  static bool AddressOf(const std::string& host, uint32_t& address, const std::atomic<bool>& stop,
                        const std::string& what);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};
