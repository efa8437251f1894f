#include "core/mail_paging/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/modem_sideband.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_line.h"
#include "tests/support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::ScopedManualClock;
using testing_support::TempDir;
using testing_support::TraceCapture;

namespace {

constexpr auto kBound = std::chrono::seconds(10);

std::string Text(const std::vector<uint8_t>& b) {
  return std::string(b.begin(), b.end());
}

// The last error.dat record as (class, function, code, system error).
std::vector<int32_t> LastLogged() {
  const auto b = ReadFileBytes("error.dat");
  if (b.size() < 20) return {};
  const size_t at = b.size() - 20;
  std::vector<int32_t> v;
  for (size_t i = 1; i < 5; ++i) {
    const size_t o = at + 4 * i;
    v.push_back(static_cast<int32_t>(b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (static_cast<uint32_t>(b[o + 3]) << 24)));
  }
  return v;
}

// A read or write running on another thread. If a test fails while it still waits on the
// manual clock, the destructor moves the clock far ahead so the thread can end.
class Pending {
 public:
  Pending(std::future<int> f, platform::ManualClock* clock) : f_(std::move(f)), clock_(clock) {}
  ~Pending() {
    if (clock_ && f_.valid() && f_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      clock_->AdvanceMs(24u * 3600u * 1000u);
    }
  }
  std::future_status wait_for(std::chrono::milliseconds d) { return f_.wait_for(d); }
  int get() { return f_.get(); }

 private:
  std::future<int> f_;
  platform::ManualClock* clock_;
};

// A serial port on the slave end of a pseudo-terminal; the test plays the device on the master.
class SerialPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty_.Open(), 0);
    port_.Settings().SetPortName(pty_.slave_path().c_str());
  }

  int OpenPort(int baud_code = 3) {
    port_.Settings().StoreBaudIndex(static_cast<uint8_t>(baud_code));
    return port_.Open();
  }

  void PeerWrite(const std::string& s) {
    ASSERT_EQ(::write(pty_.master(), s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }

  std::string PeerRead() {
    std::string out;
    char buf[4096];
    for (;;) {
      pollfd p{pty_.master(), POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) break;
      const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  // Waits (bounded) until the port has taken `total` bytes from the line since it was made.
  bool WaitReceived(uint64_t total) {
    for (int i = 0; i < 5000 && port_.BytesReceived() < total; ++i) ::poll(nullptr, 0, 2);
    return port_.BytesReceived() >= total;
  }

  Pending StartRead(KT_ReadRecord& record, ScopedManualClock& clock) {
    return Pending(std::async(std::launch::async, [this, &record] { return port_.Read(record); }), &*clock);
  }

  // A read that must end without the clock moving (a full buffer or the end byte ends it).
  // Should it not end, the test fails instead of hanging.
  int ReadAtOnce(KT_ReadRecord& record, ScopedManualClock& clock) {
    Pending read = StartRead(record, clock);
    if (read.wait_for(kBound) != std::future_status::ready) {
      ADD_FAILURE() << "the read did not end";
      return -2;
    }
    return read.get();
  }

  // Moves the manual clock in steps until the read ends; returns how far it moved.
  uint64_t AdvanceUntilDone(ScopedManualClock& clock, Pending& read, uint64_t step) {
    uint64_t moved = 0;
    for (int i = 0; i < 10000; ++i) {
      if (read.wait_for(std::chrono::milliseconds(2)) == std::future_status::ready) return moved;
      clock->AdvanceMs(step);
      moved += step;
    }
    return moved;
  }

  uint32_t SlaveSpeed() {
    platform::LineSettings line;
    EXPECT_EQ(platform::GetLineSettings(pty_.master(), &line), 0);
    return line.bps;
  }

  TempDir dir_;
  platform::PseudoTerminal pty_;
  KT_SerialPort port_;
};

TEST_F(SerialPortOnPty, SilenceEndsAtTheReadTimeOutWithNothingRead) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(), 0);
  KT_ReadRecord record;
  auto read = StartRead(record, clock);
  const uint64_t moved = AdvanceUntilDone(clock, read, 50);
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), 0);
  EXPECT_GE(moved, 1000u);  // never before the deadline
  EXPECT_TRUE(record.data.empty());
  EXPECT_EQ(port_.ReadTimeoutMs(), 1000);
}

