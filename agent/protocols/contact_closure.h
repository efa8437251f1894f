// KT_ContactClosure: a UPS without a data protocol (protocol code 2) that signals its state
// through relay contacts wired into the serial cable:
//   - on line power the on-line contact loops the transmit line back to receive: the three
//     bytes "AB\0" the agent sends come straight back (the echo test);
//   - the battery contact drives DCD: on while the battery is good, off when it runs low;
//   - the cable loops RTS back to CTS (the cable test of the protocol base).
// The agent tells such a UPS apart from a modem on the same port by sending "ATQ0\r": a modem
// answers "OK".
//
// Errors are recorded with class 5: function 1 the echo test's write, 2 reading DCD.
#pragma once

#include "agent/protocols/ups_protocol.h"

class KT_ContactClosure : public KT_UpsProtocol {
 public:
  // What the echo test sends, and how much of it must come back.
  static constexpr uint8_t kEcho[3] = {'A', 'B', 0};
  static constexpr int kEchoSize = 3;
  // The modem probe: the command, the wait for the answer, the most bytes read.
  static constexpr const char* kModemCommand = "ATQ0\r";
  static constexpr int kModemWaitMs = 2000;
  static constexpr int kModemReplyCapacity = 126;

  explicit KT_ContactClosure(KT_SCP& scp);

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
  int RaiseInterfacePower() override;
  int UpdateCapabilities() override;

  // Sends "AB\0" and reads it back with the port's current read time-out: 0 the bytes came
  // back (on line power), 1 they did not (on battery), -1 the port failed.
  int EchoTest();
  // DCD: 1 off (battery low), 0 on, -1 error.
  int BatteryContactOpen();
  // 1 a modem answered "OK" to "ATQ0", 0 not, -1 the command could not be sent.
  int ModemProbe();
};
