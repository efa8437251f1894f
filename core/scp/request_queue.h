// A queue of work for one of the agent's workers: serial_queue (the UPS-side worker) and
// system_queue (the agent's system-request handler). A request names a block and a branch,
// not data: the worker reads or applies the current contents of the SCP object.
//
// Ten slots; at most one entry per (type, branch). Each operation locks the queue's own mutex,
// so posting threads (network and local servers, monitor loop, stop handler) and the draining
// worker may call it at any time. A walk with ResetCursor/GetNext belongs to the one thread
// that drains the queue.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "core/base/error_status.h"

struct SystemRequest {
  int32_t type = 0;      // block id; 0 = free slot
  int32_t attempts = 0;  // 0 when posted; counted up by the worker
  int32_t hold = 0;      // 1 = the entry survives Remove
  int32_t set = 0;       // 1 = apply the block's contents, 0 = read the block from its source
  int32_t branch = 0;
  int32_t taken = 0;  // 1 while the draining worker serves it (the last entry GetNext gave)
  int32_t again = 0;  // 1 = a SET was posted while it was served: Remove keeps it once more
};

class KT_RequestQueue : public KT_ErrorStatus {
 public:
  static constexpr int kSlots = 10;

  KT_RequestQueue() = default;
  KT_RequestQueue(const KT_RequestQueue&) = delete;
  KT_RequestQueue& operator=(const KT_RequestQueue&) = delete;

  // 1 when queued in the first free slot; 0 when an entry for (type, branch) exists (a SET
  // posted over a pending read turns it into a SET, so the change is applied rather than
  // overwritten by the read; a SET posted while the worker serves the entry, which may have
  // read the block before the change came, has it served once more); -1 when all ten slots
  // are used (error 14, 1, 1).
  int Post(int type, int hold, int set, int branch);
  int Find(int type, int branch);           // slot index, -1 when absent
  // 1 when removed; 0 when absent, held, or posted again while served (then it stays for the
  // next pass, attempts back to 0).
  int Remove(int type, int branch);
  int Delete(int type, int branch);         // removes it even when held; 1 or 0
  // Takes back the entry a Post has just added (result 1) for work that is not to be done
  // after all: 1 when removed; 0 when absent or already taken by the draining worker (which
  // then serves the block as it is).
  int Withdraw(int type, int branch);
  void ResetCursor();
  // From the cursor, the next used slot: its type (set flag and branch passed out), cursor
  // behind it. At the end: 0 and the cursor back to 0.
  int GetNext(int& set, int& branch);
  int CountPass(int type, int branch);      // attempts + 1; 1 when found, else 0
  int GetAttempts(int type, int branch);    // 0 when absent
  int GetCount();
  void Clear();
  // A copy of the used slots in slot order (for traces; leaves the cursor alone).
  std::vector<SystemRequest> Entries();

 private:
  int FindLocked(int type, int branch) const;

  std::mutex mutex_;
  SystemRequest slots_[kSlots];
  int count_ = 0;
  int cursor_ = 0;
};
