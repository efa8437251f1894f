// The driver polling the simulated adapter: identification, configuration, ratings, status,
// meters, the battery test, and every fault the adapter can show.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "core/adapters/bcm_block.h"
#include "tests/core/adapters/netbcm/netbcm_fixture.h"
#include "tests/support/held_resolver.h"

namespace {

using Bytes = std::vector<uint8_t>;

int CountContaining(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

using NetBcmPolling = NetBcmFixture;

TEST_F(NetBcmPolling, IdentificationFillsInformationConfigurationRatingsAndTables) {
  ASSERT_TRUE(sim_->Do("set version 2.07"));
  ASSERT_TRUE(sim_->Do("set adapter-version 3.50"));
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  auto lock = scp_.Lock();
  UpsInfoBlock& info = scp_.upsInfo;
  EXPECT_EQ(info.GetInterfaceType(), 2);
  EXPECT_EQ(info.GetVersionMajor(), 2);
  EXPECT_EQ(info.GetVersionMinor(), 7);
  EXPECT_EQ(info.GetVARating(), 1500);
  EXPECT_EQ(info.GetModelText(), "1.50 kVA");
  EXPECT_EQ(info.GetModelIndex(), 1);  // type code 80
  EXPECT_EQ(info.GetManufacturer(), 0);
  EXPECT_EQ(info.GetNominalOutputVoltage(), 230);
  EXPECT_EQ(info.GetNominalOutputFrequency(), 50);
  EXPECT_EQ(info.GetAdapterVersionText(), "3.50");
  EXPECT_EQ(info.GetCto(), "CTO-4711");
  EXPECT_EQ(info.GetSerialNumber(), "SN0012345");
  EXPECT_EQ(info.GetWattRating(), 1050);
  EXPECT_EQ(info.GetNominalInputVoltage(), 230);
  EXPECT_EQ(scp_.meters.GetLoadWattRating(), 105u);
  EXPECT_EQ(scp_.config.GetLowBatteryWarning(), 2);
  EXPECT_EQ(scp_.config.GetAudibleAlarm(), 1);
  EXPECT_EQ(driver_->ModelName(), "PowerGuard 1500");
  // Capabilities: the model code's word with what the identification found.
  const uint32_t caps = driver_->Capabilities();
  EXPECT_TRUE(caps & NETBCM_CAP_CONFIG_QUERY);
  EXPECT_TRUE(caps & NETBCM_CAP_IDENTIFIED);
  EXPECT_TRUE(caps & NETBCM_CAP_BATTERY_TEST);
  EXPECT_TRUE(caps & NETBCM_CAP_SCHEDULED);
  EXPECT_FALSE(caps & NETBCM_CAP_TWO_BYTE_DELAY);
  // Model 1 of 1500 VA: function (1,0), so delayed off by bit 7.
  EXPECT_EQ(info.IsFunctionSupported(1, 0), 1);
  EXPECT_EQ(info.IsFunctionSupported(2, 6), 1);
  EXPECT_TRUE(caps & NETBCM_CAP_DELAYED_OFF);
  // Three load segments numbered from 2.
  EXPECT_TRUE(driver_->IsListedCommand(65));
  EXPECT_EQ(driver_->SegmentCount(), 3);
  EXPECT_EQ(driver_->FirstSegment(), 2);
  EXPECT_EQ(scp_.receptacles.GetCount(), 3);
  EXPECT_EQ(info.IsFunctionSupported(3, 7), 1);
}

TEST_F(NetBcmPolling, TheConfigurationQueryStaysAvailableAfterTheModelCode) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  ASSERT_TRUE(sim_->Do("set serial SN777"));
  EXPECT_EQ(driver_->UpdateConfig(), 1);
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.upsInfo.GetSerialNumber(), "SN777");
}

TEST_F(NetBcmPolling, WithoutAConfigurationBlockTheQueryIsNotSent) {
  ASSERT_TRUE(sim_->Do("set config-size 0"));
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  sim_->ClearLog();
  EXPECT_EQ(driver_->UpdateConfig(), 0);
  EXPECT_TRUE(sim_->Received().empty());
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.config.Branches().GetFieldState(3, 1), FIELD_NOT_AVAILABLE);
}

