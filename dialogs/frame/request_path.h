// The request path from a dialog to the agents: GETs and SETs queued into gScp's table of
// outstanding requests, which the console's communication worker sends.
//
// KTDialog::RequestData and KTDialog::SendCommand use these; dialogs that are not KTDialogs
// (host selection, subnets) call them directly.
//
// Locks, in this order: a reader KT_HostControl guard over gHosts, the process's mutex
// "Mutex to lock SCP queue" (scp_queue_mutex.h; opened, never created: when the console has not
// created it nothing is queued), then gScp's own lock inside QueueRequest/QueueGetRequest. A
// host image's lock is taken only briefly for a capability test, never together with gScp's.
// Message boxes are shown only after guard and mutex are released.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "dialogs/frame/scp_queue_mutex.h"

class QWidget;

// The longest wait for the queue's mutex. Its only other holder is this process's other thread,
// which holds it for one step of its work (at most a send on the local channel, itself bounded
// by the channel's 2 s), so the limit is only ever met by a thread that no longer gives it back.
inline constexpr uint32_t kScpQueueWaitMs = 10000;

// Whether a wait for the queue's mutex gives way now: on the user-interface thread, once a stop
// signal has come that its event loop has not taken yet (the wait then fails, and what was to
// be queued is dropped: the program is ending).
bool ScpQueueWaitGivesWay();

// Who a request is for. With an empty selection label: the first host of gHosts. Otherwise
// RequestData asks the host named hostName and SendCommand sends to every name of hosts.
struct RequestTarget {
  QString selectionLabel;
  QString hostName;
  QStringList hosts;
};

// Holds the mutex "Mutex to lock SCP queue" while it lives: waits for it at most
// kScpQueueWaitMs, on the user-interface thread less when a stop signal comes (AtStop::kGiveWay),
// or all of that time (AtStop::kWait: for what a program does on its way out).
class ScpQueueLock {
 public:
  enum class AtStop { kGiveWay, kWait };
  explicit ScpQueueLock(AtStop atStop = AtStop::kGiveWay);
  ~ScpQueueLock();
  ScpQueueLock(const ScpQueueLock&) = delete;
  ScpQueueLock& operator=(const ScpQueueLock&) = delete;
  // False when the mutex does not exist or could not be taken.
  bool locked() const { return locked_; }
  // Why not: true when the mutex does not exist, false when it exists but could not be waited for.
  bool missing() const { return missing_; }

 private:
  ScpQueueMutex mutex_;
  bool locked_ = false;
  bool missing_ = false;
};

// Queues a GET (extra code 0) for the target's host. 0 when the mutex cannot be opened or
// taken; otherwise 1, also when no host was found and nothing was queued.
int RequestDataFor(const RequestTarget& target, unsigned block, unsigned branch, unsigned index);

// Queues a SET of gScp's own data of the address: for the first host (no capability test),
// or for every listed host that gHosts knows and that is capable of it; each host that is not
// capable gets "Host <name> is not capable of performing this function." (owned by
// boxOwner). The caller fills gScp's block first. Returns the number of SETs queued (0 when
// the mutex is missing).
int SendCommandTo(QWidget* boxOwner, const RequestTarget& target, unsigned block, unsigned branch,
                  unsigned index);

// Queues a GET of the key (length 1 when branch is 0, else 2 when item is 0, else 3) for a
// host index, under the mutex. 1 when queued; 0 when the mutex is missing; -1 when the table
// refused it.
int RequestForHost(int hostIndex, unsigned block, unsigned branch, unsigned item, unsigned extraCode = 0);
// Queues a GET of a packed key as it is (its length and bytes; reply_routing.h), for a host
// index, under the mutex. 1 queued, 0 the mutex is missing, -1 refused or a length not 1 to 3.
int RequestPackedKeyForHost(int hostIndex, uint32_t packedKey);
// The requests waiting in gScp's table less those of the host under the packed keys given (a
// dialog's standing requests, KTDialog::FollowedKeys). The caller holds the queue mutex.
int QueuedRequestsBesides(int hostIndex, const std::vector<uint32_t>& packedKeys);

// Whether a host can carry out a SET of (block, branch): by its UPS information's function map
// for configuration branches 1 and 3..9, notification, scheduled shutdown and battery test;
// other configuration branches and commands always; every other block never; an unknown host
// never. Takes the host image's lock; call it under a reader guard.
bool IsHostCapable(unsigned block, unsigned branch, int hostIndex);

// "Host <%s> is not capable of performing this function." for a host name.
QString NotCapableText(const QString& hostName);