TEST_F(SerialPortOnPty, ReplySplitByHalfASecondIsJoined) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(), 0);
  KT_ReadRecord record;
  PeerWrite("23");
  auto read = StartRead(record, clock);
  ASSERT_TRUE(WaitReceived(2));
  clock->AdvanceMs(500);
  PeerWrite("0.4\r\n");
  ASSERT_TRUE(WaitReceived(7));
  clock->AdvanceMs(1000);  // the line has been quiet for a whole interval now
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), 1);
  EXPECT_EQ(Text(record.data), "230.4\r\n");
  EXPECT_EQ(record.length, 7);
}

TEST_F(SerialPortOnPty, ReplySplitByOneAndAHalfSecondsEndsTheReadAtTheGap) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(), 0);
  KT_ReadRecord first;
  PeerWrite("23");
  auto read = StartRead(first, clock);
  ASSERT_TRUE(WaitReceived(2));
  clock->AdvanceMs(1500);
  PeerWrite("0.4\r\n");
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), 1);
  EXPECT_EQ(Text(first.data), "23");

  // The rest waits for the next read.
  KT_ReadRecord second;
  second.capacity = 5;
  EXPECT_EQ(ReadAtOnce(second, clock), 1);
  EXPECT_EQ(Text(second.data), "0.4\r\n");
}

TEST_F(SerialPortOnPty, FullBufferReturnsAtOnceAndKeepsTheRest) {
  ScopedManualClock clock;  // never moved: only a full buffer can end these reads
  ASSERT_EQ(OpenPort(), 0);
  PeerWrite("ABCDEF");
  KT_ReadRecord record;
  record.capacity = 4;
  EXPECT_EQ(ReadAtOnce(record, clock), 1);
  EXPECT_EQ(Text(record.data), "ABCD");
  record.capacity = 2;
  EXPECT_EQ(ReadAtOnce(record, clock), 1);
  EXPECT_EQ(Text(record.data), "EF");
}

TEST_F(SerialPortOnPty, EndByteEndsTheReadWithoutWaitingForTheGap) {
  ScopedManualClock clock;  // never moved: only the line end can end the read
  ASSERT_EQ(OpenPort(), 0);
  PeerWrite("08\r\n");
  KT_ReadRecord record;
  record.capacity = 8;
  record.endByte = '\n';
  EXPECT_EQ(ReadAtOnce(record, clock), 1);
  EXPECT_EQ(Text(record.data), "08\r\n");
}

TEST_F(SerialPortOnPty, ReadNeverExceedsItsOwnBuffer) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(7), 0);
  KT_ReadRecord record;
  record.capacity = 100000;  // more than the port can take in one read
  PeerWrite(std::string(5000, 'x'));
  auto read = StartRead(record, clock);
  // Let the port take a whole buffer before time moves, so a loaded machine cannot end the
  // read at the gap with part of the data.
  ASSERT_TRUE(WaitReceived(4096));
  AdvanceUntilDone(clock, read, 200);
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), 1);
  EXPECT_EQ(record.data.size(), 4096u);
  EXPECT_EQ(record.length, 4096);
}

TEST_F(SerialPortOnPty, ReadyLengthensOnlyTheNextRead) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_EQ(port_.Ready(3), 1);  // nothing written: returns at once
  KT_ReadRecord record;
  auto read = StartRead(record, clock);
  // Start the read on a first byte, so the deadline counts from a known point.
  PeerWrite("a");
  ASSERT_TRUE(WaitReceived(1));
  clock->AdvanceMs(900);
  PeerWrite("b");
  ASSERT_TRUE(WaitReceived(2));
  clock->AdvanceMs(900);
  PeerWrite("c");
  ASSERT_TRUE(WaitReceived(3));  // at 1.8 s the three-second read still takes bytes
  clock->AdvanceMs(1000);
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), 1);
  EXPECT_EQ(Text(record.data), "abc");

  // Back to one second.
  KT_ReadRecord next;
  auto silent = StartRead(next, clock);
  const uint64_t moved = AdvanceUntilDone(clock, silent, 50);
  EXPECT_EQ(silent.get(), 0);
  EXPECT_GE(moved, 1000u);
  EXPECT_LT(moved, 3000u);
}

TEST_F(SerialPortOnPty, WriteReachesThePeerAndReadyClearsThePendingWrite) {
  ASSERT_EQ(OpenPort(), 0);
  const uint8_t bytes[] = {'A', 'B', 0};
  EXPECT_EQ(port_.Write(bytes, 3), 1);
  EXPECT_TRUE(port_.WritePending());
  EXPECT_EQ(port_.Ready(3), 1);
  EXPECT_FALSE(port_.WritePending());
  EXPECT_EQ(port_.ReadTimeoutMs(), 3000);
  EXPECT_EQ(PeerRead(), std::string("AB\0", 3));

  // A read clears the flag without waiting.
  EXPECT_EQ(port_.Write("Y", 1), 1);
  ScopedManualClock clock;
  PeerWrite("SM\r\n");
  KT_ReadRecord record;
  record.capacity = 4;
  EXPECT_EQ(ReadAtOnce(record, clock), 1);
  EXPECT_FALSE(port_.WritePending());
}