TEST_F(NetBcmPolling, StatusFollowsTheUps) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  ASSERT_EQ(driver_->UpdateStatus(), 1);
  auto alarm = [&](int a) {
    auto lock = scp_.Lock();
    return scp_.upsStatus.IsAlarmSet(a);
  };
  EXPECT_EQ(alarm(ALARM_ON_BATTERY), 0);
  ASSERT_TRUE(sim_->Do("mains fail"));
  ASSERT_TRUE(sim_->Do("battery low"));
  ASSERT_EQ(driver_->UpdateStatus(), 1);
  EXPECT_EQ(alarm(ALARM_ON_BATTERY), 1);
  EXPECT_EQ(alarm(ALARM_LOW_BATTERY), 1);
  EXPECT_EQ(alarm(ALARM_UPS_MALFUNCTION), 0);  // 57 (on battery) is no malfunction
  ASSERT_TRUE(sim_->Do("alarm 40 on"));
  ASSERT_EQ(driver_->UpdateStatus(), 1);
  EXPECT_EQ(alarm(ALARM_UPS_MALFUNCTION), 1);
  ASSERT_TRUE(sim_->Do("mains ok"));
  ASSERT_TRUE(sim_->Do("battery ok"));
  ASSERT_TRUE(sim_->Do("alarm 40 off"));
  ASSERT_TRUE(sim_->Do("overload on"));
  ASSERT_TRUE(sim_->Do("replace-battery on"));
  ASSERT_TRUE(sim_->Do("input-range on"));
  ASSERT_EQ(driver_->UpdateStatus(), 1);
  EXPECT_EQ(alarm(ALARM_ON_BATTERY), 0);
  EXPECT_EQ(alarm(ALARM_UPS_MALFUNCTION), 0);
  EXPECT_EQ(alarm(ALARM_OVERLOAD), 1);
  EXPECT_EQ(alarm(ALARM_BAD_BATTERY), 1);
  EXPECT_EQ(alarm(ALARM_INPUT_OUT_OF_RANGE), 1);
  EXPECT_TRUE(trace_.Contains("Added overload alarm"));
}

TEST_F(NetBcmPolling, MetersFillTheMeterBlock) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  // The first meter (230.2 V as a float) begins with the byte 0x33: no busy answer.
  ASSERT_EQ(driver_->UpdateMeter(), 1);
  auto lock = scp_.Lock();
  const MeterBlock& m = scp_.meters;
  EXPECT_EQ(m.GetInputVoltage(0), 230);
  EXPECT_EQ(m.GetOutputVoltage(0), 230);
  EXPECT_EQ(m.GetOutputCurrent(0), 34);
  EXPECT_EQ(m.GetOutputFrequency(), 50);
  EXPECT_EQ(m.GetInputFrequency(), 50);
  EXPECT_EQ(m.GetBatteryVoltage(), 27);
  EXPECT_EQ(m.GetBatteryCapacity(), 100);
  EXPECT_EQ(m.GetBatteryTime(), 42 * 60);
  EXPECT_EQ(m.GetTemperature(), 31);
  EXPECT_EQ(m.GetOutputWatts(), 700);
  EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  EXPECT_FALSE(trace_.Contains("BCM_BUSY"));
}

TEST_F(NetBcmPolling, ALostAdapterRaisesAlarmSevenOnceAndItsReturnClearsIt) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  ASSERT_TRUE(sim_->Do("silence on"));
  driver_->SetSecondLength(kSilentSecond);
  EXPECT_EQ(driver_->UpdateStatus(), -1);
  EXPECT_EQ(driver_->UpdateStatus(), -1);
  driver_->SetSecondLength(kAnswerSecond);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 1);
  }
  EXPECT_EQ(CountContaining(trace_.Writes(), "communication loss during NetBCM UpdateStatus"), 1);
  EXPECT_TRUE(trace_.Contains("!!!!! FAILED TO GET A RESPONSE TO A BCM MESSAGE on try 0 of 0 !!!"));
  ASSERT_TRUE(sim_->Do("silence off"));
  EXPECT_EQ(driver_->UpdateStatus(), 1);
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 0);
  EXPECT_TRUE(trace_.Contains("Tremona: Communications restored."));
}

