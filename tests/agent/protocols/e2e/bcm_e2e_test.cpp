// The BCM protocol against the simulated BCM UPS: the agent's protocol object on the
// simulator's pseudo-terminal, the UPS changed through the simulator's control channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocols/bcm.h"
#include "core/adapters/bcm_block.h"
#include "core/scp/scp.h"
#include "tests/agent/protocols/e2e/protocol_on_the_line.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using testing_support::SimulatedUps;
using testing_support::TempDir;
using testing_support::TraceCapture;

namespace {

class BcmOnTheLine : public ProtocolOnTheLine<KT_BCM> {
 protected:
  void Start(const std::vector<std::string>& controls) { StartSimulator("bcm", controls); }
};

TEST_F(BcmOnTheLine, IdentificationStatusMetersAndReceptacles) {
  // Replies in blocks of 16 bytes, after junk, each split in two halves on the line.
  Start({"segments 3", "junk on", "block-size 16", "split 200"});
  Identify();
  EXPECT_EQ(Requests(0), (std::vector<std::string>{"identification", "configuration", "ratings",
                                                   "supported-commands", "load-segments"}));
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 1);
    EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
    EXPECT_EQ(scp_.upsInfo.GetWattRating(), 1050);
    EXPECT_EQ(scp_.upsInfo.GetVersionMajor(), 1);
    EXPECT_EQ(scp_.upsInfo.GetVersionMinor(), 2);
    EXPECT_EQ(scp_.upsInfo.GetSerialNumber(), "98765432");
    EXPECT_EQ(scp_.upsInfo.GetCto(), "CTO-4711");
    EXPECT_EQ(scp_.upsInfo.GetNominalInputVoltage(), 230);
    EXPECT_EQ(scp_.receptacles.GetCount(), 3);
    EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(3, 7), 1);
    EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(1, 0), 1);
    EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(3, 3), 0);
    EXPECT_EQ(scp_.config.GetAudibleAlarm(), 1);
  }
  EXPECT_EQ(protocol_->GetSegmentCount(), 3);
  EXPECT_TRUE(protocol_->Decoder().HasCapability(BCM_CAP_DELAYED_OFF));
  EXPECT_FALSE(protocol_->Decoder().HasCapability(BCM_CAP_DELAYED_OFF_WORD));

  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  for (int a = 0; a <= ALARM_BOOSTING; ++a) EXPECT_FALSE(Alarm(a)) << a;
  ASSERT_EQ(protocol_->UpdateMeter(), 1);
  {
    auto lock = scp_.Lock();
    const MeterBlock& m = scp_.meters;
    EXPECT_EQ(m.GetInputVoltage(0), 230);
    EXPECT_EQ(m.GetOutputVoltage(0), 230);
    EXPECT_EQ(m.GetOutputFrequency(), 50);
    EXPECT_EQ(m.GetInputFrequency(), 50);
    EXPECT_EQ(m.GetBatteryCapacity(), 100);
    EXPECT_EQ(m.GetBatteryTime(), 45 * 60);
    EXPECT_EQ(m.GetTemperature(), 31);
    EXPECT_EQ(m.GetOutputCurrent(0), 25);
    EXPECT_EQ(m.GetOutputVA(), 450);
    EXPECT_EQ(m.GetVAPercentLoad(), 30);
  }

  // The mains fail, the battery runs low, the load grows, an alarm without its own meaning.
  for (const char* c : {"mains fail", "battery low", "overload on", "alarm 40 on"}) ASSERT_TRUE(ups_->Do(c));
  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  for (int a : {ALARM_ON_BATTERY, ALARM_LOW_BATTERY, ALARM_OVERLOAD, ALARM_UPS_MALFUNCTION})
    EXPECT_TRUE(Alarm(a)) << a;
  EXPECT_EQ(protocol_->Decoder().nonStandardAlarms, (std::vector<uint16_t>{40}));
  ASSERT_EQ(protocol_->UpdateMeter(), 1);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.meters.GetInputVoltage(0), 0);
    EXPECT_EQ(scp_.meters.GetBatteryCapacity(), 10);
  }

  for (const char* c : {"mains ok", "battery ok", "overload off", "boost on"}) ASSERT_TRUE(ups_->Do(c));
  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  EXPECT_TRUE(Alarm(ALARM_BOOSTING));
  for (int a : {ALARM_ON_BATTERY, ALARM_LOW_BATTERY, ALARM_OVERLOAD, ALARM_UPS_MALFUNCTION})
    EXPECT_FALSE(Alarm(a)) << a;
}

