#include "agent/protocols/apc.h"

#include <gtest/gtest.h>

#include <deque>
#include <iterator>
#include <string>
#include <vector>

#include "agent/protocols/apc_reply.h"
#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using protocol_testing::ClockPump;
using protocol_testing::Scripted;
using testing_support::ScopedManualClock;
using testing_support::SimulatedUps;
using testing_support::TempDir;

namespace {

constexpr int kApcCode = 3;

std::vector<int> ActiveAlarms(KT_SCP& scp) {
  std::vector<int> out;
  for (int a = 0; a < kAlarmCount; ++a) {
    if (scp.upsStatus.IsAlarmSet(a) == 1) out.push_back(a);
  }
  return out;
}

// The Smart-UPS protocol against scripted replies.
class ApcReplies : public ::testing::Test {
 protected:
  TempDir dir_;
  KT_SCP scp_;
  Scripted<KT_APC> apc_{scp_};
};

TEST_F(ApcReplies, StatusRegisterSetsAndClearsItsAlarmsAndRefusesAnythingElse) {
  struct Case {
    const char* reply;
    int result;
    std::vector<int> alarms;  // active afterwards; before each case: 1 (on battery) and 5 (overload)
  } cases[] = {
      {"08\r\n", 1, {}},
      {"50\r\n", 1, {1, 2}},
      {"F4\r\n", 1, {0, 1, 2, 5, 19}},
      {"!10\r\n", 1, {1}},         // the mains alert arrived in front of the answer
      {"\n08\r\n", 1, {}},         // a line feed left from before
      {"8\r\n", -1, {1, 5}},       // not two digits: nothing changes
      {"0G\r\n", -1, {1, 5}},
      {"NA\r\n", -1, {1, 5}},
      {"", 0, {1, 5}},             // no reply
  };
  for (const Case& c : cases) {
    scp_.upsStatus.ClearAllAlarms();
    scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
    scp_.upsStatus.SetAlarm(ALARM_OVERLOAD);
    apc_.replies = {c.reply};
    EXPECT_EQ(apc_.UpdateStatus(), c.result) << c.reply;
    EXPECT_EQ(ActiveAlarms(scp_), c.alarms) << c.reply;
  }
  EXPECT_EQ(apc_.writes.back(), "Q");
}

TEST_F(ApcReplies, MetersKeepEveryRealReadingAndStopWhenTheUpsIsSilent) {
  scp_.upsInfo.SetVARating(1000);
  scp_.meters.SetLoadVARating(1000);
  apc_.replies = {"230.4\r\n", "27.54\r\n", "031.5\r\n", "50.00\r\n",
                  "229.0\r\n", "025.0\r\n", "100.0\r\n", "0255:\r\n"};
  EXPECT_EQ(apc_.UpdateMeter(), 1);
  EXPECT_EQ(apc_.Sent(), "LBCFOPfj");
  MeterBlock& m = scp_.meters;
  EXPECT_EQ(m.GetInputVoltage(0), 230);
  EXPECT_EQ(m.GetBatteryVoltage(), 27);
  EXPECT_EQ(m.GetTemperature(), 31);
  EXPECT_EQ(m.GetOutputFrequency(), 50);
  EXPECT_EQ(m.GetInputFrequency(), 50);
  EXPECT_EQ(m.GetOutputVoltage(0), 229);
  EXPECT_EQ(m.GetVAPercentLoad(), 25);  // the load reply is a percentage of the rating
  EXPECT_EQ(m.GetBatteryCapacity(), 100);
  // Minutes from the UPS, seconds in the block; a real 255 is a reading, not "no reply".
  EXPECT_EQ(m.GetBatteryTime(), 255 * 60);

  // On battery the input frequency is 0.
  scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  apc_.writes.clear();
  apc_.replies = {"000.0\r\n", "27.00\r\n", "031.0\r\n", "49.00\r\n",
                  "229.0\r\n", "025.0\r\n", "100.0\r\n", "0012:\r\n"};
  EXPECT_EQ(apc_.UpdateMeter(), 1);
  EXPECT_EQ(m.GetInputVoltage(0), 0);
  EXPECT_EQ(m.GetOutputFrequency(), 49);
  EXPECT_EQ(m.GetInputFrequency(), 0);
  EXPECT_EQ(m.GetBatteryTime(), 12 * 60);

  // No answer to the input voltage: the pass ends there with "no data" and changes nothing.
  apc_.writes.clear();
  apc_.replies = {};
  EXPECT_EQ(apc_.UpdateMeter(), 0);
  EXPECT_EQ(apc_.Sent(), "L");
  EXPECT_EQ(m.GetBatteryTime(), 12 * 60);
}

TEST_F(ApcReplies, AMeterReplyThatIsNoNumberMakesThatMeterUnknownAndTheOthersAreRead) {
  scp_.upsInfo.SetVARating(1000);
  scp_.meters.SetLoadVARating(1000);
  // The pass in the order of its queries: the UPS's reply, what the block holds from it and
  // what it holds when the reading is unknown.
  struct Meter {
    const char* reply;
    int (*get)(MeterBlock&);
    int value, unknown;
  } const meters[] = {
      {"230.4\r\n", [](MeterBlock& m) { return m.GetInputVoltage(0); }, 230, 0xFFFF},
      {"27.54\r\n", [](MeterBlock& m) { return m.GetBatteryVoltage(); }, 27, 0xFFFF},
      {"031.5\r\n", [](MeterBlock& m) { return m.GetTemperature(); }, 31, 255},
      {"50.00\r\n", [](MeterBlock& m) { return m.GetOutputFrequency(); }, 50, 0xFFFF},
      {"229.0\r\n", [](MeterBlock& m) { return m.GetOutputVoltage(0); }, 229, 0xFFFF},
      {"080.0\r\n", [](MeterBlock& m) { return m.GetVAPercentLoad(); }, 80, 255},
      {"100.0\r\n", [](MeterBlock& m) { return m.GetBatteryCapacity(); }, 100, 255},
      {"0045:\r\n", [](MeterBlock& m) { return m.GetBatteryTime(); }, 45 * 60, 0xFFFF},
  };
  // An earlier pass, every reading other than the one above.
  const std::deque<std::string> earlier = {"200.0\r\n", "20.00\r\n", "020.0\r\n", "60.00\r\n",
                                           "200.0\r\n", "020.0\r\n", "050.0\r\n", "0010:\r\n"};
  // Line noise (a lost decimal point, a spoilt digit, nothing but the line end), a UPS
  // without that meter, no reply at all.
  const char* const bad[] = {"210\r\n", "2#0.0\r\n", "\r\n", "NA\r\n", ""};
  for (size_t i = 0; i < std::size(meters); ++i) {
    for (const char* reply : bad) {
      if (i == 0 && *reply == '\0') continue;  // silence on the first query ends the pass (above)
      SCOPED_TRACE(testing::Message() << "query " << i << ", reply \"" << reply << "\"");
      apc_.replies = earlier;
      ASSERT_EQ(apc_.UpdateMeter(), 1);
      apc_.writes.clear();
      for (size_t k = 0; k < std::size(meters); ++k) apc_.replies.push_back(k == i ? reply : meters[k].reply);
      EXPECT_EQ(apc_.UpdateMeter(), 1);
      EXPECT_EQ(apc_.Sent(), "LBCFOPfj");
      for (size_t k = 0; k < std::size(meters); ++k) {
        EXPECT_EQ(meters[k].get(scp_.meters), k == i ? meters[k].unknown : meters[k].value) << "meter " << k;
      }
      // The input frequency is the output's.
      EXPECT_EQ(scp_.meters.GetInputFrequency(), i == 3 ? 0xFFFF : 50);
    }
  }
}

TEST_F(ApcReplies, IdentificationByModelAndVoltageCharacters) {
  struct Case {
    const char* v;
    int model_index, interface_type, variant, va, volts, hertz;
    const char* text;
  } cases[] = {
      {"8QT", 8, 2, 2, 1250, 230, 50, "SmartUPS 1250"},
      {"3xA", 8, 2, 2, 350, 100, 50, "SmartUPS 370ci"},  // 370 VA kept in units of 50
      {"9", 8, 2, 2, 2000, 120, 60, "SmartUPS 2000"},
      {"ZZM", 8, 2, 2, -1, 208, 50, nullptr},
  };
  for (const Case& c : cases) {
    scp_.ResetUpsData();
    apc_.replies = {std::string(c.v) + "\r\n", "QS0123456789\r\n"};
    EXPECT_EQ(apc_.UpdateInfo(), 1) << c.v;
    UpsInfoBlock& info = scp_.upsInfo;
    EXPECT_EQ(info.GetModelIndex(), c.model_index) << c.v;
    EXPECT_EQ(info.GetInterfaceType(), c.interface_type) << c.v;
    EXPECT_EQ(info.GetVariant(), c.variant) << c.v;
    EXPECT_EQ(info.GetVARating(), c.va) << c.v;
    EXPECT_EQ(info.GetNominalOutputVoltage(), c.volts) << c.v;
    EXPECT_EQ(info.GetNominalInputFrequency(), c.hertz) << c.v;
    EXPECT_EQ(info.GetModelText().has_value(), c.text != nullptr) << c.v;
    if (c.text) {
      EXPECT_EQ(*info.GetModelText(), c.text);
    }
    // A serial number longer than one read arrives whole.
    EXPECT_EQ(info.GetSerialNumber().value_or(""), "QS0123456789") << c.v;
  }

  // "NA": a UPS without this protocol's identification; the capability pass sets only the
  // variant.
  scp_.ResetUpsData();
  apc_.replies = {"NA\r\n", ""};
  EXPECT_EQ(apc_.UpdateInfo(), 1);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 9);
  EXPECT_EQ(scp_.upsInfo.GetInterfaceType(), 1);
  EXPECT_EQ(apc_.UpdateCapabilities(), 1);
  EXPECT_EQ(scp_.upsInfo.GetVariant(), 1);
  EXPECT_EQ(scp_.upsInfo.IsFunctionSupported(3, 0), 0);  // no self-test offered
  EXPECT_EQ(scp_.notify.TestSupportBit(SUPPORT_EVENTS, 3, 0), 0);

