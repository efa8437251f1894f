#include "core/mail_paging/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "core/base/ktdiag.h"
#include "platform/clock.h"
#include "platform/modem_sideband.h"
#include "platform/serial_line.h"

namespace {

// Longest real-time wait inside one poll; the read's deadlines are checked between slices
// against the process clock, so an injected clock moves reads forward without real waiting.
constexpr int kPollSliceMs = 50;

// Upper bound of a blocked write or a drain: a fixed margin plus twice the time the bytes
// need on the wire (11 bit times per byte covers start, parity and stop bits).
int TransmitBoundMs(size_t bytes, uint32_t bps) {
  if (bps == 0) bps = 300;
  const uint64_t wire = static_cast<uint64_t>(bytes) * 11u * 1000u / bps;
  return static_cast<int>(std::min<uint64_t>(2000 + 2 * wire, 120000));
}

uint64_t NowMs() {
  return platform::TickMs();
}

}  // namespace

uint32_t BaudRateFromCode(int code) {
  switch (code) {
    case 0: return 300;
    case 1: return 600;
    case 2: return 1200;
    case 3: return 2400;
    case 4: return 4800;
    case 5: return 9600;
    case 6: return 19200;
    case 7: return 38400;
    case 8: return 14400;
    case 9: return 28800;
    default: return 9600;
  }
}

platform::LineSettings KT_SerialPort::LineSettingsFor(const KT_PortSettings& settings) {
  platform::LineSettings line;
  line.bps = BaudRateFromCode(settings.GetBaudIndex());
  line.data_bits = settings.GetDataBits();
  line.two_stop_bits = false;  // always one stop bit
  switch (settings.GetParity()) {
    case 1: line.parity = platform::Parity::kEven; break;
    case 2: line.parity = platform::Parity::kOdd; break;
    default: line.parity = platform::Parity::kNone; break;
  }
  switch (settings.GetFlowControl()) {
    case 1: line.flow = platform::FlowControl::kHardware; break;
    case 2: line.flow = platform::FlowControl::kXonXoff; break;
    default: line.flow = platform::FlowControl::kNone; break;
  }
  return line;
}

KT_SerialPort::KT_SerialPort() = default;

KT_SerialPort::~KT_SerialPort() {
  if (fd_ >= 0) Close();
  state_ = kClosed;
}

int KT_SerialPort::Fail(Function function, int code, int system_error, const char* what) {
  settings_.LogError(ERR_SERIAL_PORT, function, code, system_error);
  Diag().Printf("ERROR(KT_SerialPort): %s on %s (37, %d, %d, system error %d%s%s)\n", what,
                settings_.PortNameRef().c_str(), static_cast<int>(function), code, system_error,
                system_error != 0 ? ": " : "", system_error != 0 ? std::strerror(system_error) : "");
  return -1;
}

int KT_SerialPort::Open() {
  if (!settings_.HasPortName()) return Fail(kOpenFn, 1, 0, "no port name");
  const std::string name = settings_.PortNameRef();
  // A second Open on an open port starts again rather than leaking the first descriptor.
  if (fd_ >= 0) Close();

  int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(kOpenFn, 2, errno, "cannot open the port");
  // The port is not shared: a second user (another agent, a pager) is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    return Fail(kOpenFn, 2, e, "port in use");
  }
  // Other programs (not root) are refused at open while the agent holds the port. The kernel
  // keeps that mode on the device, not on this descriptor, so Close gives it up again; a real
  // port also loses it with its last user, a dead holder included. A pseudo-terminal lives on
  // with its other end, so there a holder that died would leave every ordinary user refused
  // until the far end closes: it gets none (the port lock above still refuses a second user).
  if (!platform::IsPseudoTerminal(fd)) platform::SetExclusive(fd, true);
  fd_ = fd;
  state_ = kOpen;

  uint32_t lines = 0;
  const int e = platform::GetModemLines(fd_, &lines);
  real_modem_lines_ = (e == 0);
  sideband_host_lines_ = 0;
  sideband_.reset();
  if (!real_modem_lines_ && platform::IsNoModemLinesError(e)) Sideband();
  return SetupLine();
}

platform::ModemSideband* KT_SerialPort::Sideband() {
  if (real_modem_lines_ || fd_ < 0) return nullptr;
  if (!sideband_ || !sideband_->DeviceAlive()) {
    sideband_ = platform::ModemSideband::Attach(settings_.PortNameRef());
    if (sideband_) sideband_->SetHostLines(sideband_host_lines_);
  }
  return sideband_.get();
}

int KT_SerialPort::DriveLine(int line, bool on) {
  if (real_modem_lines_) {
    return platform::SetModemLines(fd_, static_cast<uint32_t>(line), on ? static_cast<uint32_t>(line) : 0);
  }
  const uint32_t bit = static_cast<uint32_t>(line);
  sideband_host_lines_ = on ? (sideband_host_lines_ | bit) : (sideband_host_lines_ & ~bit);
  platform::ModemSideband* sb = Sideband();
  if (sb == nullptr) return ENOTTY;
  sb->SetHostLines(sideband_host_lines_);
  return 0;
}

