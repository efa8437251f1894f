// The bytes of every request and command the driver sends, as the simulated adapter received
// them, and what the adapter did with them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "tests/core/adapters/netbcm/netbcm_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A sent block: AB, length, payload, and the byte that brings the sum to 0 modulo 256.
Bytes B(const Bytes& payload) {
  Bytes b{0xAB, static_cast<uint8_t>(payload.size())};
  b.insert(b.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (uint8_t x : b) sum += x;
  b.push_back(static_cast<uint8_t>((256 - sum % 256) % 256));
  return b;
}

Bytes Select(uint8_t indicator) { return B({0xCE, indicator}); }

// The request a command sends to the whole UPS (select 1, access, the command blocks).
Bytes UpsCommand(std::initializer_list<Bytes> payloads) {
  Bytes out = Cat({kSelectUps, kAccess});
  for (const Bytes& p : payloads) {
    const Bytes b = B(p);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

class NetBcmCommands : public NetBcmFixture {
 protected:
  // Re-identifies after a change to the simulated UPS.
  void Reidentify() {
    ASSERT_EQ(driver_->UpdateInfo(), 1);
    sim_->ClearLog();
    trace_.Clear();
  }
  Bytes Last() const {
    const auto r = sim_->Received();
    return r.empty() ? Bytes() : r.back();
  }
};

TEST_F(NetBcmCommands, QueriesAreTheSelectBlockAndOneQueryBlock) {
  ASSERT_EQ(driver_->UpdateInfo(), 1);
  ASSERT_EQ(driver_->UpdateStatus(), 1);
  ASSERT_EQ(driver_->UpdateMeter(), 1);
  const auto r = sim_->Received();
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[0], Cat({kSelectUps, {0xAB, 0x01, 0x31, 0x23}}));  // identification
  EXPECT_EQ(r[1], Cat({kSelectUps, {0xAB, 0x01, 0x36, 0x1E}}));  // configuration
  EXPECT_EQ(r[2], Cat({kSelectUps, {0xAB, 0x01, 0x3C, 0x18}}));  // ratings
  EXPECT_EQ(r[3], Cat({kSelectUps, {0xAB, 0x01, 0x40, 0x14}}));  // supported commands
  EXPECT_EQ(r[4], Cat({kSelectUps, {0xAB, 0x01, 0x41, 0x13}}));  // load segments
  EXPECT_EQ(r[5], Cat({kSelectUps, {0xAB, 0x01, 0x35, 0x1F}}));  // status and alarms
  EXPECT_EQ(r[6], Cat({kSelectUps, {0xAB, 0x01, 0x34, 0x20}}));  // meters
}

TEST_F(NetBcmCommands, SleepModeOnTheWholeUps) {
  Identify();
  // 90 s are 2 minutes in a sleep-mode command.
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, -1, 90), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x02, 0x00}}));
  EXPECT_TRUE(sim_->WaitFor("ups off in 120 s", 1000));
  EXPECT_TRUE(trace_.Contains("KT_BCMBase::BCMSleepMode: command = 0"));
  EXPECT_TRUE(trace_.Contains("KT_NetBCM::BCMSleepMode(TIMED_OFF,shut=90"));
  EXPECT_TRUE(trace_.Contains("Command Accepted."));
  // 29 s round down to 0 minutes: the output at once.
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_ON, -1, 29), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x89}}));
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, -1, 0), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8B}}));
  EXPECT_EQ(driver_->BCMSleepMode(7, -1, 0), -1);
}

TEST_F(NetBcmCommands, ASleepModeOffNeverComesEarlierThanAsked) {
  Identify();
  // 20 s: one minute, not "Immediate Off"; 89 s: two minutes, not one. An on keeps the
  // nearest minute.
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, -1, 20), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x01, 0x00}}));
  EXPECT_TRUE(sim_->WaitFor("ups off in 60 s", 1000));
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, -1, 89), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x02, 0x00}}));
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_ON, -1, 89), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x91, 0x01, 0x00}}));
  // Seconds -1: at once.
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, -1, -1), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8B}}));
}

