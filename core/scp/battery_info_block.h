// SCP block 26: battery statistics kept by the agent -- outages, time on battery and its
// average, low-battery warnings, and the date the battery was replaced (as the user typed it).
// The agent keeps the block in "bat_info.dat".
//
// Record form of branch 1 (wire and file, big-endian): reset time (4), outage count (4),
// on-battery seconds (4), average seconds (4), low-battery warnings (4), last low-battery
// warning (4), replaced date (text). Both times are unsigned seconds since 1970 (to 2106).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/scp/block.h"

class BatteryInfoBlock : public KT_Block {
 public:
  static constexpr int kBlockId = 26;

  // Error record functions (class 30), code 1 each unless said.
  enum : int32_t {
    FN_GET_ROUTE = 5,
    FN_CONVERT = 6,  // 1 field outside 1..7, 2 branch other than 1
    FN_SET_RESET_TIME = 7,
    FN_ADD_OUTAGES = 8,
    FN_SET_OUTAGES = 9,
    FN_ADD_ON_BATTERY = 10,
    FN_SET_ON_BATTERY = 11,
    FN_SET_AVERAGE = 12,
    FN_ADD_LOW_BATTERY = 13,
    FN_SET_LOW_BATTERY = 14,
    FN_SET_LAST_LOW_BATTERY = 15,
    FN_SET_REPLACED = 16,  // 1 null text, 2 no memory
    FN_GET_REPLACED = 17,  // 2 no memory
  };

  BatteryInfoBlock();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // Reset time = now, every other field 0 or none; state bytes of branches 0 and 1 to 0.
  void Reset();

  // Setters answer 1 (SetReplacedDate 0) and mark their field changed; a value out of range
  // answers -1 with an error record and changes nothing. Times are 0..UINT32_MAX, -1 standing
  // for all ones (none).
  int SetResetTime(int64_t t);
  int AddOutageCount(int n);              // 0..65535
  int SetOutageCount(int64_t n);          // 0..UINT32_MAX
  int AddOnBatterySeconds(int64_t s);     // 0..65535
  int SetOnBatterySeconds(int64_t s);     // 0..65535
  int SetAverageSeconds(int64_t s);       // 0..65535
  int AddLowBatteryWarnings(int n);       // 0..65535; last warning = now
  int SetLowBatteryWarnings(int n);       // 0..65535; last warning cleared to 0
  int SetLastLowBatteryWarning(int64_t t);
  int SetReplacedDate(const char* text);  // null: -1 (30, 16, 1); over 254 characters: (30, 16, 2)
  // A copy of the replaced date, or none.
  std::optional<std::string> GetReplacedDate() const { return replaced_date_; }

  uint32_t GetResetTime() const { return reset_time_; }
  uint32_t GetOutageCount() const { return outages_; }
  uint32_t GetOnBatterySeconds() const { return on_battery_; }
  uint32_t GetAverageSeconds() const { return average_; }
  uint32_t GetLowBatteryWarnings() const { return low_battery_; }
  uint32_t GetLastLowBatteryWarning() const { return last_low_battery_; }

  // Average = on-battery seconds / outages (whole division), 0 without outages.
  void UpdateAverage();

 private:
  int Refuse(int32_t function, int32_t code, int32_t value);
  void Changed(int field) { branches_.SetFieldState(1, field, FIELD_CHANGED); }

  uint32_t reset_time_ = 0;
  uint32_t outages_ = 0;
  uint32_t on_battery_ = 0;
  uint32_t average_ = 0;
  uint32_t low_battery_ = 0;
  uint32_t last_low_battery_ = 0;
  std::optional<std::string> replaced_date_;
};
