// The Vigil95 program itself against the simulated Smart-UPS and beside VigilNT: one agent a
// machine, the tray's start-up and running states, an outage with its console warning, low
// battery with the shutdown (stand-ins only), and the stops by a console's terminate command
// and by SIGTERM, a working directory that cannot be entered, and the two agent programs'
// --help. Boxes go to a message log; the tray is absent offscreen (one trace line).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "core/scp/command_block.h"
#include "core/scp/config_block.h"
#include "core/scp/scp.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/snmp_peer.h"
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
    }
    EXPECT_TRUE(Contains(second.Stderr(), "The Agent is already running.")) << second.Stderr();
    EXPECT_TRUE(Contains(second.Stderr(), "is the guard of another agent of this release, held by process " +
                                              std::to_string(first.Pid())))
        << second.Stderr();
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
  EXPECT_EQ(agent.EndWithLocalCommand(COMMAND_TERMINATE, kBoundMs), 0);
  EXPECT_TRUE(Contains(agent.Stderr(), "Tremona daemon is exiting normally"));
  EXPECT_TRUE(std::filesystem::exists(agent.File("config.dat")));
}

// A console's reboot runs the reboot command (not the shutdown command) and ends the idle agent;
// started again, SIGTERM ends it. Both write the record files.
TEST(Vigil95IdleTest, ARebootOrSigtermEndsAnIdleAgentWithItsFilesWritten) {
  Vigil95Process agent;
  const std::string guardPath = agent.UseStandIns();
  for (const bool reboot : {true, false}) {
    SCOPED_TRACE(reboot ? "reboot" : "SIGTERM");
    const size_t idle = Count(agent.Stderr(), "Mode: Idle");
    ASSERT_TRUE(agent.Start({"-x:5", "-b"}, {"QT_QPA_PLATFORM=offscreen",
                                             "VIGIL_MESSAGE_LOG=" + agent.File("boxes.log"), guardPath}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "Mode: Idle") > idle; }, kBoundMs))
        << agent.Stderr();
    EXPECT_TRUE(Contains(agent.Stderr(), "No system tray on this display")) << agent.Stderr();
    EXPECT_FALSE(Contains(agent.Stderr(), "Tray icon"));
    if (reboot) {
      EXPECT_EQ(agent.EndWithLocalCommand(COMMAND_RESTART, kBoundMs), 0);
    } else {
      agent.Signal(SIGTERM);
      EXPECT_EQ(agent.Wait(kBoundMs), 0);
      EXPECT_TRUE(Contains(agent.Stderr(), "Stop requested by signal 15"));
    }
    EXPECT_TRUE(std::filesystem::exists(agent.File("config.dat")));
    EXPECT_EQ(agent.Effects(), "shutdown -r now\n");
  }
  DumpOnFailure(agent);
}

// A working directory given with -a: or -dir: that cannot be entered is said once, on standard
// error or, with the trace on, in the trace; the agent runs on in the directory it was started
// in and writes its record files there.
TEST(Vigil95IdleTest, AWorkingDirectoryThatCannotBeEnteredIsSaidAndTheAgentRunsWhereItStarted) {
  for (const bool trace : {false, true}) {
    SCOPED_TRACE(trace ? "with the trace" : "without the trace");
    Vigil95Process agent;
    std::vector<std::string> args = {"-a:/no/such/dir", "-x:5"};
    if (trace) args.push_back("-b");
    ASSERT_TRUE(agent.Launch(args));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return std::filesystem::exists(agent.File("config.dat")); }, kBoundMs))
        << agent.Stderr();
    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(kBoundMs), 0);
    const std::string said = "Vigil95: cannot work in /no/such/dir: No such file or directory; the working "
                             "directory stays " + agent.Dir() + "\n";
    EXPECT_EQ(Count(agent.Stderr(), said), 1u) << agent.Stderr();
    EXPECT_EQ(Contains(agent.Stderr(), "Using Tremona Mode"), trace);  // the line is the trace's when it is on
    DumpOnFailure(agent);
  }
}

// Whether the usage text lists the option as an option (not as part of another word).
bool ListsOption(const std::string& usage, const std::string& option) {
  for (size_t at = usage.find(option); at != std::string::npos; at = usage.find(option, at + 1)) {
    const bool startsWord = at == 0 || std::string(" \n[,").find(usage[at - 1]) != std::string::npos;
    const size_t after = at + option.size();
    const bool endsWord = option.back() == ':' || after == usage.size() || !std::isalpha(usage[after]);
    if (startsWord && endsWord) return true;
  }
  return false;
}

// The options a manual page's OPTIONS section gives an entry (".TP" and the option's line), as
// typed: "-b", "-a:", "--help".
std::vector<std::string> ManualPageOptions(const std::string& page) {
  std::vector<std::string> options;
  const std::string text = ReadFileText(testing_support::SourceDir() + "/packaging/man/" + page);
  const size_t begin = text.find("\n.SH OPTIONS\n");
  const size_t end = text.find("\n.SH ", begin + 1);
  std::istringstream lines(text.substr(begin, end - begin));
  std::string line;
  bool entry = false;
  const std::regex option("(--?[a-z]+:?)");
  while (std::getline(lines, line)) {
    if (entry && line.rfind(".B", 0) == 0) {
      for (size_t at; (at = line.find("\\-")) != std::string::npos;) line.replace(at, 2, "-");
      for (std::sregex_iterator it(line.begin(), line.end(), option), none; it != none; ++it) {
        options.push_back(it->str());
      }
    }
    entry = line == ".TP";
  }
  return options;
}

// --help prints the usage with every option of the program's manual page and ends with 0,
// before anything else happens.
TEST(ProgramHelpTest, HelpListsTheOptionsOfTheManualPageAndEnds) {
  const struct {
    const char* program;
    const char* page;
  } cases[] = {{VIGILNT_PROGRAM, "VigilNT.8.in"}, {VIGIL95_PROGRAM, "Vigil95.1.in"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    AgentProcess agent;
    agent.UseProgram(c.program);
    ASSERT_TRUE(agent.Start({"--help"}));
    EXPECT_EQ(agent.Wait(kBoundMs), 0) << agent.Stderr();
    const std::string usage = agent.Stdout();
    EXPECT_EQ(usage.rfind("Usage: ", 0), 0u) << usage;
    const std::vector<std::string> options = ManualPageOptions(c.page);
    EXPECT_GE(options.size(), 7u);
    for (const std::string& option : options) EXPECT_TRUE(ListsOption(usage, option)) << option << " in\n" << usage;
    EXPECT_EQ(agent.Stderr(), "");
    EXPECT_FALSE(std::filesystem::exists(agent.File("config.dat")));
  }
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
