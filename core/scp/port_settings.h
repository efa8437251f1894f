// Settings of one serial line: the port the agent's UPS hangs on, or a pager's modem.
//
// Each numeric setting has a fixed range; a setter given a value outside it refuses (-1),
// keeps the old value and records class 2 with its function number and code 1 in the error
// status (and error.dat). Baud index codes are those of the serial port: 0 = 300, 1 = 600,
// 2 = 1200, 3 = 2400, 4 = 4800, 5 = 9600, 6 = 19200, 7 = 38400, 8 = 14400, 9 = 28800.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/error_status.h"

class KT_PortSettings : public KT_ErrorStatus {
 public:
  // Function numbers of the error records.
  enum Function : int32_t {
    kSetPortName = 1,
    kGetPortName = 2,
    kSetBaudIndex = 3,
    kSetParity = 4,
    kSetStopBits = 5,
    kSetDataBits = 6,
    kSetFlowControl = 7,
    kSetPortOption = 8,
  };

  static constexpr uint8_t kDefaultBaudIndex = 3;
  static constexpr uint8_t kDefaultDataBits = 8;

  KT_PortSettings() = default;
  KT_PortSettings(const KT_PortSettings& other) = default;
  KT_PortSettings& operator=(const KT_PortSettings& other) = default;
  virtual ~KT_PortSettings() = default;

  // Null name: code 1, -1. Stores a copy: 0.
  int SetPortName(const char* name);
  // A copy of the name; no name: empty result and code 1.
  std::optional<std::string> GetPortName();
  bool HasPortName() const { return port_name_.has_value(); }
  const std::string& PortNameRef() const;

  int SetBaudIndex(int value);     // 0..9
  int SetParity(int value);        // 0 none, 1 even, 2 odd
  int SetStopBits(int value);      // only 0 (one stop bit)
  int SetDataBits(int value);      // 7..8
  int SetFlowControl(int value);   // 0 none, 1 hardware handshake, 2 XON/XOFF
  int SetPortOption(int value);    // 0..3

  uint8_t GetBaudIndex() const { return baud_index_; }
  uint8_t GetParity() const { return parity_; }
  uint8_t GetStopBits() const { return stop_bits_; }
  uint8_t GetDataBits() const { return data_bits_; }
  uint8_t GetFlowControl() const { return flow_control_; }
  int GetPortOption() const { return port_option_; }

  // Copies the port name and every setting from the other record. The error status stays.
  void CopyFrom(const KT_PortSettings& other);

  // Store a line byte without range checks: the serial port keeps the code it was actually
  // configured with (an unknown baud code runs the line at 9600 and is kept as given).
  void StoreBaudIndex(uint8_t v) { baud_index_ = v; }
  void StoreParity(uint8_t v) { parity_ = v; }
  void StoreStopBits(uint8_t v) { stop_bits_ = v; }
  void StoreDataBits(uint8_t v) { data_bits_ = v; }
  void StoreFlowControl(uint8_t v) { flow_control_ = v; }

 private:
  int Refuse(Function f);

  std::optional<std::string> port_name_;
  uint8_t baud_index_ = kDefaultBaudIndex;
  uint8_t parity_ = 0;
  uint8_t stop_bits_ = 0;
  uint8_t data_bits_ = kDefaultDataBits;
  uint8_t flow_control_ = 0;
  int port_option_ = -1;
};
