// SCP block 3: the UPS's measured values (load, battery, frequencies, temperature, per-phase
// voltages and currents, and an extended set of battery and DC values). The UPS drivers store
// readings through the setters; the consoles' meter panels read it through GETs. Never stored
// in a record file.
//
// Record form (numbers big-endian). "New" peers (second version number not 0, or third 37 or
// more, see core/base/peer_version.h) and peers of 1.1 or above get wider fields:
//   1  1 VA percent (1)  2 output VA / 10 (4 new, else 2)  3 percent load (1)
//      4 battery voltage (2 from 1.1 on, else 1)  5 battery capacity (1)  6 battery time (2)
//      7 input frequency  8 output frequency (2 new, else 1 each)  9 output watts / 10 (as 2)
//      10 watt percent (1)  11 temperature (1)
//   2, 3, 4  phase 1, 2, 3: input voltage, output voltage, input current, output current (2 each)
//   5  (only when the peer's second number is exactly 1; otherwise nothing is converted)
//      1, 2 battery voltage +/- (2)  3, 4, 5 battery current, +, - (4)  6, 7 DC voltage +/-,
//      8 bypass voltage (2)  9 inverter frequency  10 bypass frequency  11 DC link voltage
//      12 auxiliary value (2 each)
// A narrow field's reader leaves the stored value as it is when it reads the all-ones value.
//
// Route of every branch: the agent side. Refresh period: never.
#pragma once

#include <cstdint>

#include "core/scp/block.h"

// Kinds of GetPercentLoad.
enum PercentLoadKind : int {
  PERCENT_LOAD_COMPUTE = 0,  // the larger of the two, stored as the percent load
  PERCENT_LOAD_WATTS = 1,
  PERCENT_LOAD_VA = 2,
};

// The unknown value of a signed current.
inline constexpr int32_t kUnknownCurrent = 0x7FFFFFFF;

class MeterBlock : public KT_Block {
 public:
  MeterBlock();

  // Every meter back to its unknown value (the load ratings stay), change states of branches
  // 0..5 back to 0.
  void Reset();

  // The load ratings: stored divided by 10; -1 (or any negative value) leaves the rating as it is.
  void SetLoadVARating(int va);
  void SetLoadWattRating(int w);
  // 0 stores 0 output and 0 percent. Otherwise the output is stored divided by 10 and, when
  // the rating is known, the percent of the rating (above 254 stored as 254; 255 is unknown).
  // A negative output is unknown: -1 stored, percent 255.
  void SetOutputVA(int va);
  void SetOutputWatts(int w);

  // 16-bit meters: a value outside 0..65535 stores 0xffff (unknown).
  void SetBatteryTime(int v);
  void SetBatteryVoltage(int v);
  void SetInputFrequency(int v);
  void SetOutputFrequency(int v);
  void SetInverterFrequency(int v);
  void SetBypassFrequency(int v);
  void SetDCLinkVoltage(int v);
  void SetBatteryVoltagePositive(int v);
  void SetBatteryVoltageNegative(int v);
  void SetDCVoltagePositive(int v);
  void SetDCVoltageNegative(int v);
  void SetBypassVoltage(int v);
  // Byte meters: a value outside 0..255 stores 255.
  void SetBatteryCapacity(int v);
  void SetTemperature(int v);
  // Currents as given (0x7fffffff unknown).
  void SetBatteryCurrent(int32_t v);
  void SetBatteryCurrentPositive(int32_t v);
  void SetBatteryCurrentNegative(int32_t v);
  // Phase 0..2; another phase changes nothing.
  void SetInputVoltage(int phase, int v);
  void SetOutputVoltage(int phase, int v);
  void SetInputCurrent(int phase, int v);
  void SetOutputCurrent(int phase, int v);

