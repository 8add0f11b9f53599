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
  enum Kind { Timeout, Event, Connection, Readable, Failure } kind = Failure;
  std::size_t eventIndex = 0;  // with Event: the first set event, which is reset
};

// Waits until one of the events is set, the listen socket has a connection
// to accept, or one of the watched sockets has something to read (bytes,
// the peer's close or an error). Events come first, in their order, then the
// listen socket, then the watched sockets; which of those can be read
// without blocking, WaitReadable with no wait tells. Watched sockets are
// blocking again when the wait returns.
WaitOutcome WaitForEventsOrConnection(WaitEvent* const* events, std::size_t count,
                                      const Socket& listenSocket, const Socket* const* watched,
                                      std::size_t watchedCount, unsigned timeoutMs);

}  // namespace platform