TEST_F(BcmOnTheLine, AlarmHistoryAndWaveforms) {
  Start({});
  Identify();
  // A UPS with nothing in its history answers all the same.
  ASSERT_EQ(protocol_->UpdateAlarmQueue(), 1);
  ASSERT_TRUE(ups_->Do("mains fail"));
  ASSERT_TRUE(ups_->Do("mains ok"));
  ASSERT_EQ(protocol_->UpdateAlarmQueue(), 1);
  ASSERT_EQ(protocol_->UpdateAlarmQueue(), 1);
  {
    auto lock = scp_.Lock();
    ASSERT_EQ(scp_.alarmQueue.GetCount(), 2);
    uint8_t code;
    uint32_t time;
    uint8_t flag;
    scp_.alarmQueue.ResetCursor();
    ASSERT_TRUE(scp_.alarmQueue.GetNextEntry(code, time, flag));
    EXPECT_EQ(code, 57);
    EXPECT_EQ(flag, 0);  // raised
    ASSERT_TRUE(scp_.alarmQueue.GetNextEntry(code, time, flag));
    EXPECT_EQ(flag, 1);  // cleared
  }
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->UpdateWaveform(1, 0), 1);
  ASSERT_EQ(protocol_->UpdateWaveform(3, 0), 1);
  EXPECT_EQ(protocol_->UpdateWaveform(9, 0), -1);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"waveform", "waveform"}));
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.waveforms.Wave(WAVE_INPUT_VOLTAGE)->GetSampleCount(), 64);
  // The reply's calibration turns the UPS's 8-bit steps into milliamperes about 125: the
  // simulated 2.5 A load peaks near 3.5 A.
  int peak = 0;
  for (uint32_t v : scp_.waveforms.Wave(WAVE_OUTPUT_CURRENT)->Raw()) {
    peak = std::max(peak, std::abs(static_cast<int32_t>(v) - 125));
  }
  EXPECT_NEAR(peak, 2500 * std::sqrt(2.0), 2500 * std::sqrt(2.0) * 0.05);
  EXPECT_EQ(scp_.waveforms.Wave(WAVE_OUTPUT_VOLTAGE)->GetSampleCount(), 0);
}

TEST_F(BcmOnTheLine, BatteryTestIsLogged) {
  Start({"test-result fail 4"});
  Identify();
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);
  }
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->InitiateBatteryTest(), 1);
  EXPECT_TRUE(Has(Requests(from), "command 177 00 0A"));
  // The serial thread polls the result on every pass.
  scp_.serial_queue.Post(BLOCK_BATTERY_LOG, 1, 0, 0);
  ASSERT_EQ(protocol_->UpdateBatteryTest(), 1);
  EXPECT_EQ(protocol_->GetBatteryTestState(), 1);
  EXPECT_NE(scp_.serial_queue.Find(BLOCK_BATTERY_LOG, 0), -1);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.batteryLog.GetRecordCount(), 0);
  }
  ASSERT_TRUE(ups_->WaitForLog("battery test failed", from, 15000));
  ASSERT_EQ(protocol_->UpdateBatteryTest(), 1);
  ASSERT_NO_FATAL_FAILURE(ExpectBatteryTestLogged(BATTERY_TEST_FAILED, "Failed Battery Test"));
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.batteryLog.LastResult().description, "33.1.7.7.4");
}

TEST_F(BcmOnTheLine, DelayedOffInTwoBytesOnUpsesThatTakeThem) {
  Start({"set va 5000", "set version 2 5"});
  Identify();
  ASSERT_TRUE(protocol_->Decoder().HasCapability(BCM_CAP_DELAYED_OFF_WORD));
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 300), 1);
  EXPECT_TRUE(Has(Requests(from), "command 138 2C 01"));
  EXPECT_TRUE(Has(Actions(from), "delayed off: output off in 300 s"));
}

