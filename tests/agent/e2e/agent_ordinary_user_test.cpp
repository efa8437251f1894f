// The README's commands as an ordinary user, not root: detect_ups finds the simulated Smart-UPS,
// VigilNT detects it, holds its port against a second user, and rides out one power outage.
// Root passes the kernel's permission and exclusive-use checks, which hid faults that every
// other user meets; run as root, the test drops to "nobody" for the simulator and the programs,
// which then run from a copy that user can reach wherever the build tree lies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "agent/engine/daemon.h"
#include "core/base/error_status.h"
#include "core/scp/battery_info_block.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::SimulatedUps;

struct ProgramRun {
  int status = -1;
  std::string output;
};

// Runs detect_ups as the ordinary user in `dir` (its error.dat goes beside the program); bounded.
ProgramRun DetectUps(const std::string& dir, const std::vector<std::string>& args) {
  const std::string out = dir + "/detect.txt";
  std::string why;
  const std::string program = testing_support::ProgramForOrdinaryUser(DETECT_UPS_PROGRAM, &why);
  if (program.empty()) return {-1, why};
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const testing_support::OrdinaryUser user = testing_support::OrdinaryUserIds();
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(120);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) ::_exit(121);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    if (!testing_support::BecomeOrdinaryUser(user)) ::_exit(122);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  ProgramRun run;
  int status = 0;
  if (!AgentProcess::WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120000)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    run.output = "(detect_ups did not end)";
    return run;
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.output = testing_support::ReadFileText(out);
  return run;
}

class OrdinaryUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ups.ok()) << ups.error();
    agent.AsOrdinaryUser();
    testing_support::GiveToOrdinaryUser(work.path());
    // The device belongs to the simulator's user, who is not root.
    struct stat st {};
    ASSERT_EQ(::stat(ups.device().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, testing_support::OrdinaryUserIds().uid);
  }
  bool WaitForTrace(const std::string& text, size_t times = 1, int timeoutMs = 90000) {
    return AgentProcess::WaitFor([&] { return Count(agent.Stderr(), text) >= times; }, timeoutMs);
  }

  SimulatedUps ups{"apc", {}, true};
  testing_support::TempDir work{false};
  AgentProcess agent;
};

TEST_F(OrdinaryUserTest, DetectsTheUpsHoldsItsPortAndRidesOutAnOutage) {
  // Detection walks the protocols, opening and closing the port for each.
  ProgramRun detect = DetectUps(work.path().string(), {"--poll", ups.device()});
  EXPECT_EQ(detect.status, 0) << detect.output;
  EXPECT_TRUE(Contains(detect.output, "found: APC Smart-UPS UPS on " + ups.device())) << detect.output;
  EXPECT_TRUE(Contains(detect.output, "identification: read")) << detect.output;

  ASSERT_TRUE(agent.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(WaitForTrace("Inside SERIAL thread")) << agent.Stderr();
  EXPECT_TRUE(Contains(agent.Stderr(), "APC Mode Detected."));
  EXPECT_FALSE(Contains(agent.Stderr(), "Device or resource busy")) << agent.Stderr();

  // A second user of the port is refused while the agent holds it.
  detect = DetectUps(work.path().string(), {"--trace", ups.device()});
  EXPECT_EQ(detect.status, 2) << detect.output;
  EXPECT_TRUE(Contains(detect.output, "detection failed: the port could not be used")) << detect.output;
  EXPECT_TRUE(Contains(detect.output, "Device or resource busy")) << detect.output;
  // Its error records are not left in the folder it was run in.
  EXPECT_FALSE(std::filesystem::exists(work.path() / kErrorLogName));

  // One outage: on battery with its message box, counted, and back on mains.
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(WaitForTrace("UPS On Battery set at")) << agent.Stderr();
  BatteryInfoBlock info;
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return ReadBatteryInfo(agent.File(kBatteryInfoFileName), info) && info.GetOutageCount() == 1; },
      90000));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), "Power Failure"); }, 60000))
      << agent.Stdout();
  ASSERT_TRUE(ups.Do("mains ok"));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        return ReadBatteryInfo(agent.File(kBatteryInfoFileName), info) && info.GetOnBatterySeconds() > 0;
      },
      90000));
  EXPECT_EQ(info.GetOutageCount(), 1u);

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
  // The record files were written by the user the agent ran as.
  struct stat st {};
  ASSERT_EQ(::stat(agent.File(kConfigFileName).c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, testing_support::OrdinaryUserIds().uid);
}

}  // namespace
