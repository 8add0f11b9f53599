// A request channel over a byte array, so that request reading can be driven
// without sockets or files.
#pragma once

#include "server/IOChannel.h"

#include <cstddef>
#include <cstdint>

class MemoryChannel : public IOBase {
 public:
  // How a line that the input ends inside is reported: the socket channel
  // drops it (0, end of input), the stdio channel returns it.
  enum class PartialLine { Dropped, Returned };

  // piece limits the bytes one Read hands out (0: no limit), as a socket
  // gives what has arrived so far.
  MemoryChannel(const std::uint8_t* data, std::size_t size, std::uint32_t kind, PartialLine partial,
                std::size_t piece);

  const char* Name() override { return "memory"; }
  long Write(const char* bytes, std::size_t length) override;
  long Read(char* buffer, long length) override;
  long ReadLine(char* buffer, long size) override;

  std::size_t Position() const { return position_; }
  std::size_t Remaining() const { return size_ - position_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  PartialLine partial_;
  std::size_t piece_;
};
