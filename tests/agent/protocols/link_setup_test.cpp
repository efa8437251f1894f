#include "agent/protocols/link_setup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using protocol_testing::ClockPump;
using protocol_testing::ProbeOnly;
using testing_support::ScopedManualClock;
using testing_support::SimulatedUps;
using testing_support::TempDir;

namespace {

// Detection on the port of a simulated device, with the process clock pumped so that the
// probes' time-outs pass quickly.
class Detection : public ::testing::Test {
 protected:
  void Start(const std::string& mode, int noLoopback = 0) {
    sim_ = std::make_unique<SimulatedUps>(mode);
    ASSERT_TRUE(sim_->ok()) << sim_->error();
    auto lock = scp_.Lock();
    scp_.config.SetSerialDeviceName(sim_->device().c_str());
    scp_.config.SetBaudRate(5);
    scp_.config.SetCommMode(COMM_SERIAL_NORMAL);
    scp_.config.SetNoLoopbackTest(static_cast<uint32_t>(noLoopback));
  }

  std::vector<int> QueuedTypes() {
    std::vector<int> types;
    scp_.serial_queue.ResetCursor();
    int set = 0;
    int branch = 0;
    while (int type = scp_.serial_queue.GetNext(set, branch)) types.push_back(type * 10 + set);
    return types;
  }

  TempDir dir_;
  ScopedManualClock clock_;
  ClockPump pump_{*clock_};
  std::unique_ptr<SimulatedUps> sim_;
  KT_SCP scp_;
  KT_LinkSetup link_{scp_};
};

TEST_F(Detection, FindsTheSmartUpsAndQueuesItsFirstRequests) {
  Start("apc");
  EXPECT_EQ(link_.Connect(), 1);
  EXPECT_EQ(scp_.upsInfo.GetProtocol(), PROTOCOL_APC);
  EXPECT_EQ(scp_.upsInfo.GetInterfaceType(), 2);
  EXPECT_EQ(scp_.config.GetBaudRate(), 3);
  EXPECT_EQ(scp_.config.GetCommMode(), COMM_SERIAL_NORMAL);
  EXPECT_EQ(*scp_.config.GetSerialDeviceName(), sim_->device());
  // Status and meters on every pass, identification once, the UPS settings written once.
  EXPECT_EQ(QueuedTypes(), (std::vector<int>{10, 20, 30, 41}));
  EXPECT_EQ(scp_.serial_queue.Remove(BLOCK_STATUS, 0), 0);  // held
  EXPECT_EQ(scp_.serial_queue.Remove(BLOCK_UPS_INFO, 0), 1);
  EXPECT_EQ(scp_.upsInfo.Branches().GetTime(0), 0);
}

TEST_F(Detection, FindsTheContactClosureUps) {
  Start("contact");
  EXPECT_EQ(link_.Connect(), 1);
  EXPECT_EQ(scp_.upsInfo.GetProtocol(), PROTOCOL_CONTACT_CLOSURE);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 4);
  EXPECT_EQ(scp_.upsInfo.GetInterfaceType(), 1);
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 1);
  EXPECT_EQ(scp_.config.GetCommMode(), COMM_CONTACT_CLOSURE);
  EXPECT_EQ(scp_.config.GetBaudRate(), 2);
  EXPECT_EQ(QueuedTypes(), (std::vector<int>{10, 20}));  // no meters, no settings
}

TEST_F(Detection, MissingCableStopsAtTheFirstCableTest) {
  Start("apc");
  ASSERT_TRUE(sim_->Do("cable pulled"));
  const size_t from = sim_->LogCount();
  EXPECT_EQ(link_.Connect(), -1);
  EXPECT_EQ(link_.errorClass, ERR_LINK_SETUP);
  EXPECT_EQ(link_.function, KT_LinkSetup::FN_VARNIS);
  EXPECT_EQ(link_.code, KT_LinkSetup::CODE_CABLE_MISSING);
  // Neither the Smart-UPS nor the contact-closure probe went out.
  EXPECT_TRUE(sim_->Entries("LOST", from).empty());
  EXPECT_EQ(scp_.serial_queue.GetCount(), 0);
}

