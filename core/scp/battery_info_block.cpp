#include "core/scp/battery_info_block.h"

#include <cstring>

#include "platform/clock.h"

namespace {

// Sums saturate instead of wrapping round to a small count.
uint32_t SaturatingAdd(uint32_t a, uint32_t b) { return a > UINT32_MAX - b ? UINT32_MAX : a + b; }

// A moment as the record keeps it: unsigned seconds since 1970, -1 for all ones (no time).
bool ToRecord(int64_t t, uint32_t& out) {
  if (t < -1 || t > static_cast<int64_t>(UINT32_MAX)) return false;
  out = static_cast<uint32_t>(t);
  return true;
}
uint32_t RecordNow() { return static_cast<uint32_t>(platform::Now()); }

}  // namespace

BatteryInfoBlock::BatteryInfoBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 7);
  SetRefreshPeriod(kRefreshNever);
  Reset();
}

int BatteryInfoBlock::Refuse(int32_t function, int32_t code, int32_t value) {
  LogError(ERR_BATTERY_INFO_BLOCK, function, code, value);
  return -1;
}

void BatteryInfoBlock::Reset() {
  replaced_date_.reset();
  reset_time_ = RecordNow();
  outages_ = 0;
  on_battery_ = 0;
  average_ = 0;
  low_battery_ = 0;
  last_low_battery_ = 0;
  branches_.SetFieldState(0, 0, FIELD_UNCHANGED);
  branches_.SetFieldState(1, 0, FIELD_UNCHANGED);
}

int BatteryInfoBlock::GetRoute(int branch) {
  if (branch == 0 || branch == 1) return ROUTE_AGENT;
  return Refuse(FN_GET_ROUTE, 1, branch);
}

int BatteryInfoBlock::SetResetTime(int64_t t) {
  if (!ToRecord(t, reset_time_)) return Refuse(FN_SET_RESET_TIME, 1, static_cast<int32_t>(t));
  Changed(1);
  return 1;
}

int BatteryInfoBlock::AddOutageCount(int n) {
  if (n < 0 || n > 65535) return Refuse(FN_ADD_OUTAGES, 1, n);
  outages_ = SaturatingAdd(outages_, static_cast<uint32_t>(n));
  Changed(2);
  UpdateAverage();
  return 1;
}

int BatteryInfoBlock::SetOutageCount(int64_t n) {
  if (n < 0 || n > static_cast<int64_t>(UINT32_MAX)) return Refuse(FN_SET_OUTAGES, 1, static_cast<int32_t>(n));
  outages_ = static_cast<uint32_t>(n);
  Changed(2);
  UpdateAverage();
  return 1;
}

int BatteryInfoBlock::AddOnBatterySeconds(int64_t s) {
  if (s < 0 || s > 65535) return Refuse(FN_ADD_ON_BATTERY, 1, static_cast<int32_t>(s));
  on_battery_ = SaturatingAdd(on_battery_, static_cast<uint32_t>(s));
  Changed(3);
  UpdateAverage();
  return 1;
}

int BatteryInfoBlock::SetOnBatterySeconds(int64_t s) {
  if (s < 0 || s > 65535) return Refuse(FN_SET_ON_BATTERY, 1, static_cast<int32_t>(s));
  on_battery_ = static_cast<uint32_t>(s);
  Changed(3);
  UpdateAverage();
  return 1;
}

int BatteryInfoBlock::SetAverageSeconds(int64_t s) {
  if (s < 0 || s > 65535) return Refuse(FN_SET_AVERAGE, 1, static_cast<int32_t>(s));
  average_ = static_cast<uint32_t>(s);
  Changed(4);
  return 1;
}

int BatteryInfoBlock::AddLowBatteryWarnings(int n) {
  if (n < 0 || n > 65535) return Refuse(FN_ADD_LOW_BATTERY, 1, n);
  low_battery_ = SaturatingAdd(low_battery_, static_cast<uint32_t>(n));
  last_low_battery_ = RecordNow();
  Changed(5);
  return 1;
}

int BatteryInfoBlock::SetLowBatteryWarnings(int n) {
  if (n < 0 || n > 65535) return Refuse(FN_SET_LOW_BATTERY, 1, n);
  low_battery_ = static_cast<uint32_t>(n);
  last_low_battery_ = 0;
  Changed(5);
  return 1;
}

int BatteryInfoBlock::SetLastLowBatteryWarning(int64_t t) {
  if (!ToRecord(t, last_low_battery_)) return Refuse(FN_SET_LAST_LOW_BATTERY, 1, static_cast<int32_t>(t));
  Changed(6);
  return 1;
}

int BatteryInfoBlock::SetReplacedDate(const char* text) {
  if (text == nullptr) return Refuse(FN_SET_REPLACED, 1, 0);
  // A text the record cannot count would make the whole block unwritable.
  const size_t length = std::strlen(text);
  if (length > kRecordMaxText) return Refuse(FN_SET_REPLACED, 2, static_cast<int32_t>(length));
  replaced_date_ = std::string(text);
  Changed(7);
  return 0;
}

void BatteryInfoBlock::UpdateAverage() {
  average_ = outages_ == 0 ? 0 : on_battery_ / outages_;
  Changed(4);
}

int BatteryInfoBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out,
                                   KT_RecordReader* in) {
  if (branch != 1) return Refuse(FN_CONVERT, 2, branch);
  KT_FieldIO io(direction, out, in);
  switch (field) {
    case 1: return io.U32(reset_time_);
    case 2: return io.U32(outages_);
    case 3: return io.U32(on_battery_);
    case 4: return io.U32(average_);
    case 5: return io.U32(low_battery_);
    case 6: return io.U32(last_low_battery_);
    case 7: return io.Text(replaced_date_);
    default: return Refuse(FN_CONVERT, 1, field);
  }
}
