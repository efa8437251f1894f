// The real VigilNT on the simulated Smart-UPS with every slow action at once, in a network and
// mounts of the test's own where the name server never answers: notices to another agent and
// traps to eight managers given by host name, a sound player that never ends, and a page every
// second through a modem that never answers. Low battery still brings the shutdown about as
// soon as without them (the names' lookups would cost the resolver's 10 s each, the eight
// managers and the notice host on the events between low battery and the shutdown), the
// shutdown event's notice to a numeric address goes out at once, behind none of those lookups,
// the pages keep one pager thread instead of piling up threads, and a stop in the middle of it
// ends the agent promptly.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "agent/engine/os_services.h"
#include "core/scp/scp.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/private_network.h"
#include "tests/support/scp_console.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::SimulatedUps;
using Clock = std::chrono::steady_clock;

// Host names no one answers for: the name server is silent and /etc/hosts does not hold them.
constexpr const char* kNoticeHost = "ups-console.vigil.test";
constexpr int kManagers = KT_NetworkManagerList::kSlots;
// The numeric address the low-battery shutdown's notice goes to.
constexpr const char* kNumericNoticeHost = "127.0.0.2";
// The shutdown comes well within this after low battery (the lookups alone would take 60 s).
constexpr double kShutdownBoundSeconds = 25.0;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The number of threads of a process.
int ThreadsOf(pid_t pid) {
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/task", ec), end; !ec && it != end;
       it.increment(ec)) {
    ++n;
  }
  return n;
}

// The test's own network and mounts come first: they must be made before any thread starts.
class SilentNameServerFirst {
 protected:
  SilentNameServerFirst() {
    ready_ = testing_support::EnterPrivateNetwork(why_) && testing_support::UseSilentNameServer(why_);
  }
  bool ready_ = false;
  std::string why_;
};

class AgentActionFaultsTest : public ::testing::Test, protected SilentNameServerFirst {
 protected:
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no network and mount namespaces of the test's own here (" << why_ << ")";
    ASSERT_TRUE(ups.ok()) << ups.error();
    ASSERT_TRUE(modem.ok()) << modem.error();
    ASSERT_TRUE(modem.Do("silence on"));
    StandIn("shutdown", "");
    // The player "plays" until the test ends.
    StandIn("sound", "n=0\nwhile [ ! -f \"" + agent.File("release") + "\" ] && [ $n -lt 1200 ]; do sleep 0.1; n=$((n+1)); done\n");
    testing_support::WriteFileText(agent.File("VigilNT.conf"),
                                   "snmp_service =\nuser_terminals = no\nsaver_command = /bin/true\n"
                                   "bind_address = 127.0.0.1\n"  // the notices' receiver is 127.0.0.2:7010
                                   "shutdown_command = " + Script("shutdown") + " -h now\n"
                                   "reboot_command = " + Script("shutdown") + " -r now\n"
                                   "sound_player = " + Script("sound") + "\n");
    ASSERT_TRUE(agent.InstallShippedMib());
    WriteRecordFiles();
  }
  void TearDown() override {
    testing_support::WriteFileText(agent.File("release"), "");
    if (HasFailure()) std::fprintf(stderr, "--- agent trace ---\n%s\n", agent.TraceDump(60, 8000).c_str());
  }

  std::string Script(const std::string& name) { return agent.File(name + ".sh"); }
  void StandIn(const std::string& name, const std::string& more) {
    testing_support::WriteFileText(Script(name), "#!/bin/sh\necho \"" + name + " $*\" >>\"" + agent.File("effects.log") +
                                                     "\"\n" + more);
    ::chmod(Script(name).c_str(), 0755);
  }
  std::string Effects() { return testing_support::ReadFileText(agent.File("effects.log")); }

  void Action(int event, int action, int interval, const std::string& text, uint8_t alias = 0) {
    KT_ActionEntry e(static_cast<uint8_t>(event), static_cast<uint8_t>(action));
    e.interval = static_cast<uint16_t>(interval);
    if (!text.empty()) e.SetMessage(text.c_str());
    if (action == ACTION_REMOTE_HOST) {
      e.SetRemoteHost(event == EVENT_SHUTDOWN_LOW_BATTERY ? kNumericNoticeHost : kNoticeHost);
    }
    e.alias = alias;
    ASSERT_EQ(scp.notify.AddAction(e), 0);
  }

  void WriteRecordFiles() {
    ConfigBlock& c = scp.config;
    c.SetSerialDeviceName(ups.device().c_str());
    c.SetBaudRate(3);
    c.SetCommMode(COMM_SERIAL_NORMAL);
    c.SetTotalBatteryTime(60);
    c.SetShutdownStartDelay(30);  // only low battery brings the shutdown
    c.SetTurnOffUps();
    NotifyBlock& n = scp.notify;
    n.SetDefaultSupport(SUPPORT_EVENTS);
    n.SetDefaultSupport(SUPPORT_ACTIONS);
    for (int i = 1; i <= kManagers; ++i) {
      ASSERT_EQ(n.TrapReceivers().Add("ups-manager-" + std::to_string(i) + ".vigil.test", "public"), 0);
    }
    n.PagerRecipients().Add(TestPagerRecipient("ops", modem.device()));
    for (int event : {EVENT_ON_BATTERY, EVENT_LOW_BATTERY, EVENT_SHUTDOWN_LOW_BATTERY}) {
      Action(event, ACTION_REMOTE_HOST, 0, "event " + std::to_string(event));
      Action(event, ACTION_SNMP_TRAP, 0, "", 0xff);
      Action(event, ACTION_AUDIO, 0, "alarm.wav");
    }
    // A page every second; a page through the silent modem takes seconds.
    Action(EVENT_ON_BATTERY, ACTION_PAGE, 1, "UPS on battery", 0x01);
    Action(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING, 0, "Power Failure.");
    testing_support::InDirectory in(agent.Dir());
    KT_OSServices files(scp);
    ASSERT_EQ(files.WriteConfigFile(), 1);
    ASSERT_EQ(files.WriteNotifyFile(), 1);
  }

  // Starts the agent, fails the mains and waits until the agent pages.
  void StartOutage() {
    ASSERT_TRUE(agent.Start({"-b"}));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Inside SERIAL thread"); }, 60000))
        << agent.Stderr();
    ASSERT_TRUE(ups.WaitForLog("REQ Q", 0, 30000));
    ASSERT_TRUE(ups.Do("mains fail"));
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), "Power Failure."); }, 30000))
        << agent.Stderr();
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Sending a pager to ops"); }, 30000));
  }

  SimulatedUps ups{"apc"};
  SimulatedUps modem{"pager"};
  AgentProcess agent;
  KT_SCP scp;
};

