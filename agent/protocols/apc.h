// KT_APC: the APC Smart-UPS protocol (protocol code 3) at 2400 baud, 8 data bits, no parity.
//
// The agent sends one command character (or "@" and three digits) and reads one text line
// back (agent/protocols/apc_reply.h). Commands used:
//   Y  smart mode; the answer contains "SM"         V  model and voltage ("8QT"), "NA" for a
//   n  serial number                                   UPS without this protocol's answers
//   Q  status register, two hexadecimal digits:     L  input voltage     O  output voltage
//      high digit 1 on battery, 2 overload,          B  battery voltage   C  temperature
//      4 low battery, 8 replace battery;             F  output frequency  P  load (percent)
//      low digit 4 boosting                          f  battery capacity (percent)
//   W  start the self-test ("OK")                   j  run time left (minutes, "0045:"; the
//                                                      meter block gets seconds)
//   X  self-test result: "NO" none yet, "OK" passed, "BT" battery capacity, "NG" failed
//   p  shutdown delay; "-" steps it on to the next of its values ("020" "180" "300" "600")
//   S  output off after the shutdown delay ("OK")
//   @ddd  output off after the shutdown delay, back on ddd tenths of an hour later ("*")
//
// Status, meters and identification go to the SCP blocks; the self-test result to the
// battery log. The protocol keeps no error records of its own: a missing or unexpected reply
// makes the operation's result 0 or -1, which the serial thread counts. A meter whose reply is
// missing or no number is stored as unknown and the pass goes on; only a UPS silent on "L",
// the first meter query, ends the pass with 0.
#pragma once

#include <optional>
#include <string>

#include "agent/protocols/ups_protocol.h"

class KT_APC : public KT_UpsProtocol {
 public:
  // Most "-" steps SetValue takes while looking for a value.
  static constexpr int kMaxSetSteps = 16;
  // The shutdown delays the UPS offers.
  static constexpr const char* kDelay20 = "020";
  static constexpr const char* kDelay180 = "180";
  static constexpr const char* kDelay300 = "300";
  static constexpr const char* kDelay600 = "600";
  // Name of the self-test in the battery log (the quick battery test of the UPS MIB).
  static constexpr const char* kTestName = "33.1.7.7.4";

  explicit KT_APC(KT_SCP& scp);

  int Probe() override;
  int SendRequest(const uint8_t* bytes, int count, int authorize) override;
  int ProcessBlock(KT_ReadRecord& record) override;
  int UpdateInfo() override;
  int UpdateMeter() override;
  int UpdateConfig() override;
  int SetConfig() override;
  int InitiateBatteryTest() override;
  int UpdateBatteryTest() override;
  int UpdateStatus() override;
  int UpdateAlarmQueue() override;
  int LoadControl(int kind, int segment, int seconds) override;
  int UpdateCapabilities() override;

  // One command and its reply line (alerts still in it): 1 with the line, 0 nothing came,
  // -1 the port failed. Input waiting from before is dropped first, and a reply longer than
  // one read is read to its line end, so nothing of it is left for the next command.
  int Exchange(const std::string& command, std::string* line);
  // The reply's text (less alerts, '*' and control characters); nothing when no reply came or
  // the port failed.
  std::optional<std::string> Query(const std::string& command);
  // A number reply: 1 with the value, 0 when no reply or no number came.
  int QueryNumber(const std::string& command, int* value);
  // Steps a setting with "-" until the UPS shows `wanted`: 1 shown, 0 the UPS went round its
  // values without it, -1 no reply, a failed write, or no way round within kMaxSetSteps.
  int SetValue(const std::string& command, const std::string& wanted);

  // The shutdown delay value for a number of seconds (up to 20 s "020", up to 180 "180", up
  // to 300 "300", else "600").
  static const char* DelayFor(int seconds);

 private:
  // The shutdown delay set for kinds 0 and 2.
  int SetShutdownDelay(int seconds);
};
