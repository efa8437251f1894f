// The real VigilNT against the simulated Smart-UPS on a pseudo-terminal: detection and
// polling, a mains failure and its return, a UPS that falls silent, a clean stop and a start
// after a kill.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "agent/engine/daemon.h"
#include "core/base/error_status.h"
#include "core/base/ktdiag.h"
#include "core/scp/battery_info_block.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/scp_console.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::SimulatedUps;

class AgentUpsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ups.ok()) << ups.error(); }
  // Starts the agent on the simulator's port and waits until it polls the UPS.
  void StartAgent() {
    ASSERT_TRUE(agent.Start({"-b", "-d", ups.device()}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Inside SERIAL thread"); }, 60000))
        << agent.Stderr();
  }
  // error.dat as systemd's StateDirectory leaves it (0644 in a folder all may enter), with a
  // flock on it that the ordinary user holds.
  std::unique_ptr<testing_support::HeldFileLock> LockErrorLog() {
    std::filesystem::permissions(agent.Dir(), std::filesystem::perms(0755));
    testing_support::WriteFileBytes(agent.File(kErrorLogName), {});
    return std::make_unique<testing_support::HeldFileLock>(agent.File(kErrorLogName),
                                                           testing_support::HeldFileLock::Kind::kFlock);
  }
  // Waits until the trace holds the text `times` times.
  bool WaitForTrace(const std::string& text, size_t times = 1, int timeoutMs = 60000) {
    return AgentProcess::WaitFor([&] { return Count(agent.Stderr(), text) >= times; }, timeoutMs);
  }

  SimulatedUps ups{"apc"};
  AgentProcess agent;
};

TEST_F(AgentUpsTest, DetectsPollsAndStopsWithEveryFileWritten) {
  StartAgent();
  EXPECT_TRUE(Contains(agent.Stderr(), "APC Mode Detected."));
  for (const char* name : {kConfigFileName, kSchedShutdownFileName, kLoadBankFileName, kBatteryTestFileName,
                           kBatteryInfoFileName}) {
    EXPECT_TRUE(platform::RecordFile::Exists(agent.File(name))) << name;
  }
  // Polling: the status question comes again and again.
  const size_t from = ups.LogCount();
  ASSERT_TRUE(ups.WaitForLog("REQ Q", from, 90000));
  ASSERT_TRUE(ups.WaitForLog("REQ Q", ups.LogCount(), 90000));
  // The identification wrote the default actions.
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return platform::RecordFile::Exists(agent.File(kNotifyFileName)); }, 90000));

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
  const std::string trace = agent.Stderr();
  EXPECT_TRUE(Contains(trace, "Exiting SERIAL thread"));
  EXPECT_TRUE(Contains(trace, "main_thread:  The END"));
  for (const char* name : {kConfigFileName, kEventLogFileName, kSchedShutdownFileName, kBatteryTestFileName,
                           kBatteryLogFileName, kLoadBankFileName, kNotifyFileName, kBatteryInfoFileName}) {
    EXPECT_TRUE(platform::RecordFile::Exists(agent.File(name))) << name;
  }
  // The configuration remembers the port and the speed that worked.
  const auto config = testing_support::ReadFileBytes(agent.File(kConfigFileName));
  const std::string text(config.begin(), config.end());
  EXPECT_TRUE(Contains(text, ups.device()));
}

TEST_F(AgentUpsTest, MainsFailureRaisesOnBatteryAndCountsTheOutage) {
  // Another user's flock on error.dat holds neither the start nor the SIGTERM at the end.
  const auto errorLog = LockErrorLog();
  ASSERT_TRUE(errorLog->held());
  StartAgent();
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(WaitForTrace("UPS On Battery set at")) << agent.Stderr();
  BatteryInfoBlock info;
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return ReadBatteryInfo(agent.File(kBatteryInfoFileName), info) && info.GetOutageCount() == 1; }, 90000));
  ASSERT_TRUE(ups.Do("mains ok"));
  // Back on mains: the time on battery is added up once the alarm has gone.
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return ReadBatteryInfo(agent.File(kBatteryInfoFileName), info) && info.GetOnBatterySeconds() > 0; },
      60000));
  EXPECT_EQ(info.GetOutageCount(), 1u);
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