int KT_SerialPort::SetupLine() {
  if (fd_ < 0) {
    Fail(kSetupLineFn, 1, 0, "line setup on a closed port");
    Close();
    return -1;
  }
  platform::LineSettings current;
  if (int e = platform::GetLineSettings(fd_, &current)) {
    Fail(kSetupLineFn, 2, e, "cannot read the line settings");
    Close();
    return -1;
  }

  if (hardware_flow_override_) settings_.StoreFlowControl(1);
  const platform::LineSettings line = LineSettingsFor(settings_);
  if (int e = platform::SetLineSettings(fd_, line)) {
    Fail(kSetupLineFn, 3, e, "cannot write the line settings");
    Close();
    return -1;
  }

  // Idle lines: DTR follows the handshake (on with hardware flow control); RTS is left to the
  // driver's handshake or held low. A pseudo-terminal without a sideband has nothing to set.
  const bool handshake = settings_.GetFlowControl() == 1;
  int e = DriveLine(kDtr, handshake);
  if (e == 0 && !handshake) e = DriveLine(kRts, false);
  if (e != 0 && real_modem_lines_) {
    Fail(kSetupLineFn, 3, e, "cannot set the idle modem lines");
    Close();
    return -1;
  }

  if (int fe = platform::FlushLine(fd_)) {
    Fail(kSetupLineFn, 5, fe, "cannot purge the queues");
    Close();
    return -1;
  }
  write_pending_ = 0;
  return 0;
}

int KT_SerialPort::Read(KT_ReadRecord& record) {
  if (fd_ < 0) return Fail(kReadFn, 1, 0, "read on a closed port");
  write_pending_ = 0;
  const int total_ms = read_timeout_ms_ > 0 ? read_timeout_ms_ : kDefaultReadTimeoutMs;
  read_timeout_ms_ = kDefaultReadTimeoutMs;

  const int capacity = record.EffectiveCapacity();
  uint8_t buffer[KT_ReadRecord::kMaxCapacity];
  int got = 0;
  bool overflow = false;
  uint64_t overruns_before = 0;
  const bool counts_overruns = platform::GetOverrunCount(fd_, &overruns_before) == 0;

  const uint64_t start = platform::TickMs();
  uint64_t last_byte = start;
  int failure = 0;
  bool hung_up = false;
  for (;;) {
    // The time is taken before reading, so a byte counts as arrived no later than it did.
    const uint64_t now = platform::TickMs();
    if (got > 0 && now - last_byte >= static_cast<uint64_t>(kIntervalTimeoutMs)) break;
    if (now - start >= static_cast<uint64_t>(total_ms)) break;
    const ssize_t n = ::read(fd_, buffer + got, static_cast<size_t>(capacity - got));
    if (n > 0) {
      const bool ended = record.endByte >= 0 && record.endByte <= 0xFF &&
                         std::memchr(buffer + got, record.endByte, static_cast<size_t>(n)) != nullptr;
      got += static_cast<int>(n);
      bytes_received_ += static_cast<uint64_t>(n);
      last_byte = now;
      if (got >= capacity || ended) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      failure = errno;
      break;
    }
    if (hung_up) {
      // The device end is gone (a pseudo-terminal whose other side closed, say).
      failure = EIO;
      break;
    }
    uint64_t wait = static_cast<uint64_t>(total_ms) - (now - start);
    if (got > 0) wait = std::min<uint64_t>(wait, static_cast<uint64_t>(kIntervalTimeoutMs) - (now - last_byte));
    wait = std::min<uint64_t>(wait, kPollSliceMs);
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(wait));
    if (r < 0 && errno != EINTR) {
      failure = errno;
      break;
    }
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) hung_up = true;
  }

  if (counts_overruns) {
    uint64_t overruns_after = 0;
    if (platform::GetOverrunCount(fd_, &overruns_after) == 0 && overruns_after != overruns_before) {
      overflow = true;
    }
  }
  if (failure != 0 && got == 0) {
    // The port's error state is cleared by discarding what the driver holds.
    platform::FlushLine(fd_);
    return Fail(kReadFn, 3, failure, "read failed");
  }
  if (got == 0) {
    record.data.clear();
    return 0;
  }
  record.data.assign(buffer, buffer + got);
  record.length = overflow ? -1 : got;
  return 1;
}

int KT_SerialPort::Write(const void* bytes, int count) {
  if (bytes == nullptr || count <= 0) return Fail(kWriteFn, 1, 0, "nothing to write");
  if (fd_ < 0) return Fail(kWriteFn, 2, 0, "write on a closed port");
  write_pending_ = 1;

  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t left = static_cast<size_t>(count);
  const uint64_t deadline = NowMs() + static_cast<uint64_t>(
      TransmitBoundMs(left, BaudRateFromCode(settings_.GetBaudIndex())));
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      const int e = errno;
      platform::FlushLine(fd_);
      return Fail(kWriteFn, 3, e, "write failed");
    }
    // The driver's queue is full (flow control holds it, or the peer does not read).
    const uint64_t now = NowMs();
    if (now >= deadline) break;
    pollfd pf{fd_, POLLOUT, 0};
    const int r = ::poll(&pf, 1, static_cast<int>(std::min<uint64_t>(deadline - now, kPollSliceMs)));
    if (r > 0 && (pf.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pf.revents & POLLOUT)) {
      platform::FlushLine(fd_);
      return Fail(kWriteFn, 3, EIO, "write failed");
    }
  }
  if (left > 0) return Fail(kWriteFn, 4, ETIMEDOUT, "fewer bytes written than asked");
  return 1;
}

