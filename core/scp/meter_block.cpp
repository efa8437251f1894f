#include "core/scp/meter_block.h"

#include <algorithm>

#include "core/base/peer_version.h"

namespace {

// ConvertField with a branch outside 1..5 (class 10).
constexpr int32_t FN_CONVERT = 9;

// The largest percentage a byte can hold; 255 means unknown.
constexpr int64_t kMaxPercent = 254;

// A peer newer than 0.36.
bool IsNew(const PeerSoftwareVersion& v) { return v.second != 0 || v.third >= 37; }
// A peer of 1.1 or above.
bool IsAtLeast11(const PeerSoftwareVersion& v) { return v.second > 1 || (v.second == 1 && v.third >= 1); }

// A 32-bit value that narrow peers carry in 2 bytes.
int ConvertWideOr16(int32_t& value, bool wide, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  if (wide) return io.I32(value);
  if (io.Encoding()) return out != nullptr ? out->Put16(static_cast<uint32_t>(value) & 0xFFFF) : -1;
  uint16_t v = 0;
  if (in == nullptr || in->Get16(v) < 0) return -1;
  if (v != 0xFFFF) value = v;
  return 1;
}

// A 16-bit value that narrow peers carry in 1 byte.
int ConvertWordOr8(uint16_t& value, bool wide, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  if (wide) return io.U16(value);
  if (io.Encoding()) return out != nullptr ? out->Put8(value & 0xFF) : -1;
  uint8_t v = 0;
  if (in == nullptr || in->Get8(v) < 0) return -1;
  if (v != 0xFF) value = v;
  return 1;
}

}  // namespace

MeterBlock::MeterBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 11);
  branches_.AddBranch(2, 4);
  branches_.AddBranch(3, 4);
  branches_.AddBranch(4, 4);
  branches_.AddBranch(5, 12);
  SetRefreshPeriod(kRefreshNever);
  Reset();
}

void MeterBlock::Reset() {
  va_percent_ = percent_load_ = watt_percent_ = 255;
  output_va_ = output_watts_ = -1;
  battery_voltage_ = battery_time_ = input_frequency_ = output_frequency_ = 0xFFFF;
  battery_capacity_ = temperature_ = 255;
  for (int p = 0; p < 3; ++p) {
    input_voltage_[p] = output_voltage_[p] = input_current_[p] = output_current_[p] = 0xFFFF;
  }
  auxiliary_ = dc_link_voltage_ = inverter_frequency_ = bypass_frequency_ = 0xFFFF;
  battery_voltage_pos_ = battery_voltage_neg_ = 0xFFFF;
  battery_current_ = battery_current_pos_ = battery_current_neg_ = kUnknownCurrent;
  dc_voltage_pos_ = dc_voltage_neg_ = bypass_voltage_ = 0xFFFF;
  for (int b = 0; b <= 5; ++b) branches_.SetFieldState(b, 0, FIELD_UNCHANGED);
}

void MeterBlock::SetWord(uint16_t& slot, int v, int branch, int field) {
  slot = v >= 0 && v <= 0xFFFF ? static_cast<uint16_t>(v) : 0xFFFF;
  branches_.SetFieldState(branch, field, FIELD_CHANGED);
}

void MeterBlock::SetByte(uint8_t& slot, int v, int branch, int field) {
  slot = v >= 0 && v <= 0xFF ? static_cast<uint8_t>(v) : 0xFF;
  branches_.SetFieldState(branch, field, FIELD_CHANGED);
}

void MeterBlock::SetLoadVARating(int va) {
  if (va >= 0) va_rating_ = static_cast<uint32_t>(va / 10);
}

void MeterBlock::SetLoadWattRating(int w) {
  if (w >= 0) watt_rating_ = static_cast<uint32_t>(w / 10);
}

void MeterBlock::SetOutput(int value, uint32_t rating, int32_t& output, uint8_t& percent, int field,
                           int percentField) {
  if (value == 0) {
    output = 0;
    percent = 0;
  } else if (value < 0) {
    output = -1;
    percent = 255;
  } else {
    output = value / 10;
    if (rating != 0xFFFFFFFF && rating != 0) {
      // Multiply first, so that a load below the rating does not truncate to 0.
      const int64_t p = static_cast<int64_t>(output) * 100 / static_cast<int64_t>(rating);
      percent = static_cast<uint8_t>(std::min(p, kMaxPercent));
    }
  }
  branches_.SetFieldState(1, field, FIELD_CHANGED);
  branches_.SetFieldState(1, percentField, FIELD_CHANGED);
}

void MeterBlock::SetOutputVA(int va) { SetOutput(va, va_rating_, output_va_, va_percent_, 2, 1); }
void MeterBlock::SetOutputWatts(int w) { SetOutput(w, watt_rating_, output_watts_, watt_percent_, 9, 10); }

void MeterBlock::SetBatteryVoltage(int v) { SetWord(battery_voltage_, v, 1, 4); }
void MeterBlock::SetBatteryCapacity(int v) { SetByte(battery_capacity_, v, 1, 5); }
void MeterBlock::SetBatteryTime(int v) { SetWord(battery_time_, v, 1, 6); }
void MeterBlock::SetInputFrequency(int v) { SetWord(input_frequency_, v, 1, 7); }
void MeterBlock::SetOutputFrequency(int v) { SetWord(output_frequency_, v, 1, 8); }
void MeterBlock::SetTemperature(int v) { SetByte(temperature_, v, 1, 11); }

