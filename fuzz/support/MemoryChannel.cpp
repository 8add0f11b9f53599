#include "support/MemoryChannel.h"

#include <cstring>

MemoryChannel::MemoryChannel(const std::uint8_t* data, std::size_t size, std::uint32_t kind, PartialLine partial,
                             std::size_t piece)
    : IOBase(kind), data_(data), size_(size), partial_(partial), piece_(piece) {}

long MemoryChannel::Write(const char*, std::size_t length) {
  CountWritten(static_cast<long>(length));
  return static_cast<long>(length);
}

long MemoryChannel::Read(char* buffer, long length) {
  if (length < 1) return -1;
  std::size_t n = static_cast<std::size_t>(length);
  if (piece_ != 0 && n > piece_) n = piece_;
  if (n > Remaining()) n = Remaining();
  if (n == 0) return 0;
  std::memcpy(buffer, data_ + position_, n);
  position_ += n;
  return static_cast<long>(n);
}

long MemoryChannel::ReadLine(char* buffer, long size) {
  if (size < 2) return -1;
  std::size_t stored = 0;
  const std::size_t limit = static_cast<std::size_t>(size) - 1;
  while (stored < limit) {
    if (position_ == size_) {
      if (partial_ == PartialLine::Dropped || stored == 0) return 0;
      break;
    }
    const char c = static_cast<char>(data_[position_++]);
    buffer[stored++] = c;
    if (c == '\n') break;
  }
  buffer[stored] = '\0';
  return static_cast<long>(stored);
}
