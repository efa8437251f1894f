// Sets TZ for the lifetime of the object (setenv + tzset) and restores the previous zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace testing_support {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  // The moment of a local date and time in the zone in force.
  static int64_t Local(int year, int month, int day, int hour, int minute, int second = 0) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&tm));
  }
  // Local broken-down time of a moment.
  static struct tm Parts(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    localtime_r(&tt, &tm);
    return tm;
  }

 private:
  std::optional<std::string> previous_;
};

}  // namespace testing_support