TEST_F(BcmOnTheLine, DelayedOffBeyondOneByteGoesInMinutes) {
  Start({});
  Identify();
  size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 200), 1);
  EXPECT_TRUE(Has(Requests(from), "command 138 C8"));
  // 300 s does not fit the one delay byte (it would become 44 s): five minutes instead, and
  // a delay that is no whole number of minutes is rounded up, never down.
  from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 300), 1);
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 301), 1);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"authorization", "command 147 05 00", "authorization",
                                                      "command 147 06 00"}));
  EXPECT_TRUE(Has(Actions(from), "off after 5 min: output off in 300 s"));

  // Shutdown and restart of the whole UPS: off after the shutdown delay, on a minute after
  // it at the earliest.
  {
    auto lock = scp_.Lock();
    scp_.commandBlock.SetShutdownDelay(120);
    scp_.commandBlock.SetRestartDelay(90);
  }
  from = ups_->LogCount();
  ASSERT_EQ(protocol_->ShutdownAndRestart(KT_UpsProtocol::kAllSegments), 1);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"authorization", "command 147 02 00", "authorization",
                                                      "command 145 03 00"}));
}

TEST_F(BcmOnTheLine, DelayedOffAtALocalTimeWhereTheUpsTakesNoMinutes) {
  Start({"set type-code 30"});
  Identify();
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 7);
  }
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 300), 1);
  const std::vector<std::string> requests = Requests(from);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].rfind("command 148 A0 ", 0), 0u) << requests[1];
  const std::vector<std::string> actions = Actions(from);
  ASSERT_EQ(actions.size(), 1u);
  const size_t in = actions[0].find("output off in ");
  ASSERT_NE(in, std::string::npos) << actions[0];
  const int seconds = std::atoi(actions[0].c_str() + in + 14);
  EXPECT_GE(seconds, 296) << actions[0];  // a few seconds of the exchange may have passed
  EXPECT_LE(seconds, 361) << actions[0];
}

TEST_F(BcmOnTheLine, DelayedOffIsCutAndReportedWhereNoFormHoldsIt) {
  // Without a configuration block the UPS is known by its name only: one delay byte, no
  // timers in minutes or at a time.
  Start({"set config-size 0"});
  Identify();
  ASSERT_EQ(protocol_->Decoder().capabilities &
                (BCM_CAP_MINUTE_TIMERS | BCM_CAP_DATE_TIMERS | BCM_CAP_DELAYED_OFF_WORD),
            0u);
  TraceCapture trace;
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 300), 1);
  EXPECT_TRUE(Has(Requests(from), "command 138 FF"));
  EXPECT_EQ(ProtocolError(), (std::vector<int32_t>{ERR_BCM, 16, 1}));
  EXPECT_TRUE(trace.Contains("holds at most 255, not 300"));
}

TEST_F(BcmOnTheLine, LoadSegmentCommands) {
  Start({"segments 3"});
  Identify();
  size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterOs, 1, 300), 1);
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kOutputOffAfterDelay, 1, 600), 1);
  ASSERT_EQ(protocol_->SegmentOnNow(1), 1);
  ASSERT_EQ(protocol_->LoadControl(KT_UpsProtocol::kSegmentRestartDelay, KT_UpsProtocol::kAllSegments, 30),
            1);
  std::vector<std::string> commands;
  for (const std::string& r : Requests(from)) {
    if (r != "authorization") commands.push_back(r);
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"command 151 03 0C 2C 01", "command 151 03 0C 58 02",
                                                "command 151 04 0C 01 00", "command 151 02 16 1E 00",
                                                "command 151 02 17 1E 00", "command 151 02 18 1E 00"}));
  EXPECT_TRUE(Has(Actions(from), "segment 1 off in 300 s"));
  EXPECT_TRUE(Has(Actions(from), "segment 1 on in 1 s"));
  // A single segment needs no restart delay of its own; unknown kinds are refused.
  protocol_->SetSegmentCount(1);
  from = ups_->LogCount();
  EXPECT_EQ(protocol_->LoadControl(KT_UpsProtocol::kSegmentRestartDelay, KT_UpsProtocol::kAllSegments, 30),
            1);
  EXPECT_EQ(protocol_->LoadControl(7, KT_UpsProtocol::kAllSegments, 30), -1);
  EXPECT_EQ(protocol_->SegmentOnNow(KT_UpsProtocol::kAllSegments), 0);
  EXPECT_TRUE(Requests(from).empty());
}

