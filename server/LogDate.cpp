#include "server/LogDate.h"

#include "platform/Time.h"

#include <cstdio>

char* FormatLogDate(char* output, std::size_t size, std::int32_t time) {
  if (output == nullptr || size == 0) return output;
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::int64_t when = time != 0 ? time : platform::CurrentEpochSeconds();
  platform::CalendarTime local = platform::LocalTimeOf(when);
  int bias = platform::StandardBiasMinutes();
  const char* sign = bias > 0 ? "-" : "+";
  int magnitude = bias > 0 ? bias : -bias;
  int month = local.month >= 1 && local.month <= 12 ? local.month - 1 : 0;
  std::snprintf(output, size, "[%02d/%-3.3s/%04d:%02d:%02d:%02d %s%02d%02d]", local.day, kMonths[month],
                local.year, local.hour, local.minute, local.second, sign, magnitude / 60, magnitude % 60);
  return output;
}