TEST_F(AgentActionFaultsTest, SilentNameServerHangingSoundAndSilentModemDoNotHoldTheShutdown) {
  testing_support::ScpConsole notices(kNumericNoticeHost, 7010);
  ASSERT_TRUE(notices.ok());
  ASSERT_NO_FATAL_FAILURE(StartOutage());

  // Pages keep coming faster than the modem takes them; the agent's threads do not pile up.
  // (Counted once the worker has started the lookups of all three names.)
  std::this_thread::sleep_for(std::chrono::seconds(5));
  const int first = ThreadsOf(agent.Pid());
  int most = first;
  for (int second = 0; second < 12; ++second) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    most = std::max(most, ThreadsOf(agent.Pid()));
  }
  std::printf("agent threads while paging: %d at first, %d at most\n", first, most);
  const std::string paging = agent.Stderr();
  EXPECT_GE(Count(paging, "Sending a pager to ops"), 6u);
  EXPECT_GE(Count(paging, "Pager result for ops"), 2u);
  EXPECT_TRUE(Contains(paging, "replaces the one waiting"));
  EXPECT_LE(most - first, 3) << "threads: " << first << " at first, " << most << " at most";
  // The lookups went to the silent name server.
  EXPECT_GT(testing_support::SilentNameServerQueries(), 0);

  // Low battery: the shutdown comes without waiting for the names or the sounds.
  const auto low = Clock::now();
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(Effects(), "shutdown -h now"); }, 120000));
  const double seconds = SecondsSince(low);
  std::printf("low battery to the shutdown: %.1f s\n", seconds);
  EXPECT_LT(seconds, kShutdownBoundSeconds);
  EXPECT_EQ(agent.Wait(60000), 0);
  EXPECT_EQ(Count(Effects(), "shutdown -h now"), 1u);
  // The sound of each event was started; those after low battery were not waited for.
  EXPECT_EQ(Count(Effects(), "sound alarm.wav"), 3u) << Effects();
  EXPECT_TRUE(Contains(agent.Stderr(), "A shutdown is due: the sound is started, not waited for"));
  EXPECT_TRUE(Contains(agent.Stderr(), "no answer for the name " + std::string(kNoticeHost)));
  // The notice to the numeric address came, while the traps to names still waited.
  const auto notice = notices.ReceiveAll(200);
  ASSERT_EQ(notice.size(), 1u) << agent.Stderr();
  EXPECT_TRUE(Contains(std::string(notice[0].begin(), notice[0].end()), "event 24"));
}

TEST_F(AgentActionFaultsTest, AStopWhileLookupsAndPagesHangEndsTheAgentPromptly) {
  ASSERT_NO_FATAL_FAILURE(StartOutage());
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "Sending a pager to ops") >= 3; }, 30000));
  const auto stop = Clock::now();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0) << agent.Stderr();
  const double seconds = SecondsSince(stop);
  std::printf("SIGTERM to the end: %.1f s\n", seconds);
  EXPECT_LT(seconds, 10.0);
  EXPECT_FALSE(Contains(Effects(), "shutdown"));
}

}  // namespace
