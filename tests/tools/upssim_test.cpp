// The UPS simulator as the agent's serial port sees it: a KT_SerialPort on the simulator's
// pseudo-terminal, the simulator driven through its control channel.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>

#include "core/mail_paging/serial_port.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using testing_support::ScopedManualClock;
using testing_support::SimulatedUps;
using testing_support::TempDir;

namespace {

constexpr int kApcCode = 3;  // 2400 baud

class UpsOnTheLine : public ::testing::Test {
 protected:
  void Start(const std::string& mode, int baud_code, const std::vector<std::string>& args = {}) {
    ups_ = std::make_unique<SimulatedUps>(mode, args);
    ASSERT_TRUE(ups_->ok()) << ups_->error();
    port_.Settings().SetPortName(ups_->device().c_str());
    port_.Settings().StoreBaudIndex(static_cast<uint8_t>(baud_code));
    ASSERT_EQ(port_.Open(), 0);
  }

  // Sends a command and reads exactly `size` bytes of answer (the read ends when the buffer is
  // full; a shorter answer shows after the read's time-out).
  std::string Ask(const std::string& command, int size) {
    EXPECT_EQ(port_.Write(command.data(), static_cast<int>(command.size())), 1);
    EXPECT_EQ(port_.Ready(3), 1);
    KT_ReadRecord record;
    record.capacity = size;
    if (port_.Read(record) != 1) return "<nothing>";
    return std::string(record.data.begin(), record.data.end());
  }

  // Sends a command, waits until the simulator has logged `entry` for it, then proves that
  // no answer comes: a read on the manual clock must end empty at its time-out.
  void ExpectNoAnswer(const std::string& command, const std::string& entry) {
    const size_t from = ups_->LogCount();
    ASSERT_EQ(port_.Write(command.data(), static_cast<int>(command.size())), 1);
    ASSERT_TRUE(ups_->WaitForLog(entry, from)) << entry;
    ScopedManualClock clock;
    KT_ReadRecord record;
    auto read = std::async(std::launch::async, [&] { return port_.Read(record); });
    while (read.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) clock->AdvanceMs(50);
    EXPECT_EQ(read.get(), 0) << "answer: " << std::string(record.data.begin(), record.data.end());
  }

  int Lines() { return port_.ControlCheck(KT_SerialPort::kAllLines); }

