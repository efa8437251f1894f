// A bounded flood of datagrams on loopback against the real VigilNT polling a simulated
// Smart-UPS: the agent keeps polling its UPS, stays small and still answers a console
// afterwards; a flood of SETs that keeps the agent's work queue full has another console's
// SET refused rather than dropped. The figures (datagrams sent and answered, the agent's CPU
// time and memory) are printed for the record.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::GetFrame;
using testing_support::ScpConsole;
using testing_support::SetFrame;
using testing_support::SimulatedUps;

constexpr int kFloodSeconds = 10;
constexpr size_t kMaxDatagrams = 200000;
constexpr int kSenders = 16;
// The flood's pace: at most this many datagrams every 10 ms (20000 a second).
constexpr size_t kPerSlice = 200;

// The process's CPU time (user + system) in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Resident memory in kB.
long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Questions the agent put to the UPS since log entry `from`.
size_t UpsRequests(SimulatedUps& ups, size_t from) { return ups.Entries("REQ", from).size(); }

// The agent's data for a key as a console's image takes it (a read still under way is asked
// again); false when none came (bounded).
bool TakeInto(KT_SCP& image, ScpConsole& console, const std::vector<uint8_t>& key) {
  return AgentProcess::WaitFor(
      [&] {
        const auto m = Ask(console, "127.0.0.1", GetFrame(key));
        std::vector<uint8_t> none;
        if (m && m->type == SCP_DATA) return image.ExecuteCommand(*m, none) >= 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return false;
      },
      20000);
}

std::vector<uint8_t> MessageSet(const std::string& text) {
  KT_SCP image;
  image.commandBlock.SetMessage(text.c_str());
  return SetFrameOf(image, {BLOCK_COMMAND, COMMAND_MESSAGE});
}

