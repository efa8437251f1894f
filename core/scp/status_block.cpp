#include "core/scp/status_block.h"

#include <new>

#include "platform/clock.h"

namespace {

// Function codes of the block's error records (class 3).
enum : int32_t {
  FN_SET_ALARM = 1,
  FN_CLEAR_ALARM = 2,
  FN_IS_ALARM_SET = 3,
  FN_GET_ALARM_TIME = 4,
  FN_CONVERT = 5,
  FN_STORE_DETAIL = 6,
};

// ConvertField failure codes (function 5).
enum : int32_t {
  CONVERT_BAD_FIELD_2 = 1,
  CONVERT_NO_MEMORY_2 = 2,
  CONVERT_NO_MEMORY_3 = 3,
  CONVERT_BAD_FIELD_3 = 4,
  CONVERT_BAD_BRANCH = 5,
};

const char* const kAlarmTexts[kAlarmCount] = {
    "Bad Battery Detected.",
    "UPS On Battery",
    "Low Battery Alarm",
    "UPS Malfunction detected",
    "Input parameters out of range",
    "Output Overload",
    "UPS On Bypass",
    "Lost communication with UPS",
    "Software Error Detected",
    "Tremona started",
    "Tremona stopped by user",
    "Configuration was changed by Tolmer",
    "Shutdown due to prolonged outage",
    "Scheduled shutdown",
    "Low Battery Shutdown",
    "remote shutdown by Tolmer",
    "Lost comm with daemon",
    "Battery Test in progress",
    "UPS is BUCKING YOU",
    "UPS IS BOOSTING YOU",
    "IDLE MODE STATE",
    "REMOTE MASTER STATE",
    "DETERMINING UPS TYPE",
    "SYSTEM NORMAL STATE",
    "PASSWORD FOR NET CLIENT INCORRECT",
};

// Stores a detail record; -1 when the bytes cannot be copied.
int StoreDetail(KT_ErrorStatus& status, AlarmDetail& detail, int length, const uint8_t* bytes, int code) {
  if (length < 0 || length > 255) {
    status.LogError(ERR_STATUS_BLOCK, FN_STORE_DETAIL, 2, length);
    return -1;
  }
  std::vector<uint8_t> copy;
  try {
    if (bytes != nullptr && length > 0) copy.assign(bytes, bytes + length);
  } catch (const std::bad_alloc&) {
    status.LogError(ERR_STATUS_BLOCK, FN_STORE_DETAIL, 1, GetSocketError());
    return -1;
  }
  detail.code = static_cast<uint8_t>(code);
  detail.bytes = std::move(copy);
  detail.time = platform::Now();
  return 0;
}

}  // namespace

const char* GetAlarmText(int code) {
  if (code < 0 || code >= kAlarmCount) return "Unknown Error";
  return kAlarmTexts[code];
}

StatusBlock::StatusBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 2);
  branches_.AddBranch(2, 1);
  branches_.AddBranch(3, 1);
  SetRefreshPeriod(2);
  Reset();
}

void StatusBlock::Reset() {
  for (int i = 0; i < kAlarmCount; ++i) alarms_[i] = AlarmEntry{0, static_cast<uint8_t>(i), 0};
  software_error_ = AlarmDetail{};
  malfunction_ = AlarmDetail{};
  cursor_ = 0;
  count_ = 0;
  branches_.SetFieldState(0, 0, FIELD_UNCHANGED);
  branches_.SetFieldState(1, 0, FIELD_UNCHANGED);
}

bool StatusBlock::InRange(int code, int function) {
  if (code >= 0 && code < kAlarmCount) return true;
  LogError(ERR_STATUS_BLOCK, function, 1, code);
  return false;
}

void StatusBlock::MarkAlarmSetChanged() {
  branches_.SetFieldState(1, 1, FIELD_CHANGED);
  branches_.SetFieldState(1, 2, FIELD_CHANGED);
}

int StatusBlock::SetAlarm(int code) {
  if (!InRange(code, FN_SET_ALARM)) return -1;
  AlarmEntry& e = alarms_[code];
  if (e.active) return 0;
  e.active = 1;
  e.time = platform::Now();
  ++count_;
  MarkAlarmSetChanged();
  branches_.Touch(1);
  branches_.Touch(0);
  return 0;
}

int StatusBlock::ClearAlarm(int code) {
  if (!InRange(code, FN_CLEAR_ALARM)) return -1;
  AlarmEntry& e = alarms_[code];
  if (!e.active) return 0;
  e.active = 0;
  e.time = platform::Now();
  --count_;
  MarkAlarmSetChanged();
  return 0;
}

int StatusBlock::ClearAllAlarms() {
  for (int i = 0; i < kAlarmCount; ++i) {
    if (ClearAlarm(i) < 0) return -1;
  }
  return 0;
}

int StatusBlock::ClearUpsAlarms() {
  for (int i = 0; i <= kLastUpsAlarm; ++i) {
    if (ClearAlarm(i) < 0) return -1;
  }
  return 0;
}

int StatusBlock::IsAlarmSet(int code) {
  if (!InRange(code, FN_IS_ALARM_SET)) return -1;
  return alarms_[code].active ? 1 : 0;
}

int64_t StatusBlock::GetAlarmTime(int code) {
  if (!InRange(code, FN_GET_ALARM_TIME)) return -1;
  return alarms_[code].time;
}

