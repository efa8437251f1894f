#include "core/network/ipc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_object.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& b) {
  std::string s;
  char two[3];
  for (uint8_t c : b) {
    std::snprintf(two, sizeof two, "%02x", c);
    s += two;
  }
  return s;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13);
  return b;
}

// A peer process with its standard output on a pipe.
struct Peer {
  pid_t pid = -1;
  int out = -1;
};

Peer StartPeer(const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  std::vector<char*> argv;
  std::string program = VIGIL_IPC_PEER;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

// Waits for the peer; its exit code (128 + signal when a signal ended it) and its output.
int WaitPeer(Peer& p, std::string* output = nullptr) {
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(p.out, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(p.out);
  int status = 0;
  ::waitpid(p.pid, &status, 0);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Polls until a message is taken or the time is up.
int ReceiveWithin(KT_IPC& ipc, Bytes& got, int seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (ipc.ReceiveData(nullptr, got) == 1) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv(platform::kNamePrefixVariable, testing_support::UniqueName("ipc").c_str(), 1); }
  void TearDown() override { testing_support::RestoreProgramNamePrefix(); }

  // Puts raw bytes into a block as a misbehaving writer would, and marks it full.
  void ForgeBlock(const char* map, const char* event, int32_t length, const Bytes& payload) {
    platform::NamedMapping block;
    platform::NamedEvent full;
    ASSERT_TRUE(block.Open(map));
    ASSERT_TRUE(full.Open(event));
    std::memcpy(block.Data(), &length, 4);  // little-endian machine
    if (!payload.empty()) std::memcpy(block.Data() + 4, payload.data(), payload.size());
    full.Reset();
  }

  testing_support::TempDir dir_;
};

TEST_F(IpcTest, FramesCrossBetweenTwoProcessesBothWays) {
  KT_IPC agent;
  ASSERT_EQ(agent.Initialize(), 1);
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);

  const Bytes request = {0xC0, 0x00, 0x09, 0x01, 0x01, 0x03, 0x01, 0x00, 0x00};
  Peer console = StartPeer({"0", "echo", Hex(request)});
  Bytes got;
  ASSERT_EQ(ReceiveWithin(agent, got), 1);
  EXPECT_EQ(got, request);

  const Bytes answer = Pattern(4999, 7);
  ASSERT_EQ(agent.SendData(nullptr, answer.data(), answer.size()), 0);
  std::string printed;
  EXPECT_EQ(WaitPeer(console, &printed), 0);
  EXPECT_EQ(printed, Hex(answer));
}

TEST_F(IpcTest, LengthEdgesAndStates) {
  testing_support::TraceCapture trace;
  KT_IPC console, agent;
  Bytes got;
  const Bytes one = {0x42};

  // Never opened.
  EXPECT_EQ(console.SendData(nullptr, one.data(), 1), -1);
  EXPECT_TRUE(trace.Contains("ERROR(KT_IPC::SendData): IPC not initialized\n"));
  EXPECT_EQ(console.ReceiveData(nullptr, got), -1);
  EXPECT_FALSE(console.IsDataReady());

  // A console before the agent: both blocks start free and the agent shares them.
  ASSERT_EQ(console.OpenChannel(kIpcConsoleRole), 0);
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  EXPECT_EQ(console.GetHostName(), nullptr);
  EXPECT_EQ(console.GetPort(), 0);
  trace.Clear();
  EXPECT_EQ(agent.ReceiveData(nullptr, got), -1);
  EXPECT_TRUE(trace.Contains("ERROR(KT_IPC::ReceiveData): Memory block pointer is NULL\n"));
  EXPECT_FALSE(agent.IsDataReady());

  trace.Clear();
  EXPECT_EQ(console.SendData(nullptr, one.data(), 0), -1);
  EXPECT_EQ(console.SendData(nullptr, nullptr, 5), -1);
  const Bytes big = Pattern(5000, 1);
  EXPECT_EQ(console.SendData(nullptr, big.data(), 5000), -1);
  EXPECT_EQ(trace.Text(),
            "ERROR(KT_IPC::SendData): invalid data packet\n"
            "ERROR(KT_IPC::SendData): invalid data packet\n"
            "ERROR(KT_IPC::SendData): invalid data packet\n");

  for (size_t n : {size_t{1}, size_t{4999}}) {
    const Bytes m = Pattern(n, static_cast<uint8_t>(n));
    ASSERT_EQ(console.SendData(nullptr, m.data(), m.size()), 0) << n;
    EXPECT_TRUE(agent.IsDataReady());
    ASSERT_EQ(agent.ReceiveData(nullptr, got), 1) << n;
    EXPECT_EQ(got, m);
    // And the other way.
    ASSERT_EQ(agent.SendData(nullptr, m.data(), m.size()), 0) << n;
    ASSERT_EQ(console.ReceiveData(nullptr, got), 1) << n;
    EXPECT_EQ(got, m);
  }

  // Closed: sending is refused, the objects stay for the peer.
  console.CloseChannel();
  EXPECT_EQ(console.SendData(nullptr, one.data(), 1), -1);
  ASSERT_EQ(agent.SendData(nullptr, one.data(), 1), 0);
}

TEST_F(IpcTest, AFullBlockTimesOutAndItsMessageIsDeliveredLater) {
  testing_support::TraceCapture trace;
  KT_IPC console, agent;
  ASSERT_EQ(console.OpenChannel(kIpcConsoleRole), 0);
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  const Bytes first = {1, 1, 1}, second = {2, 2};
  ASSERT_EQ(console.SendData(nullptr, first.data(), first.size()), 0);
  EXPECT_EQ(console.SendData(nullptr, second.data(), second.size()), -1);
  EXPECT_TRUE(trace.Contains("ERROR(KT_IPC::SendData): Wait for ToDaemon event timed-out\n"));

  ASSERT_EQ(agent.SendData(nullptr, first.data(), first.size()), 0);
  EXPECT_EQ(agent.SendData(nullptr, second.data(), second.size()), -1);
  EXPECT_TRUE(trace.Contains("ERROR(KT_IPC::SendData): Wait for FromDaemon event timed-out\n"));

  Bytes got;
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_EQ(got, first);
  ASSERT_EQ(console.SendData(nullptr, second.data(), second.size()), 0);
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_EQ(got, second);

  // A writer waiting for the block gets it as soon as the reader frees it.
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Bytes taken;
    agent.ReceiveData(nullptr, taken);
  });
  ASSERT_EQ(console.SendData(nullptr, first.data(), first.size()), 0);
  EXPECT_EQ(console.SendData(nullptr, second.data(), second.size()), 0);
  reader.join();
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_EQ(got, second);
}

