// Request channels: the byte streams requests arrive on and replies leave by.
#pragma once

#include "platform/Socket.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

// Counts: >0 success, 0 end of input (or nothing written), <0 error.
class IOBase {
 public:
  enum Kind : std::uint32_t { kSocket = 1, kStdio = 2 };

  explicit IOBase(std::uint32_t kind) : kind_(kind) {}
  virtual ~IOBase() = default;
  IOBase(const IOBase&) = delete;
  IOBase& operator=(const IOBase&) = delete;

  virtual const char* Name() = 0;
  virtual long Write(const char* bytes, std::size_t length) = 0;
  virtual long Read(char* buffer, long length) = 0;
  // Reads up to size - 1 bytes of one line (the line feed stays) and a NUL.
  virtual long ReadLine(char* buffer, long size) = 0;

  std::uint32_t Kind() const { return kind_; }
  std::uint32_t TotalBytesWritten() const { return totalWritten_; }
  std::uint32_t RequestBytesWritten() const { return requestWritten_; }
  // Bytes Read has delivered since the request's head was read: how much
  // of its body has been taken.
  std::uint64_t RequestBytesRead() const { return requestRead_; }
  void ResetRequestBytes() {
    requestWritten_ = 0;
    requestRead_ = 0;
  }

 protected:
  void CountWritten(long bytes) {
    if (bytes > 0) {
      totalWritten_ += static_cast<std::uint32_t>(bytes);
      requestWritten_ += static_cast<std::uint32_t>(bytes);
    }
  }
  void CountRead(long bytes) {
    if (bytes > 0) requestRead_ += static_cast<std::uint64_t>(bytes);
  }

 private:
  std::uint32_t totalWritten_ = 0;
  std::uint32_t requestWritten_ = 0;
  std::uint64_t requestRead_ = 0;
  std::uint32_t kind_;
};

class IOSocket : public IOBase {
 public:
  explicit IOSocket(platform::Socket&& socket) : IOBase(kSocket), socket_(std::move(socket)) {}
  ~IOSocket() override;

  const char* Name() override;
  long Write(const char* bytes, std::size_t length) override;
  long Read(char* buffer, long length) override;
  long ReadLine(char* buffer, long size) override;

  void CloseSocket();
  // Writes give up (-1) when the peer takes no byte for progressMs; 0, the
  // start, leaves them without limit.
  void SetWriteTimeout(unsigned progressMs) { writeProgressMs_ = progressMs; }
  // Bytes taken from the socket before this channel was made: reads serve
  // them first, in order.
  void Preload(std::string bytes);
  // The preloaded bytes not yet read; the channel forgets them.
  std::string TakeUnread();
  // Reads give up (-1) when totalMs have passed since this call, or when no
  // byte arrives for idleMs; 0 leaves that limit off. A peer that stalls
  // must not hold the thread reading from it.
  void SetReadLimits(unsigned totalMs, unsigned idleMs);
  bool TimedOut() const { return timedOut_; }
  // Another object takes the socket over; this channel holds none after.
  // The socket is left just after the last line read through this channel.
  platform::Socket ReleaseSocket();

 private:
  bool WaitForData();
  // Takes the lines served from the look-ahead out of the socket.
  bool Settle();

  platform::Socket socket_;
  std::string preload_;
  std::size_t preloadServed_ = 0;
  unsigned writeProgressMs_ = 0;
  char peerName_[64] = "";
  std::uint64_t deadline_ = 0;  // monotonic milliseconds, 0 none
  unsigned idleMs_ = 0;
  bool timedOut_ = false;
  long queued_ = 0;  // bytes known to wait in the socket after the last read
  // Lines are served from one peek at what has arrived; the bytes served
  // stay in the socket until a read, a hand-over or the next peek takes
  // them out in one receive, so a request head costs a peek and a receive
  // rather than two calls a line, and nothing past it leaves the socket.
  char ahead_[4096];
  long aheadLength_ = 0;  // bytes of ahead_ that mirror the socket's queue
  long aheadServed_ = 0;  // of those, bytes already returned as lines
};

class IOStdio : public IOBase {
 public:
  // The streams stay the caller's; output may be null (replies discarded).
  IOStdio(std::FILE* input, std::FILE* output) : IOBase(kStdio), input_(input), output_(output) {}

  const char* Name() override { return "stdio"; }
  long Write(const char* bytes, std::size_t length) override;
  long Read(char* buffer, long length) override;
  long ReadLine(char* buffer, long size) override;

 private:
  std::FILE* input_;
  std::FILE* output_;
};

// Presents one request given on the command line as if read from input:
// the command as a line, then an empty line, then end of input.
class IOOneShot : public IOStdio {
 public:
  IOOneShot(std::FILE* input, std::FILE* output, const char* command)
      : IOStdio(input, output), command_(command ? command : "") {}

  long ReadLine(char* buffer, long size) override;

 private:
  std::string command_;
  unsigned linesDelivered_ = 0;
};
