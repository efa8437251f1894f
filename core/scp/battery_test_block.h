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
  // A test is due when its time is less than this many seconds away.
  static constexpr int64_t kDueWindowSeconds = 10;
  // Most interval steps ComputeNextTest takes to reach the present.
  static constexpr int kMaxSteps = 101;

  // Error record functions (class 25), code 1 each unless said.
  enum : int32_t {
    FN_GET_ROUTE = 5,
    FN_CONVERT = 6,          // 1 field outside 1..4, 2 branch other than 1
    FN_SET_MODE = 7,
    FN_SET_NEXT_TEST = 8,
    FN_SET_INTERVAL = 10,
    FN_COMPUTE_NEXT = 13,    // 1 the present not reached; 2 no interval to step by
    FN_SET_RUN_NOW = 14,
  };

  BatteryTestBlock();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;
  // The schedule's kept time, while the gap in the local time moved its next test.
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
  // local time of day) that is not before now; the stored time is not changed. -1 when the
  // present is not reached in 101 steps or there is no interval to step by.
  int64_t ComputeNextTest();
  // The local time of day (minutes since midnight) the tests repeat at: the next test time's,
  // or the one it was set to while the gap of a change to summer time moved that test.
  int GetTimeOfDay() const;
  // True when the schedule can run: off or not configured, or on with a next test time the
  // schedule reaches the present from (and an interval to step by).
  bool CanRun();
  // 1 when a test should start now, 0 when not yet, -1 when no test can be scheduled (not
  // configured, or no next test time can be computed). A due test moves the stored next
  // test time on by one interval; a run-now request is answered once and cleared.
  int IsTestDue();

 private:
  int Refuse(int32_t function, int32_t code, int32_t value);

  uint8_t mode_ = kNotConfigured;
  uint32_t next_test_ = kNoTime;
  // The kept time of day (local_calendar.h), -1 for none.
  int kept_ = -1;
  uint8_t interval_ = 255;
  uint8_t run_now_ = 255;
};