TEST_F(NetBcmPolling, StatusTriesFollowTheTimeOutAndThePollingInterval) {
  ASSERT_TRUE(sim_->Do("silence on"));
  driver_->SetSecondLength(kSilentSecond);
  struct Case {
    uint32_t polling;
    uint32_t timeout;
    size_t requests;
  };
  // Equal: one try. Time-out 3 s, polling 1 s: n = 3, so 3 retries. Polling above the time-out
  // is cut to it.
  for (const Case& c : {Case{1, 1, 1}, Case{1, 3, 4}, Case{9, 2, 1}}) {
    {
      auto lock = scp_.Lock();
      scp_.config.SetPollingInterval(c.polling);
      scp_.config.SetCommTimeout(c.timeout);
    }
    sim_->ClearLog();
    EXPECT_EQ(driver_->UpdateStatus(), -1);
    EXPECT_EQ(sim_->Received().size(), c.requests) << c.polling << "/" << c.timeout;
  }
}

TEST_F(NetBcmPolling, BusyDamagedAndShortRepliesAreTriedAgain) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  {
    auto lock = scp_.Lock();
    scp_.config.SetCommTimeout(4);  // polling 1 s: 4 retries
  }
  for (const char* fault : {"busy", "corrupt", "gap", "short"}) {
    sim_->ClearLog();
    ASSERT_TRUE(sim_->Do(std::string("fault ") + fault + " 2")) << fault;
    EXPECT_EQ(driver_->UpdateStatus(), 1) << fault;
    EXPECT_EQ(sim_->Received().size(), 3u) << fault;
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 0) << fault;
  }
  EXPECT_TRUE(trace_.Contains("!!!!! BCM_BUSY RESPONSE TO A BCM MESSAGE on try 1 of 4 !!!"));
  EXPECT_TRUE(trace_.Contains("!!!!! Empty RESPONSE TO A BCM MESSAGE on try 0 of 4 !!!"));
  const NetBcmParseCounters& c = driver_->ParseCounters();
  EXPECT_GE(c.outcome[NETBCM_REPLY_CHECKSUM], 2u);
  EXPECT_GE(c.outcome[NETBCM_REPLY_SEQUENCE], 2u);
  EXPECT_GE(c.outcome[NETBCM_REPLY_INCOMPLETE] + c.outcome[NETBCM_REPLY_NOT_WANTED], 2u);
}

TEST_F(NetBcmPolling, ALateDatagramIsSkippedNotTakenForTheReply) {
  Identify();
  // Each answer comes behind the previous request's answer, as if that had arrived late (after
  // the drain): the meters behind the load-segment table, the status behind the meters, ...
  ASSERT_TRUE(sim_->Do("fault late 3"));
  EXPECT_EQ(driver_->UpdateMeter(), 1);
  EXPECT_EQ(driver_->UpdateStatus(), 1);
  EXPECT_EQ(driver_->UpdateMeter(), 1);
  EXPECT_EQ(sim_->Received().size(), 3u);  // each on its first try
  EXPECT_EQ(CountContaining(trace_.Writes(), "skipped a late datagram"), 3);
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.meters.GetBatteryCapacity(), 100);
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 0);
}

TEST_F(NetBcmPolling, AQueryWithoutRetriesGivesUpAndLeavesTheBlocks) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  ASSERT_TRUE(sim_->Do("fault gap"));
  ASSERT_TRUE(sim_->Do("set va 3000"));
  EXPECT_EQ(driver_->UpdateInfo(), -1);
  EXPECT_TRUE(trace_.Contains("Tremona: ERROR during NetBCM UpdateInfo."));
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.upsInfo.GetVARating(), 1500);
  }
  ASSERT_TRUE(sim_->Do("fault busy"));
  EXPECT_EQ(driver_->UpdateMeter(), -1);
  EXPECT_EQ(driver_->UpdateMeter(), 1);
  EXPECT_EQ(CountContaining(trace_.Writes(), "Tremona: ERROR during NetBCM UpdateMeter."), 1);
}

