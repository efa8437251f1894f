// The real VigilNT: one console over the shared-memory channel and one over UDP get the same
// answers, and neither can store data or status frames into the agent's image; consoles that
// register are pushed status blocks.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/network/ipc.h"
#include "core/scp/scp_frame.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"

namespace {

using testing_support::GetFrame;
using testing_support::ScpConsole;
using testing_support::SetFrame;

// Writes a block as a console on the shared-memory channel and waits for the answer with the
// request's key (bounded).
std::optional<std::vector<uint8_t>> AskOverSharedMemory(KT_IPC& channel, const std::vector<uint8_t>& request) {
  KT_ScpMessage sent;
  DecodeScpFrame(request.data(), request.size(), sent);
  if (channel.Send(nullptr, request) != 1) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<uint8_t> block;
    if (!channel.IsDataReady() || channel.Receive(nullptr, block) != 1) continue;
    KT_ScpMessage m;
    if (DecodeScpFrame(block.data(), block.size(), m) >= 0 && m.key == sent.key) return block;
  }
  return std::nullopt;
}

// The frame a block's owner sends of it: its data for the key.
std::vector<uint8_t> DataFrameOf(KT_Block& block, std::vector<uint8_t> key) {
  std::vector<uint8_t> frame;
  block.ConvertMessage(frame, KT_ScpMessage(SCP_GET, std::move(key)));
  return frame;
}

std::vector<uint8_t> StatusFrame(std::vector<uint8_t> key, uint8_t code) {
  std::vector<uint8_t> frame;
  BuildScpFrame(KT_ScpMessage(SCP_STATUS, std::move(key), {code}), frame);
  return frame;
}

class AgentServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
  }
};

TEST_F(AgentServersTest, SharedMemoryAndUdpConsolesGetTheSameAnswersAndCannotStoreData) {
  AgentProcess agent(AgentSettings("127.0.0.1"));
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "LOCAL THREAD IS ALIVE") > 0; }, 30000));

  setenv("VIGIL_NAME_PREFIX", agent.Prefix().c_str(), 1);
  KT_IPC local;
  ASSERT_EQ(local.Initialize(), 1);
  ASSERT_GE(local.OpenChannel(kIpcConsoleRole), 0);
  ScpConsole udp("127.0.0.9");

  const std::vector<std::vector<uint8_t>> requests = {
      GetFrame({27, 4}),                  // the command block: its data
      GetFrame({10}),                     // no such block: "Not Available"
      SetFrame({4, 5, 2}, {0x00}),        // too short for the field: "Set Failed"
      {0xC0, 0x00, 0x0B, 0x02, 0x02, 27, 9, 0x00, 0x0A, 'h', 'i'},  // data past the end: 5
  };
  for (const auto& request : requests) {
    const auto overShm = AskOverSharedMemory(local, request);
    const auto overUdp = Ask(udp, "127.0.0.1", request);
    ASSERT_TRUE(overShm) << agent.Stderr();
    ASSERT_TRUE(overUdp);
    std::vector<uint8_t> udpBytes;
    BuildScpFrame(*overUdp, udpBytes);
    EXPECT_EQ(*overShm, udpBytes);
  }

  // Forged data frames (the UPS on battery with a low battery, its meters, a configuration)
  // and status frames, from either channel: not answered, and the agent's GETs never show
  // them.
  StatusBlock status;
  status.SetAlarm(ALARM_ON_BATTERY);
  status.SetAlarm(ALARM_LOW_BATTERY);
  MeterBlock meters;
  meters.SetBatteryCapacity(10);
  meters.SetInputVoltage(0, 290);
  meters.SetOutputVoltage(0, 290);
  ConfigBlock config;
  config.SetLocation("Forged place");
  const std::vector<std::vector<uint8_t>> forgedData = {DataFrameOf(status, {BLOCK_STATUS}),
                                                        DataFrameOf(meters, {BLOCK_METERS}),
                                                        DataFrameOf(config, {BLOCK_CONFIG, 4})};
  const std::vector<std::vector<uint8_t>> forged = {
      forgedData[0], forgedData[1], forgedData[2], StatusFrame({BLOCK_STATUS, 1}, 2),
      StatusFrame({BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN}, SCP_SET_OK)};
  for (bool shm : {false, true}) {
    SCOPED_TRACE(shm ? "shared memory" : "UDP");
    const size_t refused = Count(agent.Stderr(), "frame ignored");
    for (const auto& frame : forged)
      ASSERT_TRUE(shm ? local.Send(nullptr, frame) == 1 : udp.Send("127.0.0.1", 7010, frame));
    for (const auto& frame : forgedData) {
      const auto sent = testing_support::Decode(frame);
      const auto overShm = shm ? AskOverSharedMemory(local, GetFrame(sent->key)) : std::nullopt;
      const auto answer = shm ? testing_support::Decode(overShm.value_or(std::vector<uint8_t>{}))
                              : Ask(udp, "127.0.0.1", GetFrame(sent->key));
      ASSERT_TRUE(answer) << agent.Stderr();
      EXPECT_NE(answer->data, sent->data) << "key " << int{sent->key[0]} << " answered what was forged";
    }
    EXPECT_EQ(Count(agent.Stderr(), "frame ignored"), refused + forged.size());
  }
  testing_support::RestoreProgramNamePrefix();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
  EXPECT_NE(agent.Stderr().find("exiting network thread"), std::string::npos);
  EXPECT_NE(agent.Stderr().find("exiting local thread"), std::string::npos);
}

TEST_F(AgentServersTest, RegisteredConsoleIsPushedTheAlarmsOfTheAgentUntilItUnregisters) {
  AgentProcess agent(AgentSettings("127.0.0.1"));
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent));
  ScpConsole console("127.0.0.7");
  auto answer = Ask(console, "127.0.0.1", GetFrame({1}, 1), 30000);
  ASSERT_TRUE(answer) << agent.Stderr();
  console.ReceiveAll(2500);
  // A battery test ordered from the console raises alarm 17 (no UPS ever clears it here):
  // the registered console is pushed a status block that shows it.
  answer = Ask(console, "127.0.0.1", SetFrame({27, 5}, {1}));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool pushed = false;
  while (!pushed && std::chrono::steady_clock::now() < deadline) {
    const auto bytes = console.Receive(200);
    if (!bytes || !testing_support::IsStatusPush(*bytes)) continue;
    StatusBlock status;
    std::vector<uint8_t> none;
    pushed = status.ConvertMessage(none, *testing_support::Decode(*bytes)) >= 0 &&
             status.IsAlarmSet(ALARM_BATTERY_TEST) == 1;
  }
  EXPECT_TRUE(pushed);

  // Unregistered, it hears nothing more: a message without a text raises the software-error
  // alarm, and no push follows.
  answer = Ask(console, "127.0.0.1", SetFrame({27, 6}, {1}));
  ASSERT_TRUE(answer);
  console.ReceiveAll(500);
  const size_t shown = Count(agent.Stderr(), "Displaying message");
  ASSERT_TRUE(Ask(console, "127.0.0.1", SetFrame({27, 9}, {0})));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "Displaying message") > shown; }, 20000));
  int pushes = 0;
  for (const auto& bytes : console.ReceiveAll(4000)) pushes += testing_support::IsStatusPush(bytes) ? 1 : 0;
  EXPECT_EQ(pushes, 0);
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
}

}  // namespace
