#include "dialogs/schedule/sched_entries.h"

#include <cstdio>
#include <ctime>

#include "core/scp/local_calendar.h"
#include "platform/clock.h"

namespace sched_entries {

namespace {

// One strftime field of a moment's local time.
QString Field(int64_t t, const char* format) {
  const time_t tt = static_cast<time_t>(t);
  std::tm tm{};
  if (localtime_r(&tt, &tm) == nullptr) return QString();
  char buffer[64];
  const size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

// A day or hour field without its leading zero.
QString NoLeadingZero(const QString& text) {
  return text.startsWith(QLatin1Char('0')) ? text.mid(1) : text;
}

// "March 5, 1997 at 9:00 PM".
QString DateAndTime(int64_t t) {
  return Field(t, "%B") + QLatin1Char(' ') + NoLeadingZero(Field(t, "%d")) + QStringLiteral(", ") +
         Field(t, "%Y") + QStringLiteral(" at ") + GetTimeString(t) + QLatin1Char(' ') + Field(t, "%p");
}

QString TimeOfDay(int64_t t) {
  return GetTimeString(t) + QLatin1Char(' ') + Field(t, "%p");
}

// The week-day name of 1 Monday .. 7 Sunday.
QString WeekdayName(int weekday) {
  std::tm tm{};
  tm.tm_wday = weekday % 7;
  char buffer[64];
  const size_t n = std::strftime(buffer, sizeof buffer, "%A", &tm);
  return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

bool Breakdown(int64_t t, LocalDate& date, int& hour, int& minute) {
  return t > 0 && LocalDateOf(t, date, hour, minute);
}

int64_t AsTime(int64_t t) {
  return t > 0 && t <= 0xFFFFFFFFll ? t : 0;
}

// A whole number 0 or more (empty: 0); false for anything else.
bool ParseCount(const QString& text, int64_t& value) {
  const QString t = text.trimmed();
  if (t.isEmpty()) {
    value = 0;
    return true;
  }
  bool ok = false;
  value = t.toLongLong(&ok, 10);
  return ok && value >= 0 && !t.startsWith(QLatin1Char('+'));
}

}  // namespace

QString Ordinal(int n) {
  const char* ending = "th";
  if (n % 100 < 11 || n % 100 > 13) {
    switch (n % 10) {
      case 1:
        ending = "st";
        break;
      case 2:
        ending = "nd";
        break;
      case 3:
        ending = "rd";
        break;
      default:
        break;
    }
  }
  return QString::number(n) + QLatin1String(ending);
}

QString DurationText(uint32_t v, int modelIndex) {
  uint32_t days = v / 86400;
  const uint32_t r = v % 86400;
  uint32_t hours = r / 3600;
  const uint32_t minutes = (r % 3600) / 60;
  const uint32_t seconds = (r % 3600) % 60;
  if (days == 1) {
    hours += 24;
    days = 0;
  }
  auto part = [](uint32_t n, const char* unit) { return QString::number(n) + QLatin1String(unit); };
  QString out;
  if (modelIndex == kModelSecondsRestart) {
    if (seconds != 0) {
      if (hours != 0) out += part(hours, " hours ");
      if (minutes != 0) out += part(minutes, " minutes ");
      out += part(seconds, " seconds ");
    } else if (minutes != 0) {
      if (hours != 0) out += part(hours, " hours ");
      out += part(minutes, " minutes ");
    } else {
      out += part(hours, " hours ");
    }
  } else if (minutes != 0) {
    if (days != 0) out += part(days, " days ");
    if (hours != 0) out += part(hours, " hours ");
    out += part(minutes, " minutes ");
  } else if (hours != 0) {
    if (days != 0) out += part(days, " days ");
    out += part(hours, " hours ");
  } else {
    out += part(days, " days ");
  }
  return out;
}

QString BuildDescription(const schedule_struct& e, const SchedLoadState& load) {
  QString text = QStringLiteral("SHUTDOWN: ");
  switch (e.frequency) {
    case SCHED_ONCE:
      text += QStringLiteral("Once on");
      break;
    case SCHED_MONTHLY:
      text += QStringLiteral("Monthly on the ") + Ordinal(e.frequencyParam) + QStringLiteral(" starting on");
      break;
    case SCHED_WEEKLY:
      text += QStringLiteral("Weekly on ") + WeekdayName(e.frequencyParam) + QStringLiteral(" starting on");
      break;
    case SCHED_EVERY_N:
      text +=
          QStringLiteral("Every ") + QString::number(e.frequencyParam) + QStringLiteral(" days starting on");
      break;
    case SCHED_DAILY:
      text += QStringLiteral("Daily");
      if (e.frequencyParam != 0) text += QStringLiteral(", except on weekends,");
      text += QStringLiteral(" starting");
      break;
    default:
      break;
  }
  const int64_t start = e.startTime;
  text += QLatin1Char(' ') + DateAndTime(start);
  text +=
      e.segmentOnly != 0 ? QStringLiteral(".") : QStringLiteral(" (after shutting down Operating System).");
  text += QStringLiteral(" RESTART:");
  const uint32_t value = static_cast<uint32_t>(e.restartValue);
  if (((e.restartMode == 0 || e.restartMode == 2) && value == 0) ||
      (e.restartMode == kRestartAtMoment && value == e.startTime)) {
    text += QStringLiteral(" immediately.");
  } else if (e.restartMode == 0) {
    text += QStringLiteral(" the same day at ") + TimeOfDay(start + value) + QLatin1Char('.');
  } else if (e.restartMode == 1) {
    text += QStringLiteral(" the next day at ") + TimeOfDay(start + value) + QLatin1Char('.');
  } else if (e.restartMode == 2) {
    text += QStringLiteral(" after ") + DurationText(value, load.modelIndex);
  } else if (e.restartMode == kRestartAtMoment) {
    text += QStringLiteral(" on ") + DateAndTime(value);
  }
  if (load.loadControl) {
    if (e.segment == load.segmentCount)
      text += QStringLiteral(" LOAD CONTROL: turn off ALL load segments.");
    else  // from segment 10 on the number takes two digits
      text += QStringLiteral(" LOAD CONTROL: only turn off load segment: ") + QString::number(e.segment + 1) +
              QLatin1Char('.');
  }
  return text;
}

int ListPlace(const std::vector<SchedListRow>& rows, const QString& text, const schedule_struct& entry,
              bool check, QString* refusal) {
  if (check) {
    for (const SchedListRow& row : rows) {
      QString why;
      if (row.text == text)
        why = QStringLiteral("This entry has already been made.");
      else if (row.entry.startTime == entry.startTime)
        why = QStringLiteral("An entry with this start time has already been made.");
      if (!why.isEmpty()) {
        if (refusal != nullptr) *refusal = why;
        return -1;
      }
    }
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].entry.startTime > entry.startTime) return static_cast<int>(i);
  }
  return static_cast<int>(rows.size());
}

QString CheckMessage(int code) {
  switch (code) {
    case SchedShutdownBlock::SCHED_BAD_START:
      return QStringLiteral("Invalid start time!");
    case SchedShutdownBlock::SCHED_BAD_RESTART:
      return QStringLiteral("Invalid restart time!");
    case SchedShutdownBlock::SCHED_START_PAST:
      return QStringLiteral("The start time is before the current time!");
    case SchedShutdownBlock::SCHED_RESTART_PAST:
      return QStringLiteral("The restart time is before the current time!");
    case SchedShutdownBlock::SCHED_RESTART_BEFORE_START:
      return QStringLiteral("The restart time is before the start time!");
    default:
      return QString();
  }
}

void GetIndexesFromTime(int64_t t, int& timeIndex, int& pm) {
  LocalDate date;
  int h = 0;
  int m = 0;
  if (!Breakdown(t, date, h, m)) h = m = 0;
  pm = h >= 12 ? 1 : 0;
  if (h > 12) h -= 12;
  timeIndex = (h == 12 ? 0 : 4 * h) + m / 15;
}

bool SetTime(int64_t& out, const QString& text, int pm) {
  const QByteArray head = text.left(6).toLatin1();
  unsigned hour = 0;
  unsigned minute = 0;
  if (std::sscanf(head.constData(), "%u:%u", &hour, &minute) != 2) return false;
  if (pm == 1 && hour < 12) hour += 12;
  if (pm == 0 && hour == 12) hour = 0;
  LocalDate today;
  int h = 0;
  int m = 0;
  // The calendar would make 9:75 a valid 10:15: a time outside the day is the invalid time.
  if (hour > 23 || minute > 59 || !LocalDateOf(platform::Now(), today, h, m)) {
    out = 0;
    return true;
  }
  out = AsTime(LocalMoment(today, static_cast<int>(hour), static_cast<int>(minute)));
  return true;
}

QString GetTimeString(int64_t t) {
  return NoLeadingZero(Field(t, "%I")) + QLatin1Char(':') + Field(t, "%M");
}

void Postpone(schedule_struct& e, uint32_t d) {
  e.startTime += d;
  if (e.restartMode == kRestartAtMoment) {
    if (e.startTime >= static_cast<uint32_t>(e.restartValue)) {
      e.restartMode = 0;
      e.restartValue = 0;
    }
  } else if (static_cast<int64_t>(d) < static_cast<int64_t>(e.restartValue)) {
    e.restartValue -= static_cast<int32_t>(d);
  } else {
    e.restartMode = 0;
    e.restartValue = 0;
  }
}

int64_t SkipWeekends(int64_t start) {
  LocalDate date;
  int h = 0;
  int m = 0;
  if (!Breakdown(start, date, h, m)) return start;
  while (WeekdayOf(date) >= 6) date = AddDays(date, 1);
  return AsTime(LocalMoment(date, h, m));
}

int64_t WeeklyStart(int64_t now, int64_t start, int weekday) {
  LocalDate today, date;
  int h = 0, m = 0, nh = 0, nm = 0;
  if (weekday < 1 || weekday > 7 || !Breakdown(start, date, h, m) || !LocalDateOf(now, today, nh, nm))
    return start;
  today = AddDays(today, (weekday - WeekdayOf(today) + 7) % 7);
  return AsTime(LocalMoment(today, h, m));
}

int64_t MonthlyStart(int64_t now, int64_t start, int day) {
  LocalDate date, today;
  int h = 0, m = 0, nh = 0, nm = 0;
  if (day < 1 || day > 31 || !Breakdown(start, date, h, m) || !LocalDateOf(now, today, nh, nm)) return start;
  // A day every month has comes within 31 days; the 31st within two months.
  for (int i = 0; i < 62; ++i) {
    const LocalDate d = AddDays(today, i);
    if (d.day == day) return AsTime(LocalMoment(d, h, m));
  }
  return start;
}

bool IsValidDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  const LocalDate date{year, month, day};
  const LocalDate back = CivilFromDays(DaysFromCivil(date));
  return back.year == year && back.month == month && back.day == day;
}

