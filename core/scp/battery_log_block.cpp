#include "core/scp/battery_log_block.h"

int BatteryLogBlock::SetResult(const BatteryTestResult& result, uint32_t time, int kind) {
  if (!result.description) {
    LogError(ERR_LOG_BLOCK, 3, 1, kind);
    return -1;
  }
  const uint8_t code = result.resultCode;
  AddRecord(time, 1, &code);  // a result already logged for that moment is kept once
  last_ = result;
  const bool general = kind == kGeneralSystemsTest;
  switch (code) {
    case BATTERY_TEST_PASSED:
      status_code_ = BATTERY_LOG_PASSED;
      status_text_ = general ? "Passed General Systems Test" : "Passed Battery Test";
      break;
    case BATTERY_TEST_NOT_PERFORMED:
      status_code_ = BATTERY_LOG_NOT_PERFORMED;
      status_text_ = general ? "UPS could not perform General Systems Test" : "UPS could not perform Quick Battery Test";
      break;
    case BATTERY_TEST_FAILED:
      status_code_ = BATTERY_LOG_FAILED;
      status_text_ = general ? "Failed General Systems Test" : "Failed Battery Test";
      break;
    default:
      status_code_ = BATTERY_LOG_UNKNOWN;
      status_text_ = "Unknown";
      break;
  }
  if (status_text_.size() > kBatteryStatusTextMax) status_text_.resize(kBatteryStatusTextMax);
  return 1;
}

bool BatteryLogBlock::GetNextResult(uint32_t& time, uint8_t& resultCode) {
  LogRecord record;
  if (!GetNextRecord(record)) return false;
  time = record.time;
  resultCode = record.data.empty() ? 0 : record.data[0];
  return true;
}
