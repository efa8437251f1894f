#include <gtest/gtest.h>

#include <vector>

#include "core/scp/battery_info_block.h"
#include "core/scp/battery_log_block.h"
#include "core/scp/battery_test_block.h"
#include "core/scp/local_calendar.h"
#include "core/scp/scp_frame.h"
#include "tests/core/scoped_time_zone.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::ScopedTimeZone;
using testing_support::TempDir;

Bytes Encode(KT_Block& b, uint8_t id) {
  Bytes reply;
  EXPECT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {id, 1})), 1);
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  return m.data;
}

class BatteryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedTimeZone zone_{"Europe/Berlin"};
  // Wednesday 10 June 2026 14:20:30 local time.
  ScopedManualClock clock_{ScopedTimeZone::Local(2026, 6, 10, 14, 20, 30)};
  int64_t Now() { return clock_->Now(); }
};

TEST_F(BatteryTest, RunNowIsAnsweredOnceThenTheScheduleHolds) {
  BatteryTestBlock b;
  EXPECT_EQ(b.IsTestDue(), -1);  // not configured
  ASSERT_EQ(b.SetRunNow(1), 1);
  EXPECT_EQ(b.IsTestDue(), 1);
  EXPECT_EQ(b.GetRunNow(), 0);
  EXPECT_EQ(b.IsTestDue(), -1);
  ASSERT_EQ(b.SetMode(0), 1);
  EXPECT_EQ(b.IsTestDue(), 0);
  EXPECT_EQ(b.GetNextTest(), 0);
}

TEST_F(BatteryTest, DueInsideTheTenSecondWindowAndMovedOnByOneInterval) {
  BatteryTestBlock b;
  ASSERT_EQ(b.SetMode(1), 1);
  ASSERT_EQ(b.SetIntervalDays(7), 1);

  ASSERT_EQ(b.SetNextTestTime(Now() + 10), 1);
  EXPECT_EQ(b.IsTestDue(), 0);  // 10 seconds away: not yet
  EXPECT_EQ(b.GetNextTestTime(), Now() + 10);

  clock_->AdvanceSeconds(1);  // 9 seconds away: due
  EXPECT_EQ(b.IsTestDue(), 1);
  EXPECT_EQ(b.GetNextTestTime(), ScopedTimeZone::Local(2026, 6, 17, 14, 20));
  EXPECT_EQ(b.IsTestDue(), 0);  // the next pass does not start it again

  // Exactly now is still due.
  ASSERT_EQ(b.SetNextTestTime(Now()), 1);
  EXPECT_EQ(b.IsTestDue(), 1);
}

TEST_F(BatteryTest, ComputeNextTestStepsFromThePastWithoutStoring) {
  BatteryTestBlock b;
  ASSERT_EQ(b.SetMode(1), 1);
  ASSERT_EQ(b.SetIntervalDays(7), 1);
  const int64_t yesterday = ScopedTimeZone::Local(2026, 6, 9, 2, 0);
  ASSERT_EQ(b.SetNextTestTime(yesterday), 1);
  EXPECT_EQ(b.ComputeNextTest(), ScopedTimeZone::Local(2026, 6, 16, 2, 0));  // six days from today
  EXPECT_EQ(b.GetNextTestTime(), yesterday);
  EXPECT_EQ(b.GetNextTest(), ScopedTimeZone::Local(2026, 6, 16, 2, 0));

  // Across the autumn change the local hour is kept.
  clock_->Set(ScopedTimeZone::Local(2026, 10, 20, 12, 0));
  ASSERT_EQ(b.SetNextTestTime(ScopedTimeZone::Local(2026, 10, 19, 2, 0)), 1);
  EXPECT_EQ(b.ComputeNextTest(), ScopedTimeZone::Local(2026, 10, 26, 2, 0));
}

