// SCP block 28: the UPS's receptacles (load segments). Per receptacle a status byte and four
// timings that the UPS drivers fill from the UPS's answers; which segment is the non-critical
// one (shed first on battery); and which segment a pending scheduled shutdown concerns. The
// consoles list index 0 as all segments together and 1 .. count-1 as the load segments. The
// agent keeps the block in "loadbank.dat".
//
// Record form of branch 1 field 1 (wire and file, big-endian): receptacle count (1 byte),
// non-critical segment (1 byte), then per receptacle 9 bytes: status (1), sched_down_time (2),
// sched_down_dura (2), down_delay (2), up_delay (2).
//
// The table always holds exactly `count` receptacles (none when the count is 0).
#pragma once

#include <cstdint>
#include <vector>

#include "core/scp/block.h"

// Receptacle status values as the consoles show them.
enum ReceptacleStatus : uint8_t {
  RECEPTACLE_ON = 0,
  RECEPTACLE_OFF_POWER_FAIL = 1,
  RECEPTACLE_OFF_SCHEDULED = 2,
  RECEPTACLE_OFF_WAIT_STARTUP = 3,
};

struct ReceptacleInfo {
  uint8_t status = 0;
  uint16_t sched_down_time = 0;
  uint16_t sched_down_dura = 0;
  uint16_t down_delay = 0;
  uint16_t up_delay = 0;
};

inline constexpr size_t kReceptacleBytes = 9;
inline constexpr uint8_t kNoSegment = 255;

class Recptinf : public KT_Block {
 public:
  static constexpr int kBlockId = 28;

  // Error record functions (class 43), code 1 each unless said.
  enum : int32_t {
    FN_GET_ROUTE = 1,
    FN_CONVERT_BRANCH = 2,        // ConvertField with a branch other than 1
    FN_SCHED_DOWN_TIME = 3,       // ConvertField with a field other than 1; SetSchedDownTime
    FN_SCHED_DOWN_DURA = 4,
    FN_DOWN_DELAY = 5,
    FN_UP_DELAY = 6,
    CODE_BAD_COUNT = 2,           // ConvertField: the count is not backed by the bytes
  };

  Recptinf();

  // Touches branch 1, then 1 for branches 0 and 1; else -1 (43, 1, 1).
  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // No table, count 0, non-critical segment 255.
  void Reset();
  // Stores the count and sizes the table to it: new receptacles are zeroed, receptacles past
  // the new count are dropped.
  void SetCount(int n);
  int GetCount() const { return count_; }

  // Receptacle i (0 .. count-1). An index without a receptacle reads as 0xFF (status) or
  // 0xFFFF; SetStatus then does nothing (0), the other setters fail (-1, error record).
  // Setters answer 1 when stored.
  uint8_t GetStatus(int i) const;
  int SetStatus(int i, uint8_t v);
  uint16_t GetSchedDownTime(int i) const;
  int SetSchedDownTime(int i, uint16_t v);
  uint16_t GetSchedDownDura(int i) const;
  int SetSchedDownDura(int i, uint16_t v);
  uint16_t GetDownDelay(int i) const;
  int SetDownDelay(int i, uint16_t v);
  uint16_t GetUpDelay(int i) const;
  int SetUpDelay(int i, uint16_t v);

  uint8_t GetNonCriticalSegment() const { return non_critical_; }
  void SetNonCriticalSegment(uint8_t segment);
  // Segment of the scheduled shutdown about to run; equal to the count means all segments.
  int32_t GetScheduledSegment() const { return scheduled_segment_; }
  void SetScheduledSegment(int32_t segment) { scheduled_segment_ = segment; }

  bool HasTable() const { return !table_.empty(); }

 private:
  const ReceptacleInfo* At(int i) const;
  ReceptacleInfo* At(int i);
  int SetTiming(int i, uint16_t ReceptacleInfo::*member, uint16_t v, int32_t function);
  int ConvertTable(int direction, KT_RecordWriter* out, KT_RecordReader* in);

  uint8_t count_ = 0;
  uint8_t non_critical_ = kNoSegment;
  int32_t scheduled_segment_ = 0;
  std::vector<ReceptacleInfo> table_;
};
