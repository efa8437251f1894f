#include "dialogs/information/time_text.h"

#include <ctime>

QString LocalTimeText(int64_t seconds, const char* format) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return QString();
  char buffer[128] = {};
  const size_t n = strftime(buffer, sizeof buffer, format, &local);
  return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

QString DefaultTimeText(int64_t seconds) {
  return LocalTimeText(seconds, "%x %X");
}
