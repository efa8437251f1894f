// One battery or general-systems test result as a UPS driver reports it to the battery log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Result codes reported by the drivers.
enum BatteryTestCode : uint8_t {
  BATTERY_TEST_PASSED = 2,
  BATTERY_TEST_NOT_PERFORMED = 3,
  BATTERY_TEST_FAILED = 4,
};

struct BatteryTestResult {
  std::optional<std::string> description;  // what was tested, as the driver names it
  int32_t value = 0;
  uint8_t resultCode = 0;                  // BatteryTestCode
  std::vector<uint8_t> extra;              // a driver's further data, carried as is
  int32_t number1 = 0;                     // two further numbers carried to the battery log
  int32_t number2 = 0;
};
