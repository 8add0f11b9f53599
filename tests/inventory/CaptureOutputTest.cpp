#include "inventory/CaptureOutput.h"

#include "ProcessLog.h"
#include "TestSupport.h"

#include "platform/ChildProcess.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Lines = std::vector<std::string>;
using testing_support::HelperBinary;

std::string Helper(const std::string& name) { return "\"" + HelperBinary(name) + "\""; }

// The process id a helper printed as "pid N".
std::uint32_t PrintedPid(const Lines& lines) {
  for (const std::string& line : lines)
    if (line.rfind("pid ", 0) == 0) return static_cast<std::uint32_t>(std::strtoul(line.c_str() + 4, nullptr, 10));
  return 0;
}

// Waits (a minute at most) until the child with this id is gone: exited and
// reaped by the capture, leaving no zombie behind.
bool BecomesGone(std::uint32_t pid) {
  for (int waited = 0; waited < 30000; waited += 10) {
    if (platform::QueryChildProcess(pid) == platform::ChildProcessState::Gone) return true;
    platform::SleepMilliseconds(10);
  }
  return false;
}

// A run of CR and LF ends one line, also when cut between blocks; the text
// after the last line end is a line too, whatever remains of the skip. (A
// capture through a pipe, below, shows the plain cases.)
TEST(CapturedLineSplitter, RunsOfLineEndsEndOneLineEvenAcrossBlocks) {
  const struct {
    std::vector<std::string> blocks;
    int skip;
    Lines lines;
  } cases[] = {
      {{"abc\r", "\ndef\n", "\r", "\r\nxy", "z\n"}, 0, {"abc", "def", "xyz"}}, {{"a", "", "b", "\r\n"}, 0, {"ab"}},
      {{"\r\n\r\nfirst\n"}, 0, {"", "first"}}, {{"a\n\r\n"}, 0, {"a"}}, {{}, 0, {}},
      {{"h1\nh2\r\nbody\n"}, 2, {"body"}}, {{"\nh2\nbody\n"}, 2, {"body"}}, {{"h1\nonly"}, 5, {"only"}},
  };
  for (const auto& c : cases) {
    Lines lines{"kept"};
    CapturedLineSplitter splitter(lines, c.skip);
    for (const std::string& block : c.blocks) splitter.Feed(block.data(), block.size());
    splitter.Finish();
    Lines expected{"kept"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(lines, expected) << c.blocks.size();
    EXPECT_EQ(splitter.Appended(), static_cast<int>(c.lines.size()));
  }
}

TEST(CaptureOutput, CollectsOutputAndErrorInOrderFromOnePipe) {
  std::size_t logStart = testing_support::ProcessLogSize();
  Lines lines{"earlier"};
  std::string command = Helper("capture-print") +
                        " one\\r\\ntwo\\n\\n --err oops\\r\\n --out three\\rfour";
  EXPECT_EQ(CaptureOutput(command, lines, 0), 5);
  EXPECT_EQ(lines, (Lines{"earlier", "one", "two", "oops", "three", "four"}));
  std::string log = testing_support::ProcessLogSince(logStart);
  EXPECT_NE(log.find(":CaptureOutput from command '" + command + "'\n"), std::string::npos) << log;
  EXPECT_NE(log.find(":CaptureOutputWin:: the application has closed its stdout pipe\n"), std::string::npos);
  EXPECT_NE(log.find(":CaptureOutputWin:: 5 lines processed\n"), std::string::npos);
}

// Through a pipe: many lines, line ends cut between reads, and skipped
// leading lines.
TEST(CaptureOutput, LargeOutputWithMixedLineEndsAndSkip) {
  const int count = 60000;
  Lines lines;
  EXPECT_EQ(CaptureOutput(Helper("capture-many") + " " + std::to_string(count) + " open", lines, 10), count - 10);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(count - 10));
  char expected[32];
  for (int i = 10; i < count; ++i) {
    std::snprintf(expected, sizeof expected, "line %06d", i);
    ASSERT_EQ(lines[static_cast<std::size_t>(i - 10)], expected);
  }
}

TEST(CaptureOutput, CommandLineIsSplitAsOnWindowsAndRunWithoutShellOnEmptyInput) {
  Lines lines;
  CaptureOutput(Helper("capture-args") + " \"a b\" c\\\"d \"\" e\\\\f $HOME 'q r' *", lines, 0);
  EXPECT_EQ(lines, (Lines{"[a b]", "[c\"d]", "[]", "[e\\\\f]", "[$HOME]", "['q]", "[r']", "[*]"}));
  lines.clear();
  CaptureOutput(Helper("capture-stdin"), lines, 0);
  EXPECT_EQ(lines, (Lines{"read 0 bytes"}));
}

TEST(CaptureOutput, ProgramThatCannotStartGivesNoLines) {
  std::size_t logStart = testing_support::ProcessLogSize();
  Lines lines{"kept"};
  EXPECT_EQ(CaptureOutput("no-such-tool-for-capture -x 1", lines, 0), 0);
  EXPECT_EQ(CaptureOutput("", lines, 0), 0);
  EXPECT_EQ(lines, (Lines{"kept"}));
  std::string log = testing_support::ProcessLogSince(logStart);
  EXPECT_NE(log.find(":CaptureOutputWin:: Failed to start [no-such-tool-for-capture -x 1]\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find(":CaptureOutputWin:: 0 lines processed\n"), std::string::npos);
}

// The capture ends with the output, not with the child, which is reaped
// whether it exits before or after that.
TEST(CaptureOutput, EndsWithTheOutputNotWithTheChildAndReapsIt) {
  for (bool exitsFirst : {false, true}) {
    testing_support::TempDir dir;
    std::string stopFile = dir.File("stop");
    if (exitsFirst) testing_support::WriteFile(stopFile, "");
    Lines lines;
    EXPECT_EQ(CaptureOutput(Helper("capture-linger") + " " + stopFile, lines, 0), 2);
    std::uint32_t pid = PrintedPid(lines);
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(lines[1], "closing my output");
    if (!exitsFirst) {
      EXPECT_EQ(platform::QueryChildProcess(pid), platform::ChildProcessState::Running);
      testing_support::WriteFile(stopFile, "");
    }
    EXPECT_TRUE(BecomesGone(pid)) << exitsFirst;
  }
}

TEST(CaptureOutput, OutputOfAGrandchildAfterTheChildLeftIsStillCaptured) {
  Lines lines;
  EXPECT_EQ(CaptureOutput(Helper("capture-orphan"), lines, 0), 3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "parent leaving");
  EXPECT_EQ(lines[2], "late line from the child");
  EXPECT_TRUE(BecomesGone(PrintedPid(lines)));
}

}  // namespace
