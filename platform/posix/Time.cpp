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

namespace {
CalendarTime CalendarOf(const tm& parts) {
  CalendarTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  return result;
}
}  // namespace

CalendarTime UtcNow() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  time_t seconds = tv.tv_sec;
  tm parts;
  gmtime_r(&seconds, &parts);
  CalendarTime result = CalendarOf(parts);
  result.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return result;
}

std::int64_t CurrentEpochSeconds() { return static_cast<std::int64_t>(time(nullptr)); }

CalendarTime LocalTimeOf(std::int64_t epochSeconds) {
  time_t seconds = static_cast<time_t>(epochSeconds);
  tm parts;
  tzset();
  localtime_r(&seconds, &parts);
  return CalendarOf(parts);
}

namespace {
// Seconds since 1970 of a date at noon UTC (proleptic Gregorian calendar).
std::int64_t NoonUtc(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  std::int64_t yearOfEra = year - era * 400;
  std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return (era * 146097 + dayOfEra - 719468) * 86400 + 12 * 3600;
}

long OffsetEastAt(std::int64_t epochSeconds) {
  time_t seconds = static_cast<time_t>(epochSeconds);
  tm parts;
  localtime_r(&seconds, &parts);
  return parts.tm_gmtoff;
}
}  // namespace

int StandardBiasMinutes() {
  tzset();
  // The C library's standard offset ("timezone") is the one its zone file
  // marks as not daylight, which for zones written with a negative daylight
  // shift (Europe/Dublin: summer time is the standard, winter the
  // "daylight" one) is the summer offset. Daylight saving moves clocks
  // forward everywhere else, so the standard offset is the smaller of the
  // offsets of midwinter and midsummer: the offset Windows calls standard.
  time_t now = time(nullptr);
  tm today;
  gmtime_r(&now, &today);
  std::int64_t year = today.tm_year + 1900;
  long january = OffsetEastAt(NoonUtc(year, 1, 1));
  long july = OffsetEastAt(NoonUtc(year, 7, 1));
  return static_cast<int>(-(january < july ? january : july) / 60);
}

}  // namespace platform