// A test is due from 10 s before its time until the schedule's grace after it (a step of the
// clock or a suspended computer jumped over it), and runs once. One further past, however far
// (a computer off for months), moves on to the first time of the schedule that is not, without
// an error record; where that one is in its grace, it runs.
TEST_F(BatteryTest, DueUntilItsGraceAfterItsTimeAndMovedOnFromFurtherPastWithoutAnError) {
  const LocalDate day{2026, 6, 10};
  const int64_t t = ScopedTimeZone::Local(2026, 6, 10, 2, 30);
  constexpr int64_t kDay = 86400;
  const struct {
    int interval;
    int64_t after;  // the clock, seconds after the test's time
    int due;
    int next;  // days from the test's day to the stored next test, at 02:30
  } kCases[] = {
      {1, -10, BatteryTestBlock::TEST_NOT_YET, 0},
      {1, -9, BatteryTestBlock::TEST_DUE, 1},
      {7, kScheduleGraceSeconds, BatteryTestBlock::TEST_DUE, 7},
      {7, kScheduleGraceSeconds + 1, BatteryTestBlock::TEST_MOVED_ON, 7},
      {7, 102 * kDay + 3600, BatteryTestBlock::TEST_MOVED_ON, 105},
      {3, 102 * kDay + 30, BatteryTestBlock::TEST_DUE, 105},
      {1, 7300 * kDay + 43200, BatteryTestBlock::TEST_MOVED_ON, 7301},  // twenty years, both in summer time
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.interval) + " days, " + std::to_string(c.after) + " s after");
    BatteryTestBlock b;
    ASSERT_EQ(b.SetMode(1) + b.SetIntervalDays(c.interval) + b.SetNextTestTime(t), 3);
    clock_->Set(t + c.after);
    EXPECT_EQ(b.IsTestDue(), c.due);
    const int64_t next = LocalMoment(AddDays(day, c.next), 2, 30);
    EXPECT_EQ(b.GetNextTestTime(), next);
    EXPECT_EQ(b.IsTestDue(), BatteryTestBlock::TEST_NOT_YET);  // once
    EXPECT_EQ(b.errorClass, 0);
  }
}

TEST_F(BatteryTest, SettersRefuseOutOfRangeValues) {
  BatteryTestBlock b;
  EXPECT_EQ(b.SetMode(2), -1);
  EXPECT_EQ(b.errorClass, ERR_BATTERY_TEST_BLOCK);
  EXPECT_EQ(b.function, 7);
  EXPECT_EQ(b.code, 1);
  EXPECT_EQ(b.SetNextTestTime(0), -1);
  EXPECT_EQ(b.SetIntervalDays(0), -1);
  EXPECT_EQ(b.SetIntervalDays(256), -1);
  EXPECT_EQ(b.SetRunNow(0), -1);
  EXPECT_EQ(b.GetMode(), 255);
  EXPECT_EQ(b.GetIntervalDays(), 255);
  EXPECT_EQ(b.GetRoute(2), ROUTE_REFUSED);

  ASSERT_EQ(b.SetMode(1), 1);
  ASSERT_EQ(b.SetNextTestTime(0x01020304), 1);
  ASSERT_EQ(b.SetIntervalDays(14), 1);
  EXPECT_EQ(Encode(b, 25), (Bytes{1, 1, 2, 3, 4, 14, 255}));
  EXPECT_EQ(b.Branches().GetFieldState(1, 3), FIELD_CHANGED);

  // Nor does a SET or batt_tst.dat bring them in; after the block's data the file holds at most
  // its kept time (a damaged one is only left out), more is junk.
  Bytes reply;
  EXPECT_LT(b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {25, 1, 1}, Bytes{2})), 0);
  EXPECT_LT(b.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {25, 1, 3}, Bytes{0})), 0);
  EXPECT_EQ(b.GetMode() * 100 + b.GetIntervalDays(), 114);
  for (const Bytes& tail : {Bytes{'K', 'E', 'P', 'x', 0, 1, 0, 0, 1, 2, 3, 4, 0, 150}, Bytes(15, 'x')}) {
    KT_RecordReader in(tail);
    EXPECT_EQ(b.ConvertFileTrailer(CONVERT_DECODE, nullptr, &in), tail.size() > 14 ? -1 : 0);
  }
}

// The battery test and the battery information keep their times as unsigned seconds, in the
// same record bytes as before, so that they run past 2038-01-19 03:14:07 UTC (to 2106).
TEST_F(BatteryTest, TimesRunPastTheSigned32BitLimit) {
  BatteryTestBlock b;
  ASSERT_EQ(b.SetMode(1) + b.SetIntervalDays(7) + b.SetNextTestTime(ScopedTimeZone::Local(2038, 1, 17, 2, 30)), 3);
  clock_->Set(b.GetNextTestTime());
  EXPECT_EQ(b.IsTestDue(), 1);  // the next one, on the 24th, lies past the limit
  BatteryTestBlock copy;
  Bytes reply;
  ASSERT_GE(copy.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {25}, Encode(b, 25))), 0);
  clock_->Set(ScopedTimeZone::Local(2038, 1, 24, 2, 30));
  EXPECT_EQ(copy.IsTestDue(), 1);
  EXPECT_EQ(copy.GetNextTestTime(), ScopedTimeZone::Local(2038, 1, 31, 2, 30));

  clock_->Set(int64_t{INT32_MAX} + 1);
  BatteryInfoBlock info;
  ASSERT_GE(info.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {26}, Encode(info, 26))), 0);
  EXPECT_EQ(int64_t{info.GetResetTime()}, Now());
}