void MeterBlock::SetInputVoltage(int phase, int v) {
  if (phase >= 0 && phase <= 2) SetWord(input_voltage_[phase], v, phase + 2, 1);
}
void MeterBlock::SetOutputVoltage(int phase, int v) {
  if (phase >= 0 && phase <= 2) SetWord(output_voltage_[phase], v, phase + 2, 2);
}
void MeterBlock::SetInputCurrent(int phase, int v) {
  if (phase >= 0 && phase <= 2) SetWord(input_current_[phase], v, phase + 2, 3);
}
void MeterBlock::SetOutputCurrent(int phase, int v) {
  if (phase >= 0 && phase <= 2) SetWord(output_current_[phase], v, phase + 2, 4);
}

void MeterBlock::SetBatteryVoltagePositive(int v) { SetWord(battery_voltage_pos_, v, 5, 1); }
void MeterBlock::SetBatteryVoltageNegative(int v) { SetWord(battery_voltage_neg_, v, 5, 2); }
void MeterBlock::SetBatteryCurrent(int32_t v) {
  battery_current_ = v;
  branches_.SetFieldState(5, 3, FIELD_CHANGED);
}
void MeterBlock::SetBatteryCurrentPositive(int32_t v) {
  battery_current_pos_ = v;
  branches_.SetFieldState(5, 4, FIELD_CHANGED);
}
void MeterBlock::SetBatteryCurrentNegative(int32_t v) {
  battery_current_neg_ = v;
  branches_.SetFieldState(5, 5, FIELD_CHANGED);
}
void MeterBlock::SetDCVoltagePositive(int v) { SetWord(dc_voltage_pos_, v, 5, 6); }
void MeterBlock::SetDCVoltageNegative(int v) { SetWord(dc_voltage_neg_, v, 5, 7); }
void MeterBlock::SetBypassVoltage(int v) { SetWord(bypass_voltage_, v, 5, 8); }
void MeterBlock::SetInverterFrequency(int v) { SetWord(inverter_frequency_, v, 5, 9); }
void MeterBlock::SetBypassFrequency(int v) { SetWord(bypass_frequency_, v, 5, 10); }
void MeterBlock::SetDCLinkVoltage(int v) { SetWord(dc_link_voltage_, v, 5, 11); }

int MeterBlock::GetPercentLoad(int kind) {
  switch (kind) {
    case PERCENT_LOAD_WATTS:
      return watt_percent_;
    case PERCENT_LOAD_VA:
      return va_percent_;
    case PERCENT_LOAD_COMPUTE: {
      // An unknown percentage (255) must not win over a known one.
      uint8_t p = 255;
      if (watt_percent_ != 255) p = watt_percent_;
      if (va_percent_ != 255 && (p == 255 || va_percent_ > p)) p = va_percent_;
      if (p != percent_load_) {
        percent_load_ = p;
        branches_.SetFieldState(1, 3, FIELD_CHANGED);
      }
      return percent_load_;
    }
    default:
      return percent_load_;
  }
}

int MeterBlock::GetRoute(int branch) {
  if (branches_.GetFieldCount(branch) < 0) {
    LogError(ERR_UPS_INFO_BLOCK, FN_CONVERT, 1, branch);
    return ROUTE_REFUSED;
  }
  return ROUTE_AGENT;
}

int MeterBlock::ConvertMain(int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  const PeerSoftwareVersion peer = GetPeerSoftwareVersion();
  const bool wide = IsNew(peer);
  switch (field) {
    case 1: return io.U8(va_percent_);
    case 2: return ConvertWideOr16(output_va_, wide, direction, out, in);
    case 3: return io.U8(percent_load_);
    case 4: return ConvertWordOr8(battery_voltage_, IsAtLeast11(peer), direction, out, in);
    case 5: return io.U8(battery_capacity_);
    case 6: return io.U16(battery_time_);
    case 7: return ConvertWordOr8(input_frequency_, wide, direction, out, in);
    case 8: return ConvertWordOr8(output_frequency_, wide, direction, out, in);
    case 9: return ConvertWideOr16(output_watts_, wide, direction, out, in);
    case 10: return io.U8(watt_percent_);
    case 11: return io.U8(temperature_);
    default: return 0;  // no such field: nothing converted
  }
}

int MeterBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  int result = 0;
  switch (branch) {
    case 1:
      result = ConvertMain(field, direction, out, in);
      break;
    case 2:
    case 3:
    case 4: {
      const int p = branch - 2;
      switch (field) {
        case 1: result = io.U16(input_voltage_[p]); break;
        case 2: result = io.U16(output_voltage_[p]); break;
        case 3: result = io.U16(input_current_[p]); break;
        case 4: result = io.U16(output_current_[p]); break;
        default: return 0;
      }
      break;
    }
    case 5:
      // Only peers whose second version number is 1 know the extended meters.
      if (GetPeerSoftwareVersion().second != 1) return 0;
      switch (field) {
        case 1: result = io.U16(battery_voltage_pos_); break;
        case 2: result = io.U16(battery_voltage_neg_); break;
        case 3: result = io.I32(battery_current_); break;
        case 4: result = io.I32(battery_current_pos_); break;
        case 5: result = io.I32(battery_current_neg_); break;
        case 6: result = io.U16(dc_voltage_pos_); break;
        case 7: result = io.U16(dc_voltage_neg_); break;
        case 8: result = io.U16(bypass_voltage_); break;
        case 9: result = io.U16(inverter_frequency_); break;
        case 10: result = io.U16(bypass_frequency_); break;
        case 11: result = io.U16(dc_link_voltage_); break;
        case 12: result = io.U16(auxiliary_); break;
        default: return 0;
      }
      break;
    default:
      LogError(ERR_UPS_INFO_BLOCK, FN_CONVERT, 1, branch);
      return -1;
  }
  if (result > 0 && direction == CONVERT_DECODE) {
    branches_.Touch(branch);
    branches_.Touch(0);
  }
  return result;
}
