// SCP block 24: the table of scheduled shutdowns. Each entry says when to shut down, how the
// shutdown repeats, when the computer (or load segment) comes back, and whether only a load
// segment of the UPS goes down. The agent's monitor loop asks for the current entry (the one
// due first) and advances it after it has run; consoles edit the table and send it back whole.
// The agent keeps the block in "sch_shut.dat".
//
// Record form of branch 1 field 1 (wire and file, big-endian): entry count (4 bytes), then per
// entry 20 bytes: repeat type (1), parameter (2), shutdown time (4), restart kind (1),
// restart value (4), load-segment flag (4), segment (4) -- the flag comes before the segment.
// sch_shut.dat may go on with the kept times of the entries (local_calendar.h).
#pragma once

#include <cstdint>
#include <vector>

#include "core/scp/block.h"

// One scheduled shutdown (24 bytes in memory, as the consoles' dialogs fill it).
struct schedule_struct {
  uint8_t frequency = 0;        // repeat type, see SchedRepeat
  uint16_t frequencyParam = 0;  // by repeat type: day of month, weekday, days, skip weekends
  uint32_t startTime = 0;       // next shutdown, seconds since 1970
  uint8_t restartMode = 0;      // 3: restartValue is a moment; else seconds after startTime
  int32_t restartValue = 0;
  int32_t segment = 0;          // load segment to turn off
  uint32_t segmentOnly = 0;     // 1: only that load segment goes down, not the system

  bool operator==(const schedule_struct&) const = default;
};
static_assert(sizeof(schedule_struct) == 24, "schedule entries are 24 bytes");

enum SchedRepeat : uint8_t {
  SCHED_ONCE = 0,
  SCHED_MONTHLY = 1,   // parameter: day of month 1..31
  SCHED_WEEKLY = 2,    // parameter: weekday 1 Monday .. 7 Sunday
  SCHED_EVERY_N = 3,   // parameter: days between shutdowns
  SCHED_DAILY = 4,     // parameter not 0: skip Saturdays and Sundays
};

// Restart kind whose value is an absolute moment.
inline constexpr uint8_t kRestartAtMoment = 3;
// Bytes of one entry in the record form.
inline constexpr size_t kSchedEntryBytes = 20;

class SchedShutdownBlock : public KT_Block {
 public:
  static constexpr int kBlockId = 24;

  // Error record functions and codes (class 21).
  enum : int32_t {
    FN_CONVERT = 1,   // ConvertField and AdvanceSchedule
    CODE_NO_MEMORY = 1,
    CODE_BAD_FIELD = 2,
    CODE_BAD_BRANCH = 3,
    CODE_BAD_COUNT = 4,       // a received count that the bytes cannot hold
    CODE_CANNOT_REPEAT = 5,   // AdvanceSchedule: the entry's repeat gives no later date
    FN_SET_ENTRIES = 3,
  };

  // Results of ValidateScheduleEntry.
  enum : int {
    SCHED_VALID = 0,
    SCHED_BAD_START = 1,
    SCHED_BAD_RESTART = 2,
    SCHED_START_PAST = 3,
    SCHED_RESTART_PAST = 4,
    SCHED_RESTART_BEFORE_START = 5,
  };

  SchedShutdownBlock();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;
  // The kept times of the entries whose shutdown time was moved by a gap in the local time.
  int ConvertFileTrailer(int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // Empties the table; no current entry.
  void Reset();
  // Replaces the table by copies of `count` entries (the array may be the block's own) and
  // selects the current entry. 0, or -1 (21, 3, 1) when memory runs out (table unchanged).
  // Here and when the table is decoded, an entry equal to one of the old table keeps that
  // one's time of day (a console sends the table back whole).
  int SetEntries(int count, const schedule_struct* entries);
  // The entry count; `out` points at the block's own array (valid until the table changes),
  // null when the table is empty.
  int GetEntries(const schedule_struct*& out) const;
  // Entry i, or null when i is not an entry.
  const schedule_struct* GetEntry(int i) const;
  int GetCount() const { return static_cast<int>(entries_.size()); }
  // Index of the current entry, -1 when none.
  int GetCurrentIndex() const { return current_; }
  // The local time of day (minutes since midnight) entry i repeats at: the one it was set to,
  // also while its shutdown time is moved by a gap; -1 when i is not an entry.
  int GetTimeOfDay(int i) const;

  // Of the current entry; 0 when there is none.
  int64_t GetShutdownTime() const;
  // Restart kind 3: the restart value; else shutdown time + restart value.
  int64_t GetRestartTime() const;
  int32_t GetSegment() const;
  uint32_t GetLoadSegmentFlag() const;

  // After the current entry's shutdown has run (or its time has passed): a one-time entry is
  // removed; a repeating one moves to its next date at its time of day (moved on by the gap
  // on a date where that time does not exist, and back to it on the next date), the first
  // whose time is not before `notBefore` (a time long past moves on in one step). An
  // entry whose repeat cannot give a later date (a day outside its range, an unknown repeat
  // type, a step of 0 days) is removed like a one-time entry, with an error record, so that
  // it neither loops nor blocks the entries behind it. Then the current entry is selected
  // again. 1 when an entry was advanced or removed, 0 when there is no current entry, -1 when
  // memory runs out (table unchanged).
  int AdvanceSchedule(int64_t notBefore = 0);
  // The next date of a repeating entry at the local time of day `minuteOfDay` (by default its
  // shutdown time's), counted from the date its shutdown time was due on; the first one not
  // before `notBefore`. -1 when the repeat cannot give a later date.
  static int64_t NextOccurrence(const schedule_struct& entry, int minuteOfDay = -1, int64_t notBefore = 0);

  // 1 when every entry can run: a shutdown time, a repeat the block can follow, and for a
  // one-time entry a time not further past than the grace (kScheduleGraceSeconds). An entry
  // without a time would be the current one for good and hold back every other.
  bool CanRun() const;

  // 0 valid; 1 the shutdown time is not a valid time, 3 it lies before now; for restart kind 3
  // also 2 the restart moment is not valid, 4 it lies before now, 5 it lies before the shutdown.
  static int ValidateScheduleEntry(const schedule_struct& entry);

 private:
  void SelectCurrent();
  // Takes the new table, with the kept times of its entries that equal an entry of the old
  // one, and selects the current entry; false (21, 1, 1) when memory runs out (nothing changed).
  bool Replace(std::vector<schedule_struct>& table);

  std::vector<schedule_struct> entries_;
  // Per entry: the kept time of day (local_calendar.h), -1 for most.
  std::vector<int> kept_;
  int current_ = -1;
};
