// The process log of the page tests, kept in one file with every bit on, and
// a request channel that keeps what a handler writes.
#pragma once

#include "ProcessLog.h"
#include "server/IOChannel.h"

#include <string>

namespace page_tests {

inline const std::string& LogFile() { return testing_support::ProcessLogFile(); }
inline std::size_t LogSize() { return testing_support::ProcessLogSize(); }
inline std::string LogSince(std::size_t offset) { return testing_support::ProcessLogSince(offset); }
using testing_support::CountOf;

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