int64_t WithDate(int64_t t, int year, int month, int day) {
  LocalDate date;
  int h = 0, m = 0;
  if (!IsValidDate(year, month, day) || !Breakdown(t, date, h, m)) return 0;
  return AsTime(LocalMoment(LocalDate{year, month, day}, h, m));
}

int64_t WithTime(int64_t t, int hour, int minute) {
  LocalDate date;
  int h = 0, m = 0;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || !Breakdown(t, date, h, m)) return 0;
  return AsTime(LocalMoment(date, hour, minute));
}

bool ParseEveryNDays(const QString& text, uint16_t& days) {
  int64_t n = 0;
  if (text.trimmed().isEmpty() || !ParseCount(text, n) || n < 1 || n > 65535) return false;
  days = static_cast<uint16_t>(n);
  return true;
}

bool ParseRestartAfter(const QString& days, const QString& hours, const QString& minutes, int32_t& seconds) {
  int64_t d = 0, h = 0, m = 0;
  if (!ParseCount(days, d) || !ParseCount(hours, h) || !ParseCount(minutes, m)) return false;
  // Bounded first so that the products cannot overflow either.
  if (d > kMaxRestartAfter / 86400 + 1 || h > kMaxRestartAfter / 3600 + 1 || m > kMaxRestartAfter / 60 + 1)
    return false;
  const int64_t total = d * 86400 + h * 3600 + m * 60;
  if (total > kMaxRestartAfter) return false;
  seconds = static_cast<int32_t>(total);
  return true;
}

}  // namespace sched_entries