TEST_F(NetBcmCommands, SleepModeOnOneSegmentByAdapterVersion) {
  Identify();
  // A new adapter: select 1, the indicator (load + first index 2) inside the command.
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, 1, 600), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x0A, 0x00, 0x03}}));
  // An old adapter: select the segment, segment-parameter form, 23 bytes. The parameter
  // counts seconds: 600 s, not 10 (which the segment would take for 10 s).
  ASSERT_TRUE(sim_->Do("set adapter-version 3.20"));
  Reidentify();
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_ON, 1, 600), 1);
  const Bytes expected = Cat({Select(3), kAccess, B({0x97, 0x04, 0x03, 0x58, 0x02})});
  EXPECT_EQ(Last(), expected);
  EXPECT_EQ(expected.size(), 23u);
  EXPECT_TRUE(sim_->WaitFor("segment 3 on in 600 s", 1000));
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, 1, 90), 1);
  EXPECT_EQ(Last(), Cat({Select(3), kAccess, B({0x97, 0x03, 0x03, 0x5A, 0x00})}));
  EXPECT_TRUE(sim_->WaitFor("segment 3 off in 90 s", 1000));
  // ... except on models 3 and 10: select the segment, the minute command.
  ASSERT_TRUE(sim_->Do("set type-code 230"));
  Reidentify();
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, 1, 600), 1);
  EXPECT_EQ(Last(), Cat({Select(3), kAccess, B({0x93, 0x0A, 0x00})}));
  // No such segment.
  EXPECT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, 254, 60), -1);
}

TEST_F(NetBcmCommands, SleepModeWithoutMinuteCommandsAddsTheMoment) {
  setenv("TZ", "UTC", 1);
  tzset();
  UseManualClock(1000000000);  // 2001-09-09 01:46:40 UTC
  Identify();
  driver_->SetCapabilities(NETBCM_CAP_DATE_TIME);
  // 01:46:40 + 120 s = 01:48:40: an off at the next whole minute, 01:49, never at 01:48; an
  // on at the minute the moment falls in.
  driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, -1, 120);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x02, 0x00}, {0x94, 0xA0, 0x01, 0x09, 0x09, 0x01, 0x49}}));
  driver_->BCMSleepMode(KT_BCMBase::TIMED_ON, -1, 120);
  EXPECT_EQ(Last(), UpsCommand({{0x91, 0x02, 0x00}, {0x92, 0xA0, 0x01, 0x09, 0x09, 0x01, 0x48}}));
  unsetenv("TZ");
  tzset();
}

TEST_F(NetBcmCommands, DelayedOffOfTheWholeUpsNeverWraps) {
  Identify();
  // One delay byte: 90 s as they are; 300 s do not fit and go as 5 whole minutes (301 s as 6).
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 90), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x5A}}));
  EXPECT_TRUE(trace_.Contains("KT_NetBCM::BCMDelayedOff(BCM_DELAYED_REBOOT,shut=90) Command Accepted."));
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 300), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x05, 0x00}}));
  EXPECT_TRUE(sim_->WaitFor("ups off in 300 s", 1000));
  EXPECT_TRUE(trace_.Contains("300 s do not fit one byte; off after 5 minutes"));
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 301), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x06, 0x00}}));
  // Seconds 0 are 1.
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 0), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x01}}));

  // Two delay bytes: the whole delay in command 138.
  ASSERT_TRUE(sim_->Do("set two-byte-delays 1"));
  Reidentify();
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 90), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x5A, 0x00}}));
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 300), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x2C, 0x01}}));
  EXPECT_TRUE(sim_->WaitFor("ups off in 300 s (delayed off)", 1000));
}

TEST_F(NetBcmCommands, DelayedOffFallsBackToTheMomentThenToTheLargestByte) {
  setenv("TZ", "UTC", 1);
  tzset();
  UseManualClock(1000000000);  // 01:46:40
  Identify();
  driver_->SetCapabilities(NETBCM_CAP_DELAYED_OFF | NETBCM_CAP_DATE_TIME);
  // 01:46:40 + 300 s = 01:51:40, the next whole minute 01:52.
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 300), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x94, 0xA0, 0x01, 0x09, 0x09, 0x01, 0x52}}));
  driver_->SetCapabilities(NETBCM_CAP_DELAYED_OFF);
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 300), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0xFF}}));
  EXPECT_TRUE(trace_.Contains("cut to 255 s"));
  // Without command 138 nothing goes out.
  sim_->ClearLog();
  driver_->SetCapabilities(0);
  EXPECT_EQ(driver_->BCMDelayedOff(-1, 60), 0);
  EXPECT_TRUE(sim_->Received().empty());
  unsetenv("TZ");
  tzset();
}