TEST_F(IpcTest, StoredLengthsAreBoundedAndABadBlockIsFreed) {
  testing_support::TraceCapture trace;
  KT_IPC console, agent;
  ASSERT_EQ(console.OpenChannel(kIpcConsoleRole), 0);
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  Bytes got;

  ForgeBlock(kIpcMapToDaemon, kIpcEventToDaemon, 0, {});
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_TRUE(got.empty());

  // 5000 is the largest length a reader takes; anything beyond, or negative, is refused and
  // the block is free again for the next writer.
  ForgeBlock(kIpcMapToDaemon, kIpcEventToDaemon, 5000, Pattern(5000, 3));
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_EQ(got, Pattern(5000, 3));
  for (int32_t bad : {5001, -1, 0x7FFFFFFF}) {
    trace.Clear();
    ForgeBlock(kIpcMapToDaemon, kIpcEventToDaemon, bad, {});
    EXPECT_EQ(agent.ReceiveData(nullptr, got), -1) << bad;
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(trace.Contains("ERROR(KT_IPC::ReceiveData): Invalid packet size encountered\n")) << bad;
    const Bytes next = {9, static_cast<uint8_t>(bad)};
    ASSERT_EQ(console.SendData(nullptr, next.data(), next.size()), 0) << bad;
    ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
    EXPECT_EQ(got, next);
  }
}

