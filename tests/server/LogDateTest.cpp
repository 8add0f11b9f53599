#include "server/LogDate.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testing_support::HelperBinary;
using testing_support::RunProgram;

// 2012-11-07 09:55:21 UTC
const char kMoment[] = "1352282121";

std::string DateIn(const std::string& tz, const char* moment) {
  auto result = RunProgram({HelperBinary("format-log-date"), moment}, "", {{"TZ", tz}});
  EXPECT_EQ(result.exitCode, 0);
  return result.output;
}

// The offset shown is the zone's standard bias, in summer too. Named zones
// come from the system's zone files (tzdata); Europe/Dublin is written with
// a negative daylight shift: its winter time (UTC) counts as the shifted one.
TEST(FormatLogDate, OffsetIsTheStandardBiasOfTheZone) {
  if (const char* why = testing_support::ChildTimeZoneFixed()) GTEST_SKIP() << why;
  const char* const kSummer = "1341144000";  // 2012-07-01 12:00:00 UTC
  struct {
    const char* zone;
    const char* moment;
    const char* date;
  } cases[] = {
      {"UTC0", kMoment, "[07/Nov/2012:09:55:21 +0000]\n"},
      {"CET-1", kMoment, "[07/Nov/2012:10:55:21 +0100]\n"},
      {"EST5", kMoment, "[07/Nov/2012:04:55:21 -0500]\n"},
      {"IST-5:30", kMoment, "[07/Nov/2012:15:25:21 +0530]\n"},
      {"NST3:30", kMoment, "[07/Nov/2012:06:25:21 -0330]\n"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", kSummer, "[01/Jul/2012:14:00:00 +0100]\n"},
      {"EST5EDT,M3.2.0,M11.1.0", kSummer, "[01/Jul/2012:08:00:00 -0500]\n"},
      {"Europe/Dublin", kMoment, "[07/Nov/2012:09:55:21 +0000]\n"},
      {"Europe/Dublin", kSummer, "[01/Jul/2012:13:00:00 +0000]\n"},
      {"Europe/Berlin", kSummer, "[01/Jul/2012:14:00:00 +0100]\n"},
      {"America/New_York", kSummer, "[01/Jul/2012:08:00:00 -0500]\n"},
      {"Australia/Sydney", kMoment, "[07/Nov/2012:20:55:21 +1000]\n"},
      {"Australia/Sydney", kSummer, "[01/Jul/2012:22:00:00 +1000]\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(DateIn(c.zone, c.moment), c.date) << c.zone << " " << c.moment;
}

TEST(FormatLogDate, BufferLimits) {
  char small[8];
  FormatLogDate(small, sizeof small, 1352282121);
  EXPECT_EQ(std::string(small).size(), 7u);
  EXPECT_EQ(small[0], '[');
  EXPECT_EQ(FormatLogDate(nullptr, 64, 0), nullptr);
  char untouched[4] = "abc";
  FormatLogDate(untouched, 0, 0);
  EXPECT_STREQ(untouched, "abc");
  char now[64];
  EXPECT_EQ(std::string(FormatLogDate(now, sizeof now, 0)).size(), 28u);
}

}  // namespace
