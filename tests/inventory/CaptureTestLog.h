// Lets a test read what the process-wide diagnostic log receives: the log is
// opened once per test process on a file, and a watch reads what was
// written after it began, with the capture bits switched on meanwhile.
#pragma once

#include "ProcessLog.h"

#include <string>

class CaptureTestLog {
 public:
  CaptureTestLog() : savedMask_(g_diagLogMask) {
    testing_support::ProcessLogFile();
    g_diagLogMask = savedMask_ | 0x60;
    start_ = Contents().size();
  }
  ~CaptureTestLog() { g_diagLogMask = savedMask_; }

  // Whether the log can be read back at all (it may already go elsewhere).
  bool Readable() const { return ProcessDiagLog().WritesToFile(); }
  std::string Text() const {
    std::string all = Contents();
    return all.size() > start_ ? all.substr(start_) : std::string();
  }

 private:
  static std::string Contents() {
    const DiagnosticLog& log = ProcessDiagLog();
    return log.WritesToFile() ? testing_support::ReadTextFile(log.FileName()) : std::string();
  }

  std::uint32_t savedMask_;
  std::size_t start_ = 0;
};
