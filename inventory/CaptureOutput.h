// Runs a command line as a child process and collects what it prints on its
// standard output and standard error, line by line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Starts the command (split as a Windows command line, the program found on
// the search path, no shell) with empty standard input and both output
// streams on one pipe, and reads until the output ends. The child is not
// waited for; it is reaped once it exits. Lines are appended to `lines`
// after the first `skip` ones are dropped. Returns the number appended.
int CaptureOutput(const std::string& commandLine, std::vector<std::string>& lines, int skip);

// Cuts captured output into lines: a run of carriage returns and line feeds
// ends one line, also when the run is split between two blocks. The text
// after the last line end counts as a line of its own at the end, whatever
// remains of the skip count.
class CapturedLineSplitter {
 public:
  CapturedLineSplitter(std::vector<std::string>& lines, int skip) : lines_(lines), skip_(skip) {}

  void Feed(const char* block, std::size_t length);
  // Delivers the unterminated last line, if any.
  void Finish();
  int Appended() const { return appended_; }

 private:
  void EndLine();

  std::vector<std::string>& lines_;
  int skip_;
  int appended_ = 0;
  std::string current_;
  bool inLineEnds_ = false;
};
