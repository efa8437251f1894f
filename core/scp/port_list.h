// The serial ports present on the agent's computer (configuration branch 11), offered by the
// consoles when the UPS port or a pager's modem port is chosen.
//
// A port is named by its device path, "/dev/ttyS0", "/dev/ttyUSB0": the name the serial line
// opens as given, and the text stored in the configuration (branch 1 field 1) and a pager's
// port settings. Enumerate lists the terminal devices of /sys/class/tty that have a hardware
// device behind them (virtual consoles and pseudo-terminals have none); a built-in serial
// port without a UART (type 0) is left out. The list is in natural order (ttyS2 before ttyS10).
#pragma once

#include <string>
#include <vector>

#include "core/base/error_status.h"

class KT_PortList : public KT_ErrorStatus {
 public:
  static constexpr const char* kSysClassTty = "/sys/class/tty";
  static constexpr const char* kDeviceDir = "/dev";

  KT_PortList() = default;

  // Empties the list and adds every serial port present. Returns the number found.
  int Enumerate();
  // Where Enumerate looks (for tests): the tty class folder and the device folder that the
  // names are given in. Empty texts restore the system's.
  static void SetSources(const std::string& sysClassTty, const std::string& deviceDir);

  // Appends a name (no two equal names). 1 when added, 0 when listed.
  int Add(const std::string& name);
  void Clear();
  int Count() const { return static_cast<int>(ports_.size()); }
  void ResetCursor() { cursor_ = 0; }
  // The name at the cursor, and the cursor moves on: 1; -1 at the end (back to the start).
  int GetNext(std::string& name);
  // Name i (from 0): 1, or -1 when out of range.
  int GetAt(int i, std::string& name) const;
  const std::vector<std::string>& Ports() const { return ports_; }

 private:
  std::vector<std::string> ports_;
  size_t cursor_ = 0;
};