  // No answer at all identifies nothing and is not a success.
  scp_.ResetUpsData();
  apc_.replies = {};
  EXPECT_EQ(apc_.UpdateInfo(), 0);
  EXPECT_EQ(scp_.upsInfo.GetModelIndex(), 255);
}

TEST_F(ApcReplies, ARestOfALongReplyIsNotTakenForTheNextAnswer) {
  const std::string noise(100, 'X');
  apc_.replies = {"8QT\r\n", "QS0123456789" + noise + "\r\n", "08\r\n"};
  EXPECT_EQ(apc_.UpdateInfo(), 1);
  EXPECT_EQ(scp_.upsInfo.GetSerialNumber()->size(), kApcMaxReply);
  // The next command gets its own answer, not the rest of the serial number.
  scp_.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  EXPECT_EQ(apc_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);

  // An alert arriving after an answer is not the next answer either.
  apc_.replies = {"SM\r\n$", "10\r\n"};
  EXPECT_EQ(apc_.Probe(), 1);
  EXPECT_EQ(apc_.UpdateStatus(), 1);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
}

TEST_F(ApcReplies, ReturnDelayIsConfirmedByTheStarInTheReply) {
  apc_.replies = {"*\r\n"};
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kOutputOnAfterDelay, 255, 1000), 1);
  EXPECT_EQ(apc_.writes.back(), "@002");  // tenths of an hour, truncated
  apc_.replies = {"NA\r\n"};
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kOutputOnAfterDelay, 255, 400000), 0);
  EXPECT_EQ(apc_.writes.back(), "@999");  // never more than three digits
  apc_.replies = {};
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kOutputOnAfterDelay, 255, 60), 0);
  EXPECT_EQ(apc_.writes.back(), "@000");
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kSegmentRestartDelay, 255, 60), -1);
}

