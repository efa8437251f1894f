// The real VigilNT on the simulated BCM and Varnis II UPSes: detection, polling through the
// serial thread, a mains failure seen as an alarm, a clean stop.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/agent/e2e/agent_process.h"
#include "tests/support/simulated_ups.h"

namespace {

using testing_support::SimulatedUps;

void RunAgainst(SimulatedUps& ups, const char* detected, const char* statusRequest) {
  AgentProcess agent;
  ASSERT_TRUE(agent.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Inside SERIAL thread"); }, 120000))
      << agent.Stderr();
  EXPECT_TRUE(Contains(agent.Stderr(), detected));
  ASSERT_TRUE(ups.WaitForLog(statusRequest, ups.LogCount(), 30000));
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "UPS On Battery set at"); }, 60000))
      << agent.Stderr();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
  EXPECT_TRUE(Contains(agent.Stderr(), "Exiting SERIAL thread"));
}

TEST(AgentOnBcmAndVarnis, BcmUpsAtItsOwnSpeed) {
  SimulatedUps ups("bcm");
  ASSERT_TRUE(ups.ok()) << ups.error();
  ASSERT_TRUE(ups.Do("speed 4800"));
  RunAgainst(ups, "BCM Mode Detected.", "REQ alarms");
}

TEST(AgentOnBcmAndVarnis, VarnisUps) {
  SimulatedUps ups("varnis");
  ASSERT_TRUE(ups.ok()) << ups.error();
  RunAgainst(ups, "VARNISII Mode Detected.", "REQ UPSS");
}

}  // namespace
