// The system socket inside a platform::Socket, for this half's files alone.
#pragma once

#include "platform/Socket.h"

#include <winsock2.h>

namespace platform {

struct SocketAccess {
  static SOCKET Native(const Socket& socket) { return static_cast<SOCKET>(socket.handle_); }
  // Takes the socket over; INVALID_SOCKET gives an invalid one.
  static Socket Adopt(SOCKET native) {
    Socket socket;
    socket.handle_ = native == INVALID_SOCKET ? Socket::kNone : static_cast<std::intptr_t>(native);
    return socket;
  }
};

}  // namespace platform
