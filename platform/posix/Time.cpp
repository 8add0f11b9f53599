#include "platform/Time.h"

#include <ctime>
#include <sys/time.h>
#include <time.h>

namespace platform {

std::uint64_t HighResolutionCounter() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

std::uint64_t HighResolutionFrequency() { return 1000000000ull; }

std::uint64_t MonotonicMilliseconds() { return HighResolutionCounter() / 1000000ull; }

CalendarTime UtcNow() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  time_t seconds = tv.tv_sec;
  tm parts;
  gmtime_r(&seconds, &parts);
  CalendarTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return result;
}

std::int64_t CurrentEpochSeconds() { return static_cast<std::int64_t>(time(nullptr)); }

CalendarTime LocalTimeOf(std::int64_t epochSeconds) {
  time_t seconds = static_cast<time_t>(epochSeconds);
  tm parts;
  tzset();
  localtime_r(&seconds, &parts);
  CalendarTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  return result;
}

int StandardBiasMinutes() {
  tzset();
  // timezone holds seconds west of UTC for standard time.
  return static_cast<int>(timezone / 60);
}

}  // namespace platform
