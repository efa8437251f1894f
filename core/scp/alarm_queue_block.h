// SCP block 8: the alarm events the UPS driver collected, in the order they were added; the
// consoles' alarm history shows it. Filled on the UPS side, so a stale GET (refresh period 200
// seconds) queues a read for the UPS driver.
//
// Record form (branch 1, all big-endian):
//   field 1   entry count, 16-bit (read and dropped when decoding)
//   field 2   entry count, 16-bit; then per entry: alarm code (1), time (4), flag (1)
#pragma once

#include <cstdint>
#include <deque>

#include "core/scp/block.h"

struct AlarmQueueEntry {
  uint8_t code = 0;   // UpsAlarm code
  uint32_t time = 0;  // seconds since 1970
  uint8_t flag = 0;

  bool operator==(const AlarmQueueEntry& o) const { return code == o.code && time == o.time && flag == o.flag; }
};

class AlarmQueueBlock : public KT_Block {
 public:
  static constexpr int kRefreshPeriod = 200;
  // Largest number of entries the 16-bit count of the record form can describe.
  static constexpr int kMaxEntries = 0xFFFF;

  AlarmQueueBlock();

  // Appends an entry (duplicates allowed); marks branches 1 and 0 filled now and fields 1 and
  // 2 of branch 1 changed. 1; 0 when the queue already holds the most entries it can carry.
  int Add(int code, uint32_t time, int flag);
  // Removes the first equal entry; 1 when found, else 0.
  int Remove(int code, uint32_t time, int flag);

  void ResetCursor() { cursor_ = 0; }
  // The entry at the cursor, then the cursor moves on; false at the end.
  bool GetNextEntry(uint8_t& code, uint32_t& time, uint8_t& flag);
  int GetCount() const { return static_cast<int>(entries_.size()); }
  // Deletes every entry and sets every state byte of branches 0 and 1 to 0.
  void Clear();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

 private:
  std::deque<AlarmQueueEntry> entries_;
  size_t cursor_ = 0;
};
