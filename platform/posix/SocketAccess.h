// The descriptor inside a platform::Socket, for this half's files alone.
#pragma once

#include "platform/Socket.h"

namespace platform {

struct SocketAccess {
  static int Fd(const Socket& socket) { return static_cast<int>(socket.handle_); }
  // Takes the descriptor over; a negative one gives an invalid socket.
  static Socket Adopt(int fd) {
    Socket socket;
    socket.handle_ = fd < 0 ? Socket::kNone : fd;
    return socket;
  }
};

}  // namespace platform
