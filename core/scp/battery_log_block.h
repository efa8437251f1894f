// SCP block 7: the log of battery and general-systems tests, a list of time-stamped records
// (see LogBlock) whose one data byte is the test's result code; the agent keeps it in
// "battlog.dat". Besides the list it keeps the last result as the UPS driver reported it,
// with a status code and text for the consoles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/scp/battery_test_result.h"
#include "core/scp/log_block.h"

// Status codes of the last result.
enum BatteryLogStatus : int {
  BATTERY_LOG_PASSED = 1,
  BATTERY_LOG_FAILED = 3,
  BATTERY_LOG_NOT_PERFORMED = 4,
  BATTERY_LOG_UNKNOWN = 6,
};

// Kind of test handed to SetResult.
inline constexpr int kGeneralSystemsTest = 1;
// Longest status text.
inline constexpr size_t kBatteryStatusTextMax = 100;

class BatteryLogBlock : public LogBlock {
 public:
  static constexpr int kBlockId = 7;

  BatteryLogBlock() = default;

  // Adds the record (time, result code), keeps a copy of the result as the last one and sets
  // the status by kind (1 general systems test, else battery test) and result code. 1, or -1
  // when the result has no description text.
  int SetResult(const BatteryTestResult& result, uint32_t time, int kind);
  // The record at the read cursor: its time and result code; false at the end.
  bool GetNextResult(uint32_t& time, uint8_t& resultCode);

  const BatteryTestResult& LastResult() const { return last_; }
  int GetStatusCode() const { return status_code_; }
  const std::string& GetStatusText() const { return status_text_; }

 private:
  BatteryTestResult last_;
  int status_code_ = BATTERY_LOG_UNKNOWN;
  std::string status_text_;
};
