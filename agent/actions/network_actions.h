// KT_NetworkActions: the action engine's sends over the network -- notices to other agents and
// SNMP traps -- on a worker thread of their own. A host given by name may cost a lookup that the
// name server never answers (an outage often takes it down too); on this thread it holds neither
// the monitor loop nor the shutdown sequence, which only queue their sends and go on.
//
// Two lanes, each a worker of its own that starts with its first send and runs its sends in the
// order they came: sends to numeric addresses (and over IPX) in one, sends to host names in
// the other, so that a send that needs no lookup never waits behind the lookups of others.
// Each name lookup waits at most kLookupWaitMs (platform::AddressWithin: the lookup itself goes
// on and keeps its answer for the next send to that name); a name without an answer by then
// skips that one send, and the trace says so. At most kMaxWaiting sends wait in a lane: a send
// beyond that is dropped and traced, so a worker held by lookups never piles up without bound.
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

  enum Lane : int {
    kNumericLane = 0,  // numeric addresses, IPX: no lookup
    kNameLane = 1,     // host names
  };
  static constexpr int kLanes = 2;
  // The lane of a send to `host`: kNumericLane for an address inet_aton takes.
  static Lane LaneOf(const std::string& host);

  KT_NetworkActions();
  ~KT_NetworkActions();
  KT_NetworkActions(const KT_NetworkActions&) = delete;
  KT_NetworkActions& operator=(const KT_NetworkActions&) = delete;

  // Queues a send in its lane (traced as `what` when it is dropped). False when it was dropped:
  // the lane is full, its worker cannot start or has stopped.
  bool Post(const std::string& what, Lane lane, Send send);
  // Waits up to timeoutMs until no send is queued or running; true when none is (tests).
  bool WaitIdle(int timeoutMs);
  // See the head of this file. True when the threads ended within waitMs.
  bool Stop(int waitMs);

  // The IPv4 address (network byte order) of a host for a send: a numeric address at once, a
  // name within kLookupWaitMs (or until `stop`). False, traced with `what`, when there is none.
  static bool AddressOf(const std::string& host, uint32_t& address, const std::atomic<bool>& stop,
                        const std::string& what);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};