TEST_F(NetBcmPolling, ADatagramThatCannotBeSentIsNotTriedAgain) {
  {
    auto lock = scp_.Lock();
    scp_.config.SetCommTimeout(3);  // 3 retries
  }
  driver_->SetAdapter("127.0.0.1", nullptr, sim_->port());  // closes the channel
  EXPECT_EQ(driver_->UpdateStatus(), -1);
  EXPECT_TRUE(sim_->Received().empty());
  EXPECT_EQ(CountContaining(trace_.Writes(), "(not sent)"), 1);

  // An adapter named by a host name that cannot be found: looked up once an exchange (each
  // lookup may cost a silent name server's time-out), one error record.
  testing_support::HeldResolver names("no-name-is-held");
  driver_->SetAdapter("ups-adapter.invalid", nullptr, sim_->port());
  ASSERT_EQ(driver_->Open(), 0);
  const int looked = names.Calls();
  const size_t logged = testing_support::ReadFileBytes("error.dat").size();
  EXPECT_EQ(driver_->UpdateStatus(), -1);
  EXPECT_EQ(names.Calls() - looked, 1);
  EXPECT_EQ(testing_support::ReadFileBytes("error.dat").size() - logged, 20u);
  EXPECT_EQ(CountContaining(trace_.Writes(), "(not sent)"), 2);
}

TEST_F(NetBcmPolling, ProbeReturnsTheModelName) {
  EXPECT_EQ(driver_->ProbeAdapter(), "PowerGuard 1500");
  ASSERT_TRUE(sim_->Do("silence on"));
  driver_->SetSecondLength(kSilentSecond);
  EXPECT_FALSE(driver_->ProbeAdapter().has_value());
}

// A driver whose thread is told to stop leaves a silent adapter's tries at once: the status
// query of a long time-out (real seconds) ends within a slice of the wait, and nothing more
// is sent.
TEST_F(NetBcmPolling, AStopEndsTheWaitForASilentAdapter) {
  ASSERT_TRUE(sim_->Do("silence on"));
  {
    auto lock = scp_.Lock();
    scp_.config.SetPollingInterval(10);
    scp_.config.SetCommTimeout(60);
  }
  driver_->SetSecondLength(1000);
  std::atomic<bool> stop{false};
  driver_->SetStopCheck([&stop] { return stop.load(); });
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(driver_->UpdateStatus(), -1);
  EXPECT_FALSE(driver_->ProbeAdapter().has_value());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stopper.join();
  EXPECT_LT(seconds, 5.0);  // a minute of tries without the stop
  EXPECT_EQ(sim_->Received().size(), 1u);
  EXPECT_TRUE(trace_.Contains("KT_NetBCM: stopping, the request is not sent"));
}

TEST_F(NetBcmPolling, AWrongAccessCodeGetsNoAnswer) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  driver_->SetAdapter("127.0.0.1", "wrong!", sim_->port());
  ASSERT_EQ(driver_->Open(), 0);
  driver_->SetSecondLength(kSilentSecond);
  EXPECT_EQ(driver_->BCMDelayedOn(1, 0), 0);
  EXPECT_EQ(sim_->Entries("DENIED").size(), 4u);  // every try
  EXPECT_TRUE(sim_->Entries("ACTION").empty());
}

TEST_F(NetBcmPolling, AccessCodesAreSixBytes) {
  driver_->SetAdapter("127.0.0.1", "ab", sim_->port());
  EXPECT_STREQ(driver_->AccessCode(), "ablpR3");
  driver_->SetAdapter("127.0.0.1", "0123456789", sim_->port());
  EXPECT_STREQ(driver_->AccessCode(), "012345");
  EXPECT_STREQ(driver_->AdapterAddress().GetReadCommunity(), "012345");
  driver_->SetAdapter("127.0.0.1", nullptr, 0);
  EXPECT_STREQ(driver_->AccessCode(), "KelpR3");
  EXPECT_EQ(ntohs(driver_->AdapterAddress().GetPort()), 7010);
  EXPECT_EQ(driver_->IsConnectionSet(), 1);
}