TEST_F(Detection, WithoutTheLoopbackTestEveryProbeRuns) {
  Start("apc", 1);
  ASSERT_TRUE(sim_->Do("cable pulled"));
  const size_t from = sim_->LogCount();
  EXPECT_EQ(link_.Connect(), 0);  // the cable test passes, nothing answers
  const std::vector<std::string> lost = sim_->Entries("LOST", from);
  EXPECT_NE(std::find(lost.begin(), lost.end(), "59"), lost.end());                 // "Y"
  EXPECT_NE(std::find(lost.begin(), lost.end(), "41 54 51 30 0D"), lost.end());     // "ATQ0\r"
}

TEST_F(Detection, AModemIsNotAUps) {
  Start("modem");
  EXPECT_EQ(link_.Connect(), -1);
  EXPECT_EQ(link_.function, KT_LinkSetup::FN_CONTACT_CLOSURE);
  EXPECT_EQ(link_.code, KT_LinkSetup::CODE_NOT_A_UPS);
}

TEST_F(Detection, NoPortConfigured) {
  EXPECT_EQ(link_.Connect(), -1);
  EXPECT_EQ(link_.function, KT_LinkSetup::FN_READ_SETTINGS);
  EXPECT_EQ(link_.code, KT_LinkSetup::CODE_NO_PORT_NAME);
}

// With BCM and Varnis II objects in place, the line probe pulses DTR first and the Varnis II
// probe comes before the Smart-UPS one.
TEST_F(Detection, LineProbeAndVarnisComeFirst) {
  Start("apc");
  std::vector<int> bcm_probes;
  link_.SetBcmMaker([&bcm_probes](KT_SCP& scp) {
    return std::make_unique<ProbeOnly>(scp, [&bcm_probes](int baud) {
      bcm_probes.push_back(baud);
      return 0;
    });
  });
  link_.SetVarnisMaker([](KT_SCP& scp) { return std::make_unique<ProbeOnly>(scp, [](int) { return 1; }); });
  const size_t from = sim_->LogCount();
  EXPECT_EQ(link_.Connect(), 1);
  EXPECT_EQ(scp_.upsInfo.GetProtocol(), PROTOCOL_VARNIS);
  EXPECT_EQ(scp_.config.GetBaudRate(), 2);
  EXPECT_TRUE(bcm_probes.empty());  // the line stayed silent: no baud scan

  const std::vector<std::string> lines = sim_->Entries("LINES", from);
  const std::vector<std::string> pulses = {"DTR=1 RTS=0", "DTR=0 RTS=0", "DTR=1 RTS=0"};
  EXPECT_NE(std::search(lines.begin(), lines.end(), pulses.begin(), pulses.end()), lines.end());
  EXPECT_TRUE(sim_->Entries("REQ", from).empty());  // "Y" never went out
}

TEST_F(Detection, BaudScanVisitsEachSpeedOnceAndAlwaysEnds) {
  Start("contact");
  std::vector<int> probes;
  int answer_at = -1;
  link_.SetBcmMaker([&](KT_SCP& scp) {
    return std::make_unique<ProbeOnly>(scp, [&](int baud) {
      probes.push_back(baud);
      return baud == answer_at ? 1 : 0;
    });
  });
  link_.SetPortName(sim_->device());

  struct Case {
    int start;
    std::vector<int> probed;
  } cases[] = {
      {6, {6, 2, 3, 4, 5}},
      {2, {2, 3, 4, 5, 6}},
      {9, {9, 2, 3, 4, 5, 6}},   // a stored code outside the ring
      {0, {0, 2, 3, 4, 5, 6}},
      {255, {2, 3, 4, 5, 6}},
  };
  for (const Case& c : cases) {
    probes.clear();
    link_.SetBaudCode(c.start);
    EXPECT_EQ(link_.ChangeBaud(), 0) << c.start;
    EXPECT_EQ(probes, c.probed) << c.start;
  }

  probes.clear();
  answer_at = 5;
  link_.SetBaudCode(4);
  EXPECT_EQ(link_.ChangeBaud(), 1);
  EXPECT_EQ(probes, (std::vector<int>{4, 5}));
  EXPECT_EQ(link_.BaudCode(), 5);
  EXPECT_EQ(scp_.upsInfo.GetProtocol(), PROTOCOL_BCM);
}

}  // namespace
