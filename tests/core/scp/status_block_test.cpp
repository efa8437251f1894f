#include "core/scp/status_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/scp/scp_frame.h"
#include "tests/core/block_messages.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::TempDir;

using block_messages::Get;
using block_messages::Put;

TEST(StatusBlock, SettingAndClearingAlarms) {
  TempDir dir;
  ScopedManualClock clock(1000);
  StatusBlock b;
  EXPECT_EQ(b.SetAlarm(ALARM_ON_BATTERY), 0);
  clock->Set(1100);
  EXPECT_EQ(b.SetAlarm(ALARM_ON_BATTERY), 0);  // already active: time and count kept
  EXPECT_EQ(b.GetAlarmTime(ALARM_ON_BATTERY), 1000);
  EXPECT_EQ(b.GetAlarmCount(), 1);
  EXPECT_EQ(b.Branches().GetFieldState(1, 2), FIELD_CHANGED);
  EXPECT_EQ(b.Branches().GetTime(1), 1000);

  EXPECT_EQ(b.ClearAlarm(ALARM_ON_BATTERY), 0);
  EXPECT_EQ(b.GetAlarmTime(ALARM_ON_BATTERY), 1100);  // the clear is stamped too
  EXPECT_EQ(b.GetAlarmCount(), 0);

  EXPECT_EQ(b.SetAlarm(25), -1);
  EXPECT_EQ(b.errorClass, ERR_STATUS_BLOCK);
  EXPECT_EQ(b.function, 1);
  EXPECT_EQ(b.IsAlarmSet(-1), -1);
  EXPECT_EQ(b.function, 3);
  EXPECT_EQ(b.GetAlarmTime(30), -1);

  for (int code : {2, 5, 9, 20}) b.SetAlarm(code);
  EXPECT_EQ(b.ClearUpsAlarms(), 0);
  EXPECT_EQ(b.GetAlarmCount(), 2);
  EXPECT_EQ(b.IsAlarmSet(9), 1);
  EXPECT_EQ(b.ClearAllAlarms(), 0);
  EXPECT_EQ(b.GetAlarmCount(), 0);
}

TEST(StatusBlock, AlarmCursorWalksActiveEntriesOnce) {
  ScopedManualClock clock(1000);
  StatusBlock b;
  b.SetAlarm(3);
  b.SetAlarm(24);
  AlarmEntry e;
  b.ResetAlarmCursor();
  ASSERT_EQ(b.GetNextAlarm(e), 1);
  EXPECT_EQ(e.code, 3);
  EXPECT_EQ(e.active, 1);
  EXPECT_EQ(e.time, 1000);
  ASSERT_EQ(b.GetNextAlarm(e), 1);
  EXPECT_EQ(e.code, 24);
  EXPECT_EQ(b.GetNextAlarm(e), 0);
  b.SetAlarm(0);
  EXPECT_EQ(b.GetNextAlarm(e), 0);  // exhausted until reset
  b.ResetAlarmCursor();
  ASSERT_EQ(b.GetNextAlarm(e), 1);
  EXPECT_EQ(e.code, 0);
}

TEST(StatusBlock, AlarmTexts) {
  EXPECT_STREQ(GetAlarmText(0), "Bad Battery Detected.");
  EXPECT_STREQ(GetAlarmText(16), "Lost comm with daemon");
  EXPECT_STREQ(GetAlarmText(24), "PASSWORD FOR NET CLIENT INCORRECT");
  EXPECT_STREQ(GetAlarmText(25), "Unknown Error");
  EXPECT_STREQ(GetAlarmText(-1), "Unknown Error");
}

