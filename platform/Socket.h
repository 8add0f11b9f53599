// TCP sockets on the loopback interface, and waiting on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An OS socket handle held as a number; kInvalidSocket means none.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

SocketHandle CreateTcpSocket();
void CloseSocket(SocketHandle socket);
void ShutdownSocket(SocketHandle socket);  // both directions
// Error code of the last failed socket call on this thread.
int LastSocketError();

bool SetReuseAddress(SocketHandle socket);
bool BindLoopback(SocketHandle socket, std::uint16_t port);
// The port a bound socket has, 0 when unknown.
std::uint16_t BoundPort(SocketHandle socket);
bool Listen(SocketHandle socket);  // with the system's largest backlog

enum class AcceptResult { Accepted, WouldBlock, Failed };
// Takes one pending connection from a listen socket without blocking; the
// new socket is blocking.
AcceptResult Accept(SocketHandle listenSocket, SocketHandle* accepted);

bool PeerName(SocketHandle socket, std::string* address, std::uint16_t* port);

// One send or receive; the result as the system gives it (<0 error, 0 closed).
long Send(SocketHandle socket, const void* data, std::size_t length);
long Receive(SocketHandle socket, void* buffer, std::size_t length);
// Like Receive, but the bytes stay queued for the next receive.
long Peek(SocketHandle socket, void* buffer, std::size_t length);

// Sends all the bytes, waiting at most progressMs whenever the peer takes
// none. The count sent: less than length when the peer stopped taking bytes
// for that long or the connection failed; the connection is then fit only
// for closing. The socket stays blocking for other calls.
std::size_t SendAll(SocketHandle socket, const void* data, std::size_t length, unsigned progressMs);

// Closing resets the connection instead of the orderly close.
bool SetZeroLinger(SocketHandle socket);

// Connects to 127.0.0.1:port, waiting at most timeoutMs for the connection;
// the socket is blocking again afterwards.
bool ConnectLoopback(SocketHandle socket, std::uint16_t port, unsigned timeoutMs);

// 1 readable, 0 time-out, -1 error.
int WaitReadable(SocketHandle socket, unsigned timeoutMs);

}  // namespace platform
