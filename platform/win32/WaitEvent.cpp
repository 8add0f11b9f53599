#include "platform/WaitEvent.h"

#include "platform/win32/SocketAccess.h"

#include <winsock2.h>
#include <windows.h>

#include <vector>

namespace platform {

struct WaitAccess {
  static HANDLE Handle(const WaitEvent& e) { return reinterpret_cast<HANDLE>(e.handle_); }
};

namespace {
// The network event object of the listen socket; one per waiting thread, so
// that it lives as long as the socket is waited for and is made only once.
struct ListenEvent {
  WSAEVENT handle = WSACreateEvent();
  ~ListenEvent() {
    if (handle != WSA_INVALID_EVENT) WSACloseEvent(handle);
  }
};
thread_local ListenEvent t_listenEvent;
// One network event object for every watched socket of a waiting thread.
thread_local ListenEvent t_dataEvent;

// The association makes a socket non-blocking; undone after each wait.
void StopWatching(const Socket* const* watched, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    SOCKET socket = SocketAccess::Native(*watched[i]);
    WSAEventSelect(socket, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
  }
}

// Returns the index of a set handle, -1 on time-out, -2 on failure. An
// auto-reset handle that is found set is consumed. The server waits on two
// events and two network events, well within one system wait.
long WaitForAny(const std::vector<HANDLE>& handles, DWORD timeout) {
  if (handles.size() > MAXIMUM_WAIT_OBJECTS) return -2;
  DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
  if (r < WAIT_OBJECT_0 + handles.size()) return static_cast<long>(r - WAIT_OBJECT_0);
  if (r == WAIT_TIMEOUT) return -1;
  return -2;
}
}  // namespace

WaitEvent::WaitEvent() {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  handle_ = event == nullptr ? -1 : reinterpret_cast<std::intptr_t>(event);
}

WaitEvent::~WaitEvent() {
  if (handle_ != -1) CloseHandle(WaitAccess::Handle(*this));
}

bool WaitEvent::IsValid() const { return handle_ != -1; }

void WaitEvent::Set() { SetEvent(WaitAccess::Handle(*this)); }

bool WaitEvent::Reset() {
  // Auto-reset: a zero wait that succeeds has consumed the set state.
  return WaitForSingleObject(WaitAccess::Handle(*this), 0) == WAIT_OBJECT_0;
}

WaitOutcome WaitForEventsOrConnection(WaitEvent* const* events, std::size_t count,
                                      const Socket& listenSocket, const Socket* const* watched,
                                      std::size_t watchedCount, unsigned timeoutMs) {
  WaitOutcome outcome;
  std::vector<HANDLE> handles;
  for (std::size_t i = 0; i < count; ++i) handles.push_back(WaitAccess::Handle(*events[i]));
  SOCKET listener = SocketAccess::Native(listenSocket);
  if (listenSocket.IsValid()) {
    if (t_listenEvent.handle == WSA_INVALID_EVENT) return outcome;
    if (WSAEventSelect(listener, t_listenEvent.handle, FD_ACCEPT | FD_CLOSE) != 0) return outcome;
    handles.push_back(t_listenEvent.handle);
  }
  std::size_t dataAt = handles.size();
  if (watchedCount != 0) {
    if (t_dataEvent.handle == WSA_INVALID_EVENT) return outcome;
    // Reset first: the association signals again for bytes already queued.
    WSAResetEvent(t_dataEvent.handle);
    for (std::size_t i = 0; i < watchedCount; ++i) {
      if (WSAEventSelect(SocketAccess::Native(*watched[i]), t_dataEvent.handle, FD_READ | FD_CLOSE) != 0) {
        StopWatching(watched, i);
        return outcome;
      }
    }
    handles.push_back(t_dataEvent.handle);
  }
  if (handles.empty()) {
    Sleep(timeoutMs);
    outcome.kind = WaitOutcome::Timeout;
    return outcome;
  }
  DWORD timeout = timeoutMs >= INFINITE ? INFINITE - 1 : timeoutMs;
  long r = WaitForAny(handles, timeout);
  StopWatching(watched, watchedCount);
  if (r == -2) return outcome;
  if (r == -1) {
    outcome.kind = WaitOutcome::Timeout;
    return outcome;
  }
  std::size_t index = static_cast<std::size_t>(r);
  if (watchedCount != 0 && index == dataAt) {
    outcome.kind = WaitOutcome::Readable;
    return outcome;
  }
  if (index < count) {
    // The wait consumed the auto-reset event.
    outcome.kind = WaitOutcome::Event;
    outcome.eventIndex = index;
    return outcome;
  }
  WSANETWORKEVENTS happened;
  if (WSAEnumNetworkEvents(listener, t_listenEvent.handle, &happened) != 0) return outcome;
  if ((happened.lNetworkEvents & FD_ACCEPT) != 0 && happened.iErrorCode[FD_ACCEPT_BIT] == 0) {
    outcome.kind = WaitOutcome::Connection;
  } else if (happened.lNetworkEvents == 0) {
    // Nothing left to take (another thread was quicker): no news.
    outcome.kind = WaitOutcome::Timeout;
  }
  return outcome;
}

}  // namespace platform
