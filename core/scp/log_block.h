// Base of the blocks that are lists of time-stamped records: the event log (block 6) and the
// battery log (block 7). Keeps the list in insertion order with a read cursor, its record
// form, and the trimming the log files use.
//
// Record form (branch 1, all big-endian):
//   field 1   record count, 16-bit (read and dropped when decoding)
//   field 2   record count, 16-bit; then per record: time (4), data length (1), data bytes
//
// Route of every branch: the agent side. Refresh period: never.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/scp/block.h"

struct LogRecord {
  uint32_t time = 0;          // seconds since 1970
  std::vector<uint8_t> data;  // 0..255 bytes

  int Length() const { return static_cast<int>(data.size()); }
  bool operator==(const LogRecord& other) const { return time == other.time && data == other.data; }
  bool operator<(const LogRecord& other) const {
    return time != other.time ? time < other.time : data < other.data;
  }
};

// Largest data length of one record.
inline constexpr int kLogRecordMaxData = 255;
// Largest number of records the 16-bit count of the record form can describe.
inline constexpr int kLogMaxRecords = 0xFFFF;

class LogBlock : public KT_Block {
 public:
  LogBlock();

  // Appends a copy unless an equal record is listed; marks branches 1 and 0 filled now and
  // fields 1 and 2 of branch 1 changed. True when added; false for a duplicate, a length
  // outside 0..255, a null pointer with a non-zero length, or a full list.
  bool AddRecord(uint32_t time, int length, const uint8_t* data);
  bool AddRecord(const LogRecord& record) { return AddRecord(record.time, record.Length(), record.data.data()); }
  // Removes the first equal record; true when found.
  bool RemoveRecord(uint32_t time, int length, const uint8_t* data);

  void ResetCursor() { cursor_ = 0; }
  // The record at the cursor, then the cursor moves on; false at the end.
  bool GetNextRecord(LogRecord& record);
  bool GetNextRecord(uint32_t& time, int& length, std::vector<uint8_t>& data);

  int GetRecordCount() const { return static_cast<int>(records_.size()); }
  const std::deque<LogRecord>& Records() const { return records_; }
  void Clear();
  // Deletes the oldest min(n, count) records.
  void RemoveFirst(int n);

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

 private:
  int DecodeRecords(KT_RecordReader* in);

  std::deque<LogRecord> records_;
  size_t cursor_ = 0;
};
