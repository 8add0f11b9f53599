// The process log of the page tests, kept in one file with every bit on, and
// a request channel that keeps what a handler writes.
#pragma once

#include "TestSupport.h"
#include "process/DiagLog.h"
#include "server/IOChannel.h"

#include <string>

namespace page_tests {

inline const std::string& LogFile() {
  static std::string name = [] {
    if (!ProcessDiagLog().IsOpen() || !ProcessDiagLog().WritesToFile()) {
      // Removed at exit; the open log file is not disturbed by that.
      static testing_support::TempDir dir;
      OpenDiagLog(dir.File("pages.log").c_str(), 0x7fffffff);
    }
    return ProcessDiagLog().FileName();
  }();
  g_diagLogMask = 0xffff;
  return name;
}

inline std::size_t LogSize() { return testing_support::ReadFile(LogFile()).size(); }
inline std::string LogSince(std::size_t offset) { return testing_support::ReadFile(LogFile()).substr(offset); }

inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class CaptureChannel : public IOBase {
 public:
  CaptureChannel() : IOBase(kStdio) {}
  const char* Name() override { return "capture"; }
  long Write(const char* bytes, std::size_t length) override {
    written.append(bytes, length);
    return static_cast<long>(length);
  }
  long Read(char*, long) override { return 0; }
  long ReadLine(char* buffer, long size) override {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  std::string written;
};

}  // namespace page_tests
