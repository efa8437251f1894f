// The Vigil95 program itself against the simulated Smart-UPS and beside VigilNT: one agent a
// machine, the tray's start-up and running states, an outage with its console warning, low
// battery with the shutdown (stand-ins only), and the stops by a console's terminate command
// and by SIGTERM. Boxes go to a message log; the tray is absent offscreen (one trace line).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/network/ipc.h"
#include "core/scp/command_block.h"
#include "core/scp/config_block.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileText;
using testing_support::SimulatedUps;

constexpr int kBoundMs = 90000;

// Vigil95 in its data directory with a message log, offscreen; its stand-ins log to effects.log.
class Vigil95Process : public AgentProcess {
 public:
  explicit Vigil95Process(const std::vector<std::string>& settings = {}) : AgentProcess(settings) {
    UseProgram(VIGIL95_PROGRAM);
  }
  bool Launch(const std::vector<std::string>& args) {
    return Start(args, {"QT_QPA_PLATFORM=offscreen", "VIGIL_MESSAGE_LOG=" + File("boxes.log")});
  }
  std::string Boxes() const { return ReadFileText(File("boxes.log")); }
};

std::string StandIn(const AgentProcess& agent, const std::string& name) {
  const std::string path = agent.File(name + ".sh");
  testing_support::WriteFileText(
      path, "#!/bin/sh\necho \"" + name + " $*\" >>\"" + agent.File("effects.log") + "\"\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

void DumpOnFailure(const AgentProcess& agent) {
  if (!::testing::Test::HasFailure()) return;
  const std::string trace = agent.Stderr();
  std::fprintf(stderr, "--- trace (start) ---\n%s\n--- trace (end) ---\n%s\n--- boxes ---\n%s\n",
               trace.substr(0, 3000).c_str(),
               trace.substr(trace.size() > 5000 ? trace.size() - 5000 : 0).c_str(),
               ReadFileText(agent.File("boxes.log")).c_str());
}

TEST(Vigil95BinaryTest, OneAgentAMachineWhicheverProgramStartsFirst) {
  struct Case {
    bool desktopFirst;
    bool desktopSecond;
  };
  for (const Case c : {Case{true, true}, Case{false, false}, Case{true, false}, Case{false, true}}) {
    SCOPED_TRACE(std::string(c.desktopFirst ? "Vigil95" : "VigilNT") + " then " +
                 (c.desktopSecond ? "Vigil95" : "VigilNT"));
    Vigil95Process first;
    Vigil95Process second;
    second.SharePrefixWith(first);
    if (!c.desktopFirst) first.UseProgram(VIGILNT_PROGRAM);
    if (!c.desktopSecond) second.UseProgram(VIGILNT_PROGRAM);
    ASSERT_TRUE(first.Launch(
        {c.desktopFirst ? "-x:5" : "-b", c.desktopFirst ? "-b" : "-x", c.desktopFirst ? "" : "5"}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(first.Stderr(), "Mode: Idle"); }, kBoundMs))
        << first.Stderr();
    ASSERT_TRUE(second.Launch(
        {c.desktopSecond ? "-x:5" : "-b", c.desktopSecond ? "-b" : "-x", c.desktopSecond ? "" : "5"}));
    EXPECT_EQ(second.Wait(kBoundMs), 1);
    if (c.desktopSecond) {
      EXPECT_EQ(second.Boxes(), "Tremona\u00AE Vigil95 | The Agent is already running. | OK\n");
    } else {
      EXPECT_TRUE(Contains(second.Stderr(), "The Agent is already running.")) << second.Stderr();
    }
    EXPECT_TRUE(first.Running());
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(kBoundMs), 0);
    DumpOnFailure(first);
  }
}

class Vigil95UpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ups.ok()) << ups.error();
    // The shutdown and saver commands are stand-ins that only log how they were called. The
    // pre-shutdown stand-in logs into the agent's own folder: it runs as the agent, whoever
    // that is.
    testing_support::WriteFileText(agent.File("VigilNT.conf"),
                                   "snmp_service =\nuser_terminals = no\nreboot_command = /bin/true\n"
                                   "command_user = root\n"
                                   "shutdown_command = " +
                                       StandIn(agent, "shutdown") +
                                       " -h now\n"
                                       "saver_command = " +
                                       StandIn(agent, "saver") + "\n");
    // The pre-shutdown command, also for a low-battery shutdown; the port comes from -d.
    ConfigBlock config;
    config.SetPreShutdownCommand((StandIn(agent, "pre-shutdown") + " low-battery").c_str());
    config.SetCommandOnLowBattery(1);
    ASSERT_TRUE(WriteBlockFile(agent.File("config.dat"), config));
  }
  void TearDown() override { DumpOnFailure(agent); }
  // Starts the agent on the simulator and waits until it polls the UPS.
  void StartOnUps() {
    ASSERT_TRUE(agent.Launch({"-b", "-d:" + ups.device()}));
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Inside SERIAL thread"); }, kBoundMs))
        << agent.Stderr();
    ASSERT_TRUE(ups.WaitForLog("REQ", 0, 30000));
  }

  SimulatedUps ups{"apc"};
  Vigil95Process agent;
};