  TempDir dir_;
  std::unique_ptr<SimulatedUps> ups_;
  KT_SerialPort port_;
};

TEST_F(UpsOnTheLine, SmartUpsAnswersOnlyAt2400Baud) {
  Start("apc", 5);  // 9600
  ExpectNoAnswer("Y", "IGNORED 59 at 9600");
  ASSERT_EQ(port_.SetBaud(kApcCode), 0);
  EXPECT_EQ(Ask("Y", 4), "SM\r\n");
  EXPECT_EQ(ups_->Entries("REQ"), std::vector<std::string>{"Y"});
}

TEST_F(UpsOnTheLine, SmartUpsIdentificationAndMeters) {
  Start("apc", kApcCode);
  EXPECT_EQ(Ask("V", 5), "8QT\r\n");
  EXPECT_EQ(Ask("n", 10), "SN123456\r\n");
  EXPECT_EQ(Ask("L", 7), "230.4\r\n");
  EXPECT_EQ(Ask("O", 7), "230.4\r\n");
  EXPECT_EQ(Ask("B", 7), "27.54\r\n");
  EXPECT_EQ(Ask("C", 7), "031.5\r\n");
  EXPECT_EQ(Ask("F", 7), "50.00\r\n");
  EXPECT_EQ(Ask("P", 7), "025.0\r\n");
  EXPECT_EQ(Ask("f", 7), "100.0\r\n");
  EXPECT_EQ(Ask("j", 7), "0045:\r\n");
  EXPECT_EQ(Ask("Q", 4), "08\r\n");
  EXPECT_EQ(Ask("Z", 4), "NA\r\n");
  EXPECT_EQ(Ask("\x01", 16), "Smart-UPS 1250\r\n");  // ^A: the model name
  ASSERT_TRUE(ups_->Do("set model 9QA"));
  ASSERT_TRUE(ups_->Do("set serial QS99"));
  EXPECT_EQ(Ask("V", 5), "9QA\r\n");
  EXPECT_EQ(Ask("n", 6), "QS99\r\n");
  EXPECT_EQ(Ask("\x01", 16), "Smart-UPS 2000\r\n");
  ASSERT_TRUE(ups_->Do("set name Smart-UPS 2200 XL"));
  EXPECT_EQ(Ask("\x01", 19), "Smart-UPS 2200 XL\r\n");
}

TEST_F(UpsOnTheLine, SmartUpsStatusRegisterFollowsTheUpsState) {
  Start("apc", kApcCode);
  ASSERT_TRUE(ups_->Do("mains fail"));
  EXPECT_EQ(Ask("Q", 5), "!10\r\n");  // the on-battery alert arrives first
  EXPECT_EQ(Ask("L", 7), "000.0\r\n");
  ASSERT_TRUE(ups_->Do("battery low"));
  EXPECT_EQ(Ask("Q", 4), "50\r\n");
  EXPECT_EQ(Ask("f", 7), "010.0\r\n");
  EXPECT_EQ(Ask("j", 7), "0002:\r\n");
  ASSERT_TRUE(ups_->Do("overload on"));
  EXPECT_EQ(Ask("Q", 4), "70\r\n");
  EXPECT_EQ(Ask("P", 7), "110.0\r\n");
  ASSERT_TRUE(ups_->Do("mains ok"));
  EXPECT_EQ(Ask("Q", 5), "$68\r\n");
  ASSERT_TRUE(ups_->Do("battery ok"));
  ASSERT_TRUE(ups_->Do("overload off"));
  ASSERT_TRUE(ups_->Do("replace-battery on"));
  ASSERT_TRUE(ups_->Do("boost on"));
  EXPECT_EQ(Ask("Q", 4), "8C\r\n");
}

TEST_F(UpsOnTheLine, SmartUpsSelfTest) {
  Start("apc", kApcCode);
  EXPECT_EQ(Ask("X", 4), "NO\r\n");  // no test run yet
  EXPECT_EQ(Ask("W", 4), "OK\r\n");
  EXPECT_EQ(Ask("X", 4), "NO\r\n");  // still running
  EXPECT_EQ(Ask("X", 4), "OK\r\n");
  EXPECT_EQ(Ask("X", 4), "OK\r\n");  // the last result stays

  ASSERT_TRUE(ups_->Do("selftest NG 2"));
  EXPECT_EQ(Ask("W", 4), "OK\r\n");
  EXPECT_EQ(Ask("X", 4), "NO\r\n");
  EXPECT_EQ(Ask("X", 4), "NO\r\n");
  EXPECT_EQ(Ask("X", 4), "NG\r\n");
  ASSERT_TRUE(ups_->Do("selftest BT 0"));
  EXPECT_EQ(Ask("W", 4), "OK\r\n");
  EXPECT_EQ(Ask("X", 4), "BT\r\n");
  const auto actions = ups_->Entries("ACTION");
  EXPECT_EQ(std::count(actions.begin(), actions.end(), "self-test started"), 3);
  EXPECT_EQ(actions.back(), "self-test finished: BT");
}

TEST_F(UpsOnTheLine, SmartUpsShutdownDelayStepsThroughItsValues) {
  Start("apc", kApcCode);
  EXPECT_EQ(Ask("p", 5), "020\r\n");
  for (const char* next : {"180", "300", "600", "020"}) {
    ASSERT_EQ(port_.Write("-", 1), 1);
    ASSERT_TRUE(ups_->WaitForLog(std::string("shutdown delay set to ") + next));
    EXPECT_EQ(Ask("p", 5), std::string(next) + "\r\n");
  }
  EXPECT_EQ(Ask("Y", 4), "SM\r\n");
  EXPECT_EQ(Ask("-", 4), "NA\r\n");  // nothing to step after another command
}

TEST_F(UpsOnTheLine, SmartUpsShutdownCommands) {
  Start("apc", kApcCode);
  ASSERT_TRUE(ups_->Do("mains fail"));
  EXPECT_EQ(Ask("S", 5), "!OK\r\n");
  EXPECT_TRUE(ups_->WaitForLog("ACTION shutdown: output off in 20 s"));
  EXPECT_EQ(Ask("@012", 3), "*\r\n");
  EXPECT_TRUE(ups_->WaitForLog("shutdown and return 12 tenths of an hour later"));
  // An "@" without its three digits is dropped; the next byte is a command of its own.
  EXPECT_EQ(Ask("@1Y", 8), "NA\r\nSM\r\n");
  EXPECT_TRUE(ups_->WaitForLog("REQ @1 (incomplete)"));
}

TEST_F(UpsOnTheLine, SmartUpsAnswersCanBeReplaced) {
  Start("apc", kApcCode);
  ASSERT_TRUE(ups_->Do("reply j 0012:"));
  EXPECT_EQ(Ask("j", 7), "0012:\r\n");
  ASSERT_TRUE(ups_->Do("reply-raw V 8Q\\x07T"));
  EXPECT_EQ(Ask("V", 4), "8Q\aT");
  ASSERT_TRUE(ups_->Do("reply Y none"));
  ExpectNoAnswer("Y", "REQ Y");
  ASSERT_TRUE(ups_->Do("reply Y default"));
  EXPECT_EQ(Ask("Y", 4), "SM\r\n");
}

TEST_F(UpsOnTheLine, SilenceGarbageAndAPulledCable) {
  Start("apc", kApcCode);
  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kRts), 0);
  EXPECT_EQ(Lines(), KT_SerialPort::kCts);  // the cable loops RTS to CTS

  ASSERT_TRUE(ups_->Do("silence on"));
  ExpectNoAnswer("Y", "REQ Y");
  ASSERT_TRUE(ups_->Do("silence off"));

  ASSERT_TRUE(ups_->Do("garbage on"));
  const std::string noise = Ask("Y", 4);
  EXPECT_EQ(noise.size(), 4u);
  EXPECT_NE(noise, "SM\r\n");
  ASSERT_TRUE(ups_->Do("garbage off"));

  ASSERT_TRUE(ups_->Do("cable pulled"));
  EXPECT_EQ(Lines(), 0);
  ExpectNoAnswer("Y", "LOST 59");
  ASSERT_TRUE(ups_->Do("cable connected"));
  EXPECT_EQ(Lines(), KT_SerialPort::kCts);
  EXPECT_EQ(Ask("Y", 4), "SM\r\n");
}

