// The record-list blocks (event log, alarm queue), the command block and the password record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/scp/alarm_queue_block.h"
#include "core/scp/command_block.h"
#include "core/scp/event_log_block.h"
#include "core/scp/password.h"
#include "core/scp/scp_frame.h"
#include "tests/core/block_messages.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::TempDir;

int Put(KT_Block& block, const Bytes& key, const Bytes& data) {
  return block_messages::Put(block, key, data, SCP_SET);
}
using block_messages::Get;

TEST(LogBlock, RecordForm) {
  TempDir dir;
  EventLogBlock log;
  EXPECT_EQ(Get(log, {6}), (Bytes{0, 0, 0, 0}));
  const uint8_t data[] = {1, 2};
  ASSERT_TRUE(log.AddRecord(16, 2, data));
  EXPECT_EQ(Get(log, {6, 1}), (Bytes{0, 1, 0, 1, 0, 0, 0, 0x10, 2, 1, 2}));
  EXPECT_EQ(Get(log, {6, 1, 1}), (Bytes{0, 1}));

  EventLogBlock copy;
  ASSERT_EQ(Put(copy, {6}, {0, 2, 0, 2, 0, 0, 0, 5, 1, 3, 0, 0, 0, 5, 1, 3}), 1);  // two equal records
  EXPECT_EQ(copy.GetRecordCount(), 1);
  // A list cut short, or one whose count the data cannot hold, leaves the old list.
  EXPECT_EQ(Put(copy, {6}, {0, 2, 0, 2, 0, 0, 0, 7, 1, 4, 0, 0}), -1);
  EXPECT_EQ(Put(copy, {6}, {0, 0, 0xFF, 0xFF, 0, 0, 0, 7, 0}), -1);
  EXPECT_EQ(copy.GetRecordCount(), 1);
  // An empty list empties it.
  ASSERT_EQ(Put(copy, {6}, {0, 0, 0, 0}), 1);
  EXPECT_EQ(copy.GetRecordCount(), 0);
}

TEST(LogBlock, ListOperations) {
  ScopedManualClock clock(700);
  EventLogBlock log;
  const uint8_t e3 = 3, e4 = 4;
  EXPECT_TRUE(log.AddRecord(1, 1, &e3));
  EXPECT_FALSE(log.AddRecord(1, 1, &e3));
  EXPECT_TRUE(log.AddRecord(1, 1, &e4));
  EXPECT_TRUE(log.AddRecord(2, 0, nullptr));
  EXPECT_FALSE(log.AddRecord(3, 1, nullptr));
  EXPECT_FALSE(log.AddRecord(3, 256, &e3));
  EXPECT_EQ(log.GetRecordCount(), 3);
  EXPECT_EQ(log.Branches().GetTime(1), 700);
  EXPECT_EQ(log.Branches().GetFieldState(1, 2), FIELD_CHANGED);

  LogRecord r;
  log.ResetCursor();
  ASSERT_TRUE(log.GetNextRecord(r));
  EXPECT_TRUE(log.RemoveRecord(1, 1, &e3));  // in front of the cursor
  ASSERT_TRUE(log.GetNextRecord(r));
  EXPECT_EQ(r.data, Bytes{4});  // the record after the one read, not skipped
  ASSERT_TRUE(log.GetNextRecord(r));
  EXPECT_EQ(r.time, 2u);
  EXPECT_FALSE(log.GetNextRecord(r));
  EXPECT_FALSE(log.RemoveRecord(9, 1, &e3));

  log.RemoveFirst(10);
  EXPECT_EQ(log.GetRecordCount(), 0);
}

