// Uses the kernel's termios2 structures directly (not glibc's <termios.h>, whose struct of the
// same name clashes with them), so that any bit rate can be set with BOTHER.
#include "platform/serial_line.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

namespace platform {

namespace {

struct StandardRate {
  uint32_t bps;
  unsigned int code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

int Ioctl(int fd, unsigned long request, void* arg) {
  for (;;) {
    if (::ioctl(fd, request, arg) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

void PutSpeed(struct termios2* t, uint32_t bps) {
  t->c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  unsigned int code = BOTHER;
  for (const auto& r : kStandardRates) {
    if (r.bps == bps) {
      code = r.code;
      break;
    }
  }
  // The input rate follows the output rate (input code 0 = same as output).
  t->c_cflag |= code;
  t->c_ospeed = bps;
  t->c_ispeed = bps;
}

uint32_t SpeedOf(const struct termios2& t) {
  const unsigned int code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  for (const auto& r : kStandardRates) {
    if (r.code == code) return r.bps;
  }
  return t.c_ospeed;
}

}  // namespace

int GetLineSettings(int fd, LineSettings* out) {
  struct termios2 t {};
  if (int e = Ioctl(fd, TCGETS2, &t)) return e;
  LineSettings s;
  s.bps = SpeedOf(t);
  switch (t.c_cflag & CSIZE) {
    case CS5: s.data_bits = 5; break;
    case CS6: s.data_bits = 6; break;
    case CS7: s.data_bits = 7; break;
    default: s.data_bits = 8; break;
  }
  if (t.c_cflag & PARENB) {
    s.parity = (t.c_cflag & PARODD) ? Parity::kOdd : Parity::kEven;
  }
  s.two_stop_bits = (t.c_cflag & CSTOPB) != 0;
  if (t.c_cflag & CRTSCTS) {
    s.flow = FlowControl::kHardware;
  } else if (t.c_iflag & (IXON | IXOFF)) {
    s.flow = FlowControl::kXonXoff;
  }
  s.raw = (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (t.c_oflag & OPOST) == 0 &&
          (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) == 0;
  *out = s;
  return 0;
}

int SetLineSettings(int fd, const LineSettings& s) {
  if (s.data_bits < 5 || s.data_bits > 8 || s.bps == 0) return EINVAL;
  struct termios2 t {};
  if (int e = Ioctl(fd, TCGETS2, &t)) return e;

  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  switch (s.data_bits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  if (s.parity != Parity::kNone) {
    t.c_cflag |= PARENB;
    if (s.parity == Parity::kOdd) t.c_cflag |= PARODD;
    t.c_iflag |= INPCK;
  }
  if (s.two_stop_bits) t.c_cflag |= CSTOPB;
  if (s.flow == FlowControl::kHardware) t.c_cflag |= CRTSCTS;
  if (s.flow == FlowControl::kXonXoff) t.c_iflag |= IXON | IXOFF;
  // Reads never wait inside the driver: the caller polls with its own deadlines.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  PutSpeed(&t, s.bps);
  return Ioctl(fd, TCSETS2, &t);
}

int SetLineSpeed(int fd, uint32_t bps) {
  if (bps == 0) return EINVAL;
  struct termios2 t {};
  if (int e = Ioctl(fd, TCGETS2, &t)) return e;
  PutSpeed(&t, bps);
  return Ioctl(fd, TCSETS2, &t);
}

int FlushLine(int fd) {
  for (;;) {
    if (::ioctl(fd, TCFLSH, TCIOFLUSH) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

int GetOutputQueue(int fd, int* bytes) {
  int n = 0;
  if (int e = Ioctl(fd, TIOCOUTQ, &n)) return e;
  *bytes = n;
  return 0;
}

int GetTransmitterEmpty(int fd, bool* empty) {
  unsigned int lsr = 0;
  if (int e = Ioctl(fd, TIOCSERGETLSR, &lsr)) return e;
  *empty = (lsr & TIOCSER_TEMT) != 0;
  return 0;
}

int GetOverrunCount(int fd, uint64_t* count) {
  struct serial_icounter_struct c {};
  if (int e = Ioctl(fd, TIOCGICOUNT, &c)) return e;
  *count = static_cast<uint64_t>(static_cast<unsigned int>(c.overrun)) +
           static_cast<uint64_t>(static_cast<unsigned int>(c.buf_overrun));
  return 0;
}

int GetModemLines(int fd, uint32_t* lines) {
  int m = 0;
  if (int e = Ioctl(fd, TIOCMGET, &m)) return e;
  uint32_t v = 0;
  if (m & TIOCM_DTR) v |= kLineDtr;
  if (m & TIOCM_RTS) v |= kLineRts;
  if (m & TIOCM_CTS) v |= kLineCts;
  if (m & TIOCM_CAR) v |= kLineDcd;
  if (m & TIOCM_RNG) v |= kLineRi;
  if (m & TIOCM_DSR) v |= kLineDsr;
  *lines = v;
  return 0;
}

int SetModemLines(int fd, uint32_t mask, uint32_t values) {
  int on = 0;
  int off = 0;
  if (mask & kLineDtr) ((values & kLineDtr) ? on : off) |= TIOCM_DTR;
  if (mask & kLineRts) ((values & kLineRts) ? on : off) |= TIOCM_RTS;
  if (on != 0) {
    if (int e = Ioctl(fd, TIOCMBIS, &on)) return e;
  }
  if (off != 0) {
    if (int e = Ioctl(fd, TIOCMBIC, &off)) return e;
  }
  return 0;
}

bool IsNoModemLinesError(int error) {
  return error == ENOTTY || error == EINVAL;
}

int SetExclusive(int fd, bool on) {
  for (;;) {
    if (::ioctl(fd, on ? TIOCEXCL : TIOCNXCL) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  // Unix98 slaves (136 to 143) and the old BSD-style slaves (3).
  return (m >= 136 && m <= 143) || m == 3;
}

}  // namespace platform