TEST_F(UpsOnTheLine, ContactClosureLoopsTheLineOnMainsOnly) {
  Start("contact", 2);
  const std::string probe("AB\0", 3);
  EXPECT_EQ(Ask(probe, 3), probe);
  ASSERT_EQ(port_.SetBaud(6), 0);  // a contact loop works at any speed
  EXPECT_EQ(Ask(probe, 3), probe);
  ASSERT_TRUE(ups_->Do("mains fail"));
  ExpectNoAnswer(probe, "BYTES 41 42 00 (loop open)");
  ASSERT_TRUE(ups_->Do("mains ok"));
  EXPECT_EQ(Ask(probe, 3), probe);
}

TEST_F(UpsOnTheLine, ContactClosureDrivesTheModemLines) {
  Start("contact", 2);
  const size_t from = ups_->LogCount();
  EXPECT_EQ(Lines(), KT_SerialPort::kDcd);  // battery contact closed, RTS low
  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kRts), 0);
  EXPECT_EQ(Lines(), KT_SerialPort::kCts | KT_SerialPort::kDcd);
  ASSERT_TRUE(ups_->Do("battery low"));
  EXPECT_EQ(port_.ControlCheck(KT_SerialPort::kDcd), 0);
  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kDtr), 0);
  EXPECT_EQ(Lines(), 0);
  ASSERT_EQ(port_.ControlSet(KT_SerialPort::kRts), 0);
  ASSERT_TRUE(ups_->Do("cable pulled"));
  EXPECT_EQ(Lines(), 0);
  // Each ControlSet changes DTR, then RTS; the simulator logs every change it sees.
  const auto lines = ups_->Entries("LINES", from);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "DTR=0 RTS=1");
  EXPECT_EQ(lines.back(), "DTR=0 RTS=1");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DTR=1 RTS=0"), lines.end());
}

TEST_F(UpsOnTheLine, ModemAnswersItsCommands) {
  Start("contact", 2);
  ASSERT_TRUE(ups_->Do("mode modem"));
  EXPECT_EQ(Ask("ATQ0\r", 11), "ATQ0\r\r\nOK\r\n");
  EXPECT_EQ(Lines(), KT_SerialPort::kCts | KT_SerialPort::kDsr);
  EXPECT_EQ(ups_->Entries("REQ"), std::vector<std::string>{"ATQ0"});
}

TEST_F(UpsOnTheLine, DelayedAndSplitAnswersArriveWhole) {
  Start("apc", kApcCode);
  ASSERT_TRUE(ups_->Do("delay 20"));
  ASSERT_TRUE(ups_->Do("split 20"));
  EXPECT_EQ(Ask("V", 5), "8QT\r\n");
}

TEST(UpsSimulatorControl, BadCommandsGetAnErrorAndChangeNothing) {
  SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  for (const char* bad :
       {"mains maybe", "mains", "delay -5", "delay 99999999", "split x", "send ZZ", "send 4", "send-text \\q",
        "reply", "reply-raw Y \\x4", "selftest MAYBE", "selftest OK 1001", "set colour red", "mode bcm2",
        "log-since x", "wait 1", "frobnicate"}) {
    const auto r = ups.Command(bad);
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_EQ(r.status.rfind("ERR ", 0), 0u) << bad << " -> " << r.status;
  }
  EXPECT_FALSE(ups.Command(std::string(10000, 'x')).ok);
  const auto status = ups.Command("status");
  ASSERT_TRUE(status.ok);
  ASSERT_GE(status.lines.size(), 3u);
  EXPECT_EQ(status.lines[0], "mode apc");
  EXPECT_NE(status.lines[2].find("mains=ok battery=ok"), std::string::npos);
  EXPECT_TRUE(ups.Do("help"));
}

