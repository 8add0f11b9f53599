#include "platform/Socket.h"

#include "platform/posix/SocketAccess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {
int Fd(const Socket& socket) { return SocketAccess::Fd(socket); }

thread_local int t_lastError = 0;

template <typename T>
T Track(T result) {
  if (result < 0) t_lastError = errno;
  return result;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}
}  // namespace

Socket CreateTcpSocket() { return SocketAccess::Adopt(Track(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))); }

void Socket::Close() {
  if (IsValid()) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

void ShutdownSocket(const Socket& socket) {
  if (socket.IsValid()) ::shutdown(Fd(socket), SHUT_RDWR);
}

int LastSocketError() { return t_lastError; }

bool SetReuseAddress(const Socket& socket) {
  int on = 1;
  return Track(setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on)) == 0;
}

bool BindLoopback(const Socket& socket, std::uint16_t port) {
  sockaddr_in address = Loopback(port);
  return Track(::bind(Fd(socket), reinterpret_cast<sockaddr*>(&address), sizeof address)) == 0;
}

std::uint16_t BoundPort(const Socket& socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (Track(getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length)) != 0) return 0;
  return ntohs(address.sin_port);
}

bool Listen(const Socket& socket) { return Track(::listen(Fd(socket), SOMAXCONN)) == 0; }

AcceptResult Accept(const Socket& listenSocket, Socket* accepted) {
  for (;;) {
    // Accepted sockets start out blocking here; no mode switch needed.
    int fd = ::accept4(Fd(listenSocket), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      *accepted = SocketAccess::Adopt(fd);
      return AcceptResult::Accepted;
    }
    t_lastError = errno;
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? AcceptResult::WouldBlock : AcceptResult::Failed;
  }
}

bool PeerName(const Socket& socket, std::string* address, std::uint16_t* port) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (Track(getpeername(Fd(socket), reinterpret_cast<sockaddr*>(&peer), &length)) != 0) return false;
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  if (address != nullptr) *address = text;
  if (port != nullptr) *port = ntohs(peer.sin_port);
  return true;
}

long Send(const Socket& socket, const void* data, std::size_t length) {
  for (;;) {
    ssize_t n = ::send(Fd(socket), data, length, MSG_NOSIGNAL);
    if (n >= 0 || errno != EINTR) return static_cast<long>(Track(n));
  }
}

long Receive(const Socket& socket, void* buffer, std::size_t length) {
  for (;;) {
    ssize_t n = ::recv(Fd(socket), buffer, length, 0);
    if (n >= 0 || errno != EINTR) return static_cast<long>(Track(n));
  }
}

long Peek(const Socket& socket, void* buffer, std::size_t length) {
  for (;;) {
    ssize_t n = ::recv(Fd(socket), buffer, length, MSG_PEEK);
    if (n >= 0 || errno != EINTR) return static_cast<long>(Track(n));
  }
}

std::size_t SendAll(const Socket& socket, const void* data, std::size_t length, unsigned progressMs) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t sent = 0;
  while (sent < length) {
    ssize_t n = ::send(Fd(socket), bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      t_lastError = n == 0 ? EPIPE : errno;
      break;
    }
    pollfd p{Fd(socket), POLLOUT, 0};
    int r;
    while ((r = poll(&p, 1, static_cast<int>(progressMs))) < 0 && errno == EINTR) {
    }
    if (r <= 0) {
      t_lastError = r == 0 ? ETIMEDOUT : errno;
      break;
    }
  }
  return sent;
}

bool SetZeroLinger(const Socket& socket) {
  linger value{};
  value.l_onoff = 1;
  value.l_linger = 0;
  return Track(setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &value, sizeof value)) == 0;
}

bool ConnectLoopback(const Socket& socket, std::uint16_t port, unsigned timeoutMs) {
  int fd = Fd(socket);
  sockaddr_in address = Loopback(port);
  SetNonBlocking(fd, true);
  bool connected = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    connected = true;
  } else if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int r;
    while ((r = poll(&p, 1, static_cast<int>(timeoutMs))) < 0 && errno == EINTR) {
    }
    if (r > 0) {
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      connected = error == 0;
      if (!connected) t_lastError = error;
    } else {
      t_lastError = r == 0 ? ETIMEDOUT : errno;
    }
  } else {
    t_lastError = errno;
  }
  SetNonBlocking(fd, false);
  return connected;
}

int WaitReadable(const Socket& socket, unsigned timeoutMs) {
  pollfd p{Fd(socket), POLLIN, 0};
  for (;;) {
    int r = poll(&p, 1, static_cast<int>(timeoutMs));
    if (r >= 0) return r > 0 ? 1 : 0;
    if (errno != EINTR) {
      t_lastError = errno;
      return -1;
    }
  }
}

}  // namespace platform