TEST_F(SerialPortOnPty, WriteToAPeerThatNeverReadsGivesUpInsteadOfHanging) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(7), 0);
  const std::string big(1 << 20, 'z');
  Pending write(std::async(std::launch::async, [&] { return port_.Write(big.data(), static_cast<int>(big.size())); }),
                &*clock);
  AdvanceUntilDone(clock, write, 10000);
  ASSERT_EQ(write.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(write.get(), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 3, 4, ETIMEDOUT}));
}

TEST_F(SerialPortOnPty, BadWritesAreRefusedWithTheirCodes) {
  EXPECT_EQ(port_.Write("x", 1), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 3, 2, 0}));
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_EQ(port_.Write(nullptr, 3), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 3, 1, 0}));
  EXPECT_EQ(port_.Write("x", 0), -1);
  EXPECT_EQ(port_.Write("x", -5), -1);
  EXPECT_EQ(port_.LastError().code, 1);
}

TEST_F(SerialPortOnPty, PeerVanishingMakesReadFailNotHang) {
  ScopedManualClock clock;
  ASSERT_EQ(OpenPort(), 0);
  pty_.Close();
  KT_ReadRecord record;
  auto read = StartRead(record, clock);
  AdvanceUntilDone(clock, read, 100);
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), -1);
  EXPECT_EQ(LastLogged()[1], 2);
  EXPECT_EQ(LastLogged()[2], 3);
}

TEST_F(SerialPortOnPty, BaudCodesSetTheLineSpeed) {
  const struct {
    int code;
    uint32_t bps;
  } cases[] = {{0, 300},    {1, 600},    {2, 1200},  {3, 2400},  {4, 4800},  {5, 9600},
               {6, 19200},  {7, 38400},  {8, 14400}, {9, 28800}, {10, 9600}, {255, 9600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_EQ(OpenPort(c.code), 0);
    EXPECT_EQ(SlaveSpeed(), c.bps);
    port_.Close();
  }
  ASSERT_EQ(OpenPort(3), 0);
  EXPECT_EQ(port_.SetBaud(9), 0);
  EXPECT_EQ(SlaveSpeed(), 28800u);
  EXPECT_EQ(port_.Settings().GetBaudIndex(), 9);
  EXPECT_EQ(port_.SetBaud(42), 0);
  EXPECT_EQ(SlaveSpeed(), 9600u);
  port_.Close();
  EXPECT_EQ(port_.SetBaud(3), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 8, 1, 0}));
}

TEST(SerialPortLine, SettingsMapOntoTheLine) {
  KT_PortSettings s;
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).parity, platform::Parity::kNone);
  s.SetParity(1);
  s.SetDataBits(7);
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).parity, platform::Parity::kEven);
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).data_bits, 7);
  s.SetParity(2);
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).parity, platform::Parity::kOdd);
  s.StoreParity(9);
  s.StoreFlowControl(7);
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).parity, platform::Parity::kNone);
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).flow, platform::FlowControl::kNone);
  s.StoreStopBits(1);
  EXPECT_FALSE(KT_SerialPort::LineSettingsFor(s).two_stop_bits);
  s.SetFlowControl(2);
  EXPECT_EQ(KT_SerialPort::LineSettingsFor(s).flow, platform::FlowControl::kXonXoff);
}

TEST_F(SerialPortOnPty, LineIsRawAndFlowControlFollowsTheConfiguration) {
  // A pseudo-terminal always carries 8 bits without parity, so only these show on it.
  auto line = [&] {
    platform::LineSettings s;
    EXPECT_EQ(platform::GetLineSettings(pty_.master(), &s), 0);
    return s;
  };
  port_.Settings().SetFlowControl(2);
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_TRUE(line().raw);
  EXPECT_EQ(line().flow, platform::FlowControl::kXonXoff);
  port_.Close();

  port_.Settings().SetFlowControl(0);
  port_.SetHardwareFlowOverride(1);
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_EQ(line().flow, platform::FlowControl::kHardware);
  EXPECT_EQ(port_.Settings().GetFlowControl(), 1);
  port_.Close();
  EXPECT_EQ(port_.HardwareFlowOverride(), 0);  // Close resets the override

  port_.Settings().StoreDataBits(9);  // a value the line cannot carry
  EXPECT_EQ(OpenPort(), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 6, 3, EINVAL}));
  EXPECT_FALSE(port_.IsDeviceOpen());
}

