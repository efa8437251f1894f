// SCP block 25: the schedule of automatic battery tests and a request to test now. The
// agent's monitor loop asks IsTestDue on every pass; the agent keeps the block in
// "batt_tst.dat".
//
// Record form of branch 1 (wire and file, big-endian): mode (1 byte), next test time (4,
// unsigned seconds since 1970, so that it runs to 2106; all ones = none), interval in days (1),
// run-now flag (1). batt_tst.dat may go on with the schedule's kept time (local_calendar.h).
#pragma once

#include <cstdint>

#include "core/scp/block.h"

class BatteryTestBlock : public KT_Block {
 public:
  static constexpr int kBlockId = 25;

  // Mode values.
  static constexpr uint8_t kModeOff = 0;
  static constexpr uint8_t kModeOn = 1;
  static constexpr uint8_t kNotConfigured = 255;
  // The next test time of a block without one.
  static constexpr uint32_t kNoTime = UINT32_MAX;
  // A test is due when its time is less than this many seconds away (and still, for the
  // schedule's grace, after it: kScheduleGraceSeconds).
  static constexpr int64_t kDueWindowSeconds = 10;

  // Results of IsTestDue.
  enum : int {
    TEST_NONE = -1,  // no test can be scheduled
    TEST_NOT_YET = 0,
    TEST_DUE = 1,
    TEST_MOVED_ON = 2,  // the next test lay further past than the grace and was moved on
  };

  // Error record functions (class 25), code 1 each unless said.
  enum : int32_t {
    FN_GET_ROUTE = 5,
    // 1 field outside 1..4, 2 branch other than 1, 3 a value the field cannot hold (a mode
    // other than 0, 1 and 255, an interval of 0), 4 more bytes after a file's data than its
    // kept time
    FN_CONVERT = 6,
    FN_SET_MODE = 7,
    FN_SET_NEXT_TEST = 8,
    FN_SET_INTERVAL = 10,
    FN_COMPUTE_NEXT = 13,    // 1 no time of the schedule fits the record; 2 no interval
    FN_SET_RUN_NOW = 14,
  };

  BatteryTestBlock();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;
  // The schedule's kept time, while the gap in the local time moved its next test. Reading,
  // more bytes than one kept time after the data are refused (-1): no agent writes them.
  int ConvertFileTrailer(int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // Mode 255, no next test, interval 255, run-now 255; every state byte of branches 0 and 1
  // back to 0.
  void Reset();

  // Each answers 1, or -1 with an error record and the block unchanged.
  int SetMode(int m);               // 0, 1 or 255
  int SetNextTestTime(int64_t t);   // 1..UINT32_MAX; -1 for none
  int SetIntervalDays(int d);       // 1..255
  int SetRunNow(int v);             // 1..255
  uint8_t GetMode() const { return mode_; }
  uint32_t GetNextTestTime() const { return next_test_; }
  uint8_t GetIntervalDays() const { return interval_; }
  uint8_t GetRunNow() const { return run_now_; }

  // -1 when not configured, 0 when scheduled tests are off, else ComputeNextTest.
  int64_t GetNextTest();
  // The first moment of the schedule (stored time, moved on by the interval at the schedule's
  // local time of day) that is not before now, however far behind the stored time is; the
  // stored time is not changed. -1 when there is no interval to step by or no such moment
  // fits the record.
  int64_t ComputeNextTest();
  // The local time of day (minutes since midnight) the tests repeat at: the next test time's,
  // or the one it was set to while the gap of a change to summer time moved that test.
  int GetTimeOfDay() const;
  // True when the schedule can run: off or not configured, or on with a next test time and an
  // interval to step by, and a time from now on that the record can hold.
  bool CanRun();
  // TEST_DUE when a test should start now: its time is less than kDueWindowSeconds away, or
  // a step of the clock or a suspended computer jumped over it less than
  // kScheduleGraceSeconds ago; the stored next test time then moves on by one interval. A
  // stored time further past moves on to the first time of the schedule that is not
  // (TEST_MOVED_ON, or TEST_DUE when that one is due). TEST_NOT_YET, or TEST_NONE when no test
  // can be scheduled (not configured, or no next test time can be computed). A run-now
  // request is answered once and cleared.
  int IsTestDue();

 private:
  int Refuse(int32_t function, int32_t code, int32_t value);
  // The first moment of the schedule that is not before `from`; -1 when there is none.
  int64_t FirstFrom(int64_t from);
  // Stores the next test time with the kept time that goes with the time of day.
  void StoreNextTest(int64_t t, int timeOfDay);

  uint8_t mode_ = kNotConfigured;
  uint32_t next_test_ = kNoTime;
  // The kept time of day (local_calendar.h), -1 for none.
  int kept_ = -1;
  uint8_t interval_ = 255;
  uint8_t run_now_ = 255;
};