int KT_SerialPort::ControlSet(int lines) {
  if (fd_ < 0) return Fail(kControlSetFn, 1, 0, "line change on a closed port");
  if (int e = DriveLine(kDtr, (lines & kDtr) != 0)) return Fail(kControlSetFn, 2, e, "DTR refused");
  if (int e = DriveLine(kRts, (lines & kRts) != 0)) return Fail(kControlSetFn, 2, e, "RTS refused");
  return 0;
}

int KT_SerialPort::ControlCheck(int mask) {
  if (fd_ < 0) return Fail(kControlCheckFn, 1, 0, "line check on a closed port");
  uint32_t lines = 0;
  if (real_modem_lines_) {
    if (int e = platform::GetModemLines(fd_, &lines)) return Fail(kControlCheckFn, 2, e, "cannot read the modem lines");
  } else {
    platform::ModemSideband* sb = Sideband();
    if (sb == nullptr) return Fail(kControlCheckFn, 2, ENOTTY, "the device has no modem lines");
    // A live device side reacts to our last line change before we look (as wiring would).
    sb->WaitDeviceCaughtUp(platform::ModemSideband::kReactionTimeoutMs);
    lines = sb->DeviceAlive() ? sb->DeviceLines() : 0;
  }
  lines &= platform::kDeviceLines;
  return static_cast<int>(lines & static_cast<uint32_t>(mask));
}

int KT_SerialPort::Ready(int seconds) {
  if (seconds < 0) seconds = 0;
  read_timeout_ms_ = seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
  if (!write_pending_) return 1;
  if (fd_ < 0) {
    Fail(kReadyFn, 1, EBADF, "wait for transmission on a closed port");
    Close();
    return -1;
  }
  // Wait until the last written byte has left, bounded by the time the queue needs.
  int queued = 0;
  if (int e = platform::GetOutputQueue(fd_, &queued)) {
    Fail(kReadyFn, 1, e, "wait for transmission failed");
    Close();
    return -1;
  }
  const uint64_t deadline = NowMs() + static_cast<uint64_t>(TransmitBoundMs(
      static_cast<size_t>(queued), BaudRateFromCode(settings_.GetBaudIndex())));
  for (;;) {
    bool done = false;
    if (platform::GetOutputQueue(fd_, &queued) == 0 && queued == 0) {
      bool empty = true;
      const int e = platform::GetTransmitterEmpty(fd_, &empty);
      done = (e != 0) || empty;  // a driver that cannot tell has nothing more to show
    }
    if (done) break;
    if (NowMs() >= deadline) {
      Fail(kReadyFn, 1, ETIMEDOUT, "transmission did not finish");
      Close();
      return -1;
    }
    ::poll(nullptr, 0, 2);
  }
  write_pending_ = 0;
  return 1;
}

int KT_SerialPort::SetBaud(int code) {
  if (fd_ < 0) return Fail(kSetBaudFn, 1, 0, "speed change on a closed port");
  platform::LineSettings current;
  if (int e = platform::GetLineSettings(fd_, &current)) {
    Fail(kSetBaudFn, 2, e, "cannot read the line settings");
    Close();
    return -1;
  }
  if (int e = platform::SetLineSpeed(fd_, BaudRateFromCode(code))) {
    Fail(kSetBaudFn, 3, e, "cannot change the speed");
    Close();
    return -1;
  }
  settings_.StoreBaudIndex(static_cast<uint8_t>(code));
  return 0;
}

int KT_SerialPort::Close() {
  if (fd_ >= 0) {
    platform::FlushLine(fd_);
    // Closing drops the host lines, as a port's hang-up on close does; and as a real port
    // holds them low for its close delay, the device on the other end is given the time to
    // see the drop (a modem hangs up on it) before the next open can raise them again.
    if (sideband_ && sideband_->DeviceAlive()) {
      sideband_->SetHostLines(0);
      sideband_->WaitDeviceCaughtUp(kHangupWaitMs);
    }
    // Exclusive use outlives the descriptor while anything else keeps the device open:
    // without this, the next open by an ordinary user, this program's own included, would be
    // refused as busy.
    platform::SetExclusive(fd_, false);
    ::close(fd_);  // also releases the port lock
  }
  fd_ = -1;
  sideband_.reset();
  sideband_host_lines_ = 0;
  real_modem_lines_ = false;
  read_timeout_ms_ = kDefaultReadTimeoutMs;
  state_ = kClosed;
  hardware_flow_override_ = 0;
  return 0;
}