TEST_F(BatteryTest, InfoAverageResetAndRecord) {
  BatteryInfoBlock b;
  EXPECT_EQ(b.GetResetTime(), Now());
  ASSERT_EQ(b.AddOutageCount(2), 1);
  ASSERT_EQ(b.AddOnBatterySeconds(125), 1);
  EXPECT_EQ(b.GetAverageSeconds(), 62u);
  EXPECT_EQ(b.AddOutageCount(65536), -1);
  EXPECT_EQ(b.function, BatteryInfoBlock::FN_ADD_OUTAGES);
  EXPECT_EQ(b.GetOutageCount(), 2u);
  ASSERT_EQ(b.SetOutageCount(0), 1);
  EXPECT_EQ(b.GetAverageSeconds(), 0u);  // no division by a zero count

  ASSERT_EQ(b.AddLowBatteryWarnings(1), 1);
  EXPECT_EQ(b.GetLastLowBatteryWarning(), Now());
  ASSERT_EQ(b.SetLowBatteryWarnings(4), 1);
  EXPECT_EQ(b.GetLastLowBatteryWarning(), 0);
  EXPECT_EQ(b.SetReplacedDate(nullptr), -1);
  EXPECT_EQ(b.SetReplacedDate(std::string(300, 'x').c_str()), -1);  // the record could not hold it
  ASSERT_EQ(b.SetReplacedDate("1/2/26"), 0);

  const Bytes bytes = Encode(b, 26);
  ASSERT_EQ(bytes.size(), 24u + 8u);
  EXPECT_EQ(Bytes(bytes.end() - 8, bytes.end()), (Bytes{7, '1', '/', '2', '/', '2', '6', 0}));
  BatteryInfoBlock copy;
  Bytes reply;
  ASSERT_GE(copy.ConvertMessage(reply, KT_ScpMessage(SCP_SET, {26}, bytes)), 0);
  EXPECT_EQ(copy.GetOnBatterySeconds(), 125u);
  EXPECT_EQ(copy.GetLowBatteryWarnings(), 4u);
  EXPECT_EQ(copy.GetReplacedDate(), std::optional<std::string>("1/2/26"));

  b.Reset();
  EXPECT_EQ(b.GetOnBatterySeconds(), 0u);
  EXPECT_FALSE(b.GetReplacedDate().has_value());
  EXPECT_EQ(b.Branches().GetFieldState(1, 7), FIELD_UNCHANGED);
}

}  // namespace

namespace {

TEST(BatteryLog, ResultsAreLoggedWithTheirStatus) {
  TempDir dir;
  BatteryLogBlock log;
  BatteryTestResult result;
  result.resultCode = BATTERY_TEST_FAILED;
  EXPECT_EQ(log.SetResult(result, 100, 0), -1);  // no description
  EXPECT_EQ(log.GetRecordCount(), 0);
  result.description = "Battery";
  ASSERT_EQ(log.SetResult(result, 100, 0), 1);
  EXPECT_EQ(log.GetStatusCode(), BATTERY_LOG_FAILED);
  EXPECT_EQ(log.GetStatusText(), "Failed Battery Test");
  result.resultCode = BATTERY_TEST_NOT_PERFORMED;
  ASSERT_EQ(log.SetResult(result, 200, kGeneralSystemsTest), 1);
  EXPECT_EQ(log.GetStatusCode(), BATTERY_LOG_NOT_PERFORMED);
  EXPECT_EQ(log.GetStatusText(), "UPS could not perform General Systems Test");
  result.resultCode = 9;
  ASSERT_EQ(log.SetResult(result, 300, 0), 1);
  EXPECT_EQ(log.GetStatusText(), "Unknown");

  log.ResetCursor();
  uint32_t time = 0;
  uint8_t code = 0;
  ASSERT_TRUE(log.GetNextResult(time, code));
  EXPECT_EQ(time, 100u);
  EXPECT_EQ(code, BATTERY_TEST_FAILED);
  ASSERT_TRUE(log.GetNextResult(time, code));
  ASSERT_TRUE(log.GetNextResult(time, code));
  EXPECT_FALSE(log.GetNextResult(time, code));
}

}  // namespace