TEST_F(AgentUpsTest, SilentUpsRaisesCommunicationLostAndIsDetectedAgain) {
  StartAgent();
  ASSERT_TRUE(ups.WaitForLog("REQ Q", 0, 90000));
  ASSERT_TRUE(ups.Do("silence on"));
  ASSERT_TRUE(WaitForTrace("SERIAL THREAD Comm Loss Set", 1, 90000)) << agent.Stderr();
  ASSERT_TRUE(WaitForTrace("Lost communication with UPS set at", 1, 90000));
  ASSERT_TRUE(ups.Do("silence off"));
  // Detection runs again and finds the UPS; the serial thread goes back to polling.
  ASSERT_TRUE(WaitForTrace("APC Mode Detected.", 2, 90000)) << agent.Stderr();
  ASSERT_TRUE(WaitForTrace("Inside SERIAL thread", 2, 90000));
  const size_t from = ups.LogCount();
  EXPECT_TRUE(ups.WaitForLog("REQ Q", from, 90000));
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

// Locks that any local user may take on what the agent shares, error.dat (0644 in a folder all
// may enter, as systemd's StateDirectory leaves them) from before the start and the trace mutex
// while it watches, slow neither its server nor its UPS nor its stop: port 7010 answers, a
// power failure and the shutdown command on low battery come in the usual seconds (waiting out
// the trace mutex on every line took minutes), and every thread stops in time. The trace says
// so once of each lock, and at the end that the error records kept meanwhile are lost.
TEST_F(AgentUpsTest, LocksAnotherUserHoldsSlowNeitherTheOutageNorTheShutdown) {
  using testing_support::HeldFileLock;
  const auto errorLog = LockErrorLog();
  ASSERT_TRUE(errorLog->held());
  ASSERT_TRUE(agent.Start({"-b", "-d", ups.device()}, {agent.UseStandIns()}));
  ASSERT_TRUE(WaitForTrace("Inside SERIAL thread")) << agent.TraceDump();
  HeldFileLock trace("/dev/shm/" + agent.Prefix() + KtDiag::kMutexName, HeldFileLock::Kind::kFirstByte);
  ASSERT_TRUE(trace.held());
  testing_support::ScpConsole console;
  EXPECT_TRUE(AgentProcess::WaitFor(
      [&] {
        return console.Send("127.0.0.1", 7010, testing_support::GetFrame({1})) && console.Receive(1000);
      },
      20000));
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(WaitForTrace("UPS On Battery set at", 1, 20000)) << agent.TraceDump();
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Effects(), "shutdown -h now"); }, 40000))
      << agent.TraceDump();
  EXPECT_EQ(agent.Wait(30000), 0);
  const std::string text = agent.Stderr();
  EXPECT_FALSE(Contains(text, "did not stop in time")) << agent.TraceDump();
  EXPECT_EQ(Count(text, "\"" + agent.Prefix() + KtDiag::kMutexName + "\" is kept by another process"), 1u);
  EXPECT_EQ(Count(text, "error log error.dat: another process holds its lock"), 1u);
  EXPECT_TRUE(
      Contains(text, "error log error.dat: error records lost, as another process held its lock to the end"));
}

TEST_F(AgentUpsTest, KilledAgentLeavesThePortFreeForTheNextStart) {
  StartAgent();
  agent.Signal(SIGKILL);
  EXPECT_EQ(agent.Wait(10000), 128 + SIGKILL);
  ASSERT_TRUE(agent.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(WaitForTrace("Inside SERIAL thread", 2)) << agent.Stderr();
  EXPECT_EQ(Count(agent.Stderr(), "APC Mode Detected."), 2u);
  const size_t from = ups.LogCount();
  EXPECT_TRUE(ups.WaitForLog("REQ Q", from, 90000));
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

}  // namespace
