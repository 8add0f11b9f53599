#include "inventory/CaptureOutput.h"

#include "platform/ChildProcess.h"
#include "process/DiagLog.h"

namespace {
// Read size of one block of output.
const std::size_t kCaptureBlockSize = 4094;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

void CapturedLineSplitter::Feed(const char* block, std::size_t length) {
  std::size_t i = 0;
  while (i < length) {
    if (IsLineEnd(block[i])) {
      if (!inLineEnds_) EndLine();
      inLineEnds_ = true;
      ++i;
      continue;
    }
    inLineEnds_ = false;
    std::size_t start = i;
    while (i < length && !IsLineEnd(block[i])) ++i;
    current_.append(block + start, i - start);
  }
}

void CapturedLineSplitter::Finish() {
  if (!current_.empty()) {
    lines_.push_back(current_);
    ++appended_;
    current_.clear();
  }
}

void CapturedLineSplitter::EndLine() {
  if (skip_ > 0) {
    --skip_;
  } else {
    lines_.push_back(current_);
    ++appended_;
  }
  current_.clear();
}

int CaptureOutput(const std::string& commandLine, std::vector<std::string>& lines, int skip) {
  DiagLog(kLogServerFlow, "CaptureOutput from command '%s'\n", commandLine.c_str());

  platform::ChildProcessOptions options;
  // Empty input: a tool that reads its input must see the end at once.
  options.input = platform::ChildProcessOptions::Stream::Null;
  options.output = platform::ChildProcessOptions::Stream::Pipe;
  options.mergeErrorIntoOutput = true;
  // The end of the output ends the capture; the child may still run.
  options.detachOnDestroy = true;

  CapturedLineSplitter splitter(lines, skip);
  platform::ChildProcess child;
  if (!child.Start(commandLine, options)) {
    if (child.LastStartFailure() == platform::ChildProcess::StartFailure::Pipe)
      DiagLog(kLogWarning, "CaptureOutputWin:: Failed to create the stdout pipe\n");
    else
      DiagLog(kLogWarning, "CaptureOutputWin:: Failed to start [%s]\n", commandLine.c_str());
  } else {
    char block[kCaptureBlockSize];
    for (;;) {
      long n = child.ReadOutput(block, sizeof block);
      if (n == 0) {
        DiagLog(kLogWarning, "CaptureOutputWin:: the application has closed its stdout pipe\n");
        break;
      }
      if (n < 0) {
        DiagLog(kLogWarning, "CaptureOutputWin:: error reading from the stdout pipe\n");
        break;
      }
      splitter.Feed(block, static_cast<std::size_t>(n));
    }
    splitter.Finish();
    // Collect the child now when it has already exited; otherwise it is
    // reaped in the background once it does.
    child.Wait(0, nullptr);
  }
  DiagLog(kLogWarning, "CaptureOutputWin:: %d lines processed\n", splitter.Appended());
  return splitter.Appended();
}