TEST(EventLog, FormatsRecords) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  std::string time_text, name;
  EventLogBlock::FormatEvent(LogRecord{0, {3}}, time_text, name);
  EXPECT_EQ(time_text, "Thu Jan  1 00:00:00 1970");
  EXPECT_EQ(name, "UPS On Battery");
  EventLogBlock::FormatEvent(LogRecord{86400, {255}}, time_text, name);
  EXPECT_EQ(time_text, "Fri Jan  2 00:00:00 1970");
  EXPECT_EQ(name, "Unknown Event");
  EventLogBlock::FormatEvent(LogRecord{0, {40}}, time_text, name);
  EXPECT_EQ(name, "Unknown Event");
  EventLogBlock::FormatEvent(LogRecord{0, {0}}, time_text, name);
  EXPECT_EQ(name, " ");
  EventLogBlock::FormatEvent(LogRecord{0, {}}, time_text, name);  // no event byte at all
  EXPECT_EQ(name, "Unknown Event");
  EXPECT_EQ(time_text, "Thu Jan  1 00:00:00 1970");

  EventLogBlock log;
  const uint8_t e36 = 36;
  log.AddRecord(60, 1, &e36);
  uint32_t t = 0;
  ASSERT_TRUE(log.GetNextEventTextAndTime(time_text, name, t));
  EXPECT_EQ(name, "Remote Shutdown Failed");
  EXPECT_EQ(t, 60u);
  EXPECT_FALSE(log.GetNextEventText(time_text, name));
  EXPECT_STREQ(GetEventName(19), "Program Started");

  if (old_tz) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(AlarmQueue, RecordFormAndList) {
  TempDir dir;
  AlarmQueueBlock q;
  EXPECT_EQ(q.GetRefreshPeriod(), 200);
  EXPECT_EQ(Get(q, {8}), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(q.Add(1, 16, 1), 1);
  EXPECT_EQ(Get(q, {8}), (Bytes{0, 1, 0, 1, 1, 0, 0, 0, 0x10, 1}));
  EXPECT_EQ(q.Add(1, 16, 1), 1);  // duplicates are kept
  EXPECT_EQ(q.GetCount(), 2);
  EXPECT_EQ(q.Remove(1, 16, 1), 1);
  EXPECT_EQ(q.Remove(2, 16, 1), 0);

  AlarmQueueBlock copy;
  ASSERT_EQ(Put(copy, {8, 1}, {0, 2, 0, 2, 5, 0, 0, 0, 1, 0, 6, 0, 0, 0, 2, 1}), 1);
  uint8_t code = 0, flag = 0;
  uint32_t time = 0;
  copy.ResetCursor();
  ASSERT_TRUE(copy.GetNextEntry(code, time, flag));
  EXPECT_EQ(code, 5);
  ASSERT_TRUE(copy.GetNextEntry(code, time, flag));
  EXPECT_EQ(time, 2u);
  EXPECT_EQ(flag, 1);
  EXPECT_FALSE(copy.GetNextEntry(code, time, flag));
  EXPECT_EQ(Put(copy, {8, 1}, {0, 0, 0, 3, 5, 0}), -1);
  EXPECT_EQ(copy.GetCount(), 2);
  copy.Clear();
  EXPECT_EQ(copy.GetCount(), 0);
  EXPECT_EQ(copy.Branches().GetFieldState(1, 2), FIELD_UNCHANGED);
}

TEST(CommandBlock, BranchesAndFields) {
  TempDir dir;
  CommandBlock c;
  for (int b = 0; b <= 10; ++b) EXPECT_NE(c.Branches().GetTime(b), 0) << b;
  EXPECT_EQ(Get(c, {27, 4}), (Bytes{255, 255, 255, 0, 255}));
  ASSERT_EQ(Put(c, {27, 4}, {5, 2, 3, 5, 'p', 'a', 's', 's', 0, 1}), 1);
  EXPECT_EQ(c.GetShutDelay(), 5);
  EXPECT_EQ(c.GetCommand(), 3);
  EXPECT_EQ(c.GetPassword(), "pass");
  EXPECT_EQ(c.GetTimeShutDelay(), 1);
  ASSERT_EQ(Put(c, {27, 9}, {3, 'h', 'i', 0}), 1);
  EXPECT_EQ(c.GetMessage(), "hi");
  ASSERT_EQ(Put(c, {27, 7, 1}, {kPagerTestInProgress}), 1);
  EXPECT_EQ(c.GetValue(COMMAND_PAGER_TEST), 255);
  EXPECT_EQ(c.SetValue(COMMAND_MESSAGE, 1), -1);
  EXPECT_EQ(c.ConvertField(4, 6, CONVERT_ENCODE, nullptr, nullptr), -1);
  EXPECT_EQ(c.errorClass, ERR_COMMAND_BLOCK);
  EXPECT_EQ(c.GetRoute(10), ROUTE_AGENT);
  c.SetRestartDelay(30);
  c.SetShutdownDelay(120);
  EXPECT_EQ(c.GetRestartDelay(), 30);
  EXPECT_EQ(c.GetShutdownDelay(), 120);
}

TEST(Password, SetChangeCheck) {
  TempDir dir;
  KT_Password p;
  EXPECT_EQ(p.Get(), "4Tulip");
  EXPECT_EQ(p.Check("4Tulip"), 1);
  EXPECT_EQ(p.Check("4tulip"), 0);
  EXPECT_EQ(p.Check(nullptr), 0);
  EXPECT_EQ(p.Set("123456789"), -1);
  EXPECT_EQ(p.errorClass, ERR_PASSWORD);
  EXPECT_EQ(p.function, 2);
  EXPECT_EQ(p.code, 3);
  EXPECT_EQ(p.Set(""), -1);
  EXPECT_EQ(p.code, 2);
  EXPECT_EQ(p.Get(), "4Tulip");
  EXPECT_EQ(p.Change("new", "wrong"), -1);
  EXPECT_EQ(p.function, 1);
  EXPECT_EQ(p.code, 2);
  EXPECT_EQ(p.Change("new", nullptr), -1);
  EXPECT_EQ(p.code, 1);
  EXPECT_EQ(p.Change("12345678", "4Tulip"), 1);
  EXPECT_EQ(p.Check("12345678"), 1);
}

}  // namespace
