#include "core/scp/local_calendar.h"

#include <ctime>

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
  struct tm tm {};
  tm.tm_year = date.year - 1900;
  tm.tm_mon = date.month - 1;
  tm.tm_mday = date.day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;  // the zone rules of that date decide
  const time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1)) return -1;
  return static_cast<int64_t>(t);
}

int64_t AddLocalDays(int64_t t, int64_t days) {
  LocalDate date;
  int hour = 0;
  int minute = 0;
  if (!LocalDateOf(t, date, hour, minute)) return -1;
  return LocalMoment(AddDays(date, days), hour, minute);
}