TEST(StatusBlock, RecordFormOfTheAlarmSet) {
  TempDir dir;
  StatusBlock b;
  EXPECT_EQ(Get(b, {1, 1}), (Bytes{0, 0, 0}));
  b.SetAlarm(7);
  b.SetAlarm(1);
  EXPECT_EQ(Get(b, {1, 1}), (Bytes{2, 2, 1, 7}));

  // A SET of field 2 replaces the set: exactly the listed alarms.
  StatusBlock c;
  c.SetAlarm(4);
  ASSERT_GE(Put(c, {1, 1, 2}, {2, 1, 7}), 0);
  EXPECT_EQ(c.IsAlarmSet(4), 0);
  EXPECT_EQ(c.IsAlarmSet(1), 1);
  EXPECT_EQ(c.IsAlarmSet(7), 1);
  EXPECT_EQ(c.GetAlarmCount(), 2);
  ASSERT_GE(Put(c, {1, 1, 2}, {0}), 0);  // count 0 alone clears all
  EXPECT_EQ(c.GetAlarmCount(), 0);
  ASSERT_GE(Put(c, {1, 1, 2}, {0, 0}), 0);
  EXPECT_EQ(c.GetAlarmCount(), 0);
  // A list with a repeated code and a code outside the table: the count is what is active.
  ASSERT_GE(Put(c, {1, 1, 2}, {3, 5, 5, 40}), 0);
  EXPECT_EQ(c.GetAlarmCount(), 1);
  EXPECT_EQ(Get(c, {1, 1}), (Bytes{1, 1, 5}));
  // A count alone cannot make the block claim alarms it does not hold.
  ASSERT_GE(Put(c, {1, 1, 1}, {9}), 0);
  EXPECT_EQ(Get(c, {1, 1}), (Bytes{1, 1, 5}));
  // Codes cut short.
  EXPECT_EQ(Put(c, {1, 1, 2}, {3, 1}), -1);
  EXPECT_EQ(c.IsAlarmSet(5), 1);
}

TEST(StatusBlock, WholeBlockRoundTrips) {
  TempDir dir;
  ScopedManualClock clock(1000);
  StatusBlock quiet;
  const Bytes empty = Get(quiet, {1});
  EXPECT_EQ(empty, (Bytes{0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0}));
  StatusBlock copy;
  copy.SetAlarm(2);
  ASSERT_EQ(Put(copy, {1}, empty), 1);
  EXPECT_EQ(copy.GetAlarmCount(), 0);
  EXPECT_EQ(Get(copy, {1}), empty);

  StatusBlock busy;
  busy.SetAlarm(ALARM_SOFTWARE_ERROR);
  busy.SetAlarm(ALARM_UPS_MALFUNCTION);
  const uint8_t detail[] = {0xAB, 0xCD};
  ASSERT_EQ(busy.SetSoftwareErrorDetail(2, detail, 17), 0);
  ASSERT_EQ(busy.SetMalfunctionDetail(0, nullptr, 4), 0);
  const Bytes full = Get(busy, {1});
  EXPECT_EQ(full, (Bytes{2, 2, 3, 8, 17, 0, 0, 0x03, 0xE8, 2, 0xAB, 0xCD, 4, 0, 0, 0x03, 0xE8, 0}));
  StatusBlock other;
  ASSERT_EQ(Put(other, {1}, full), 1);
  EXPECT_EQ(Get(other, {1}), full);
  AlarmDetail d;
  ASSERT_EQ(other.GetSoftwareErrorDetail(d), 1);
  EXPECT_EQ(d.code, 17);
  EXPECT_EQ(d.bytes, (Bytes{0xAB, 0xCD}));
  EXPECT_EQ(d.time, 1000);
}

TEST(StatusBlock, DetailsNeedTheirAlarm) {
  TempDir dir;
  StatusBlock b;
  const uint8_t bytes[] = {1};
  EXPECT_EQ(b.SetMalfunctionDetail(1, bytes, 3), 0);
  AlarmDetail d;
  EXPECT_EQ(b.GetMalfunctionDetail(d), 0);  // nothing was stored
  b.SetAlarm(ALARM_UPS_MALFUNCTION);
  EXPECT_EQ(b.GetMalfunctionDetail(d), 0);
  EXPECT_EQ(b.SetMalfunctionDetail(1, bytes, 3), 0);
  ASSERT_EQ(b.GetMalfunctionDetail(d), 1);
  EXPECT_EQ(d.code, 3);
  EXPECT_EQ(d.Length(), 1);
  b.ClearAlarm(ALARM_UPS_MALFUNCTION);
  EXPECT_EQ(b.GetMalfunctionDetail(d), 0);
  b.SetAlarm(ALARM_SOFTWARE_ERROR);
  EXPECT_EQ(b.SetSoftwareErrorDetail(300, nullptr, 1), -1);
}

}  // namespace
