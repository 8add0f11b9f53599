#include "server/LogDate.h"

#include "platform/Time.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {
// Every request's access-log line asks for the current second, and reading
// the zone costs a look at the system's zone file: the text of the last
// second asked for is kept.
struct LastDate {
  std::mutex lock;
  bool valid = false;
  std::int64_t when = 0;
  char text[64] = "";
};

LastDate& Last() {
  static LastDate* last = new LastDate;  // used by session threads up to the process's end
  return *last;
}

void Format(char* output, std::size_t size, std::int64_t when) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  platform::CalendarTime local = platform::LocalTimeOf(when);
  int bias = platform::StandardBiasMinutes();
  const char* sign = bias > 0 ? "-" : "+";
  int magnitude = bias > 0 ? bias : -bias;
  int month = local.month >= 1 && local.month <= 12 ? local.month - 1 : 0;
  std::snprintf(output, size, "[%02d/%-3.3s/%04d:%02d:%02d:%02d %s%02d%02d]", local.day, kMonths[month],
                local.year, local.hour, local.minute, local.second, sign, magnitude / 60, magnitude % 60);
}
}  // namespace

char* FormatLogDate(char* output, std::size_t size, std::int32_t time) {
  if (output == nullptr || size == 0) return output;
  std::int64_t when = time != 0 ? time : platform::CurrentEpochSeconds();
  LastDate& last = Last();
  std::lock_guard<std::mutex> guard(last.lock);
  if (!last.valid || last.when != when) {
    Format(last.text, sizeof last.text, when);
    last.when = when;
    last.valid = true;
  }
  std::snprintf(output, size, "%s", last.text);
  return output;
}