TEST_F(IpcTest, AKilledWritersWholeMessageIsStillDelivered) {
  KT_IPC agent;
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  const Bytes frame = Pattern(1200, 5);
  Peer console = StartPeer({"0", "send-and-kill", Hex(frame)});
  ASSERT_EQ(WaitPeer(console), 128 + SIGKILL);
  Bytes got;
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_EQ(got, frame);
}

TEST_F(IpcTest, AWriterKilledInsideTheBlockLeavesNoHalfMessageAndNoStuckLock) {
  KT_IPC agent, console;
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  ASSERT_EQ(console.OpenChannel(kIpcConsoleRole), 0);
  Peer crashing = StartPeer({"0", "crash-writing"});
  ASSERT_EQ(WaitPeer(crashing), 128 + SIGKILL);

  testing_support::TraceCapture trace;
  Bytes got;
  EXPECT_EQ(agent.ReceiveData(nullptr, got), -1);  // nothing was marked full
  EXPECT_TRUE(trace.Contains("ERROR(KT_IPC::ReceiveData): Memory block pointer is NULL\n"));
  const Bytes frame = {0xC0, 0x00, 0x07, 0x01, 0x00, 0x01, 0x01};
  ASSERT_EQ(console.SendData(nullptr, frame.data(), frame.size()), 0);
  ASSERT_EQ(agent.ReceiveData(nullptr, got), 1);
  EXPECT_EQ(got, frame);
}

TEST_F(IpcTest, TheObjectsGoAwayWithTheirLastHolder) {
  const Bytes frame = {0xC0, 0x00, 0x07, 0x01, 0x00, 0x01, 0x01};
  Peer lonely = StartPeer({"0", "send-and-kill", Hex(frame)});
  ASSERT_EQ(WaitPeer(lonely), 128 + SIGKILL);
  platform::NamedMapping probe;
  EXPECT_FALSE(probe.Open(kIpcMapToDaemon));
  EXPECT_EQ(probe.SysError(), ENOENT);

  // The next channel starts afresh: no stale message.
  {
    KT_IPC agent;
    ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
    Bytes got;
    EXPECT_EQ(agent.ReceiveData(nullptr, got), -1);
  }
  // Closed normally by its only holder, the same.
  for (const char* name : {kIpcMapToDaemon, kIpcMapFromDaemon}) EXPECT_FALSE(probe.Open(name)) << name;
  platform::NamedEvent event;
  EXPECT_FALSE(event.Open(kIpcEventFromDaemon));
}

TEST_F(IpcTest, ConcurrentWritersAreSerialised) {
  KT_IPC agent;
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  constexpr int kWriters = 4;
  constexpr int kCount = 30;
  constexpr size_t kLength = 4999;
  std::vector<Peer> writers;
  for (int id = 1; id <= kWriters; ++id) {
    writers.push_back(StartPeer({"0", "send-many", std::to_string(id), std::to_string(kCount), std::to_string(kLength)}));
  }
  auto stopWriters = [&] {
    for (auto& w : writers) ::kill(w.pid, SIGKILL);
  };

  std::map<int, int> next;  // writer id -> next expected sequence
  Bytes got;
  for (int i = 0; i < kWriters * kCount; ++i) {
    if (ReceiveWithin(agent, got, 5) != 1) {
      stopWriters();
      FAIL() << "a message was lost after " << i << " messages";
    }
    const int id = got.empty() ? 0 : got[0];
    const int sequence = got.size() < 3 ? -1 : (got[1] << 8) | got[2];
    bool whole = got.size() == kLength && id >= 1 && id <= kWriters && sequence == next[id];
    for (size_t k = 3; whole && k < kLength; ++k) whole = got[k] == static_cast<uint8_t>(id * 31 + sequence * 7 + k);
    if (!whole) {
      stopWriters();
      FAIL() << "message " << i << " is mixed or out of order (writer " << id << ", sequence " << sequence << ")";
    }
    ++next[id];
  }
  for (auto& w : writers) EXPECT_EQ(WaitPeer(w), 0);
}

}  // namespace
