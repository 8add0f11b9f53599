#include "platform/Time.h"

#include <windows.h>

namespace platform {

namespace {
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
const std::uint64_t kEpochOffset = 116444736000000000ull;

std::uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

CalendarTime FromSystemTime(const SYSTEMTIME& parts) {
  CalendarTime result;
  result.year = parts.wYear;
  result.month = parts.wMonth;
  result.day = parts.wDay;
  result.hour = parts.wHour;
  result.minute = parts.wMinute;
  result.second = parts.wSecond;
  result.millisecond = parts.wMilliseconds;
  return result;
}
}  // namespace

std::uint64_t HighResolutionCounter() {
  LARGE_INTEGER value;
  QueryPerformanceCounter(&value);
  return static_cast<std::uint64_t>(value.QuadPart);
}

std::uint64_t HighResolutionFrequency() {
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  return static_cast<std::uint64_t>(value.QuadPart);
}

std::uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

CalendarTime UtcNow() {
  SYSTEMTIME parts;
  GetSystemTime(&parts);
  return FromSystemTime(parts);
}

std::int64_t CurrentEpochSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::int64_t>((FileTimeValue(now) - kEpochOffset) / 10000000ull);
}

CalendarTime LocalTimeOf(std::int64_t epochSeconds) {
  std::uint64_t ticks = static_cast<std::uint64_t>(epochSeconds) * 10000000ull + kEpochOffset;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&time, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return CalendarTime();
  CalendarTime result = FromSystemTime(local);
  result.millisecond = 0;
  return result;
}

int StandardBiasMinutes() {
  TIME_ZONE_INFORMATION zone;
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
  return static_cast<int>(zone.Bias + zone.StandardBias);
}

}  // namespace platform
