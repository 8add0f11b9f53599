// Auto-reset events that wake a waiting thread, and the server's wait over
// them and a listen socket.
#pragma once

#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>

namespace platform {

class WaitEvent {
 public:
  WaitEvent();
  ~WaitEvent();
  WaitEvent(const WaitEvent&) = delete;
  WaitEvent& operator=(const WaitEvent&) = delete;

  bool IsValid() const;
  // Any thread; several sets before a wait count as one.
  void Set();
  // Clears the event; true when it was set.
  bool Reset();

 private:
  friend struct WaitAccess;
  std::intptr_t handle_ = -1;  // a descriptor or a system handle
};

struct WaitOutcome {
  enum Kind { Timeout, Event, Connection, Failure } kind = Failure;
  std::size_t eventIndex = 0;  // with Event: the first set event, which is reset
};

// Waits until one of the events is set or the listen socket has a connection
// to accept. Events come first, in their order, then the socket.
WaitOutcome WaitForEventsOrConnection(WaitEvent* const* events, std::size_t count,
                                      SocketHandle listenSocket, unsigned timeoutMs);

}  // namespace platform
