// Simulated APC Smart-UPS: one-character commands at 2400 baud, 8 data bits, no parity; every
// answer is a short text line ending in CR LF. Bytes that arrive at other line settings are
// noise to the UPS: it logs them as IGNORED and does not answer.
//
// Commands and answers:
//   Y  "SM" (smart mode)             V  model/firmware text ("8QT": SmartUPS 1250, 230 V)
//   n  serial number                 Q  status register, two hex digits:
//   L  input voltage ("000.0" on battery)   0x08 on line, 0x10 on battery, 0x20 overload,
//   O  output voltage                       0x40 low battery, 0x80 replace battery, 0x04 boost
//   B  battery voltage               C  temperature          F  output frequency
//   P  load in percent (110 while overloaded)
//   f  battery capacity in percent     j  run time left in minutes, "0045:" (45 minutes
//      (at most 10 while low)             of a full battery; at most 2 while low)
//   ^A model name ("Smart-UPS 1250", by the model's first character, or "set name")
//   W  start the self-test, "OK"     X  self-test result: "NO" while none is ready, then
//                                       "OK" passed, "BT" battery capacity, "NG" failed
//   p  shutdown delay, one of "020" "180" "300" "600"
//   -  steps the setting queried last (only p) to its next value; no answer
//   S  "OK": the output goes off after the shutdown delay, back on when the mains return
//   @ddd  "*": as S, and back on ddd tenths of an hour after that
//   anything else printable: "NA"; other control characters (line ends among them) and bytes
//   above 0x7E get no answer
// Unsolicited: "!" when the mains fail, "$" when they return.
// The battery runs down on battery and charges on mains (tools/sim_battery.h).
// Control commands of this kind: set KEY VALUE (set capacity PERCENT: the charge now; set
// runtime MINUTES: the run time of a full battery; set name TEXT: the ^A answer), reply CMD
// TEXT|none|default, reply-raw CMD TEXT, selftest OK|BT|NG [POLLS], second MS (one second of
// the shutdown and return delays lasts MS milliseconds, so that tests need not wait minutes).
#pragma once

#include <map>
#include <string>

#include "tools/sim_battery.h"
#include "tools/sim_device.h"

namespace upssim {

class ApcSmartUps : public SimDevice {
 public:
  static constexpr uint32_t kBps = 2400;

  ApcSmartUps();
  std::string Name() const override { return "apc"; }
  void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) override;
  uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const override;
  void OnStateChanged(SimContext& ctx, const UpsState& before) override;
  bool Control(SimContext& ctx, const std::vector<std::string>& words, std::string* error,
               std::vector<std::string>* lines) override;
  std::string Describe() const override;

 private:
  void Command(SimContext& ctx, const std::string& command);
  void Answer(SimContext& ctx, const std::string& command, const std::string& text);
  std::string StatusRegister(const UpsState& state) const;
  void ScheduleOff(SimContext& ctx, const std::string& why);
  bool LineIsRight(SimContext& ctx);
  std::string ModelNameText() const;

  std::map<std::string, std::string> values_;
  // Per-command answers set through the control channel, sent exactly as stored.
  std::map<std::string, std::string> overrides_;
  std::string at_command_;          // "@" and the digits so far
  std::string last_command_;        // what "-" steps
  size_t delay_index_ = 0;          // into the shutdown-delay values
  bool test_running_ = false;
  int test_polls_left_ = 0;
  int test_polls_ = 1;
  std::string test_outcome_ = "OK";
  std::string test_result_ = "NO";
  bool output_on_ = true;
  int second_ms_ = 1000;
  std::string name_;  // the ^A answer; empty: by the model
  SimBattery battery_{45 * 60};
};

}  // namespace upssim
