#include "platform/WaitEvent.h"

#include "platform/posix/SocketAccess.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace platform {

struct WaitAccess {
  static int Fd(const WaitEvent& e) { return e.handle_; }
};

WaitEvent::WaitEvent() { handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

WaitEvent::~WaitEvent() {
  if (handle_ >= 0) close(handle_);
}

bool WaitEvent::IsValid() const { return handle_ >= 0; }

void WaitEvent::Set() {
  std::uint64_t one = 1;
  (void)!write(handle_, &one, sizeof one);
}

bool WaitEvent::Reset() {
  std::uint64_t value = 0;
  return read(handle_, &value, sizeof value) == static_cast<ssize_t>(sizeof value) && value != 0;
}

WaitOutcome WaitForEventsOrConnection(WaitEvent* const* events, std::size_t count,
                                      const Socket& listenSocket, const Socket* const* watched,
                                      std::size_t watchedCount, unsigned timeoutMs) {
  std::vector<pollfd> fds;
  for (std::size_t i = 0; i < count; ++i) fds.push_back({WaitAccess::Fd(*events[i]), POLLIN, 0});
  std::size_t listenAt = fds.size();
  if (listenSocket.IsValid()) fds.push_back({SocketAccess::Fd(listenSocket), POLLIN, 0});
  std::size_t watchedAt = fds.size();
  for (std::size_t i = 0; i < watchedCount; ++i) fds.push_back({SocketAccess::Fd(*watched[i]), POLLIN, 0});
  WaitOutcome outcome;
  int timeout = timeoutMs > 0x7fffffffu ? 0x7fffffff : static_cast<int>(timeoutMs);
  int r;
  while ((r = poll(fds.data(), fds.size(), timeout)) < 0 && errno == EINTR) {
  }
  if (r < 0) return outcome;
  if (r == 0) {
    outcome.kind = WaitOutcome::Timeout;
    return outcome;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (fds[i].revents != 0 && events[i]->Reset()) {
      outcome.kind = WaitOutcome::Event;
      outcome.eventIndex = i;
      return outcome;
    }
  }
  if (listenSocket.IsValid() && fds[listenAt].revents != 0) {
    outcome.kind = (fds[listenAt].revents & (POLLERR | POLLNVAL)) != 0 ? WaitOutcome::Failure
                                                                      : WaitOutcome::Connection;
    return outcome;
  }
  for (std::size_t i = watchedAt; i < fds.size(); ++i) {
    if (fds[i].revents != 0) {
      outcome.kind = WaitOutcome::Readable;
      return outcome;
    }
  }
  // Another thread consumed the event first: nothing happened for us.
  outcome.kind = WaitOutcome::Timeout;
  return outcome;
}

}  // namespace platform