TEST_F(Vigil95UpsTest, AnOutageWarnsAndLowBatteryShutsDownOnceThenTheProgramEnds) {
  StartOnUps();
  // Offscreen there is no tray: the agent says so once, and the trace tells of no icon.
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return Count(agent.Stderr(), "main_thread") + Count(agent.Stderr(), "Tremona Mode") >= 3; },
      kBoundMs));
  EXPECT_EQ(Count(agent.Stderr(), "No system tray on this display"), 1u) << agent.Stderr();
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Contains(agent.Boxes(), "Tremona Agent Message | "); }, kBoundMs))
      << agent.Boxes();
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return Contains(ReadFileText(agent.File("effects.log")), "shutdown -h now"); }, kBoundMs))
      << agent.Stderr();
  // The agent stopped for the shutdown: the program ends by itself, with its files written.
  EXPECT_EQ(agent.Wait(kBoundMs), 0);
  const std::string effects = ReadFileText(agent.File("effects.log"));
  EXPECT_EQ(Count(effects, "shutdown -h now"), 1u);
  EXPECT_LT(effects.find("pre-shutdown low-battery"), effects.find("shutdown -h now")) << effects;
  EXPECT_TRUE(ups.WaitForLog("ACTION shutdown", 0, 10000));
  EXPECT_TRUE(Contains(agent.Stderr(), "Tremona daemon is exiting normally"));
  EXPECT_FALSE(Contains(agent.Stderr(), "Tray icon")) << agent.Stderr();
  for (const char* file : {"config.dat", "bat_info.dat", "notify.dat"}) {
    EXPECT_TRUE(std::filesystem::exists(agent.File(file))) << file;
  }
}

TEST_F(Vigil95UpsTest, AConsolesTerminateCommandEndsTheProgram) {
  StartOnUps();
  // The console's end of the local channel, under the agent's name prefix.
  ::setenv("VIGIL_NAME_PREFIX", agent.Prefix().c_str(), 1);
  {
    KT_IPC console;
    ASSERT_EQ(console.Initialize(), 1);
    ASSERT_GE(console.OpenChannel(kIpcConsoleRole), 0);
    std::vector<uint8_t> frame;
    ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_SET, {BLOCK_COMMAND, COMMAND_TERMINATE}, {1}), frame), 1);
    ASSERT_EQ(console.SendData(nullptr, frame.data(), frame.size()), 0);
    EXPECT_EQ(agent.Wait(kBoundMs), 0);
  }
  ::unsetenv("VIGIL_NAME_PREFIX");
  EXPECT_TRUE(Contains(agent.Stderr(), "Tremona daemon is exiting normally"));
  EXPECT_TRUE(std::filesystem::exists(agent.File("config.dat")));
}

TEST(Vigil95IdleTest, SigtermEndsAnIdleAgentWithItsFilesWritten) {
  Vigil95Process agent;
  ASSERT_TRUE(agent.Launch({"-x:5", "-b"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Mode: Idle"); }, kBoundMs))
      << agent.Stderr();
  EXPECT_TRUE(Contains(agent.Stderr(), "No system tray on this display")) << agent.Stderr();
  EXPECT_FALSE(Contains(agent.Stderr(), "Tray icon"));
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(kBoundMs), 0);
  EXPECT_TRUE(Contains(agent.Stderr(), "Stop requested by signal 15"));
  EXPECT_TRUE(std::filesystem::exists(agent.File("config.dat")));
  DumpOnFailure(agent);
}

// The process id of a program that has ended.
pid_t EndedProcess() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// Named-object files in /dev/shm under a prefix.
std::set<std::string> SharedFileNames(const std::string& prefix) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator("/dev/shm")) {
    if (e.path().filename().string().rfind(prefix, 0) == 0) names.insert(e.path().filename().string());
  }
  return names;
}
size_t SharedFiles(const std::string& prefix) {
  return SharedFileNames(prefix).size();
}

TEST(StaleObjectSweepTest, AKilledAgentsFilesGoALiveOnesStay) {
  // Prefixes of test programs that have ended, as a killed test run leaves them.
  const std::string killedPrefix = "agent-" + std::to_string(EndedProcess()) + "-0";
  const std::string livePrefix = "agent-" + std::to_string(EndedProcess()) + "-1";
  Vigil95Process killed;
  Vigil95Process live;
  killed.SetPrefix(killedPrefix);
  live.SetPrefix(livePrefix);
  live.UseProgram(VIGILNT_PROGRAM);
  ASSERT_TRUE(killed.Launch({"-x:5", "-b"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(killed.Stderr(), "Mode: Idle"); }, kBoundMs));
  killed.Signal(SIGKILL);
  killed.Wait(kBoundMs);
  ASSERT_GT(SharedFiles(killedPrefix), 0u);  // a killed agent leaves its objects' files
  // The one machine's UDP port is free again: the live agent runs beside the left files.
  ASSERT_TRUE(live.Launch({"-b", "-x", "5"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(live.Stderr(), "Mode: Idle"); }, kBoundMs))
      << live.Stderr();
  // The live agent may still be making objects (its threads start after "Mode: Idle"); the
  // sweep must leave every one of them.
  const std::set<std::string> liveFiles = SharedFileNames(livePrefix);
  ASSERT_FALSE(liveFiles.empty());
  EXPECT_GE(testing_support::RemoveStaleTestObjects(), 1);
  EXPECT_EQ(SharedFiles(killedPrefix), 0u);
  const std::set<std::string> after = SharedFileNames(livePrefix);
  for (const std::string& name : liveFiles) EXPECT_EQ(after.count(name), 1u) << name << " was swept";
  live.Signal(SIGTERM);
  EXPECT_EQ(live.Wait(kBoundMs), 0);
}

}  // namespace
