#include "core/scp/local_calendar.h"

#include <ctime>

#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"

namespace {

// Marks the kept times after a block's data in a record file.
constexpr uint8_t kKeptTimesTag[4] = {'K', 'E', 'P', 'T'};
// Bytes of one kept time: index (2), moment (4), minute of the day (2).
constexpr size_t kKeptTimeBytes = 8;

// The offset from UTC (seconds east) in force at t.
bool OffsetAt(int64_t t, int64_t& offset) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  if (localtime_r(&tt, &tm) == nullptr) return false;
  offset = tm.tm_gmtoff;
  return true;
}

}  // namespace

bool LocalDateOf(int64_t t, LocalDate& date, int& hour, int& minute) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  if (localtime_r(&tt, &tm) == nullptr) return false;
  date.year = tm.tm_year + 1900;
  date.month = tm.tm_mon + 1;
  date.day = tm.tm_mday;
  hour = tm.tm_hour;
  minute = tm.tm_min;
  return true;
}

// Days from civil and back: the well-known era-based conversion of the proleptic Gregorian
// calendar (400-year eras of 146097 days, years starting in March).
int64_t DaysFromCivil(const LocalDate& date) {
  const int64_t y = static_cast<int64_t>(date.year) - (date.month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t m = date.month;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

LocalDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  LocalDate d;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
  return d;
}

LocalDate AddDays(const LocalDate& date, int64_t days) { return CivilFromDays(DaysFromCivil(date) + days); }

int WeekdayOf(const LocalDate& date) {
  // 1970-01-01 was a Thursday (4).
  const int64_t z = DaysFromCivil(date);
  const int64_t w = ((z % 7) + 7 + 3) % 7;  // 0 Monday .. 6 Sunday
  return static_cast<int>(w) + 1;
}

int64_t LocalMoment(const LocalDate& date, int hour, int minute) {
  if (date.year < 1900 || date.year > 100000) return -1;
  // The wall clock read as if it were UTC; a moment t shows it when t + offset(t) equals it.
  const int64_t wall = DaysFromCivil(date) * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60;
  // The offsets in force a day before and a day after: a zone changes at most once between.
  int64_t before = 0;
  int64_t after = 0;
  if (!OffsetAt(wall - 86400, before) || !OffsetAt(wall + 86400, after)) return -1;
  bool found = false;
  int64_t first = 0;
  for (const int64_t offset : {before, after}) {
    const int64_t t = wall - offset;
    int64_t actual = 0;
    if (!OffsetAt(t, actual) || actual != offset) continue;
    if (!found || t < first) first = t;
    found = true;
  }
  // No moment shows it: the time lies in the gap, and is read with the offset before the
  // change, which places it as far after the gap's end as it lay after its start.
  return found ? first : wall - before;
}

int64_t AddLocalDays(int64_t t, int64_t days) {
  return AddLocalDays(t, days, LocalMinuteOfDay(t));
}

int64_t AddLocalDays(int64_t t, int64_t days, int minuteOfDay) {
  LocalDate date;
  if (minuteOfDay < 0 || minuteOfDay >= kMinutesPerDay || !ScheduleDateOf(t, minuteOfDay, date)) return -1;
  return LocalMoment(AddDays(date, days), minuteOfDay / 60, minuteOfDay % 60);
}

bool ScheduleDateOf(int64_t moment, int minuteOfDay, LocalDate& date) {
  int hour = 0;
  int minute = 0;
  if (!LocalDateOf(moment, date, hour, minute)) return false;
  if (minuteOfDay < 0 || minuteOfDay >= kMinutesPerDay || hour * 60 + minute == minuteOfDay) return true;
  // A gap moves a time on by at most a day (a zone that skipped a whole date).
  for (int back = 0; back <= 2; ++back) {
    const LocalDate candidate = AddDays(date, -back);
    if (LocalMoment(candidate, minuteOfDay / 60, minuteOfDay % 60) == moment) {
      date = candidate;
      return true;
    }
  }
  return true;
}

int LocalMinuteOfDay(int64_t t) {
  LocalDate date;
  int hour = 0;
  int minute = 0;
  if (!LocalDateOf(t, date, hour, minute)) return -1;
  return hour * 60 + minute;
}

int ScheduleTimeOfDay(int64_t moment, int kept) {
  return kept >= 0 ? kept : LocalMinuteOfDay(moment);
}

int KeptTimeFor(int64_t moment, int minuteOfDay) {
  return LocalMinuteOfDay(moment) == minuteOfDay ? -1 : minuteOfDay;
}

int WriteKeptTimes(KT_RecordWriter& out, const std::vector<KeptTime>& kept) {
  if (kept.empty()) return 0;
  for (const uint8_t b : kKeptTimesTag) {
    if (out.Put8(b) < 0) return -1;
  }
  if (out.Put16(static_cast<uint16_t>(kept.size())) < 0) return -1;
  for (const KeptTime& k : kept) {
    if (out.Put16(k.index) < 0 || out.Put32(k.moment) < 0 ||
        out.Put16(static_cast<uint16_t>(k.minuteOfDay)) < 0) {
      return -1;
    }
  }
  return 0;
}

std::vector<KeptTime> ReadKeptTimes(KT_RecordReader& in) {
  std::vector<KeptTime> kept;
  uint8_t tag[sizeof kKeptTimesTag] = {};
  uint16_t count = 0;
  if (in.Remaining() < sizeof tag + 2 || in.GetBytes(tag, sizeof tag) < 0) return kept;
  for (size_t i = 0; i < sizeof tag; ++i) {
    if (tag[i] != kKeptTimesTag[i]) return kept;
  }
  if (in.Get16(count) < 0 || count > in.Remaining() / kKeptTimeBytes) return kept;
  for (uint16_t i = 0; i < count; ++i) {
    KeptTime k;
    uint16_t minuteOfDay = 0;
    if (in.Get16(k.index) < 0 || in.Get32(k.moment) < 0 || in.Get16(minuteOfDay) < 0) break;
    k.minuteOfDay = minuteOfDay;
    // Only a moment that the gap moved this time of day to (on its own date, or past midnight
    // from the day before).
    LocalDate date;
    if (minuteOfDay >= kMinutesPerDay || LocalMinuteOfDay(k.moment) == k.minuteOfDay ||
        !ScheduleDateOf(k.moment, minuteOfDay, date) ||
        LocalMoment(date, minuteOfDay / 60, minuteOfDay % 60) != k.moment) {
      continue;
    }
    kept.push_back(k);
  }
  return kept;
}