TEST(AgentFlood, AgentKeepsPollingItsUpsAndAnswersAfterAFlood) {
  std::string error;
  ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
  SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess agent(AgentSettings("127.0.0.1"));
  ASSERT_TRUE(agent.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "Inside SERIAL thread") > 0; }, 60000));
  ASSERT_TRUE(WaitUntilServing(agent));

  // A quiet window as long as the flood, for comparison.
  size_t from = ups.LogCount();
  const double cpuQuiet0 = CpuSeconds(agent.Pid());
  AgentProcess::WaitFor([] { return false; }, kFloodSeconds * 1000);
  const size_t quietPolls = UpsRequests(ups, from);
  const double cpuQuiet = CpuSeconds(agent.Pid()) - cpuQuiet0;
  const long rssBefore = RssKb(agent.Pid());

  std::vector<std::unique_ptr<ScpConsole>> senders;
  for (int i = 0; i < kSenders; ++i) {
    senders.push_back(std::make_unique<ScpConsole>("127.0.1." + std::to_string(10 + i)));
    ASSERT_TRUE(senders.back()->ok());
  }
  const std::vector<std::vector<uint8_t>> kinds = {
      GetFrame({1}, 1),                                           // registers
      {0x55, 0xAA, 0x00, 0x11},                                   // no frame marker
      SetFrame({27, 9}, std::vector<uint8_t>(6000, 'x')),         // too long to receive
      {0xC0, 0x00, 0x0B, 0x02, 0x02, 27, 9, 0x00, 0x0A, 'h', 'i'},  // data past the end
      GetFrame({2, 1, 0}),                                        // an ordinary question
      {0xC0, 0xFF, 0xFF, 0x02, 0xFF},                             // lengths beyond the datagram
  };
  from = ups.LogCount();
  const double cpu0 = CpuSeconds(agent.Pid());
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(kFloodSeconds);
  size_t sent = 0;
  size_t answered = 0;
  size_t i = 0;
  auto slice = start;
  while (sent < kMaxDatagrams && std::chrono::steady_clock::now() < end) {
    for (size_t k = 0; k < kPerSlice; ++k, ++i) {
      ScpConsole& s = *senders[i % kSenders];
      if (s.Send("127.0.0.1", 7010, kinds[(i / kSenders) % kinds.size()])) ++sent;
    }
    for (auto& each : senders) answered += each->ReceiveAll(0).size();
    slice += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(slice);
  }
  const double floodSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (auto& s : senders) answered += s->ReceiveAll(300).size();
  const double cpuFlood = CpuSeconds(agent.Pid()) - cpu0;
  const size_t floodPolls = UpsRequests(ups, from);
  const long rssAfter = RssKb(agent.Pid());
  const size_t turns = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");

  std::cout << "flood: " << sent << " datagrams in " << floodSeconds << " s from " << kSenders
            << " senders; agent CPU " << cpuFlood << " s during the flood, " << cpuQuiet
            << " s in an equal quiet window; UPS requests " << floodPolls << " during the flood, "
            << quietPolls << " in the quiet window; resident memory " << rssBefore << " kB before, " << rssAfter
            << " kB after; answers " << answered << "; network turns so far "
            << turns << std::endl;
  RecordProperty("datagrams_sent", static_cast<int>(sent));
  RecordProperty("agent_cpu_ms_flood", static_cast<int>(cpuFlood * 1000));
  RecordProperty("agent_cpu_ms_quiet", static_cast<int>(cpuQuiet * 1000));

  EXPECT_TRUE(agent.Running());
  // The UPS is polled through the flood as it was before it.
  EXPECT_GE(floodPolls, std::max<size_t>(1, quietPolls / 2));
  // Memory does not follow the flood (the kernel's socket buffer holds what waits).
  EXPECT_LT(rssAfter, rssBefore + 16 * 1024);

  // Afterwards a console is served within seconds: the backlog the socket held is worked off
  // a few dozen datagrams a turn.
  ScpConsole console("127.0.0.9");
  const auto asked = std::chrono::steady_clock::now();
  const auto answer = Ask(console, "127.0.0.1", GetFrame({2, 1, 0}), 60000);
  EXPECT_TRUE(answer);
  std::cout << "flood: a console's question after the flood was answered after "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count() << " s" << std::endl;

  // A peer sends ten distinct harmless SETs (the agent's own settings again) every second, so
  // that the agent's work queue is full between its passes; a console's message SET that comes
  // right after them is answered "Set Failed", the message stays the one held before and is
  // not shown; sent again once the flood has stopped, it is taken and shown.
  KT_SCP own;
  ASSERT_TRUE(TakeInto(own, console, {BLOCK_CONFIG}) && TakeInto(own, console, {BLOCK_NOTIFY}));
  std::vector<std::vector<uint8_t>> harmless;
  for (uint8_t branch : {2, 4, 5, 6, 8, 9, 10}) harmless.push_back(SetFrameOf(own, {BLOCK_CONFIG, branch}));
  for (uint8_t branch : {1, 2, 3}) harmless.push_back(SetFrameOf(own, {BLOCK_NOTIFY, branch}));
  auto setCode = [](const std::optional<KT_ScpMessage>& m) {
    return m && m->type == SCP_STATUS && m->data.size() == 1 ? m->data[0] : -1;
  };
  auto heldMessage = [](const std::optional<KT_ScpMessage>& m) {
    KT_SCP image;
    std::vector<uint8_t> none;
    if (!m || m->type != SCP_DATA || image.ExecuteCommand(*m, none) < 0) return std::string("(none)");
    return image.commandBlock.GetMessage().value_or("");
  };
  const std::string before = "Message before the SETs";
  ASSERT_EQ(setCode(Ask(console, "127.0.0.1", MessageSet(before))), SCP_SET_OK);
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), before); }, 20000))
      << agent.Stdout();
  ScpConsole peer("127.0.1.60");
  ASSERT_TRUE(peer.ok());
  std::vector<std::string> refused;
  std::string held = before;
  for (int second = 0; second < 4; ++second) {
    for (const auto& frame : harmless) ASSERT_TRUE(peer.Send("127.0.0.1", 7010, frame));
    const std::string text = "Message " + std::to_string(second) + " in the SETs";
    const auto answers =
        AskAll(console, "127.0.0.1", {MessageSet(text), GetFrame({BLOCK_COMMAND, COMMAND_MESSAGE})});
    ASSERT_NE(setCode(answers[0]), -1) << agent.TraceDump();
    if (setCode(answers[0]) == SCP_SET_OK) {
      held = text;
    } else {
      EXPECT_EQ(setCode(answers[0]), SCP_SET_FAILED);
      refused.push_back(text);
    }
    EXPECT_EQ(heldMessage(answers[1]), held);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  ASSERT_FALSE(refused.empty()) << "the queue never refused a SET";
  const std::string after = refused.back();  // sent again
  refused.pop_back();
  EXPECT_TRUE(AgentProcess::WaitFor(
      [&] {
        if (setCode(Ask(console, "127.0.0.1", MessageSet(after))) == SCP_SET_OK) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return false;
      },
      20000));
  EXPECT_EQ(heldMessage(Ask(console, "127.0.0.1", GetFrame({BLOCK_COMMAND, COMMAND_MESSAGE}))), after);
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), after); }, 20000))
      << agent.Stdout();
  for (const auto& text : refused) EXPECT_FALSE(Contains(agent.Stdout(), text)) << text;
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

}  // namespace
