// A pseudo-terminal pair for simulated serial devices: the program that owns it talks through
// the master side; the slave's device path (/dev/pts/N) is what the other program opens as
// its serial port.
#pragma once

#include <string>

namespace platform {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Creates the pair. The master is non-blocking. One slave descriptor is kept open (in raw
  // mode) for the pair's lifetime, so the master never sees a hang-up while the peer closes
  // and reopens the port between uses, and bytes are never echoed before the peer configures
  // the line. Returns 0 or the errno value.
  int Open();
  void Close();

  int master() const { return master_; }
  // The slave descriptor the pair keeps open (shares the line's input queue with every other
  // opener of the slave).
  int slave() const { return slave_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace platform
