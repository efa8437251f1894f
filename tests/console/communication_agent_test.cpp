// The communication worker against a real VigilNT: over the shared-memory channel (the agent
// shares the test's name prefix) and over UDP in the test program's own network.
#include <QPointer>

#include "console/comm/communication.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/console/comm_test_support.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

namespace {

using console_test::PumpUntil;
using console_test::WorkerTest;

class AgentWorkerTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    // gHosts: the agent on this computer, as the fixture of the dialog tests has it.
    trem_harness::ResetToLocalHost();
  }
  CCommunication& Start(int mode) {
    gnCommMode = mode;
    worker = std::make_unique<CCommunication>(&relay);
    worker->SetReceiveWaits(100, 100);
    worker->start();
    EXPECT_TRUE(worker->WaitInitialised(5000));
    return *worker;
  }
  // True once a reply with the key arrived with Get OK (a stale branch is first answered Get
  // Resend, which the handler asks again).
  bool GotOk(uint32_t key, int boundMs) {
    return PumpUntil(
        [&] {
          for (const CommNotice& n : target.notices) {
            if (n.message == kNoticeReplyApplied && n.key == key && n.status == SCP_GET_OK) return true;
          }
          return false;
        },
        boundMs);
  }
  // Asks for three keys of one block, one of each length, and waits for their data.
  void AskForKeysOfEachLength(int boundMs) {
    RequestForHost(1, 2, 0, 0);
    RequestForHost(1, 4, 8, 0);
    RequestForHost(1, 4, 8, 1);
    EXPECT_TRUE(GotOk(PackScpKey(1, 2, 0, 0), boundMs));
    EXPECT_TRUE(GotOk(PackScpKey(2, 4, 8, 0), boundMs));
    EXPECT_TRUE(GotOk(PackScpKey(3, 4, 8, 1), boundMs));
    for (const CommNotice& n : target.notices) {
      EXPECT_EQ(PackedKeyBlock(n.key) == 2 || PackedKeyBlock(n.key) == 4 || PackedKeyBlock(n.key) == 1, true)
          << std::hex << n.key;
      EXPECT_EQ(n.hostIndex, 1);
    }
    EXPECT_TRUE(PumpUntil(
        [] {
          ScpQueueLock lock;
          return gScp.requestTable.GetCount() == 0;
        },
        boundMs));
  }
};

TEST_F(AgentWorkerTest, LocalChannelAnswersRegistersAndUnregisters) {
  testing_support::ScopedManualClock clock;
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}, {std::string(platform::kNamePrefixVariable) + "=" + prefix_}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "LOCAL THREAD IS ALIVE") > 0; }, 30000))
      << vigil.Stderr();
  CCommunication& w = Start(3);
  ASSERT_EQ(w.Running(), 1);
  AskForKeysOfEachLength(30000);
  clock->AdvanceSeconds(31);
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "Console registered"); }, 15000))
      << vigil.Stderr();
  EXPECT_TRUE(w.Stop(10000));
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "Console unregistered"); }, 15000))
      << vigil.Stderr();
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(AgentWorkerTest, UdpAnswersRegistersReceivesAMainsFailureAndUnregisters) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::ScopedManualClock clock;
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000))
      << vigil.Stderr();
  CCommunication& w = Start(0);
  ASSERT_EQ(w.Running(), 1);
  AskForKeysOfEachLength(30000);

  // The heartbeat registers the console for status pushes.
  clock->AdvanceSeconds(31);
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "Console registered"); }, 15000))
      << vigil.Stderr();
  ASSERT_TRUE(PumpUntil([] {
    ScpQueueLock lock;
    return gScp.requestTable.GetCount() == 0;
  }));
  target.notices.clear();
  ASSERT_TRUE(ups.Do("mains fail"));
  EXPECT_TRUE(PumpUntil(
      [&] {
        auto lock = gScp.Lock();
        return gScp.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) == 1;
      },
      30000));
  PumpUntil([&] { return !target.notices.empty(); }, 2000);
  ASSERT_FALSE(target.notices.empty());
  EXPECT_EQ(PackedKeyBlock(target.notices.back().key), 1u);
  EXPECT_EQ(target.notices.back().hostIndex, 1);

  EXPECT_TRUE(w.Stop(10000));
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "Console unregistered"); }, 15000))
      << vigil.Stderr();
  EXPECT_EQ(boxes.Count(), 0);
}

}  // namespace