TEST_F(NetBcmPolling, BatteryTestIsLoggedWhenItEnds) {
  platform::ManualClock* clock = UseManualClock();
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);
  }
  ASSERT_TRUE(sim_->Do("test-result fail"));
  EXPECT_EQ(driver_->InitiateBatteryTest(), 1);
  EXPECT_EQ(driver_->TestId(), "33.1.7.7.4");
  EXPECT_TRUE(trace_.Contains("Tremona: UPS Battery Test - Command Accepted."));
  EXPECT_EQ(driver_->UpdateBatteryTest(), 1);  // running
  clock->AdvanceSeconds(11);
  EXPECT_EQ(driver_->UpdateBatteryTest(), 0);
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST), 0);
  ASSERT_EQ(scp_.batteryLog.GetRecordCount(), 1);
  EXPECT_EQ(scp_.batteryLog.LastResult().resultCode, 4);
  EXPECT_EQ(scp_.batteryLog.LastResult().description, "33.1.7.7.4");
  EXPECT_EQ(scp_.batteryLog.LastResult().number2, 1100);
  EXPECT_FALSE(driver_->TestId().has_value());
}

TEST_F(NetBcmPolling, ABatteryTestThatCannotStartOrNeverEndsReleasesTheStatusPolls) {
  platform::ManualClock* clock = UseManualClock();
  auto testAlarm = [&] {
    auto lock = scp_.Lock();
    return scp_.upsStatus.IsAlarmSet(ALARM_BATTERY_TEST);
  };
  auto raise = [&] {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_BATTERY_TEST);
  };
  // No battery test without its capability: the alarm the request raised goes.
  raise();
  EXPECT_EQ(driver_->InitiateBatteryTest(), 0);
  EXPECT_TRUE(trace_.Contains("Tremona: UPS/Agent is not capable of Battery Test"));
  EXPECT_EQ(testAlarm(), 0);
  // Started, then the adapter no longer answers: asked again, and given up after 5 minutes.
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  raise();
  ASSERT_EQ(driver_->InitiateBatteryTest(), 1);
  ASSERT_TRUE(sim_->Do("silence on"));
  driver_->SetSecondLength(kSilentSecond);
  EXPECT_EQ(driver_->UpdateBatteryTest(), 1);
  EXPECT_EQ(testAlarm(), 1);
  clock->AdvanceSeconds(301);
  EXPECT_EQ(driver_->UpdateBatteryTest(), 0);
  EXPECT_EQ(testAlarm(), 0);
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.batteryLog.GetRecordCount(), 0);
}

