// Calendar steps in the local time zone, for the schedules of the SCP blocks (scheduled
// shutdowns, battery tests).
//
// A schedule keeps a moment as seconds since 1970. Moving it on by days works on its local
// calendar date (pure date arithmetic, so a daylight-saving change never shifts the date) and
// then places the result at the old moment's local hour and minute with seconds 0, letting the
// system's zone rules pick the offset of the new date. A local time that does not exist on the
// new date (the hour skipped when clocks go forward) comes out as the system normalises it.
#pragma once

#include <cstdint>

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
// The moment of the local date at hour:minute:00; -1 when it cannot be represented.
int64_t LocalMoment(const LocalDate& date, int hour, int minute);
// t's local date moved on by `days`, at t's local hour and minute, seconds 0; -1 on failure.
int64_t AddLocalDays(int64_t t, int64_t days);
