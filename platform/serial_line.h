// Low-level access to a terminal device (a serial port or a pseudo-terminal): line settings in
// raw binary mode at any bit rate (standard rates and arbitrary ones such as 14400 and 28800
// through the kernel's termios2 interface), queue flushing, output-queue state and the modem
// lines of a real port.
//
// Every function returns 0 on success or the errno value of the failure, so that callers can
// record the system error. None of them blocks.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class Parity : uint8_t { kNone, kEven, kOdd };
enum class FlowControl : uint8_t { kNone, kHardware, kXonXoff };

struct LineSettings {
  uint32_t bps = 9600;
  int data_bits = 8;  // 5..8
  Parity parity = Parity::kNone;
  bool two_stop_bits = false;
  FlowControl flow = FlowControl::kNone;
  // Read back only: the line passes bytes unchanged (no echo, no line editing, no translation).
  bool raw = true;
};

// Modem-line bits. The same scale serves both directions: DTR and RTS are driven by the
// computer, CTS, DCD, RI and DSR by the attached device.
inline constexpr uint32_t kLineDtr = 0x02;
inline constexpr uint32_t kLineRts = 0x04;
inline constexpr uint32_t kLineCts = 0x20;
inline constexpr uint32_t kLineDcd = 0x40;
inline constexpr uint32_t kLineRi = 0x80;
inline constexpr uint32_t kLineDsr = 0x100;
inline constexpr uint32_t kHostLines = kLineDtr | kLineRts;
inline constexpr uint32_t kDeviceLines = kLineCts | kLineDcd | kLineRi | kLineDsr;

// Reads the line settings. On the master side of a pseudo-terminal the kernel reports the
// settings of the slave, which is how a simulated device learns the speed its peer chose.
int GetLineSettings(int fd, LineSettings* out);

// Puts the line into raw binary mode with the given settings: no echo, no translation, no
// signals, receiver on, modem status ignored for reads (so a missing carrier never blocks),
// reads return whatever has arrived. Fails with EINVAL for data bits outside 5..8 or a
// zero bit rate.
int SetLineSettings(int fd, const LineSettings& settings);

// Changes only the bit rate (both directions).
int SetLineSpeed(int fd, uint32_t bps);

// Discards both queues (unread input and unsent output).
int FlushLine(int fd);

// Bytes written but not yet handed to the wire by the driver.
int GetOutputQueue(int fd, int* bytes);

// Whether the transmitter has sent its last bit; ENOTTY when the driver cannot tell
// (pseudo-terminals, some USB adapters).
int GetTransmitterEmpty(int fd, bool* empty);

// Count of input overruns (hardware and driver buffer) since the port was opened; ENOTTY
// or EINVAL when the driver keeps none.
int GetOverrunCount(int fd, uint64_t* count);

// Modem lines of a real port on the kLine* scale. Pseudo-terminals have none: these fail
// with ENOTTY or EINVAL there (see platform/modem_sideband.h).
int GetModemLines(int fd, uint32_t* lines);
// Sets the host lines in `mask` (kLineDtr, kLineRts) to the matching bits of `values`.
int SetModemLines(int fd, uint32_t mask, uint32_t values);

// Whether a modem-line failure means "this device has no modem lines".
bool IsNoModemLinesError(int error);

// Forbids further opens of the terminal by other programs (the kernel's exclusive mode).
int SetExclusive(int fd, bool on);

// Whether the descriptor is the slave side of a pseudo-terminal.
bool IsPseudoTerminal(int fd);

}  // namespace platform
