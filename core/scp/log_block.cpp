#include "core/scp/log_block.h"

#include <algorithm>
#include <new>
#include <set>
#include <utility>

namespace {

// ConvertField (class 27, function 1): codes.
constexpr int32_t FN_CONVERT = 1;
constexpr int32_t BAD_FIELD = 1;
constexpr int32_t BAD_BRANCH = 2;
constexpr int32_t TOO_MANY_RECORDS = 3;

// Bytes of a record without its data: time and length.
constexpr size_t kRecordHeader = 5;

}  // namespace

LogBlock::LogBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 2);
  SetRefreshPeriod(kRefreshNever);
}

bool LogBlock::AddRecord(uint32_t time, int length, const uint8_t* data) {
  if (length < 0 || length > kLogRecordMaxData || (data == nullptr && length > 0)) return false;
  if (records_.size() >= static_cast<size_t>(kLogMaxRecords)) return false;
  LogRecord record;
  record.time = time;
  try {
    if (length > 0) record.data.assign(data, data + length);
    for (const LogRecord& r : records_) {
      if (r == record) return false;
    }
    records_.push_back(std::move(record));
  } catch (const std::bad_alloc&) {
    return false;
  }
  branches_.Touch(1);
  branches_.Touch(0);
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  branches_.SetFieldState(1, 2, FIELD_CHANGED);
  return true;
}

bool LogBlock::RemoveRecord(uint32_t time, int length, const uint8_t* data) {
  if (length < 0 || (data == nullptr && length > 0)) return false;
  for (size_t i = 0; i < records_.size(); ++i) {
    const LogRecord& r = records_[i];
    if (r.time == time && r.Length() == length && (length == 0 || std::equal(r.data.begin(), r.data.end(), data))) {
      records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i));
      if (cursor_ > i) --cursor_;
      return true;
    }
  }
  return false;
}

bool LogBlock::GetNextRecord(LogRecord& record) {
  if (cursor_ >= records_.size()) return false;
  record = records_[cursor_++];
  return true;
}

bool LogBlock::GetNextRecord(uint32_t& time, int& length, std::vector<uint8_t>& data) {
  if (cursor_ >= records_.size()) return false;
  const LogRecord& r = records_[cursor_++];
  time = r.time;
  length = r.Length();
  data = r.data;
  return true;
}

void LogBlock::Clear() {
  records_.clear();
  cursor_ = 0;
}

void LogBlock::RemoveFirst(int n) {
  if (n <= 0) return;
  const size_t k = std::min(static_cast<size_t>(n), records_.size());
  records_.erase(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(k));
  cursor_ = cursor_ > k ? cursor_ - k : 0;
}

int LogBlock::GetRoute(int branch) {
  if (branches_.GetFieldCount(branch) < 0) {
    LogError(ERR_LOG_BLOCK, FN_CONVERT, BAD_BRANCH, branch);
    return ROUTE_REFUSED;
  }
  return ROUTE_AGENT;
}

int LogBlock::DecodeRecords(KT_RecordReader* in) {
  uint16_t n = 0;
  if (in->Get16(n) < 0) return -1;
  // Every record takes at least its header: a count the data cannot hold is refused before
  // anything is allocated.
  if (static_cast<size_t>(n) * kRecordHeader > in->Remaining()) return -1;
  std::vector<LogRecord> received;
  try {
    received.reserve(n);
    for (int i = 0; i < n; ++i) {
      LogRecord r;
      uint8_t length = 0;
      if (in->Get32(r.time) < 0 || in->Get8(length) < 0 || in->GetBytes(r.data, length) < 0) return -1;
      received.push_back(std::move(r));
    }
    // The list is replaced only once the whole list was read; equal records collapse.
    Clear();
    std::set<LogRecord> seen;
    for (LogRecord& r : received) {
      if (!seen.insert(r).second) continue;
      records_.push_back(std::move(r));
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (!records_.empty()) {
    branches_.SetFieldState(1, 1, FIELD_CHANGED);
    branches_.SetFieldState(1, 2, FIELD_CHANGED);
  }
  return 1;
}

int LogBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (branch != 1) {
    LogError(ERR_LOG_BLOCK, FN_CONVERT, BAD_BRANCH, branch);
    return -1;
  }
  if (field != 1 && field != 2) {
    LogError(ERR_LOG_BLOCK, FN_CONVERT, BAD_FIELD, field);
    return -1;
  }
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    if (records_.size() > static_cast<size_t>(kLogMaxRecords)) {
      LogError(ERR_LOG_BLOCK, FN_CONVERT, TOO_MANY_RECORDS, static_cast<int32_t>(records_.size()));
      return -1;
    }
    const auto n = static_cast<uint32_t>(records_.size());
    if (out->Put16(n) < 0) return -1;
    if (field == 1) return 1;
    for (const LogRecord& r : records_) {
      if (out->Put32(r.time) < 0 || out->Put8(static_cast<uint32_t>(r.data.size())) < 0 ||
          out->PutBytes(r.data.data(), r.data.size()) < 0) {
        return -1;
      }
    }
    return 1;
  }
  if (in == nullptr) return -1;
  int result;
  if (field == 1) {
    uint16_t dropped = 0;
    result = in->Get16(dropped);
  } else {
    result = DecodeRecords(in);
  }
  if (result >= 0) {
    branches_.Touch(1);
    branches_.Touch(0);
  }
  return result;
}
