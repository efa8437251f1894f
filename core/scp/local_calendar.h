// Calendar steps in the local time zone, for the schedules of the SCP blocks (scheduled
// shutdowns, battery tests).
//
// A schedule keeps a moment as seconds since 1970. Moving it on by days works on its local
// calendar date (pure date arithmetic, so a daylight-saving change never shifts the date) and
// then places the result at the schedule's local time of day with seconds 0, letting the zone
// rules pick the offset of the new date. A local time that does not exist on the new date (the
// hour skipped when clocks go forward) is moved on by the gap (02:30 becomes 03:30); a time that
// occurs twice (the hour repeated when clocks go back) is its first occurrence.
//
// A repeating schedule keeps the time of day it was set to. Its stored moment alone cannot say
// whether a 03:30 on the day clocks go forward is a 03:30 schedule or a 02:30 one moved by the
// gap, so a schedule whose stored moment was moved keeps its time of day beside it ("kept"
// time, minutes since midnight, -1 when the moment's own time is the one). The record files
// keep those times after the block's data (WriteKeptTimes / ReadKeptTimes): readers that do not
// know them stop at the block's end, and a file without them reads as it always did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class KT_RecordReader;
class KT_RecordWriter;

struct LocalDate {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
};

// Local date, hour and minute of a moment; false when the system cannot break it down.
bool LocalDateOf(int64_t t, LocalDate& date, int& hour, int& minute);
// Days since 1970-01-01 of a calendar date (proleptic Gregorian), and back.
int64_t DaysFromCivil(const LocalDate& date);
LocalDate CivilFromDays(int64_t days);
// The date `days` later (or earlier, for a negative count).
LocalDate AddDays(const LocalDate& date, int64_t days);
// Day of the week: 1 Monday .. 7 Sunday.
int WeekdayOf(const LocalDate& date);
// The moment of the local date at hour:minute:00 (moved on by the gap where that time does not
// exist, the first of two where it occurs twice); -1 when it cannot be represented.
int64_t LocalMoment(const LocalDate& date, int hour, int minute);
// t's local date moved on by `days`, at t's local hour and minute, seconds 0; -1 on failure.
int64_t AddLocalDays(int64_t t, int64_t days);
// The same at the local time of day `minuteOfDay` (minutes since midnight), counted from the
// date t is an occurrence of that time of day (ScheduleDateOf).
int64_t AddLocalDays(int64_t t, int64_t days, int minuteOfDay);
// The local date of which `moment` is the time of day `minuteOfDay`: the moment's own date,
// or the day before where the gap of a change moved that time past midnight (in a zone whose
// clocks go forward at 23:00, a 23:30 runs at 00:30 the next day, and its schedule goes on
// from the day it was due). The moment's own date when it is no occurrence of that time.
// False when the system cannot break the moment down.
bool ScheduleDateOf(int64_t moment, int minuteOfDay, LocalDate& date);

inline constexpr int kMinutesPerDay = 24 * 60;
// How long after its time a scheduled shutdown or battery test still runs: a step of the
// clock or a suspended computer that jumped over it by less is only late; one that jumped
// further is past, and the schedule goes on from its next time.
inline constexpr int64_t kScheduleGraceSeconds = 60;
// Minutes since local midnight of a moment; -1 when the system cannot break it down.
int LocalMinuteOfDay(int64_t t);
// The time of day of a schedule whose stored moment is `moment` and whose kept time is `kept`.
int ScheduleTimeOfDay(int64_t moment, int kept);
// The kept time that goes with a schedule's new moment when its time of day is `minuteOfDay`:
// -1 when the moment shows that time, else `minuteOfDay`.
int KeptTimeFor(int64_t moment, int minuteOfDay);

// One schedule's kept time in a record file: the schedule's index in its block, its stored
// moment (the kept time holds only while the moment is unchanged) and the time of day.
struct KeptTime {
  uint16_t index = 0;
  uint32_t moment = 0;
  int minuteOfDay = 0;
};
// Bytes of `count` kept times after a block's data.
inline constexpr size_t KeptTimesBytes(size_t count) {
  return 4 + 2 + 8 * count;
}
// Appends the kept times after a block's data; nothing when there are none. -1 when the
// writer fails.
int WriteKeptTimes(KT_RecordWriter& out, const std::vector<KeptTime>& kept);
// The kept times after a block's data. Bytes that are not kept times (none, an older file's
// tail, junk) give none; a time that does not belong to its moment (a moment that shows it, or
// one it would not have moved to) is left out.
std::vector<KeptTime> ReadKeptTimes(KT_RecordReader& in);
