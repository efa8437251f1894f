// The table of SCP frames that one side has to send and is waiting to have answered: the
// consoles' outbox. KT_SCPBase::QueueRequest and QueueGetRequest add frames; the console's
// communication loop takes the next unsent frame (Next), sends it, marks it sent (MarkSent)
// and removes it when the answer for the same key and host arrives (Remove); a host's time-out
// marks its frames unsent again (ResetHost) so that they are repeated.
//
// One entry exists per key and host. A newer frame for a key and host that is already queued
// is never lost: while the older frame is still unsent, the newer replaces it; while the older
// one is in flight, the newer waits behind it and goes out after the older one's answer (that
// answer removes the older frame only).
//
// The host is the index of the destination host in the console's host table.
//
// Each operation locks the table's own mutex; the consoles additionally hold the mutex
// "Mutex to lock SCP queue" around a whole send or queue step.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/base/error_status.h"

struct ScpQueueEntry {
  std::vector<uint8_t> frame;  // the complete SCP frame to send
  int reserved = 0;            // copied from the caller, not used
  int sent = 0;                // 0 = still to send, 1 = sent and awaiting the answer
  int host = 0;
  std::vector<uint8_t> key;    // with the host, the identity of the entry

  int FrameLength() const { return static_cast<int>(frame.size()); }
  int KeyLength() const { return static_cast<int>(key.size()); }
};

class KT_ScpQueue : public KT_ErrorStatus {
 public:
  static constexpr int kDefaultCapacity = 255;

  KT_ScpQueue() : KT_ScpQueue(kDefaultCapacity) {}
  explicit KT_ScpQueue(int capacity);
  KT_ScpQueue(const KT_ScpQueue&) = delete;
  KT_ScpQueue& operator=(const KT_ScpQueue&) = delete;

  // A new slot array of n slots: entries keep their slots up to n (later ones are dropped),
  // the used count is recounted, the cursor limited to n - 1.
  void Resize(int n);

  // Queues a copy of the frame and key for the host. An entry for the same key and host takes
  // the newer frame instead (see above); result 0. A new entry goes to the first empty slot,
  // unsent; result 0. A full table gives -1 (no error record); bad arguments or no memory give
  // -1 with an error record (26, 1, code).
  int Add(const uint8_t* frame, int frameLength, int reserved, int keyLength, const uint8_t* key, int host);
  int Add(const std::vector<uint8_t>& frame, int reserved, const std::vector<uint8_t>& key, int host) {
    return Add(frame.data(), static_cast<int>(frame.size()), reserved, static_cast<int>(key.size()), key.data(),
               host);
  }
  // The answer for (key, host) arrived: its in-flight frame is removed (a newer frame waiting
  // behind it stays, unsent). 1 when found, 0 when not; -1 with error (26, 2, 1) when the
  // table is empty.
  int Remove(const uint8_t* key, int keyLength, int host);
  // Removes every entry of the host: 1; -1 with error (26, 3, 1) when the table is empty.
  int RemoveHost(int host);
  int Find(const uint8_t* key, int keyLength, int host);
  // The type byte (SCP_GET, SCP_SET, ...) of the frame the entry for (key, host) has in flight
  // or is to send; 0 when there is no such entry.
  int FrameType(const uint8_t* key, int keyLength, int host);
  // The keys of the entries that hold a frame of the type, sent, to send or waiting behind the
  // one in flight, in slot order (an entry once).
  std::vector<std::vector<uint8_t>> KeysOfType(int type);
  // From the cursor, the first used slot still to send: copies it into `entry` (the copy owns
  // its bytes) and returns the slot index; the cursor moves one slot on from where the scan
  // began (to 0 at the end). None: cursor 0, result -1.
  int Next(ScpQueueEntry& entry);
  // Sent flag 1 on a used slot; 1 when marked, 0 for an empty or unknown slot.
  int MarkSent(int index);
  // Every entry of the host is to be sent again (a newer waiting frame replaces the
  // unanswered one).
  void ResetHost(int host);
  void ResetCursor();
  // Empties every slot and puts the cursor back on the first.
  void Clear();
  // "  #=<used>\n", then per used entry "  I=<slot> H=<host> P=<cursor> A=" with each key byte
  // as "<n> " and a line end, then a final line end.
  void Print(std::string& buffer);

  int GetCount();
  int GetCapacity();

 private:
  struct Slot {
    ScpQueueEntry entry;
    bool hasPending = false;
    std::vector<uint8_t> pending;  // newer frame waiting for the answer to the one in flight
  };

  int FindLocked(const uint8_t* key, int keyLength, int host) const;
  static void Promote(Slot& slot);

  std::mutex mutex_;
  std::vector<std::unique_ptr<Slot>> slots_;
  int used_ = 0;
  int cursor_ = 0;
};