TEST_F(BcmOnTheLine, SettingsAndAuthorization) {
  Start({});
  Identify();
  {
    auto lock = scp_.Lock();
    scp_.config.SetAudibleAlarm(0);
    scp_.config.SetLowBatteryWarning(5);
  }
  size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->SetConfig(), 1);
  EXPECT_TRUE(Has(Actions(from), "audible alarm set to 0"));
  EXPECT_TRUE(Has(Actions(from), "low-battery warning set to 5"));
  // The UPS reports the new values back.
  {
    auto lock = scp_.Lock();
    scp_.config.SetAudibleAlarm(9);
  }
  ASSERT_EQ(protocol_->UpdateConfig(), 1);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.config.GetAudibleAlarm(), 0);
    EXPECT_EQ(scp_.config.GetLowBatteryWarning(), 5);
  }
  // A command without the authorization block before it is not carried out.
  from = ups_->LogCount();
  const uint8_t test[] = {BCM_CMD_BATTERY_TEST, 0, 10};
  ASSERT_EQ(protocol_->SendRequest(test, 3, 0), 1);
  KT_ReadRecord record;
  ASSERT_EQ(protocol_->ReadBlock(record), 1);
  ASSERT_EQ(protocol_->ProcessBlock(record), 1);
  EXPECT_EQ(protocol_->Decoder().ackCommand, BCM_CMD_BATTERY_TEST);
  EXPECT_EQ(protocol_->Decoder().ackResult, BCM_ACK_UNRECOGNIZED);
  EXPECT_TRUE(Has(Requests(from), "command 177 00 0A (not authorized)"));
  EXPECT_TRUE(Actions(from).empty());
}

TEST_F(BcmOnTheLine, UpsThatFallsBackIntoItsMenuIsBroughtBack) {
  Start({"set type-code 250"});
  Identify();
  {
    auto lock = scp_.Lock();
    ASSERT_EQ(scp_.upsInfo.GetModelIndex(), 11);
  }
  ASSERT_TRUE(ups_->Do("fallback"));
  const size_t from = ups_->LogCount();
  ASSERT_EQ(protocol_->UpdateStatus(), 1);
  const std::vector<std::string> requests = Requests(from);
  EXPECT_TRUE(Has(requests, "menu key 81"));
  EXPECT_TRUE(Has(requests, "resync (authorized)"));
  EXPECT_EQ(requests.back(), "alarms");
}

TEST_F(BcmOnTheLine, DamagedAndMissingRepliesAreFailures) {
  Start({});
  Identify();
  ASSERT_TRUE(ups_->Do("corrupt"));
  EXPECT_EQ(protocol_->UpdateMeter(), -1);
  EXPECT_EQ(ProtocolError(), (std::vector<int32_t>{ERR_BCM, BCM_FN_PARSE, BCM_PARSE_CHECKSUM}));
  EXPECT_EQ(protocol_->UpdateMeter(), 1);
  // A UPS that stops answering is a failed update, not an update without data: the serial
  // thread must count it towards the loss of communication.
  ASSERT_TRUE(ups_->Do("silence on"));
  EXPECT_EQ(protocol_->UpdateStatus(), -1);
  EXPECT_EQ(ProtocolError(), (std::vector<int32_t>{ERR_BCM, BCM_FN_SEND, 4}));
  EXPECT_EQ(protocol_->UpdateInfo(), -1);
  ASSERT_TRUE(ups_->Do("silence off"));
  EXPECT_EQ(protocol_->UpdateStatus(), 1);
}

}  // namespace