TEST_F(ApcReplies, SetValueStepsTheSettingAndAlwaysEnds) {
  // Found after one step ("-" itself is not answered).
  apc_.replies = {"020\r\n", "", "180\r\n"};
  EXPECT_EQ(apc_.SetValue("p", "180"), 1);
  EXPECT_EQ(apc_.Sent(), "p-p");

  // Round the whole ring without the value: not reported as set.
  apc_.writes.clear();
  apc_.replies = {"020\r\n", "", "180\r\n", "", "300\r\n", "", "600\r\n", "", "020\r\n"};
  EXPECT_EQ(apc_.SetValue("p", "999"), 0);
  EXPECT_EQ(apc_.Sent(), "p-p-p-p-p");

  // A UPS that never comes back to its first value (noise on the line): bounded.
  apc_.writes.clear();
  apc_.replies.clear();
  for (int i = 0; i < 100; ++i) {
    apc_.replies.push_back("x" + std::to_string(i) + "\r\n");
    apc_.replies.push_back("");
  }
  EXPECT_EQ(apc_.SetValue("p", "180"), -1);
  EXPECT_EQ(static_cast<int>(apc_.writes.size()), 1 + 2 * KT_APC::kMaxSetSteps);

  // Silence after a step.
  apc_.replies = {"020\r\n"};
  EXPECT_EQ(apc_.SetValue("p", "600"), -1);
}