TEST_F(NetBcmCommands, DelayedOffOfOneSegment) {
  Identify();
  // New adapter: 138 with the indicator; a delay beyond one byte as a segment parameter.
  EXPECT_EQ(driver_->BCMDelayedOff(1, 60), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x3C, 0x03}}));
  EXPECT_TRUE(trace_.Contains("KT_NetBCM::BCMDelayedOff(BCM_SET_OUTLET_PARM_COMMAND,shut=60"));
  EXPECT_EQ(driver_->BCMDelayedOff(1, 300), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x97, 0x03, 0x03, 0x2C, 0x01}}));
  EXPECT_TRUE(sim_->WaitFor("segment 3 off in 300 s", 1000));
  ASSERT_TRUE(sim_->Do("set two-byte-delays 1"));
  Reidentify();
  EXPECT_EQ(driver_->BCMDelayedOff(1, 300), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x2C, 0x01, 0x03}}));
  // Old adapter: the segment selected, its parameter with two delay bytes.
  ASSERT_TRUE(sim_->Do("set adapter-version 2.10"));
  Reidentify();
  EXPECT_EQ(driver_->BCMDelayedOff(2, 300), 1);
  EXPECT_EQ(Last(), Cat({Select(4), kAccess, B({0x97, 0x03, 0x04, 0x2C, 0x01})}));
}

TEST_F(NetBcmCommands, DelayedOnForEverySegmentOrOne) {
  Identify();
  EXPECT_EQ(driver_->BCMDelayedOn(255, 30), 1);
  const auto r = sim_->Received();
  ASSERT_EQ(r.size(), 3u);
  for (uint8_t i = 0; i < 3; ++i) {
    EXPECT_EQ(r[i], UpsCommand({{0x97, 0x02, static_cast<uint8_t>(2 + i), 0x1E, 0x00}}));
    EXPECT_EQ(r[i].size(), 23u);
  }
  EXPECT_TRUE(trace_.Contains("KT_NetBCM::BCMDelayedOn(shut=30, load=4) Command Accepted."));
  EXPECT_TRUE(sim_->WaitFor("segment 4 restart delay 30 s", 1000));
  EXPECT_EQ(driver_->BCMDelayedOn(1, 600), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x97, 0x02, 0x03, 0x58, 0x02}}));
  // One output: nothing to send.
  ASSERT_TRUE(sim_->Do("set segments 1"));
  Reidentify();
  EXPECT_EQ(driver_->BCMDelayedOn(255, 30), 1);
  EXPECT_TRUE(sim_->Received().empty());
}

TEST_F(NetBcmCommands, BusyCommandsAreRetriedThenGivenUp) {
  Identify();
  ASSERT_TRUE(sim_->Do("fault busy 2"));
  EXPECT_EQ(driver_->BCMDelayedOn(1, 10), 1);
  EXPECT_EQ(sim_->Received().size(), 3u);
  EXPECT_TRUE(trace_.Contains("!!!!! BCM_BUSY RESPONSE TO A BCM MESSAGE on try 1 of 3 !!!"));
  sim_->ClearLog();
  ASSERT_TRUE(sim_->Do("fault busy 4"));
  EXPECT_EQ(driver_->BCMDelayedOn(1, 10), 0);
  EXPECT_EQ(sim_->Received().size(), 4u);
  EXPECT_TRUE(trace_.Contains("Command Not Responded To."));
  // A refusal is an answer: not tried again.
  sim_->ClearLog();
  ASSERT_TRUE(sim_->Do("commands 49,52,53,54,59,60,64,65,138,145,147,149,177"));
  EXPECT_EQ(driver_->BCMDelayedOn(1, 10), 0);
  EXPECT_EQ(sim_->Received().size(), 1u);
  EXPECT_TRUE(trace_.Contains("Command Not Implemented."));
}

TEST_F(NetBcmCommands, BatteryTestAndSettings) {
  Identify();
  EXPECT_EQ(driver_->InitiateBatteryTest(), 1);
  EXPECT_EQ(Last(), Cat({kSelectUps, kAccess, {0xAB, 0x03, 0xB1, 0x02, 0x0A, 0x95}}));
  EXPECT_EQ(driver_->UpdateBatteryTest(), 1);
  EXPECT_EQ(Last(), Cat({kSelectUps, kAccess, {0xAB, 0x01, 0x3B, 0x19}}));

  sim_->ClearLog();
  {
    auto lock = scp_.Lock();
    scp_.config.SetAudibleAlarm(0);
    scp_.config.SetLowBatteryWarning(5);
  }
  EXPECT_EQ(driver_->SendConfigSettings(), 1);
  const auto r = sim_->Received();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], UpsCommand({{0x95, 0x06, 0x00, 0x00}}));
  EXPECT_EQ(r[1], UpsCommand({{0x95, 0x05, 0x05, 0x00}}));
  EXPECT_TRUE(trace_.Contains("Tremona: UPS Set Configuration Parameters - Command Accepted."));
  ASSERT_EQ(driver_->UpdateConfig(), 1);
  {
    auto lock = scp_.Lock();
    EXPECT_EQ(scp_.config.GetAudibleAlarm(), 0);
    EXPECT_EQ(scp_.config.GetLowBatteryWarning(), 5);
  }
  // A value never set is not sent; without command 149 nothing is.
  sim_->ClearLog();
  {
    auto lock = scp_.Lock();
    scp_.config.SetAudibleAlarm(kConfigUnset8);
  }
  EXPECT_EQ(driver_->SendConfigSettings(), 1);
  EXPECT_EQ(sim_->Received().size(), 1u);
  driver_->SetCapabilities(driver_->Capabilities() & ~static_cast<uint32_t>(NETBCM_CAP_CONFIG_SETTINGS));
  EXPECT_EQ(driver_->SendConfigSettings(), 0);
}

