// Clocks and calendar conversions of the operating system.
#pragma once

#include <cstdint>

namespace platform {

// Monotonic high-resolution counter and its ticks per second.
std::uint64_t HighResolutionCounter();
std::uint64_t HighResolutionFrequency();

// Milliseconds of a monotonic clock, for time-outs and durations.
std::uint64_t MonotonicMilliseconds();

struct CalendarTime {
  int year = 0;    // four digits
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Current UTC date and time of day.
CalendarTime UtcNow();

// Seconds since 1970-01-01 UTC.
std::int64_t CurrentEpochSeconds();

// Local calendar time of a point in time.
CalendarTime LocalTimeOf(std::int64_t epochSeconds);

// Standard time-zone bias in minutes (UTC = local time + bias); daylight
// saving is never applied. Standard is the offset without the seasonal
// shift forward, also for zones whose files write winter time as a negative
// daylight shift (Europe/Dublin: +0000 all year, as Windows has it).
int StandardBiasMinutes();

}  // namespace platform