TEST_F(ApcReplies, OffAfterTheSystemShutdownNeedsTheDelayFirst) {
  EXPECT_STREQ(KT_APC::DelayFor(20), "020");
  EXPECT_STREQ(KT_APC::DelayFor(25), "180");
  EXPECT_STREQ(KT_APC::DelayFor(300), "300");
  EXPECT_STREQ(KT_APC::DelayFor(301), "600");

  apc_.replies = {"180\r\n", "OK\r\n"};
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kOutputOffAfterOs, 255, 120), 1);
  EXPECT_EQ(apc_.Sent(), "pS");

  apc_.writes.clear();
  apc_.replies = {"180\r\n", ""};
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kOutputOffAfterOs, 255, 120), -1);

  // The delay cannot be set: the output is not switched off with another one.
  apc_.writes.clear();
  apc_.replies = {"020\r\n", "", "020\r\n"};
  EXPECT_EQ(apc_.LoadControl(KT_UpsProtocol::kOutputOffAfterOs, 255, 120), 0);
  EXPECT_EQ(apc_.Sent().find('S'), std::string::npos);
}

TEST_F(ApcReplies, SelfTestResultGoesToTheBatteryLog) {
  std::vector<int> written;
  apc_.SetRecordFileWriter([&written](int block) { written.push_back(block); });
  EXPECT_EQ(apc_.UpdateBatteryTest(), 0);  // no reply

  apc_.replies = {"OK\r\n"};
  EXPECT_EQ(apc_.InitiateBatteryTest(), 1);
  ASSERT_NE(apc_.RunningBatteryTest(), nullptr);
  EXPECT_EQ(apc_.RunningBatteryTest()->name, "33.1.7.7.4");
  scp_.serial_queue.Post(BLOCK_BATTERY_LOG, 1, 0, 0);
  scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);

  apc_.replies = {"NO\r\n"};
  EXPECT_EQ(apc_.UpdateBatteryTest(), 1);  // still running
  EXPECT_EQ(scp_.serial_queue.Find(BLOCK_BATTERY_LOG, 0), 0);
  EXPECT_TRUE(written.empty());

  apc_.replies = {"ZZ\r\n"};
  EXPECT_EQ(apc_.UpdateBatteryTest(), -1);  // not a result: the poll goes on
  EXPECT_EQ(scp_.serial_queue.Find(BLOCK_BATTERY_LOG, 0), 0);

  apc_.replies = {"BT\r\n"};
  EXPECT_EQ(apc_.UpdateBatteryTest(), 1);
  EXPECT_EQ(scp_.serial_queue.Find(BLOCK_BATTERY_LOG, 0), -1);
  ASSERT_EQ(scp_.batteryLog.GetRecordCount(), 1);
  EXPECT_EQ(scp_.batteryLog.Records().front().data, std::vector<uint8_t>{4});
  EXPECT_EQ(scp_.batteryLog.GetStatusText(), "Failed Battery Test");
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST), 0);
  EXPECT_EQ(written, (std::vector<int>{BLOCK_BATTERY_TEST, BLOCK_BATTERY_LOG}));
  EXPECT_EQ(apc_.RunningBatteryTest(), nullptr);

  // A result without a test of ours running.
  apc_.replies = {"OK\r\n"};
  EXPECT_EQ(apc_.UpdateBatteryTest(), -1);

  // A UPS that does not answer "W" still starts its test; a refusal does not.
  apc_.replies = {};
  EXPECT_EQ(apc_.InitiateBatteryTest(), 1);
  apc_.replies = {"NA\r\n"};
  EXPECT_EQ(apc_.InitiateBatteryTest(), 0);
  apc_.fail_writes = true;
  EXPECT_EQ(apc_.InitiateBatteryTest(), -1);
}

