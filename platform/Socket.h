// TCP sockets on the loopback interface, and waiting on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A socket of this process, or none; closed when it goes. It moves from
// owner to owner and is never copied, so exactly one object closes it.
class Socket {
 public:
  Socket() = default;
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kNone;
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool IsValid() const { return handle_ != kNone; }
  // Closes it at once (without a shutdown); the object then holds none.
  void Close();
  // The system's number for it, for log lines; -1 for none.
  long LogNumber() const { return static_cast<long>(handle_); }

 private:
  friend struct SocketAccess;  // the system half
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
};

// An invalid socket when the system has none to give.
Socket CreateTcpSocket();
void ShutdownSocket(const Socket& socket);  // both directions
// Error code of the last failed socket call on this thread.
int LastSocketError();

bool SetReuseAddress(const Socket& socket);
bool BindLoopback(const Socket& socket, std::uint16_t port);
// The port a bound socket has, 0 when unknown.
std::uint16_t BoundPort(const Socket& socket);
bool Listen(const Socket& socket);  // with the system's largest backlog

enum class AcceptResult { Accepted, WouldBlock, Failed };
// Takes one pending connection from a listen socket without blocking; the
// new socket is blocking.
AcceptResult Accept(const Socket& listenSocket, Socket* accepted);

bool PeerName(const Socket& socket, std::string* address, std::uint16_t* port);

// One send or receive; the result as the system gives it (<0 error, 0 closed).
long Send(const Socket& socket, const void* data, std::size_t length);
long Receive(const Socket& socket, void* buffer, std::size_t length);
// Like Receive, but the bytes stay queued for the next receive.
long Peek(const Socket& socket, void* buffer, std::size_t length);

// Sends all the bytes, waiting at most progressMs whenever the peer takes
// none. The count sent: less than length when the peer stopped taking bytes
// for that long or the connection failed; the connection is then fit only
// for closing. The socket stays blocking for other calls.
std::size_t SendAll(const Socket& socket, const void* data, std::size_t length, unsigned progressMs);

// Closing resets the connection instead of the orderly close.
bool SetZeroLinger(const Socket& socket);

// Connects to 127.0.0.1:port, waiting at most timeoutMs for the connection;
// the socket is blocking again afterwards.
bool ConnectLoopback(const Socket& socket, std::uint16_t port, unsigned timeoutMs);

// 1 readable, 0 time-out, -1 error.
int WaitReadable(const Socket& socket, unsigned timeoutMs);

}  // namespace platform
