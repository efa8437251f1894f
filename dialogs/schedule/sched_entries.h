// The scheduled-shutdown entries as the scheduled-shutdown dialog sees them, apart from its
// controls: the one-line text of an entry, the order and duplicate rules of the list, the
// messages of the entry check, the postponement rule, the start-date rules of the repeating
// frequencies and the 12-hour time texts of the dialog's time lists.
//
// Times are seconds since 1970 placed on the local calendar (local_calendar.h); month and
// week-day names come from strftime with the global locale. 0 is the invalid time.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "core/scp/sched_shutdown_block.h"

// What the entry texts need of the host's UPS.
struct SchedLoadState {
  bool loadControl = false;  // the UPS can switch load segments
  int segmentCount = 0;      // the segment number that means "all segments"
  int modelIndex = 255;      // UPS model index; 15 lists restart durations to the second
};

// One row of the list of entries: its text and its own copy of the entry.
struct SchedListRow {
  QString text;
  schedule_struct entry;
};

namespace sched_entries {

inline constexpr int kTimeSteps = 48;  // "12:00" .. "11:45"
inline constexpr int kModelSecondsRestart = 15;
inline constexpr int64_t kMaxRestartAfter = 2147483647;  // what restartValue can hold

// "1st", "2nd", "3rd", "4th", .. "11th", "12th", "13th", .. "21st", ..
QString Ordinal(int n);
// The restart-after duration text (no closing period).
QString DurationText(uint32_t seconds, int modelIndex);
// The entry's one-line text.
QString BuildDescription(const schedule_struct& entry, const SchedLoadState& load);

// The row before which a new entry goes (rows are sorted by start, unsigned), or rows.size().
// With `check`, -1 when a row has the same text ("This entry has already been made.") or the
// same start ("An entry with this start time has already been made."); `refusal` gets the text.
int ListPlace(const std::vector<SchedListRow>& rows, const QString& text, const schedule_struct& entry,
              bool check, QString* refusal = nullptr);

// The dialog's message for a result of SchedShutdownBlock::ValidateScheduleEntry ("" for 0).
QString CheckMessage(int code);

// Index in the 48-step time lists and AM/PM index (1 PM) of a moment's local time.
void GetIndexesFromTime(int64_t t, int& timeIndex, int& pm);
// Reads "hour:minute" from the first six characters of `text` under the AM/PM choice: false
// when it does not read. Otherwise `out` is today at that time, seconds 0, or the invalid time 0
// when the hour or minute lies outside the day ("9:75"): nothing is normalised into another time.
bool SetTime(int64_t& out, const QString& text, int pm);
// "9:05", "12:30": the 12-hour time of a moment without a leading zero.
QString GetTimeString(int64_t t);

// Moves the entry d seconds later; a restart that the new start passes becomes "immediately".
void Postpone(schedule_struct& entry, uint32_t d);

// The start moved off Saturday and Sunday to the next Monday, same hour and minute.
int64_t SkipWeekends(int64_t start);
// The first date from today (today included) with week day `weekday` (1 Monday .. 7 Sunday) or
// day of the month `day`, at the start's hour and minute; the start unchanged when none.
int64_t WeeklyStart(int64_t now, int64_t start, int weekday);
int64_t MonthlyStart(int64_t now, int64_t start, int day);
// A real calendar date (31 February is not).
bool IsValidDate(int year, int month, int day);
// The moment's local date replaced by year/month/day, hour and minute kept; 0 when invalid.
int64_t WithDate(int64_t t, int year, int month, int day);
// The moment's local hour and minute replaced; 0 when out of range.
int64_t WithTime(int64_t t, int hour, int minute);

// Every N days: N in 1..65535 (an empty text, 0 and larger numbers are refused).
bool ParseEveryNDays(const QString& text, uint16_t& days);
// Restart after days/hours/minutes (empty texts count 0): whole numbers 0 or more and a total
// that restartValue can hold; false otherwise.
bool ParseRestartAfter(const QString& days, const QString& hours, const QString& minutes, int32_t& seconds);

}  // namespace sched_entries