// ---- against the simulated Smart-UPS ----

class ApcOnTheLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ups_.ok()) << ups_.error();
    ASSERT_EQ(apc_.Configure(ups_.device(), kApcCode), 0);
  }

  TempDir dir_;
  SimulatedUps ups_{"apc"};
  KT_SCP scp_;
  KT_APC apc_{scp_};
};

TEST_F(ApcOnTheLine, StatusAndMetersFollowTheUps) {
  ScopedManualClock clock;
  ClockPump pump(*clock);
  EXPECT_EQ(apc_.Probe(), 1);
  EXPECT_EQ(apc_.UpdateInfo(), 1);
  EXPECT_EQ(*scp_.upsInfo.GetSerialNumber(), "SN123456");
  EXPECT_EQ(apc_.UpdateStatus(), 1);
  EXPECT_TRUE(ActiveAlarms(scp_).empty());
  EXPECT_EQ(apc_.UpdateMeter(), 1);
  EXPECT_EQ(scp_.meters.GetInputVoltage(0), 230);
  EXPECT_EQ(scp_.meters.GetBatteryTime(), 45 * 60);

  // The mains fail: the UPS sends its '!' alert unasked, which must not spoil the answers.
  ASSERT_TRUE(ups_.Do("mains fail"));
  EXPECT_EQ(apc_.UpdateStatus(), 1);
  EXPECT_EQ(ActiveAlarms(scp_), std::vector<int>{ALARM_ON_BATTERY});
  EXPECT_EQ(apc_.UpdateMeter(), 1);
  EXPECT_EQ(scp_.meters.GetInputVoltage(0), 0);
  EXPECT_EQ(scp_.meters.GetInputFrequency(), 0);

  ASSERT_TRUE(ups_.Do("battery low"));
  ASSERT_TRUE(ups_.Do("overload on"));
  EXPECT_EQ(apc_.UpdateStatus(), 1);
  EXPECT_EQ(ActiveAlarms(scp_), (std::vector<int>{ALARM_ON_BATTERY, ALARM_LOW_BATTERY, ALARM_OVERLOAD}));
  EXPECT_EQ(apc_.UpdateMeter(), 1);
  EXPECT_EQ(scp_.meters.GetBatteryTime(), 2 * 60);

  ASSERT_TRUE(ups_.Do("mains ok"));
  ASSERT_TRUE(ups_.Do("battery ok"));
  ASSERT_TRUE(ups_.Do("overload off"));
  EXPECT_EQ(apc_.UpdateStatus(), 1);
  EXPECT_TRUE(ActiveAlarms(scp_).empty());

  // A UPS that has gone quiet gives no status (and changes none).
  ASSERT_TRUE(ups_.Do("silence on"));
  scp_.upsStatus.SetAlarm(ALARM_OVERLOAD);
  EXPECT_EQ(apc_.UpdateStatus(), 0);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_OVERLOAD), 1);
}

