#include "platform/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include "platform/serial_line.h"

namespace platform {

PseudoTerminal::~PseudoTerminal() {
  Close();
}

int PseudoTerminal::Open() {
  Close();
  int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m < 0) return errno;
  char name[128] = {};
  if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
    int e = errno;
    ::close(m);
    return e;
  }
  int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (s < 0) {
    int e = errno;
    ::close(m);
    return e;
  }
  LineSettings raw;
  if (int e = SetLineSettings(s, raw)) {
    ::close(s);
    ::close(m);
    return e;
  }
  master_ = m;
  slave_ = s;
  slave_path_ = name;
  return 0;
}

void PseudoTerminal::Close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = -1;
  master_ = -1;
  slave_path_.clear();
}

}  // namespace platform