TEST_F(NetBcmCommands, ControlKindsAndTheWorkerThreadsForms) {
  Identify();
  {
    auto lock = scp_.Lock();
    scp_.receptacles.SetNonCriticalSegment(2);
    scp_.receptacles.SetUpDelay(2, 45);
    scp_.config.SetOsShutdownTime(300);
  }
  EXPECT_EQ(driver_->BCMControl(KT_BCMBase::CONTROL_SLEEP_OFF, -1, 120), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x02, 0x00}}));
  EXPECT_EQ(driver_->BCMControl(KT_BCMBase::CONTROL_SLEEP_ON_AGAIN, -1, 180), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x91, 0x03, 0x00}}));
  EXPECT_EQ(driver_->BCMControl(KT_BCMBase::CONTROL_DELAYED_OFF, -1, 20), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x14}}));
  EXPECT_EQ(driver_->BCMControl(KT_BCMBase::CONTROL_DELAYED_ON, 1, 20), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x97, 0x02, 0x03, 0x14, 0x00}}));
  EXPECT_EQ(driver_->BCMControl(5, -1, 20), -1);

  // The non-critical segment goes off after 1 s and restarts after its up delay.
  EXPECT_EQ(driver_->SegmentDelayedOff(2), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x8A, 0x01, 0x04}}));
  EXPECT_EQ(driver_->SegmentDelayedOn(2), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x97, 0x02, 0x04, 0x2D, 0x00}}));
  // Another segment after the system's shutdown time, restart delay 0.
  EXPECT_EQ(driver_->SegmentDelayedOff(1), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x97, 0x03, 0x03, 0x2C, 0x01}}));
  EXPECT_EQ(driver_->SegmentDelayedOn(1), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x97, 0x02, 0x03, 0x00, 0x00}}));
  // The whole UPS (255) is never taken for the non-critical segment, even when none is set.
  {
    auto lock = scp_.Lock();
    scp_.receptacles.SetNonCriticalSegment(kNoSegment);
  }
  EXPECT_EQ(driver_->SegmentDelayedOff(kNoSegment), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x93, 0x05, 0x00}}));
  // Segment sleep: the segment on at once; nothing for the whole UPS.
  sim_->ClearLog();
  EXPECT_EQ(driver_->SegmentSleep(kNoSegment), 0);
  EXPECT_TRUE(sim_->Received().empty());
  EXPECT_EQ(driver_->SegmentSleep(2), 1);
  EXPECT_EQ(Last(), UpsCommand({{0x89, 0x04}}));
}

TEST_F(NetBcmCommands, StartSleepModeRestartsAfterTheShutdown) {
  Identify();
  {
    auto lock = scp_.Lock();
    scp_.commandBlock.SetShutdownDelay(120);
    scp_.commandBlock.SetRestartDelay(60);  // the maker's own UPS: at least 120 + 60
  }
  EXPECT_EQ(driver_->StartSleepMode(kNoSegment), 1);
  const auto r = sim_->Received();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0], UpsCommand({{0x97, 0x02, 0x02, 0x00, 0x00}}));
  EXPECT_EQ(r[3], UpsCommand({{0x93, 0x02, 0x00}}));
  EXPECT_EQ(r[4], UpsCommand({{0x91, 0x03, 0x00}}));
  EXPECT_TRUE(sim_->WaitFor("ups on in 180 s", 1000));
}

TEST_F(NetBcmCommands, SegmentStateComesFromTheAdaptersTable) {
  Identify();
  ASSERT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_OFF, 1, 0), 1);
  EXPECT_TRUE(sim_->WaitFor("segment 3 off", 1000));
  EXPECT_EQ(driver_->UpdateSegmentState(1), 1);
  {
    auto lock = scp_.Lock();
    scp_.receptacles.SetStatus(1, RECEPTACLE_OFF_POWER_FAIL);
  }
  ASSERT_EQ(driver_->BCMSleepMode(KT_BCMBase::TIMED_ON, 1, 0), 1);
  EXPECT_EQ(driver_->UpdateSegmentState(1), 2);
  auto lock = scp_.Lock();
  EXPECT_EQ(scp_.receptacles.GetStatus(1), RECEPTACLE_ON);
}

}  // namespace