  // Rating / 10 as stored (0xffffffff until set).
  uint32_t GetLoadVARating() const { return va_rating_; }
  uint32_t GetLoadWattRating() const { return watt_rating_; }
  // Stored value x 10, or -1 when unknown.
  int GetOutputVA() const { return output_va_ == -1 ? -1 : output_va_ * 10; }
  int GetOutputWatts() const { return output_watts_ == -1 ? -1 : output_watts_ * 10; }
  int GetVAPercentLoad() const { return va_percent_; }
  int GetWattPercentLoad() const { return watt_percent_; }
  // Kind 1 the watt percent, 2 the VA percent, 0 the larger of the two known ones (stored as
  // the percent load; 255 when neither is known), any other kind the stored percent load.
  int GetPercentLoad(int kind);
  int GetBatteryVoltage() const { return battery_voltage_; }
  int GetBatteryCapacity() const { return battery_capacity_; }
  int GetBatteryTime() const { return battery_time_; }
  int GetInputFrequency() const { return input_frequency_; }
  int GetOutputFrequency() const { return output_frequency_; }
  int GetTemperature() const { return temperature_; }
  int GetInputVoltage(int phase) const { return Phase(input_voltage_, phase); }
  int GetOutputVoltage(int phase) const { return Phase(output_voltage_, phase); }
  int GetInputCurrent(int phase) const { return Phase(input_current_, phase); }
  int GetOutputCurrent(int phase) const { return Phase(output_current_, phase); }
  int GetAuxiliaryValue() const { return auxiliary_; }
  int GetDCLinkVoltage() const { return dc_link_voltage_; }
  int GetInverterFrequency() const { return inverter_frequency_; }
  int GetBypassFrequency() const { return bypass_frequency_; }
  int GetBatteryVoltagePositive() const { return battery_voltage_pos_; }
  int GetBatteryVoltageNegative() const { return battery_voltage_neg_; }
  int32_t GetBatteryCurrent() const { return battery_current_; }
  int32_t GetBatteryCurrentPositive() const { return battery_current_pos_; }
  int32_t GetBatteryCurrentNegative() const { return battery_current_neg_; }
  int GetDCVoltagePositive() const { return dc_voltage_pos_; }
  int GetDCVoltageNegative() const { return dc_voltage_neg_; }
  int GetBypassVoltage() const { return bypass_voltage_; }

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

 private:
  static int Phase(const uint16_t (&table)[3], int phase) {
    return phase >= 0 && phase <= 2 ? table[phase] : 0xFFFF;
  }
  void SetWord(uint16_t& slot, int v, int branch, int field);
  void SetByte(uint8_t& slot, int v, int branch, int field);
  void SetOutput(int value, uint32_t rating, int32_t& output, uint8_t& percent, int field, int percentField);
  int ConvertMain(int field, int direction, KT_RecordWriter* out, KT_RecordReader* in);

  uint32_t va_rating_ = 0xFFFFFFFF;
  uint32_t watt_rating_ = 0xFFFFFFFF;
  uint8_t va_percent_ = 255;
  int32_t output_va_ = -1;
  uint8_t percent_load_ = 255;
  uint16_t battery_voltage_ = 0xFFFF;
  uint8_t battery_capacity_ = 255;
  uint16_t battery_time_ = 0xFFFF;
  uint16_t input_frequency_ = 0xFFFF;
  uint16_t output_frequency_ = 0xFFFF;
  int32_t output_watts_ = -1;
  uint8_t watt_percent_ = 255;
  uint8_t temperature_ = 255;
  uint16_t input_voltage_[3] = {0xFFFF, 0xFFFF, 0xFFFF};
  uint16_t output_voltage_[3] = {0xFFFF, 0xFFFF, 0xFFFF};
  uint16_t input_current_[3] = {0xFFFF, 0xFFFF, 0xFFFF};
  uint16_t output_current_[3] = {0xFFFF, 0xFFFF, 0xFFFF};
  uint16_t auxiliary_ = 0xFFFF;
  uint16_t dc_link_voltage_ = 0xFFFF;
  uint16_t inverter_frequency_ = 0xFFFF;
  uint16_t bypass_frequency_ = 0xFFFF;
  uint16_t battery_voltage_pos_ = 0xFFFF;
  uint16_t battery_voltage_neg_ = 0xFFFF;
  int32_t battery_current_ = kUnknownCurrent;
  int32_t battery_current_pos_ = kUnknownCurrent;
  int32_t battery_current_neg_ = kUnknownCurrent;
  uint16_t dc_voltage_pos_ = 0xFFFF;
  uint16_t dc_voltage_neg_ = 0xFFFF;
  uint16_t bypass_voltage_ = 0xFFFF;
};
