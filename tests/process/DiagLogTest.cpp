#include "process/DiagLog.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

using testing_support::ReadTextFile;
using testing_support::TempDir;

void Write(DiagnosticLog& log, std::uint32_t mask, std::uint32_t bit, const char* format, ...) {
  va_list args;
  va_start(args, format);
  log.Write(mask, bit, format, args);
  va_end(args);
}

TEST(DiagLogTime, SecondsHaveSixDecimalsAndNoLeadingZero) {
  const std::uint64_t f = 1000000;
  EXPECT_EQ(FormatDiagLogTime(0, (9 * 3600 + 5 * 60 + 7) * f + 250000, f), "09:05:7.250000");
  EXPECT_EQ(FormatDiagLogTime(5 * f + f / 4, 0, f), "00:00:5.250000");
  EXPECT_EQ(FormatDiagLogTime(0, (10 * 3600 + 59 * 60 + 59) * f, f), "10:59:59.000000");
  // Started at 23:59:00 UTC, logging 31 minutes later: hours are not wrapped.
  EXPECT_EQ(FormatDiagLogTime(31 * 60 * f, (23 * 3600 + 59 * 60) * f, f), "24:30:0.000000");
  EXPECT_EQ(FormatDiagLogTime(123, 0, 0), "");
}

// A message that is off must not cost its arguments.
TEST(DiagLogMask, ArgumentsOfMessagesThatAreOffAreNotEvaluated) {
  const std::uint32_t saved = g_diagLogMask;
  int evaluated = 0;
  auto argument = [&evaluated]() { return ++evaluated ? "x" : ""; };
  g_diagLogMask = 0x0001;
  DiagLog(kLogWarning, "not shown %s\n", argument());
  std::uint32_t bit = 0x0400;
  DiagLog(bit, "not shown either %s\n", argument());
  EXPECT_EQ(evaluated, 0);
  g_diagLogMask = 0x0020;
  DiagLog(kLogWarning, "shown %s\n", argument());
  EXPECT_EQ(evaluated, 1);
  g_diagLogMask = saved;
}

// Every line has the date, time and process prefix; lines of the mask only;
// lines from threads never interleave.
TEST(DiagLogFile, LinesOfTheMaskWholeFromEveryThread) {
  TempDir dir;
  const std::string name = dir.File("threads.log");
  DiagnosticLog log;
  log.Open(name.c_str(), 100000000);
  ASSERT_TRUE(log.WritesToFile());
  Write(log, 0x10, 0x20, "hidden %d\n", 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i) Write(log, 0x30, 0x20, "thread %d line %d %s\n", t, i, "0123456789abcdef");
    });
  for (auto& th : threads) th.join();
  const std::string text = ReadTextFile(name);
  const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2,}:\d{2}:\d{1,2}\.\d{6}\(\d+\) :thread \d line \d+ 0123456789abcdef)");
  std::size_t count = 0;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1, ++count) {
    end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(std::regex_match(text.substr(start, end - start), line)) << text.substr(start, end - start);
  }
  EXPECT_EQ(count, 800u);

  DiagnosticLog unwritable;  // falls back to standard error
  unwritable.Open("/nonexistent-dir/x/diag.log", 0);
  EXPECT_FALSE(unwritable.WritesToFile());
  EXPECT_EQ(unwritable.FileName(), "");
}

// Handles a child process has open: the log file must not be among them.
std::string ChildHandles() {
  return testing_support::RunProgram({testing_support::HelperBinary("count-handles")}).output;
}

TEST(DiagLogFile, RolloverKeepsTheCrossingLineWholeAndChildrenNeverInheritTheFile) {
  TempDir dir;
  const std::string name = dir.File("roll.log");
  testing_support::WriteFile(name + ".old", "stale copy\n");
  const std::string withoutLog = ChildHandles();
  ASSERT_FALSE(withoutLog.empty());
  DiagnosticLog log;
  log.Open(name.c_str(), 2048);
  EXPECT_EQ(ChildHandles(), withoutLog);
  const std::string payload(100, 'a');
  int lines = 0;
  while (testing_support::FileExists(name) && ReadTextFile(name + ".old") == "stale copy\n") {
    Write(log, 1, 1, "%04d %s\n", lines++, payload.c_str());
    ASSERT_LT(lines, 100);
  }
  // The older copy was replaced; the current file starts empty. (Sizes are
  // the file's bytes, whatever line ends the system writes.)
  const std::string old = ReadTextFile(name + ".old");
  const std::size_t bytes = testing_support::ReadFile(name + ".old").size();
  EXPECT_GT(bytes, 2048u);
  EXPECT_LT(bytes, 2048u + 200u);
  EXPECT_EQ(ReadTextFile(name), "");
  // Every line before the rollover is in the old copy, the last one whole.
  char last[16];
  std::snprintf(last, sizeof last, "%04d ", lines - 1);
  EXPECT_NE(old.find(last + payload + "\n"), std::string::npos);
  Write(log, 1, 1, "after\n");
  EXPECT_NE(ReadTextFile(name).find(":after\n"), std::string::npos);
  EXPECT_EQ(ChildHandles(), withoutLog);  // the file reopened after the rollover
}

}  // namespace
