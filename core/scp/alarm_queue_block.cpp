#include "core/scp/alarm_queue_block.h"

#include <new>
#include <vector>

namespace {

// ConvertField (class 35, function 1): codes.
constexpr int32_t FN_CONVERT = 1;
constexpr int32_t BAD_FIELD = 1;
constexpr int32_t BAD_BRANCH = 2;

// Bytes of one entry in the record form.
constexpr size_t kEntryBytes = 6;

}  // namespace

AlarmQueueBlock::AlarmQueueBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 2);
  SetRefreshPeriod(kRefreshPeriod);
}

int AlarmQueueBlock::Add(int code, uint32_t time, int flag) {
  if (entries_.size() >= static_cast<size_t>(kMaxEntries)) return 0;
  try {
    entries_.push_back(AlarmQueueEntry{static_cast<uint8_t>(code), time, static_cast<uint8_t>(flag)});
  } catch (const std::bad_alloc&) {
    return 0;
  }
  branches_.Touch(1);
  branches_.Touch(0);
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  branches_.SetFieldState(1, 2, FIELD_CHANGED);
  return 1;
}

int AlarmQueueBlock::Remove(int code, uint32_t time, int flag) {
  const AlarmQueueEntry wanted{static_cast<uint8_t>(code), time, static_cast<uint8_t>(flag)};
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i] == wanted) {
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
      if (cursor_ > i) --cursor_;
      return 1;
    }
  }
  return 0;
}

bool AlarmQueueBlock::GetNextEntry(uint8_t& code, uint32_t& time, uint8_t& flag) {
  if (cursor_ >= entries_.size()) return false;
  const AlarmQueueEntry& e = entries_[cursor_++];
  code = e.code;
  time = e.time;
  flag = e.flag;
  return true;
}

void AlarmQueueBlock::Clear() {
  entries_.clear();
  cursor_ = 0;
  branches_.SetFieldState(0, 0, FIELD_UNCHANGED);
  branches_.SetFieldState(1, 0, FIELD_UNCHANGED);
}

int AlarmQueueBlock::GetRoute(int branch) {
  if (branches_.GetFieldCount(branch) < 0) {
    LogError(ERR_ALARM_QUEUE_BLOCK, FN_CONVERT, BAD_BRANCH, branch);
    return ROUTE_REFUSED;
  }
  return ROUTE_UPS;
}

int AlarmQueueBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (branch != 1) {
    LogError(ERR_ALARM_QUEUE_BLOCK, FN_CONVERT, BAD_BRANCH, branch);
    return -1;
  }
  if (field != 1 && field != 2) {
    LogError(ERR_ALARM_QUEUE_BLOCK, FN_CONVERT, BAD_FIELD, field);
    return -1;
  }
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    if (out->Put16(static_cast<uint32_t>(entries_.size())) < 0) return -1;
    if (field == 1) return 1;
    for (const AlarmQueueEntry& e : entries_) {
      if (out->Put8(e.code) < 0 || out->Put32(e.time) < 0 || out->Put8(e.flag) < 0) return -1;
    }
    return 1;
  }
  if (in == nullptr) return -1;
  uint16_t n = 0;
  if (in->Get16(n) < 0) return -1;
  if (field == 2) {
    // The whole list is read before the old one is replaced; a count that the data cannot
    // hold is refused before anything is allocated.
    if (static_cast<size_t>(n) * kEntryBytes > in->Remaining()) return -1;
    std::deque<AlarmQueueEntry> received;
    try {
      for (int i = 0; i < n; ++i) {
        AlarmQueueEntry e;
        if (in->Get8(e.code) < 0 || in->Get32(e.time) < 0 || in->Get8(e.flag) < 0) return -1;
        received.push_back(e);
      }
    } catch (const std::bad_alloc&) {
      return -1;
    }
    entries_ = std::move(received);
    cursor_ = 0;
    branches_.SetFieldState(1, 1, FIELD_CHANGED);
    branches_.SetFieldState(1, 2, FIELD_CHANGED);
  }
  branches_.Touch(1);
  branches_.Touch(0);
  return 1;
}
