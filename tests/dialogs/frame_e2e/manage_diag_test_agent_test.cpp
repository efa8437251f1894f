// The diagnostic test confirmation against a real agent over UDP, in a network of the test's
// own: OK reaches the agent, which starts the battery test.
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/monitoring/manage_diag_test.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using trem_harness::TremTest;

class ManageDiagTestAgentTest : public TremTest {};

TEST_F(ManageDiagTestAgentTest, OkStartsTheBatteryTestOnTheAgent) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000))
      << vigil.Stderr();

  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

  QPointer<CManageDiagTest> d = new CManageDiagTest(nullptr, "localhost");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(real.PumpIdle(10000));
  EXPECT_TRUE(d.isNull());
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] { return Contains(vigil.Stderr() + vigil.Stdout(), "battery test now"); }, 15000))
      << vigil.Stderr();
  // The agent's "Set OK" came back and was handled without a box.
  EXPECT_EQ(real.RepliesApplied(), 1);
  EXPECT_EQ(boxes.Count(), 0);
}

}  // namespace
