// The process log of the page tests, kept in one file with every bit on, and
// the in-memory channel that keeps what a handler writes.
#pragma once

#include "ProcessLog.h"
#include "MemoryChannel.h"

#include <string>

namespace page_tests {

inline const std::string& LogFile() { return testing_support::ProcessLogFile(); }
inline std::size_t LogSize() { return testing_support::ProcessLogSize(); }
inline std::string LogSince(std::size_t offset) { return testing_support::ProcessLogSince(offset); }
using testing_support::CountOf;

using CaptureChannel = testing_support::MemoryChannel;

}  // namespace page_tests
