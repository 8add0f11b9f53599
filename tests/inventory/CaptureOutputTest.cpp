#include "inventory/CaptureOutput.h"

#include "CaptureTestLog.h"
#include "TestSupport.h"

#include "platform/ChildProcess.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Lines = std::vector<std::string>;
using testing_support::HelperBinary;

std::string Helper(const std::string& name) { return "\"" + HelperBinary(name) + "\""; }

Lines Split(const std::vector<std::string>& blocks, int skip, int* appended = nullptr) {
  Lines lines;
  CapturedLineSplitter splitter(lines, skip);
  for (const std::string& block : blocks) splitter.Feed(block.data(), block.size());
  splitter.Finish();
  if (appended != nullptr) *appended = splitter.Appended();
  return lines;
}

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

TEST(CapturedLineSplitter, RunsOfLineEndsEndOneLineEvenAcrossBlocks) {
  EXPECT_EQ(Split({"one\r\ntwo\n\n\nthree\rfour\r\n"}, 0), (Lines{"one", "two", "three", "four"}));
  // A CR LF pair or a run cut between blocks is still one line end, and a
  // line cut between blocks comes whole.
  EXPECT_EQ(Split({"abc\r", "\ndef\n", "\r", "\r\nxy", "z\n"}, 0), (Lines{"abc", "def", "xyz"}));
  EXPECT_EQ(Split({"a", "", "b", "\r\n"}, 0), (Lines{"ab"}));
  // A run at the very start ends the (empty) first line.
  EXPECT_EQ(Split({"\r\n\r\nfirst\n"}, 0), (Lines{"", "first"}));
  // The last line needs no line end; a trailing run adds nothing.
  EXPECT_EQ(Split({"a\nlast"}, 0), (Lines{"a", "last"}));
  EXPECT_EQ(Split({"a\n\r\n"}, 0), (Lines{"a"}));
  EXPECT_EQ(Split({}, 0), Lines{});
}

TEST(CapturedLineSplitter, SkipDropsLeadingLinesButNeverTheUnterminatedLast) {
  int appended = -1;
  EXPECT_EQ(Split({"h1\nh2\r\nbody\n"}, 2, &appended), (Lines{"body"}));
  EXPECT_EQ(appended, 1);
  EXPECT_EQ(Split({"\nh2\nbody\n"}, 2), (Lines{"body"}));
  EXPECT_EQ(Split({"h1\nonly"}, 5, &appended), (Lines{"only"}));
  EXPECT_EQ(appended, 1);
  // Lines already in the list stay; new ones are appended.
  Lines lines{"kept"};
  CapturedLineSplitter splitter(lines, 0);
  splitter.Feed("new\n", 4);
  splitter.Finish();
  EXPECT_EQ(lines, (Lines{"kept", "new"}));
  EXPECT_EQ(splitter.Appended(), 1);
}

TEST(CaptureOutput, CollectsOutputAndErrorInOrderFromOnePipe) {
  CaptureTestLog log;
  Lines lines{"earlier"};
  std::string command = Helper("capture-print") +
                        " one\\r\\ntwo\\n\\n --err oops\\r\\n --out three\\rfour";
  EXPECT_EQ(CaptureOutput(command, lines, 0), 5);
  EXPECT_EQ(lines, (Lines{"earlier", "one", "two", "oops", "three", "four"}));
  if (log.Readable()) {
    std::string text = log.Text();
    EXPECT_NE(text.find(":CaptureOutput from command '" + command + "'\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":CaptureOutputWin:: the application has closed its stdout pipe\n"), std::string::npos);
    EXPECT_NE(text.find(":CaptureOutputWin:: 5 lines processed\n"), std::string::npos);
  }
}

TEST(CaptureOutput, LineEndsCutBetweenTwoReadsOfOneBlockSize) {
  // One write that fills the first read of 4094 bytes up to a CR whose LF
  // comes in the second read, then a line crossing the next block boundary.
  std::string first(4093, 'A');
  std::string second(4094 - 3, 'B');
  Lines lines;
  std::string command = Helper("capture-print") + " " + first + "\\r\\n" + second + "\\nacross-the-boundary\\r\\nend";
  EXPECT_EQ(CaptureOutput(command, lines, 0), 4);
  EXPECT_EQ(lines, (Lines{first, second, "across-the-boundary", "end"}));
}

TEST(CaptureOutput, LargeOutputWithMixedLineEndsAndSkip) {
  const int count = 60000;
  Lines lines;
  EXPECT_EQ(CaptureOutput(Helper("capture-many") + " " + std::to_string(count) + " open", lines, 10), count - 10);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(count - 10));
  char expected[32];
  for (int i = 10; i < count; ++i) {
    std::snprintf(expected, sizeof expected, "line %06d", i);
    if (lines[static_cast<std::size_t>(i - 10)] != expected) {
      ADD_FAILURE() << "line " << i << " is '" << lines[static_cast<std::size_t>(i - 10)] << "'";
      break;
    }
  }
}

TEST(CaptureOutput, CommandLineIsSplitAsOnWindowsAndRunWithoutShell) {
  Lines lines;
  CaptureOutput(Helper("capture-args") + " \"a b\" c\\\"d \"\" e\\\\f $HOME 'q r' *", lines, 0);
  EXPECT_EQ(lines, (Lines{"[a b]", "[c\"d]", "[]", "[e\\\\f]", "[$HOME]", "['q]", "[r']", "[*]"}));
}

TEST(CaptureOutput, StandardInputIsEmpty) {
  Lines lines;
  CaptureOutput(Helper("capture-stdin"), lines, 0);
  EXPECT_EQ(lines, (Lines{"read 0 bytes"}));
}

TEST(CaptureOutput, ProgramThatCannotStartGivesNoLines) {
  CaptureTestLog log;
  Lines lines{"kept"};
  EXPECT_EQ(CaptureOutput("no-such-tool-for-capture -x 1", lines, 0), 0);
  EXPECT_EQ(CaptureOutput("", lines, 0), 0);
  EXPECT_EQ(lines, (Lines{"kept"}));
  if (log.Readable()) {
    std::string text = log.Text();
    EXPECT_NE(text.find(":CaptureOutputWin:: Failed to start [no-such-tool-for-capture -x 1]\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find(":CaptureOutputWin:: 0 lines processed\n"), std::string::npos);
  }
}

TEST(CaptureOutput, EndsWithTheOutputNotWithTheChildAndReapsItLater) {
  testing_support::TempDir dir;
  std::string stopFile = dir.File("stop");
  Lines lines;
  EXPECT_EQ(CaptureOutput(Helper("capture-linger") + " " + stopFile, lines, 0), 2);
  std::uint32_t pid = PrintedPid(lines);
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(lines[1], "closing my output");
  // The child closed its output but is still running.
  EXPECT_EQ(platform::QueryChildProcess(pid), platform::ChildProcessState::Running);
  testing_support::WriteFile(stopFile, "");
  EXPECT_TRUE(BecomesGone(pid));
}

TEST(CaptureOutput, ChildThatExitedIsReaped) {
  testing_support::TempDir dir;
  std::string stopFile = dir.File("stop");
  testing_support::WriteFile(stopFile, "");
  Lines lines;
  CaptureOutput(Helper("capture-linger") + " " + stopFile, lines, 0);
  std::uint32_t pid = PrintedPid(lines);
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(BecomesGone(pid));
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