int StatusBlock::GetNextAlarm(AlarmEntry& entry) {
  while (cursor_ < kAlarmCount) {
    const AlarmEntry& e = alarms_[cursor_++];
    if (e.active) {
      entry = e;
      return 1;
    }
  }
  cursor_ = kAlarmCount;
  return 0;
}

int StatusBlock::SetSoftwareErrorDetail(int length, const uint8_t* bytes, int code) {
  if (!alarms_[ALARM_SOFTWARE_ERROR].active) return 0;
  return StoreDetail(*this, software_error_, length, bytes, code);
}

int StatusBlock::SetMalfunctionDetail(int length, const uint8_t* bytes, int code) {
  if (!alarms_[ALARM_UPS_MALFUNCTION].active) return 0;
  return StoreDetail(*this, malfunction_, length, bytes, code);
}

int StatusBlock::GetSoftwareErrorDetail(AlarmDetail& out) const {
  if (!alarms_[ALARM_SOFTWARE_ERROR].active || software_error_.time == 0) return 0;
  out = software_error_;
  return 1;
}

int StatusBlock::GetMalfunctionDetail(AlarmDetail& out) const {
  if (!alarms_[ALARM_UPS_MALFUNCTION].active || malfunction_.time == 0) return 0;
  out = malfunction_;
  return 1;
}

int StatusBlock::GetRoute(int branch) {
  if (branches_.GetFieldCount(branch) < 0) {
    LogError(ERR_STATUS_BLOCK, FN_CONVERT, CONVERT_BAD_BRANCH, branch);
    return ROUTE_REFUSED;
  }
  return ROUTE_UPS;
}

int StatusBlock::ConvertAlarmList(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    // The count written is the number of codes that follow, so a reader always finds them.
    std::vector<uint8_t> codes;
    for (const AlarmEntry& e : alarms_) {
      if (e.active) codes.push_back(e.code);
    }
    if (out->Put8(static_cast<uint32_t>(codes.size())) < 0) return -1;
    if (codes.empty()) return out->Put8(0);
    return out->PutBytes(codes.data(), codes.size());
  }
  if (in == nullptr) return -1;
  uint8_t n = 0;
  std::vector<uint8_t> codes;
  if (in->Get8(n) < 0 || in->GetBytes(codes, n) < 0) return -1;
  // An empty set carries its count twice; take the second zero too, so that the fields after
  // it (the detail branches of a whole block) are read from where the writer put them.
  if (n == 0 && !in->AtEnd()) {
    uint8_t second = 0;
    in->Get8(second);
  }
  bool listed[kAlarmCount] = {};
  for (uint8_t c : codes) {
    if (SetAlarm(c) == 0) listed[c] = true;  // a code outside 0..24 is refused by SetAlarm
  }
  for (int i = 0; i < kAlarmCount; ++i) {
    if (!listed[i]) ClearAlarm(i);
  }
  // The count follows the table (it equals n for a list of distinct valid codes).
  return 1;
}

int StatusBlock::ConvertDetail(AlarmDetail& detail, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    if (out->Put8(detail.code) < 0 || out->Put32(static_cast<uint32_t>(detail.time)) < 0 ||
        out->Put8(static_cast<uint32_t>(detail.bytes.size())) < 0) {
      return -1;
    }
    return out->PutBytes(detail.bytes.data(), detail.bytes.size());
  }
  if (in == nullptr) return -1;
  uint8_t code = 0;
  uint32_t time = 0;
  uint8_t length = 0;
  std::vector<uint8_t> bytes;
  if (in->Get8(code) < 0 || in->Get32(time) < 0 || in->Get8(length) < 0 || in->GetBytes(bytes, length) < 0) {
    return -1;
  }
  detail.code = code;
  detail.time = time;
  detail.bytes = std::move(bytes);
  return 1;
}

int StatusBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  int result = 0;
  switch (branch) {
    case 1:
      if (field == 1) {
        if (direction == CONVERT_ENCODE) {
          result = out != nullptr ? out->Put8(count_) : -1;
        } else {
          // The count is read but not stored: it always follows the alarm table, so that a
          // count without its codes cannot make the block describe alarms it does not hold.
          uint8_t n = 0;
          result = in != nullptr ? in->Get8(n) : -1;
        }
      } else if (field == 2) {
        result = ConvertAlarmList(direction, out, in);
      } else {
        return 0;  // no such field: nothing converted
      }
      break;
    case 2:
      if (field != 1) {
        LogError(ERR_STATUS_BLOCK, FN_CONVERT, CONVERT_BAD_FIELD_2, field);
        return -1;
      }
      result = ConvertDetail(software_error_, direction, out, in);
      break;
    case 3:
      if (field != 1) {
        LogError(ERR_STATUS_BLOCK, FN_CONVERT, CONVERT_BAD_FIELD_3, field);
        return -1;
      }
      result = ConvertDetail(malfunction_, direction, out, in);
      break;
    default:
      LogError(ERR_STATUS_BLOCK, FN_CONVERT, CONVERT_BAD_BRANCH, branch);
      return -1;
  }
  if (result >= 0 && direction == CONVERT_DECODE) {
    branches_.Touch(branch);
    branches_.Touch(0);
  }
  return result;
}
