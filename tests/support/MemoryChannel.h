// A request channel in memory: reads come from fixed text, writes are kept
// or fail with a chosen result.
#pragma once

#include "server/IOChannel.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace testing_support {

class MemoryChannel : public IOBase {
 public:
  explicit MemoryChannel(std::string input = std::string(), long writeResult = 0)
      : IOBase(kStdio), input_(std::move(input)), writeResult_(writeResult) {}
  const char* Name() override { return "memory"; }
  long Write(const char* bytes, std::size_t length) override {
    if (writeResult_ < 0) return writeResult_;
    written.append(bytes, length);
    CountWritten(static_cast<long>(length));
    return static_cast<long>(length);
  }
  long Read(char* buffer, long length) override {
    std::size_t n = std::min(static_cast<std::size_t>(length), input_.size() - pos_);
    std::memcpy(buffer, input_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }
  long ReadLine(char* buffer, long size) override {
    if (size <= 0) return 0;
    buffer[0] = '\0';
    if (pos_ >= input_.size()) return 0;
    std::size_t end = input_.find('\n', pos_);
    std::size_t n = (end == std::string::npos ? input_.size() : end + 1) - pos_;
    n = std::min(n, static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, input_.data() + pos_, n);
    buffer[n] = '\0';
    pos_ += n;
    return static_cast<long>(n);
  }

  std::string written;

 private:
  std::string input_;
  std::size_t pos_ = 0;
  long writeResult_;
};

}  // namespace testing_support