TEST_F(NetBcmPolling, QueryAdapterReportsUpsAndAdapter) {
  std::vector<std::string> messages;
  KT_NetBCM::SetMessageHandler([&](const std::string& text, const char* caption, uint32_t style) {
    messages.push_back(text);
    EXPECT_STREQ(caption, "Tremona Agent Message");
    EXPECT_EQ(style, 0x50030u);
  });
  KT_NetBCM dialog(nullptr, 0);
  dialog.SetSecondLength(kAnswerSecond);
  dialog.SetAdapter("127.0.0.1", nullptr, sim_->port());
  NetBcmAdapterIdentity id;
  ASSERT_EQ(dialog.QueryAdapter("127.0.0.1", id), 1);
  EXPECT_EQ(id.upsText, "PowerGuard 1500 1500 VA");
  EXPECT_EQ(id.adapterText, "Cradlenet version 3.50");
  EXPECT_EQ(id.upsState, 'P');
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(dialog.IsOpen());

  // A model-13 frame of three 10 kVA phases, an adapter without its configuration datagram.
  ASSERT_TRUE(sim_->Do("set model TRM 30"));
  ASSERT_TRUE(sim_->Do("set va 10000"));
  ASSERT_TRUE(sim_->Do("set phases 3"));
  ASSERT_TRUE(sim_->Do("config-datagram off"));
  ASSERT_TRUE(sim_->Do("mains fail"));
  ASSERT_EQ(dialog.QueryAdapter("127.0.0.1", id), 1);
  EXPECT_EQ(id.upsText, "TRM 30 30000 VA");
  EXPECT_EQ(id.adapterText, "");
  EXPECT_EQ(id.upsState, 'B');
  EXPECT_EQ(messages, std::vector<std::string>{"Didn't receive a valid Config block from the Cradlenet"});

  messages.clear();
  ASSERT_TRUE(sim_->Do("silence on"));
  dialog.SetSecondLength(kSilentSecond);
  EXPECT_EQ(dialog.QueryAdapter("127.0.0.1", id), 0);
  EXPECT_EQ(id.upsText, "");
  EXPECT_EQ(id.upsState, -1);
  EXPECT_EQ(messages, std::vector<std::string>{"Failed to get any data from 127.0.0.1"});
}

TEST_F(NetBcmPolling, QueryAdapterRefusesADamagedStatusDatagram) {
  std::vector<std::string> messages;
  KT_NetBCM::SetMessageHandler([&](const std::string& text, const char*, uint32_t) { messages.push_back(text); });
  KT_NetBCM dialog(nullptr, 0);
  dialog.SetSecondLength(kAnswerSecond);
  dialog.SetAdapter("127.0.0.1", nullptr, sim_->port());
  NetBcmAdapterIdentity id;
  // The first datagram's status block fails its checksum: no UPS state, so no UPS text either,
  // though the configuration datagram after it still names the adapter.
  ASSERT_TRUE(sim_->Do("fault corrupt"));
  EXPECT_EQ(dialog.QueryAdapter("127.0.0.1", id), 0);
  EXPECT_EQ(id.upsState, -1);
  EXPECT_EQ(id.upsText, "");
  EXPECT_EQ(id.adapterText, "Cradlenet version 3.50");
  EXPECT_EQ(messages, std::vector<std::string>{"Didn't receive a valid Status block from the Cradlenet"});
  // A configuration too short to hold the adapter version.
  messages.clear();
  ASSERT_TRUE(sim_->Do("set config-size 40"));
  ASSERT_EQ(dialog.QueryAdapter("127.0.0.1", id), 1);
  EXPECT_EQ(id.adapterText, "");
  EXPECT_EQ(id.upsText, "PowerGuard 1500 1500 VA");
  EXPECT_EQ(messages, std::vector<std::string>{"Didn't receive a valid Config block from the Cradlenet 2"});
}

TEST_F(NetBcmPolling, CheckAccessCodeResults) {
  KT_NetBCM dialog(nullptr, 0);
  dialog.SetSecondLength(kAnswerSecond);
  {
    auto lock = dialog.Scp().Lock();
    dialog.Scp().config.SetCommTimeout(1);
  }
  dialog.SetAdapter("127.0.0.1", "KelpR3", sim_->port());
  EXPECT_EQ(dialog.CheckAccessCode("127.0.0.1"), 1);
  EXPECT_EQ(sim_->Received().back(), Cat({kSelectUps, kAccess, {0xAB, 0x01, 0xB2, 0xA2}}));
  EXPECT_FALSE(dialog.IsOpen());
  // A reply cut short, no answer to a wrong code.
  ASSERT_TRUE(sim_->Do("fault short"));
  EXPECT_EQ(dialog.CheckAccessCode("127.0.0.1"), -3);
  dialog.SetAdapter("127.0.0.1", "Wrong1", sim_->port());
  dialog.SetSecondLength(kSilentSecond);
  EXPECT_EQ(dialog.CheckAccessCode("127.0.0.1"), -2);
  EXPECT_EQ(sim_->Entries("DENIED").size(), 1u);
}

}  // namespace