TEST_F(ApcOnTheLine, OutputGoesOffAfterTheDelayOnceTheSystemIsDown) {
  ScopedManualClock clock;
  ClockPump pump(*clock);
  ASSERT_TRUE(ups_.Do("second 5"));
  ASSERT_TRUE(ups_.Do("mains fail"));
  {
    auto lock = scp_.Lock();
    scp_.config.SetOsShutdownTime(150);
  }
  const size_t from = ups_.LogCount();
  EXPECT_EQ(apc_.ShutdownAfterOs(KT_UpsProtocol::kAllSegments), 1);
  EXPECT_TRUE(ups_.WaitForLog("ACTION shutdown delay set to 180", from));
  EXPECT_TRUE(ups_.WaitForLog("ACTION shutdown: output off in 180 s", from));
  EXPECT_TRUE(ups_.WaitForLog("ACTION output off", from));
  const std::vector<std::string> requests = ups_.Entries("REQ", from);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back(), "S");
}

TEST_F(ApcOnTheLine, ShutdownAndRestartAsksForTheReturn) {
  ScopedManualClock clock;
  ClockPump pump(*clock);
  ASSERT_TRUE(ups_.Do("second 1"));
  {
    auto lock = scp_.Lock();
    scp_.commandBlock.SetShutdownDelay(300);
    scp_.commandBlock.SetRestartDelay(720);
    scp_.upsInfo.SetManufacturer(0);
  }
  const size_t from = ups_.LogCount();
  EXPECT_EQ(apc_.ShutdownAndRestart(KT_UpsProtocol::kAllSegments), 1);
  EXPECT_TRUE(ups_.WaitForLog("REQ @002", from));
  EXPECT_TRUE(ups_.WaitForLog("ACTION shutdown and return 2 tenths of an hour later", from));
  EXPECT_TRUE(ups_.WaitForLog("ACTION shutdown delay set to 300", from));
}

TEST_F(ApcOnTheLine, SelfTestAgainstTheUps) {
  ScopedManualClock clock;
  ClockPump pump(*clock);
  ASSERT_TRUE(ups_.Do("selftest NG 1"));
  EXPECT_EQ(apc_.InitiateBatteryTest(), 1);
  EXPECT_EQ(apc_.UpdateBatteryTest(), 1);
  EXPECT_NE(apc_.RunningBatteryTest(), nullptr);  // "NO": still running
  EXPECT_EQ(apc_.UpdateBatteryTest(), 1);
  EXPECT_EQ(apc_.RunningBatteryTest(), nullptr);
  EXPECT_EQ(scp_.batteryLog.GetStatusText(), "UPS could not perform Quick Battery Test");
}

// Replies that pause on the line, on the real clock: a pause shorter than the gap the port
// waits for is part of the reply; a longer one is bridged by reading to the line end, and
// nothing is left for the next command.
TEST_F(ApcOnTheLine, RepliesSplitOnTheLineArriveWhole) {
  for (const char* split : {"split 500", "split 1500"}) {
    ASSERT_TRUE(ups_.Do(split));
    EXPECT_EQ(apc_.Query("n").value_or("(none)"), "SN123456") << split;
    EXPECT_EQ(apc_.Query("Q").value_or("(none)"), "08") << split;
  }
}

}  // namespace
