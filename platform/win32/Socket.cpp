#include "platform/Socket.h"

#include "platform/win32/SocketAccess.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace platform {

namespace {
SOCKET Native(const Socket& socket) { return SocketAccess::Native(socket); }

thread_local int t_lastError = 0;

bool Track(bool ok) {
  if (!ok) t_lastError = WSAGetLastError();
  return ok;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool SetNonBlocking(SOCKET socket, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(socket, FIONBIO, &mode) == 0;
}

// Sockets are inheritable by default; a child that held one would keep a
// connection open after this process closed it.
void KeepFromChildren(SOCKET socket) {
  SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

int Clamp(std::size_t length) { return length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length); }
}  // namespace

Socket CreateTcpSocket() {
  // Sockets work in every program, as elsewhere, whether or not it started
  // the socket library itself; this start is never undone.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
  SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    // Systems without the flag: the same socket, made private afterwards.
    socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
      t_lastError = WSAGetLastError();
      return Socket();
    }
  }
  KeepFromChildren(socket);
  return SocketAccess::Adopt(socket);
}

void Socket::Close() {
  if (IsValid()) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = kNone;
}

void ShutdownSocket(const Socket& socket) {
  if (socket.IsValid()) ::shutdown(Native(socket), SD_BOTH);
}

int LastSocketError() { return t_lastError; }

bool SetReuseAddress(const Socket& socket) {
  BOOL on = TRUE;
  // Here SO_REUSEADDR would let another process bind the same port and take
  // the collector's requests; the exclusive use keeps the port this one's.
  return Track(setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                          sizeof on) == 0);
}

bool BindLoopback(const Socket& socket, std::uint16_t port) {
  sockaddr_in address = Loopback(port);
  return Track(::bind(Native(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
}

std::uint16_t BoundPort(const Socket& socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (!Track(getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) == 0)) return 0;
  return ntohs(address.sin_port);
}

bool Listen(const Socket& socket) { return Track(::listen(Native(socket), SOMAXCONN) == 0); }

AcceptResult Accept(const Socket& listenSocket, Socket* accepted) {
  SOCKET listener = Native(listenSocket);
  // Never blocks: the listen socket is non-blocking once an event is
  // associated with it, and made so here otherwise (which then fails
  // harmlessly).
  SetNonBlocking(listener, true);
  for (;;) {
    SOCKET socket = ::accept(listener, nullptr, nullptr);
    if (socket != INVALID_SOCKET) {
      // The new socket inherits the listen socket's event association and
      // non-blocking mode: clear both.
      WSAEventSelect(socket, nullptr, 0);
      SetNonBlocking(socket, false);
      KeepFromChildren(socket);
      *accepted = SocketAccess::Adopt(socket);
      return AcceptResult::Accepted;
    }
    int error = WSAGetLastError();
    t_lastError = error;
    if (error == WSAEINTR || error == WSAECONNRESET) continue;
    return error == WSAEWOULDBLOCK ? AcceptResult::WouldBlock : AcceptResult::Failed;
  }
}

bool PeerName(const Socket& socket, std::string* address, std::uint16_t* port) {
  sockaddr_in peer{};
  int length = sizeof peer;
  if (!Track(getpeername(Native(socket), reinterpret_cast<sockaddr*>(&peer), &length) == 0)) return false;
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  if (address != nullptr) *address = text;
  if (port != nullptr) *port = ntohs(peer.sin_port);
  return true;
}

long Send(const Socket& socket, const void* data, std::size_t length) {
  int n = ::send(Native(socket), static_cast<const char*>(data), Clamp(length), 0);
  if (n == SOCKET_ERROR) t_lastError = WSAGetLastError();
  return n;
}

long Receive(const Socket& socket, void* buffer, std::size_t length) {
  int n = ::recv(Native(socket), static_cast<char*>(buffer), Clamp(length), 0);
  if (n == SOCKET_ERROR) t_lastError = WSAGetLastError();
  return n;
}

long Peek(const Socket& socket, void* buffer, std::size_t length) {
  int n = ::recv(Native(socket), static_cast<char*>(buffer), Clamp(length), MSG_PEEK);
  if (n == SOCKET_ERROR) t_lastError = WSAGetLastError();
  return n;
}

namespace {
// select() on one socket, for reading or for writing.
int SelectOne(SOCKET s, bool forReading, unsigned timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit;
  limit.tv_sec = static_cast<long>(timeoutMs / 1000);
  limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
  return select(0, forReading ? &set : nullptr, forReading ? nullptr : &set, nullptr, &limit);
}
}  // namespace

std::size_t SendAll(const Socket& socket, const void* data, std::size_t length, unsigned progressMs) {
  SOCKET s = Native(socket);
  const char* bytes = static_cast<const char*>(data);
  std::size_t sent = 0;
  // Non-blocking for the while: a blocking send would wait for all of it.
  SetNonBlocking(s, true);
  while (sent < length) {
    int n = ::send(s, bytes + sent, Clamp(length - sent), 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    int error = n == 0 ? WSAECONNRESET : WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
      t_lastError = error;
      break;
    }
    int r = SelectOne(s, false, progressMs);
    if (r <= 0) {
      t_lastError = r == 0 ? WSAETIMEDOUT : WSAGetLastError();
      break;
    }
  }
  SetNonBlocking(s, false);
  return sent;
}

bool SetZeroLinger(const Socket& socket) {
  linger value{};
  value.l_onoff = 1;
  value.l_linger = 0;
  return Track(setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                          sizeof value) == 0);
}

bool ConnectLoopback(const Socket& socket, std::uint16_t port, unsigned timeoutMs) {
  SOCKET s = Native(socket);
  sockaddr_in address = Loopback(port);
  SetNonBlocking(s, true);
  bool connected = false;
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    connected = true;
  } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit;
    limit.tv_sec = static_cast<long>(timeoutMs / 1000);
    limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int r = select(0, nullptr, &writable, &failed, &limit);
    if (r > 0 && FD_ISSET(s, &writable)) {
      connected = true;
    } else if (r > 0) {
      int error = 0;
      int length = sizeof error;
      getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      t_lastError = error != 0 ? error : WSAECONNREFUSED;
    } else {
      t_lastError = r == 0 ? WSAETIMEDOUT : WSAGetLastError();
    }
  } else {
    t_lastError = WSAGetLastError();
  }
  SetNonBlocking(s, false);
  return connected;
}

int WaitReadable(const Socket& socket, unsigned timeoutMs) {
  int r = SelectOne(Native(socket), true, timeoutMs);
  if (r == SOCKET_ERROR) {
    t_lastError = WSAGetLastError();
    return -1;
  }
  return r > 0 ? 1 : 0;
}

}  // namespace platform
