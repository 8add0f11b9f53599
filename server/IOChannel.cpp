#include "server/IOChannel.h"

#include "platform/Time.h"

#include <algorithm>
#include <cstring>
#include <utility>

IOSocket::~IOSocket() { CloseSocket(); }

const char* IOSocket::Name() {
  if (peerName_[0] == '\0' && socket_.IsValid()) {
    std::string address;
    std::uint16_t port = 0;
    if (platform::PeerName(socket_, &address, &port))
      std::snprintf(peerName_, sizeof peerName_, "%s:%u", address.c_str(), static_cast<unsigned>(port));
  }
  return peerName_;
}

long IOSocket::Write(const char* bytes, std::size_t length) {
  if (writeProgressMs_ == 0 || length == 0) {
    long sent = platform::Send(socket_, bytes, length);
    CountWritten(sent);
    return sent;
  }
  // A peer that takes nothing for the time loses the connection, so that
  // later writes fail at once instead of waiting again.
  std::size_t sent = platform::SendAll(socket_, bytes, length, writeProgressMs_);
  CountWritten(static_cast<long>(sent));
  if (sent < length) {
    platform::ShutdownSocket(socket_);
    return -1;
  }
  return static_cast<long>(sent);
}

void IOSocket::Preload(std::string bytes) {
  preload_ = std::move(bytes);
  preloadServed_ = 0;
}

std::string IOSocket::TakeUnread() {
  std::string rest = preload_.substr(preloadServed_);
  preload_.clear();
  preloadServed_ = 0;
  return rest;
}

void IOSocket::SetReadLimits(unsigned totalMs, unsigned idleMs) {
  deadline_ = totalMs != 0 ? platform::MonotonicMilliseconds() + totalMs : 0;
  idleMs_ = idleMs;
  timedOut_ = false;
}

bool IOSocket::WaitForData() {
  // Bytes a peek has shown are there already: reading them cannot block.
  if ((deadline_ == 0 && idleMs_ == 0) || queued_ > 0) return true;
  if (timedOut_) return false;
  std::uint64_t wait = idleMs_ != 0 ? idleMs_ : UINT32_MAX;
  if (deadline_ != 0) {
    std::uint64_t now = platform::MonotonicMilliseconds();
    wait = now >= deadline_ ? 0 : std::min<std::uint64_t>(wait, deadline_ - now);
  }
  // Readable also covers the peer's close and errors; the read reports those.
  if (wait != 0 && platform::WaitReadable(socket_, static_cast<unsigned>(wait)) != 0) return true;
  timedOut_ = true;
  return false;
}

bool IOSocket::Settle() {
  long left = aheadServed_;
  long unserved = aheadLength_ - aheadServed_;
  aheadLength_ = aheadServed_ = 0;
  while (left > 0) {
    // The bytes are known to be queued: this receive does not block.
    long got = platform::Receive(socket_, ahead_, static_cast<std::size_t>(left));
    if (got <= 0) {
      queued_ = 0;
      return false;
    }
    left -= got;
  }
  queued_ = unserved;
  return true;
}

platform::Socket IOSocket::ReleaseSocket() {
  if (socket_.IsValid()) Settle();
  return std::move(socket_);
}

long IOSocket::Read(char* buffer, long length) {
  if (length < 1) return -1;
  if (preloadServed_ < preload_.size()) {
    std::size_t take = std::min(preload_.size() - preloadServed_, static_cast<std::size_t>(length));
    std::memcpy(buffer, preload_.data() + preloadServed_, take);
    preloadServed_ += take;
    return static_cast<long>(take);
  }
  if (!Settle()) return -1;
  if (!WaitForData()) return -1;
  long got = platform::Receive(socket_, buffer, static_cast<std::size_t>(length));
  queued_ = got > 0 && got < queued_ ? queued_ - got : 0;
  CountRead(got);
  return got;
}

long IOSocket::ReadLine(char* buffer, long size) {
  if (size < 2) return -1;
  long stored = 0;
  while (stored < size - 1 && preloadServed_ < preload_.size()) {
    const char* from = preload_.data() + preloadServed_;
    long available = std::min(static_cast<long>(preload_.size() - preloadServed_), size - 1 - stored);
    const void* lineFeed = std::memchr(from, '\n', static_cast<std::size_t>(available));
    long take = lineFeed ? static_cast<const char*>(lineFeed) - from + 1 : available;
    std::memcpy(buffer + stored, from, static_cast<std::size_t>(take));
    preloadServed_ += static_cast<std::size_t>(take);
    stored += take;
    if (lineFeed != nullptr) {
      buffer[stored] = '\0';
      return stored;
    }
  }
  while (stored < size - 1) {
    if (aheadServed_ == aheadLength_) {
      if (!Settle() || !WaitForData()) return -1;
      long peeked = platform::Peek(socket_, ahead_, sizeof ahead_);
      if (peeked <= 0) return peeked;
      aheadLength_ = queued_ = peeked;
    }
    const char* from = ahead_ + aheadServed_;
    long available = std::min(aheadLength_ - aheadServed_, size - 1 - stored);
    const void* lineFeed = std::memchr(from, '\n', static_cast<std::size_t>(available));
    long take = lineFeed ? static_cast<const char*>(lineFeed) - from + 1 : available;
    std::memcpy(buffer + stored, from, static_cast<std::size_t>(take));
    aheadServed_ += take;
    stored += take;
    if (lineFeed != nullptr) break;
  }
  buffer[stored] = '\0';
  return stored;
}

void IOSocket::CloseSocket() {
  if (socket_.IsValid()) {
    platform::ShutdownSocket(socket_);
    socket_.Close();
  }
}

long IOStdio::Write(const char* bytes, std::size_t length) {
  if (output_ == nullptr) return 0;
  const std::size_t kPiece = 4096;
  while (length > kPiece) {
    CountWritten(static_cast<long>(std::fwrite(bytes, 1, kPiece, output_)));
    bytes += kPiece;
    length -= kPiece;
  }
  long last = static_cast<long>(std::fwrite(bytes, 1, length, output_));
  std::fflush(output_);
  CountWritten(last);
  return last;
}

long IOStdio::Read(char* buffer, long length) {
  if (length < 1) return -1;
  if (input_ == nullptr) return 0;
  std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(length), input_);
  CountRead(static_cast<long>(n));
  if (n != 0) return static_cast<long>(n);
  return std::ferror(input_) ? -1 : 0;
}

long IOStdio::ReadLine(char* buffer, long size) {
  if (size < 2) return -1;
  if (input_ == nullptr) return 0;
  if (std::fgets(buffer, static_cast<int>(size), input_) == nullptr) return std::ferror(input_) ? -1 : 0;
  return static_cast<long>(std::strlen(buffer));
}

long IOOneShot::ReadLine(char* buffer, long size) {
  if (size < 2) return -1;
  std::string line;
  if (linesDelivered_ == 0)
    line = command_ + "\n";
  else if (linesDelivered_ == 1)
    line = "\n";
  else
    return 0;
  ++linesDelivered_;
  std::size_t n = std::min(line.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, line.data(), n);
  buffer[n] = '\0';
  return static_cast<long>(n);
}
