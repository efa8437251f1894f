// KT_SerialPort: the agent's serial line to its UPS, on a termios device in raw mode.
//
// Reads follow the agent's time-out rules: a total deadline (the read time-out, 1000 ms unless
// Ready set another for this one read), at most 1000 ms of silence between two bytes once the
// first has arrived, and an early return when the buffer is full. Writes are synchronous.
// Modem lines are the port's own; a pseudo-terminal has none, so there the port uses the
// modem-line sideband of the simulated device on the other end (platform/modem_sideband.h).
//
// Errors are recorded with class 37 and these functions: 1 Open, 2 Read, 3 Write,
// 4 ControlSet, 5 ControlCheck, 6 line setup, 7 Ready, 8 SetBaud.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/mail_paging/comm_device.h"
#include "platform/serial_line.h"

namespace platform {
class ModemSideband;
}

// Bit rate of a baud-rate code: 0 = 300, 1 = 600, 2 = 1200, 3 = 2400, 4 = 4800, 5 = 9600,
// 6 = 19200, 7 = 38400, 8 = 14400, 9 = 28800; any other code 9600.
uint32_t BaudRateFromCode(int code);

class KT_SerialPort : public KT_CommDevice {
 public:
  // Modem-line bits of ControlSet and ControlCheck.
  static constexpr int kDtr = 0x02;
  static constexpr int kRts = 0x04;
  static constexpr int kCts = 0x20;
  static constexpr int kDcd = 0x40;
  static constexpr int kRi = 0x80;
  static constexpr int kDsr = 0x100;
  static constexpr int kAllLines = 0xFFFF;

  static constexpr int kDefaultReadTimeoutMs = 1000;
  static constexpr int kIntervalTimeoutMs = 1000;
  // Longest wait at Close for a simulated device to take the dropped modem lines.
  static constexpr int kHangupWaitMs = 2000;

  enum Function : int32_t {
    kOpenFn = 1,
    kReadFn = 2,
    kWriteFn = 3,
    kControlSetFn = 4,
    kControlCheckFn = 5,
    kSetupLineFn = 6,
    kReadyFn = 7,
    kSetBaudFn = 8,
  };

  KT_SerialPort();
  ~KT_SerialPort() override;

  int Close() override;
  int Read(KT_ReadRecord& record) override;
  int Write(const void* bytes, int count) override;
  int Open() override;
  int ControlSet(int lines) override;
  int ControlCheck(int mask) override;
  int Ready(int seconds) override;
  int SetBaud(int code) override;

  // When non-zero, the line setup forces hardware flow control (flow-control mode 1).
  void SetHardwareFlowOverride(int on) { hardware_flow_override_ = on; }
  int HardwareFlowOverride() const { return hardware_flow_override_; }
  int ReadTimeoutMs() const { return read_timeout_ms_; }
  bool WritePending() const { return write_pending_ != 0; }
  int Handle() const { return fd_; }
  // Bytes taken from the line since the object was made (all reads together).
  uint64_t BytesReceived() const { return bytes_received_.load(); }

  // The line a settings record asks for: its speed code, data bits, parity (1 even, 2 odd,
  // else none) and flow control (1 hardware handshake, 2 XON/XOFF, else none); one stop bit.
  static platform::LineSettings LineSettingsFor(const KT_PortSettings& settings);
  // The error record of the port: the one the settings carry (class 37 after a port failure).
  const KT_ErrorStatus& LastError() const { return settings_; }

 protected:
  // The line setup after Open: raw mode and the line settings, idle modem lines, empty queues.
  int SetupLine();

 private:
  int Fail(Function function, int code, int system_error, const char* what);
  // Sets DTR or RTS; 0 or the errno value.
  int DriveLine(int line, bool on);
  // The sideband of a device without modem lines, attaching on first use; null when none.
  platform::ModemSideband* Sideband();

  int hardware_flow_override_ = 0;
  int fd_ = -1;
  int read_timeout_ms_ = 0;
  int write_pending_ = 0;
  // Modem lines: the port's own, or (pseudo-terminal) those of the sideband.
  bool real_modem_lines_ = false;
  uint32_t sideband_host_lines_ = 0;
  std::unique_ptr<platform::ModemSideband> sideband_;
  std::atomic<uint64_t> bytes_received_{0};
};
