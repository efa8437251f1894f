// The Varnis II protocol against the simulated Varnis II UPS.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocols/harvan.h"
#include "core/scp/scp.h"
#include "tests/agent/protocols/e2e/protocol_on_the_line.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using testing_support::ScopedManualClock;
using testing_support::SimulatedUps;
using testing_support::TempDir;
using testing_support::TraceCapture;

namespace {

class VarnisOnTheLine : public ProtocolOnTheLine<KT_Harvan> {
 protected:
  void Start(const std::vector<std::string>& controls) { StartSimulator("varnis", controls); }
};

TEST_F(VarnisOnTheLine, IdentificationStatusMetersAndSegments) {
  Start({"segments 3"});
  ASSERT_EQ(protocol_->Probe(), 1);
  Identify();
  EXPECT_EQ(Requests(0), (std::vector<std::string>{"UPTP", "UPSN 0", "UPTP", "UPDS", "UPDV", "UPCL",
                                                   "frame 80 00 00 80"}));
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsInfo.GetSerialNumber(), "123456");
    EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 12);
    EXPECT_EQ(scp_.upsInfo.GetVersionMajor(), 2);
    EXPECT_EQ(scp_.upsInfo.GetVersionMinor(), 10);
    EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
    EXPECT_EQ(scp_.upsInfo.GetWattRating(), 1050);
    EXPECT_EQ(scp_.upsInfo.GetNominalOutputFrequency(), 50);
    EXPECT_EQ(scp_.receptacles.GetCount(), 3);
    for (auto [byte, bit] : {std::pair{3, 0}, std::pair{3, 1}, std::pair{3, 3}, std::pair{3, 7}}) {
      EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(byte, bit), 1) << byte << "," << bit;
    }
    EXPECT_EQ(scp_.notify.TestSupportBit(SUPPORT_EVENTS, 21 / 8, 21 % 8), 1);
    EXPECT_EQ(scp_.meters.GetOutputVoltage(0), 230);
    EXPECT_EQ(scp_.meters.GetBatteryTime(), 45 * 60);
  }
  EXPECT_TRUE(protocol_->Marks()[HARVAN_BINARY]);
  EXPECT_EQ(protocol_->GetSegmentCount(), 3);

  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  for (int a = 0; a <= 6; ++a) EXPECT_FALSE(Alarm(a)) << a;
  for (const char* c : {"mains fail", "battery low"}) ASSERT_TRUE(ups_->Do(c));
  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  EXPECT_TRUE(Alarm(ALARM_ON_BATTERY));
  EXPECT_TRUE(Alarm(ALARM_LOW_BATTERY));
  ASSERT_EQ(protocol_->UpdateMeter(), 1);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.meters.GetInputVoltage(0), 0);
    EXPECT_EQ(scp_.meters.GetInputFrequency(), 0);
    EXPECT_EQ(scp_.meters.GetBatteryCapacity(), 10);
  }
  for (const char* c : {"mains ok", "battery ok", "overload on"}) ASSERT_TRUE(ups_->Do(c));
  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  EXPECT_FALSE(Alarm(ALARM_ON_BATTERY));
  EXPECT_TRUE(Alarm(ALARM_OVERLOAD));
  EXPECT_EQ(protocol_->UpdateConfig(), -1);
  EXPECT_EQ(protocol_->SetConfig(), 1);
  EXPECT_EQ(protocol_->UpdateAlarmQueue(), 1);
}

TEST_F(VarnisOnTheLine, BinaryLoadCommands) {
  Start({"segments 2"});
  Identify();
  size_t from = ups_->LogCount();
  // Off after the operating system's shutdown, for every segment: the delay in half seconds,
  // then the segment armed.
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 300), 1);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"frame 80 04 03 00 02 58 E1", "frame 80 07 01 00 88",
                                                      "frame 80 04 03 01 02 58 E2", "frame 80 07 01 01 89"}));
  EXPECT_TRUE(Has(Actions(from), "segment 1 off on utility failure in 300 s"));
  from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterDelay, 1, 90), 1);
  ASSERT_EQ(protocol_->SegmentOnNow(0), 1);
  EXPECT_TRUE(Has(Actions(from), "segment 1 off in 2 min"));
  EXPECT_TRUE(Has(Actions(from), "segment 0 on now"));
  // A frame the UPS does not echo is sent three times, then given up.
  ASSERT_TRUE(ups_->Do("echo-fail 3"));
  from = ups_->LogCount();
  EXPECT_EQ(protocol_->LoadControl(KT_UpsProtocol::kSegmentRestartDelay, 0, 20), -1);
  EXPECT_EQ(Requests(from).size(), 3u);
  EXPECT_EQ(ProtocolError(), (std::vector<int32_t>{ERR_HARVAN, HARVAN_FN_LOAD_COMMAND, 1}));
  EXPECT_EQ(protocol_->LoadControl(9, 0, 20), -1);
}

TEST_F(VarnisOnTheLine, TextShutdownSequenceWithoutBinaryCommands) {
  Start({"capabilities UPBT,UPSD,UPCD,UPPC"});
  Identify();
  EXPECT_FALSE(protocol_->Marks()[HARVAN_BINARY]);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(3, 3), 1);
  }
  // Without binary commands only the delayed off of the whole UPS is possible.
  EXPECT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterDelay, KT_UpsProtocol::kAllSegments, 60),
            -1);
  size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->ShutdownAfterOs(KT_UpsProtocol::kAllSegments), 1);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"UPSD 120", "UPCD 005", "UPPC TOVRABSENK"}));
  ASSERT_TRUE(ups_->WaitForLog("shutdown: output off in 120 s", from));
  // Three digits hold at most 999 s: a longer delay is cut, and said so.
  TraceCapture trace;
  from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 1500), 1);
  EXPECT_EQ(Requests(from)[0], "UPSD 999");
  EXPECT_EQ(ProtocolError(), (std::vector<int32_t>{ERR_HARVAN, 8, 1}));
  EXPECT_TRUE(trace.Contains("holds at most 999, not 1500"));
}

TEST_F(VarnisOnTheLine, GeneralSystemsTestIsLogged) {
  Start({});
  Identify();
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);
  }
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->InitiateBatteryTest(), 1);
  // The UPS of model 12 is asked with "UPBT" and the byte 1.
  ASSERT_TRUE(ups_->WaitForLog("general systems test started", from));
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"UPBT \\x01"}));
  scp_.serial_queue.Post(BLOCK_BATTERY_LOG, 1, 0, 0);
  {
    ScopedManualClock clock(protocol_->GetBatteryTestStart() + 5);
    EXPECT_EQ(protocol_->UpdateBatteryTest(), 1);  // still running
    EXPECT_NE(scp_.serial_queue.Find(BLOCK_BATTERY_LOG, 0), -1);
    clock->Set(protocol_->GetBatteryTestStart() + 12);
    ASSERT_EQ(protocol_->UpdateBatteryTest(), 1);
  }
  ASSERT_NO_FATAL_FAILURE(ExpectBatteryTestLogged(BATTERY_TEST_PASSED, "Passed General Systems Test"));
  // No test running: nothing to log.
  ScopedManualClock later(protocol_->GetBatteryTestStart() + 30);
  EXPECT_EQ(protocol_->UpdateBatteryTest(), -1);
}

}  // namespace