TEST_F(SerialPortOnPty, OpenFailuresAreRecordedAndLeaveThePortClosed) {
  KT_SerialPort unnamed;
  EXPECT_EQ(unnamed.Open(), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 1, 1, 0}));

  KT_SerialPort missing;
  missing.Settings().SetPortName("/dev/no-such-port");
  EXPECT_EQ(missing.Open(), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 1, 2, ENOENT}));
  EXPECT_FALSE(missing.IsDeviceOpen());

  testing_support::WriteFileText(dir_.File("plain"), "not a tty");
  KT_SerialPort plain;
  plain.Settings().SetPortName(dir_.File("plain").c_str());
  EXPECT_EQ(plain.Open(), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 6, 2, ENOTTY}));
  EXPECT_FALSE(plain.IsDeviceOpen());
  EXPECT_EQ(plain.Handle(), -1);

  ASSERT_EQ(OpenPort(), 0);
  EXPECT_EQ(port_.Open(), 0);  // opening again starts over instead of holding two descriptors
  KT_SerialPort second;
  second.Settings().SetPortName(pty_.slave_path().c_str());
  EXPECT_EQ(second.Open(), -1);  // the port is not shared
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 1, 2, EBUSY}));
  port_.Close();
  EXPECT_EQ(second.Open(), 0);
}

// Root passes the kernel's exclusive-use check, so the port is tried by an ordinary user (a
// child that drops root when the tests run as root): refused while held, and free again after
// a close and after a holder that died, while the far end of the pseudo-terminal stays open as
// a UPS cable does. Detection opens and closes the port once per protocol.
TEST_F(SerialPortOnPty, OrdinaryUserIsRefusedWhileThePortIsHeldAndServedAfterwards) {
  testing_support::GiveToOrdinaryUser(pty_.slave_path());
  const std::string path = pty_.slave_path();
  // 0 when an ordinary user's port opens (and closes), else the system error of the refusal.
  auto openAsUser = [&path] {
    return testing_support::RunAsOrdinaryUser([&path] {
      for (int i = 0; i < 3; ++i) {
        KT_SerialPort port;
        port.Settings().SetPortName(path.c_str());
        if (port.Open() != 0) return static_cast<int>(port.LastError().systemError & 0x7F);
        port.Close();
      }
      return 0;
    });
  };
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_EQ(openAsUser(), EBUSY);
  port_.Close();
  EXPECT_EQ(openAsUser(), 0);
  // A holder that dies without closing (killed) leaves the port free as well.
  ASSERT_EQ(testing_support::RunAsOrdinaryUser([&path] {
              KT_SerialPort port;
              port.Settings().SetPortName(path.c_str());
              if (port.Open() != 0) return 1;
              ::_exit(0);
            }),
            0);
  EXPECT_EQ(openAsUser(), 0);
}

TEST_F(SerialPortOnPty, ClosedPortOperationsFailAndCloseIsIdempotent) {
  KT_ReadRecord record;
  EXPECT_EQ(port_.Read(record), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 2, 1, 0}));
  EXPECT_EQ(port_.ControlSet(KT_SerialPort::kRts), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 4, 1, 0}));
  EXPECT_EQ(port_.ControlCheck(0xFFFF), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 5, 1, 0}));
  EXPECT_EQ(port_.Close(), 0);
  EXPECT_EQ(port_.Close(), 0);
  EXPECT_EQ(port_.DeviceState(), KT_CommDevice::kClosed);
  EXPECT_EQ(port_.ReadTimeoutMs(), 1000);
}

