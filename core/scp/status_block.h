// SCP block 1: the UPS's current state as a set of alarm codes (UpsAlarm 0..24), the time each
// code last changed, and two detail records (software error for alarm 8, UPS malfunction for
// alarm 3). Every SCP object has one; the UPS drivers and the monitor loop set and clear
// alarms, consoles read the set through GETs. Never stored in a record file.
//
// Record form:
//   branch 1 field 1   alarm count, 1 byte
//   branch 1 field 2   alarm count, 1 byte, then the code of each active alarm in ascending
//                      order; with no alarm active the count is written twice (00 00)
//   branch 2 field 1   software-error detail: code (1), time (4), length n (1), n bytes
//   branch 3 field 1   malfunction detail: same layout
//
// Route of every branch: the UPS side. Refresh period: 2 seconds.
#pragma once

#include <cstdint>
#include <vector>

#include "core/scp/block.h"

// Alarm codes: the bit positions of the alarm set.
enum UpsAlarm : int {
  ALARM_BAD_BATTERY = 0,
  ALARM_ON_BATTERY = 1,
  ALARM_LOW_BATTERY = 2,
  ALARM_UPS_MALFUNCTION = 3,
  ALARM_INPUT_OUT_OF_RANGE = 4,
  ALARM_OVERLOAD = 5,
  ALARM_ON_BYPASS = 6,
  ALARM_LOST_UPS_COMM = 7,
  ALARM_SOFTWARE_ERROR = 8,
  ALARM_AGENT_STARTED = 9,
  ALARM_AGENT_STOPPED = 10,
  ALARM_CONFIG_CHANGED = 11,
  ALARM_SHUTDOWN_PROLONGED_OUTAGE = 12,
  ALARM_SCHEDULED_SHUTDOWN = 13,
  ALARM_LOW_BATTERY_SHUTDOWN = 14,
  ALARM_REMOTE_SHUTDOWN = 15,
  ALARM_LOST_DAEMON_COMM = 16,
  ALARM_BATTERY_TEST = 17,
  ALARM_BUCKING = 18,
  ALARM_BOOSTING = 19,
  ALARM_IDLE = 20,
  ALARM_REMOTE_MASTER = 21,
  ALARM_DETERMINING_UPS_TYPE = 22,
  ALARM_SYSTEM_NORMAL = 23,
  ALARM_NET_CLIENT_PASSWORD = 24,
};

inline constexpr int kAlarmCount = 25;
// Alarms 0..6 are the UPS alarms proper (ClearUpsAlarms).
inline constexpr int kLastUpsAlarm = 6;

// The text of an alarm in the agent's state dump; "Unknown Error" for a code outside 0..24.
const char* GetAlarmText(int code);
// The dump's text when no alarm is set.
inline constexpr const char* kSystemNormalText = "System Normal";

// One entry of the alarm table.
struct AlarmEntry {
  uint8_t active = 0;  // 1 active, 0 not
  uint8_t code = 0;    // equal to the entry's index
  int64_t time = 0;    // last change (set or clear), seconds since 1970; 0 before any change
};

// A detail record kept with alarm 8 or 3.
struct AlarmDetail {
  uint8_t code = 255;  // 255 = none
  std::vector<uint8_t> bytes;
  int64_t time = 0;    // when stored; 0 = never

  int Length() const { return static_cast<int>(bytes.size()); }
};

class StatusBlock : public KT_Block {
 public:
  StatusBlock();

  // All alarms inactive with time 0, both details empty (code 255), cursor 0, count 0, the
  // change states of branches 0 and 1 back to 0.
  void Reset();

  // 0 (also when nothing changed), or -1 with error (3, 1 / 2, 1) for a code outside 0..24.
  // A change stamps the entry with now, marks fields 1 and 2 of branch 1 changed; setting an
  // alarm also marks branches 1 and 0 as filled now.
  int SetAlarm(int code);
  int ClearAlarm(int code);
  // ClearAlarm for 0..24 / 0..6; -1 at the first failure, else 0.
  int ClearAllAlarms();
  int ClearUpsAlarms();
  // 1 active, 0 not; -1 with error (3, 3, 1) for a code outside 0..24.
  int IsAlarmSet(int code);
  // The entry's time; -1 with error (3, 4, 1) for a code outside 0..24.
  int64_t GetAlarmTime(int code);

  void ResetAlarmCursor() { cursor_ = 0; }
  // From the cursor on, the next active entry: copied out, cursor behind it, 1. None left:
  // cursor 25, 0 (and 0 at once while the cursor stands at 25).
  int GetNextAlarm(AlarmEntry& entry);
  int GetAlarmCount() const { return count_; }

  // Stored only while alarm 8 (3) is active; else 0 and nothing stored. Replaces the previous
  // detail, stamps it with now; 0. A null pointer with a non-zero length stores no bytes.
  int SetSoftwareErrorDetail(int length, const uint8_t* bytes, int code);
  int SetMalfunctionDetail(int length, const uint8_t* bytes, int code);
  // 1 with a copy of the detail; 0 when the alarm is not active or no detail was stored.
  int GetSoftwareErrorDetail(AlarmDetail& out) const;
  int GetMalfunctionDetail(AlarmDetail& out) const;

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

 private:
  bool InRange(int code, int function);
  void MarkAlarmSetChanged();
  int ConvertAlarmList(int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertDetail(AlarmDetail& detail, int direction, KT_RecordWriter* out, KT_RecordReader* in);

  uint8_t count_ = 0;
  AlarmEntry alarms_[kAlarmCount];
  AlarmDetail software_error_;
  AlarmDetail malfunction_;
  int cursor_ = 0;
};
