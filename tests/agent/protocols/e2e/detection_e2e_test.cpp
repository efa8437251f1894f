// UPS type detection through the whole order (line probe, Varnis II, Smart-UPS, contact
// closure, BCM baud scan) on the simulated BCM and Varnis II UPSes. A pseudo-terminal passes
// bytes at any speed, so the simulator reads the speed the agent set and answers only at its
// own.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocols/link_setup.h"
#include "core/scp/scp.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using testing_support::SimulatedUps;
using testing_support::TempDir;

namespace {

class DetectionOnSimulators : public ::testing::Test {
 protected:
  // Starts the simulator, stores its device and a baud-rate code in the configuration as the
  // agent's config.dat would, and runs the link set-up.
  int Detect(const std::string& mode, const std::vector<std::string>& controls, int storedCode) {
    ups_ = std::make_unique<SimulatedUps>(mode);
    EXPECT_TRUE(ups_->ok()) << ups_->error();
    if (!ups_->ok()) return -2;
    for (const std::string& c : controls) EXPECT_TRUE(ups_->Do(c)) << c;
    {
      auto lock = scp_.Lock();
      scp_.config.SetSerialDeviceName(ups_->device().c_str());
      scp_.config.SetBaudRate(static_cast<uint8_t>(storedCode));
      scp_.config.SetCommMode(COMM_SERIAL_NORMAL);
    }
    KT_LinkSetup link(scp_);
    return link.Connect();
  }

  int Protocol() {
    auto lock = scp_.Lock();
    return scp_.upsInfo.GetProtocol();
  }
  int StoredCode() {
    auto lock = scp_.Lock();
    return scp_.config.GetBaudRate();
  }

  TempDir dir_;
  KT_SCP scp_;
  std::unique_ptr<SimulatedUps> ups_;
};

TEST_F(DetectionOnSimulators, BcmUpsAtAnotherSpeedThanTheStoredOne) {
  // Stored 2400 baud; the UPS speaks 9600: the scan goes 2400, 4800, 9600.
  ASSERT_EQ(Detect("bcm", {"speed 9600"}, 3), 1);
  EXPECT_EQ(Protocol(), PROTOCOL_BCM);
  EXPECT_EQ(StoredCode(), 5);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsInfo.GetInterfaceType(), 2);
  }
  // Only the right speed reached the UPS as a request; the first requests are queued.
  EXPECT_EQ(ups_->Entries("REQ"), std::vector<std::string>{"status"});
  const std::vector<std::string> ignored = ups_->Entries("IGNORED");
  EXPECT_TRUE(std::any_of(ignored.begin(), ignored.end(), [](const std::string& e) {
    return e.find("AB 01 33 21 at 4800") != std::string::npos;
  }));
  EXPECT_NE(scp_.serial_queue.Find(BLOCK_STATUS, 0), -1);
  EXPECT_NE(scp_.serial_queue.Find(BLOCK_METERS, 0), -1);
}

TEST_F(DetectionOnSimulators, BcmUpsWithAServiceMenuAnswersTheLineProbe) {
  ASSERT_EQ(Detect("bcm", {"speed 2400", "menu on"}, 2), 1);
  EXPECT_EQ(Protocol(), PROTOCOL_BCM);
  EXPECT_EQ(StoredCode(), 3);
  const std::vector<std::string> requests = ups_->Entries("REQ");
  EXPECT_EQ(requests, (std::vector<std::string>{"menu key 3", "menu key 50", "menu key 108", "menu key 49",
                                                "menu key 83", "authorization", "resync (authorized)"}));
  // The UPS answered the DTR pulses with its banner before any speed matched.
  EXPECT_FALSE(ups_->Entries("ACTION").empty());
}

TEST_F(DetectionOnSimulators, VarnisUps) {
  ASSERT_EQ(Detect("varnis", {}, 5), 1);
  EXPECT_EQ(Protocol(), PROTOCOL_VARNIS);
  EXPECT_EQ(StoredCode(), 2);
  EXPECT_EQ(ups_->Entries("REQ"), std::vector<std::string>{"UPTP"});
}

}  // namespace
