// The process-wide diagnostic log of a test binary, opened once on a
// temporary file so that tests can read back what the code logged.
#pragma once

#include "TestSupport.h"
#include "process/DiagLog.h"

#include <string>

namespace testing_support {

// The log file; every verbosity bit is switched on.
inline const std::string& ProcessLogFile() {
  static std::string name = [] {
    if (!ProcessDiagLog().IsOpen()) {
      static TempDir* dir = new TempDir;  // left to the process's end, as the log is
      OpenDiagLog(dir->File("process.log").c_str(), 0x7fffffff);
    }
    return ProcessDiagLog().FileName();
  }();
  // Only written when a test changed it: threads still running from earlier
  // tests read the mask at every log call.
  if (g_diagLogMask != 0xffff) g_diagLogMask = 0xffff;
  return name;
}

inline std::size_t ProcessLogSize() { return ReadTextFile(ProcessLogFile()).size(); }
inline std::string ProcessLogSince(std::size_t offset) {
  std::string all = ReadTextFile(ProcessLogFile());
  return all.size() > offset ? all.substr(offset) : std::string();
}

inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

}  // namespace testing_support