TEST(UpsSimulatorControl, SocketControlAndAStableDeviceLink) {
  TempDir dir;
  const std::string socket_path = dir.File("ctl");
  const std::string link = dir.File("ttyUPS");
  SimulatedUps ups("contact", {"--control", socket_path, "--link", link});
  ASSERT_TRUE(ups.ok()) << ups.error();

  KT_SerialPort port;
  port.Settings().SetPortName(link.c_str());
  port.Settings().StoreBaudIndex(2);
  ASSERT_EQ(port.Open(), 0);  // through the link: the sideband is found by the real device
  ASSERT_EQ(port.ControlSet(KT_SerialPort::kRts), 0);
  EXPECT_EQ(port.ControlCheck(KT_SerialPort::kAllLines), KT_SerialPort::kCts | KT_SerialPort::kDcd);

  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string command = "battery low\n";
  ASSERT_EQ(::write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  char answer[16] = {};
  ASSERT_GT(::read(fd, answer, sizeof answer - 1), 0);
  EXPECT_STREQ(answer, "OK\n");
  ::close(fd);
  EXPECT_EQ(port.ControlCheck(KT_SerialPort::kAllLines), KT_SerialPort::kCts);
}

// Connects to a simulator's control socket, sends `commands`, shuts down the sending side at
// once and reads until the simulator closes (bounded).
std::string HalfClosedExchange(const std::string& socket_path, const std::string& commands) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "(no socket)";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_path.c_str());
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::write(fd, commands.data(), commands.size()) == static_cast<ssize_t>(commands.size()) &&
      ::shutdown(fd, SHUT_WR) == 0) {
    char buf[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) {
        answer += "(no end)";
        break;
      }
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return answer;
}

// A client that sends its commands and at once shuts down its sending side still gets every
// answer (a "wait" too, and a last command without its line end), then the simulator closes.
TEST(UpsSimulatorControl, EveryCommandIsAnsweredBeforeTheSocketCloses) {
  TempDir dir;
  const std::string socket_path = dir.File("ctl");
  SimulatedUps ups("apc", {"--control", socket_path});
  ASSERT_TRUE(ups.ok()) << ups.error();
  auto exchange = [&socket_path](const std::string& commands) {
    return HalfClosedExchange(socket_path, commands);
  };
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(exchange(i % 2 ? "mains fail\n" : "mains ok\n"), "OK\n") << "try " << i;
  }
  // The wait ends only after the input has: its answer comes last.
  const std::string later = exchange("battery low\nwait 1000000 300\nbattery ok");
  ASSERT_EQ(later.rfind("OK\nOK\nERR timeout ", 0), 0u) << later;
  EXPECT_EQ(later.back(), '\n') << later;
}

// The network BCM simulator alike, on its control socket and on standard input: the last
// command runs even without its line end.
TEST(NetBcmSimulatorControl, ALastCommandWithoutLineEndIsAnswered) {
  const char* build = std::getenv("VIGIL_BUILD_DIR");
  if (build == nullptr) GTEST_SKIP() << "VIGIL_BUILD_DIR not set";
  const std::string program = std::string(build) + "/tools/netbcmsim";
  TempDir dir;
  const std::string socket_path = dir.File("ctl");
  FILE* sim =
      ::popen((program + " --bind 127.0.0.1 --port 0 --no-stdin --control " + socket_path).c_str(), "r");
  ASSERT_NE(sim, nullptr);
  char line[256];
  while (std::fgets(line, sizeof line, sim) != nullptr && std::string(line) != "READY\n") {
  }
  const std::string answer = HalfClosedExchange(socket_path, "mains fail\nstatus");
  EXPECT_EQ(answer.rfind("OK\nport ", 0), 0u) << answer;
  EXPECT_NE(answer.find(" mains fail "), std::string::npos) << answer;
  EXPECT_EQ(answer.substr(answer.size() - 3), "OK\n") << answer;
  EXPECT_EQ(HalfClosedExchange(socket_path, "quit\n"), "OK\n");  // ends the simulator
  ::pclose(sim);

  FILE* piped =
      ::popen(("printf 'battery low\\nstatus' | " + program + " --bind 127.0.0.1 --port 0").c_str(), "r");
  ASSERT_NE(piped, nullptr);
  std::string out;
  while (std::fgets(line, sizeof line, piped) != nullptr) out += line;
  EXPECT_EQ(::pclose(piped), 0);
  EXPECT_NE(out.find(" battery low "), std::string::npos) << out;
}

}  // namespace
