// The VigilNT program itself: its modes, its refusals, a stop by signal, and a start after a
// kill. These runs have no UPS: the agent starts idle.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "agent/engine/daemon.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"

namespace {

bool Exists(const std::string& path) {
  return platform::RecordFile::Exists(path);
}

TEST(AgentShell, OutsideTheServiceManagerWithoutForegroundOptionExitsWithReason) {
  AgentProcess agent;
  ASSERT_TRUE(agent.Start({}));
  EXPECT_EQ(agent.Wait(10000), 1);
  EXPECT_NE(agent.Stderr().find("not started by the service manager (error 1063"), std::string::npos);
  EXPECT_FALSE(Exists(agent.File(kConfigFileName)));
}

TEST(AgentShell, BadSettingsFileStopsTheStart) {
  AgentProcess agent({"data_directory = not/absolute"});
  ASSERT_TRUE(agent.Start({"-b"}));
  EXPECT_EQ(agent.Wait(10000), 1);
  EXPECT_NE(agent.Stderr().find("line 6: data_directory must be an absolute path"), std::string::npos);
}

TEST(AgentShell, UnusableDataDirectoryStopsTheStart) {
  AgentProcess agent;
  ASSERT_TRUE(agent.Start({"-b"}, {"VIGIL_DATA_DIR=/nonexistent/vigil"}));
  EXPECT_EQ(agent.Wait(10000), 1);
  EXPECT_NE(agent.Stderr().find("/nonexistent/vigil cannot be used"), std::string::npos);
}

TEST(AgentShell, ForegroundAgentStopsCleanlyOnSigtermAndSigint) {
  for (int sig : {SIGTERM, SIGINT}) {
    AgentProcess agent;
    ASSERT_TRUE(agent.Start({"/b"}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Exists(agent.File(kConfigFileName)); }, 20000));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return agent.Stderr().find("Exiting agent initialization") != std::string::npos; }, 20000));
    for (const char* name :
         {kSchedShutdownFileName, kLoadBankFileName, kBatteryTestFileName, kBatteryInfoFileName}) {
      EXPECT_TRUE(Exists(agent.File(name))) << name;
    }
    agent.Signal(sig);
    EXPECT_EQ(agent.Wait(30000), 0) << sig;
    const std::string trace = agent.Stderr();
    EXPECT_NE(trace.find("------------Terminate Daemon"), std::string::npos);
    EXPECT_NE(trace.find("Tremona daemon is exiting normally"), std::string::npos);
    EXPECT_NE(trace.find("main_thread:  The END"), std::string::npos);
    for (const char* name : {kConfigFileName, kEventLogFileName, kBatteryLogFileName}) {
      EXPECT_TRUE(Exists(agent.File(name))) << name;
    }
    // Idle: the configuration says so, and notify.dat is not written in that mode.
    const auto config = testing_support::ReadFileBytes(agent.File(kConfigFileName));
    ASSERT_GT(config.size(), 1u);
    EXPECT_EQ(config[0], kConfigFormatMarker);
    EXPECT_FALSE(Exists(agent.File(kNotifyFileName)));
  }
}

// Nothing in the temporary folder outlives a run: not the SNMP library's start in an agent
// with a MIB file, nor the machine-wide lock the tests take on port 7010 (in /tmp whatever
// TMPDIR says, so that test runs with different temporary folders still exclude each other).
TEST(AgentShell, AgentAndTheTestsMachineLockLeaveNothingInTheTemporaryFolder) {
  testing_support::TempDir tmp{false};
  const std::string tmpdir = "TMPDIR=" + tmp.path().string();
  AgentProcess agent;
  testing_support::WriteFileText(agent.File("mib.txt"),
                                 "TEST-UPS-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises FROM RFC1155-SMI;\n"
                                 "testUps OBJECT IDENTIFIER ::= { enterprises 99999 }\nEND\n");
  ASSERT_TRUE(agent.Start({"-b"}, {tmpdir}));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return agent.Stderr().find("Exiting agent initialization") != std::string::npos; }, 20000));
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);

  const std::string lockFile =
      std::string(testing_support::kMachineLockDirectory) + "/vigil-leftover_check.lock";
  {
    // Two holders in turn, the second waiting for the first.
    auto first = std::make_unique<testing_support::MachineResourceLock>("leftover_check");
    std::atomic<bool> second_held{false};
    std::thread second([&] {
      testing_support::MachineResourceLock lock("leftover_check");
      second_held = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(second_held.load());
    EXPECT_TRUE(std::filesystem::exists(lockFile));
    first.reset();
    second.join();
    EXPECT_TRUE(second_held.load());
  }
  EXPECT_FALSE(std::filesystem::exists(lockFile));
  std::string left;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path()))
    left += entry.path().string() + " ";
  EXPECT_EQ(left, "");
}

// The files in /dev/shm of named objects under a prefix.
size_t SharedFilesUnder(const std::string& prefix) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) ++n;
  }
  return n;
}

TEST(AgentShell, KilledAgentLeavesNothingThatBlocksTheNextStart) {
  std::string prefix;
  {
    AgentProcess agent;
    prefix = agent.Prefix();
    auto startAndKill = [&] {
      ASSERT_TRUE(agent.Start({"-b"}));
      const size_t before = Count(agent.Stderr(), "Exiting agent initialization");
      ASSERT_TRUE(AgentProcess::WaitFor(
          [&] { return Count(agent.Stderr(), "Exiting agent initialization") > before; }, 20000));
      agent.Signal(SIGKILL);
      EXPECT_EQ(agent.Wait(10000), 128 + SIGKILL);
    };
    startAndKill();
    EXPECT_GT(SharedFilesUnder(prefix), 0u);  // left behind by the killed agent
    ASSERT_TRUE(agent.Start({"-b"}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), "Exiting agent initialization") == 2; }, 20000));
    agent.Signal(SIGTERM);
    EXPECT_EQ(agent.Wait(30000), 0);
    EXPECT_EQ(agent.Stderr().find("Error reading the configuration file"), std::string::npos);
    startAndKill();
  }
  // The test's agent object sweeps up what its killed agent left.
  EXPECT_EQ(SharedFilesUnder(prefix), 0u);
}

// A stand-in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  }
  ~NotifySocket() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  // Everything received so far, appended to what came before.
  std::string Received() {
    char buf[1024];
    ssize_t n;
    while ((n = ::recv(fd_, buf, sizeof(buf), MSG_DONTWAIT)) > 0) text_ += std::string(buf, n) + "\n";
    return text_;
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::string text_;
};

TEST(AgentShell, ServiceReportsReadyAndStoppingToTheServiceManager) {
  AgentProcess agent;
  NotifySocket notify(agent.File("notify.sock"));
  const std::string socketEnv = "NOTIFY_SOCKET=" + agent.File("notify.sock");
  ASSERT_TRUE(agent.Start({}, {"INVOCATION_ID=0123456789abcdef", socketEnv}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return notify.Received().find("READY=1") != std::string::npos; }, 20000));
  EXPECT_TRUE(agent.Stderr().empty());  // a service traces nowhere unless told to
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30000), 0);
  const std::string states = notify.Received();
  EXPECT_NE(states.find("STOPPING=1"), std::string::npos);
  EXPECT_LT(states.find("READY=1"), states.find("STOPPING=1"));
  EXPECT_TRUE(Exists(agent.File(kConfigFileName)));
}

}  // namespace