TEST_F(SerialPortOnPty, ModemLinesGoThroughTheSideband) {
  int error = 0;
  auto device = platform::ModemSideband::Create(pty_.slave_path(), &error);
  ASSERT_TRUE(device) << error;
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_EQ(device->HostLines(), 0u);  // the line setup holds DTR and RTS low

  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kDtr | KT_SerialPort::kRts), 0);
  EXPECT_EQ(device->HostLines(), static_cast<uint32_t>(KT_SerialPort::kDtr | KT_SerialPort::kRts));
  device->SetDeviceLines(platform::kLineCts | platform::kLineDcd | platform::kLineDsr);
  device->Acknowledge(device->HostChangeCount());
  EXPECT_EQ(port_.ControlCheck(0xFFFF), 0x20 | 0x40 | 0x100);
  EXPECT_EQ(port_.ControlCheck(0x40), 0x40);
  EXPECT_EQ(port_.ControlCheck(0x80), 0);

  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kRts), 0);
  EXPECT_EQ(device->HostLines(), static_cast<uint32_t>(KT_SerialPort::kRts));
  // Closing drops the lines and waits for the device to take that.
  const uint32_t seen = device->HostChangeCount();
  std::thread acknowledge([&device, seen] { device->Acknowledge(device->WaitHostChange(seen, 10000)); });
  port_.Close();
  acknowledge.join();
  EXPECT_EQ(device->HostLines(), 0u);
}

// A device that takes its time to notice line changes (a loaded machine) still sees the lines
// drop when the port closes, however soon the port is opened again: a modem hangs up on it.
TEST_F(SerialPortOnPty, ASlowDeviceSeesTheLinesDropAtClose) {
  int error = 0;
  auto device = platform::ModemSideband::Create(pty_.slave_path(), &error);
  ASSERT_TRUE(device) << error;
  std::mutex mutex;
  std::vector<uint32_t> seen_dtr;  // the DTR states the device saw, changes only
  std::atomic<bool> stop{false};
  std::thread slow([&] {
    uint32_t seen = 0;
    while (!stop) {
      const uint32_t count = device->WaitHostChange(seen, 50);
      if (count == seen) continue;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const uint32_t dtr = device->HostLines() & platform::kLineDtr;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (seen_dtr.empty() || seen_dtr.back() != dtr) seen_dtr.push_back(dtr);
      }
      device->Acknowledge(count);
      seen = count;
    }
  });
  ASSERT_EQ(OpenPort(), 0);
  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kDtr), 0);
  EXPECT_EQ(port_.ControlCheck(KT_SerialPort::kAllLines), 0);  // waits until the device saw DTR
  port_.Close();
  ASSERT_EQ(OpenPort(), 0);
  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kDtr), 0);
  port_.ControlCheck(KT_SerialPort::kAllLines);
  stop = true;
  slow.join();
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(seen_dtr, (std::vector<uint32_t>{platform::kLineDtr, 0, platform::kLineDtr}));
}

TEST_F(SerialPortOnPty, PseudoTerminalWithoutSidebandHasNoModemLines) {
  ASSERT_EQ(OpenPort(), 0);  // the line setup does not need the lines
  EXPECT_EQ(port_.ControlCheck(0xFFFF), -1);
  EXPECT_EQ(LastLogged(), (std::vector<int32_t>{37, 5, 2, ENOTTY}));
  EXPECT_EQ(port_.ControlSet(KT_SerialPort::kRts), -1);
  EXPECT_EQ(LastLogged()[2], 2);
  EXPECT_TRUE(port_.IsDeviceOpen());
}

class ForgetfulDevice : public KT_CommDevice {
 public:
  int Close() override { return KT_CommDevice::Close(); }
  int Read(KT_ReadRecord& r) override { return KT_CommDevice::Read(r); }
  int Open() override { return KT_CommDevice::Open(); }
  int ControlSet(int l) override { return KT_CommDevice::ControlSet(l); }
  int ControlCheck(int m) override { return KT_CommDevice::ControlCheck(m); }
  int Ready(int s) override { return KT_CommDevice::Ready(s); }
  int SetBaud(int) override { return -1; }
  void MarkOpen() { state_ = kOpen; }
};

TEST(CommDevice, BaseOperationsReportAProgrammerError) {
  TraceCapture trace;
  {
    ForgetfulDevice d;
    KT_ReadRecord r;
    EXPECT_EQ(d.Open(), -1);
    EXPECT_EQ(d.Read(r), -1);
    EXPECT_EQ(d.Write("x", 1), -1);
    EXPECT_EQ(d.ControlSet(0), -1);
    EXPECT_EQ(d.ControlCheck(0), -1);
    EXPECT_EQ(d.Ready(1), -1);
    d.MarkOpen();
  }
  EXPECT_EQ(trace.Text(),
            "programmer error: Open Not implemented in the child.\n"
            "programmer error: Read Not implemented in the child.\n"
            "programmer error: Write Not implemented in the child.\n"
            "programmer error: ControlSet Not implemented in the child.\n"
            "programmer error: ControlCheck Not implemented in the child.\n"
            "programmer error: Ready Not implemented in the child.\n"
            "programmer error: Not implemented in the child.\n");
}

}  // namespace
