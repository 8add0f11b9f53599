#include "platform/WaitEvent.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
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
void StopWatching(const SocketHandle* watched, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    SOCKET socket = static_cast<SOCKET>(watched[i]);
    WSAEventSelect(socket, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
  }
}

// A wait for any of more handles than one system wait takes: groups of
// handles are waited for on helper threads, each of which also wakes on a
// shared release event; the first handle found set decides.
struct GroupWait {
  const HANDLE* handles;
  DWORD count;
  HANDLE release;
  HANDLE done;
  volatile LONG* winner;
  LONG offset;
};

DWORD WINAPI WaitForGroup(void* parameter) {
  GroupWait* wait = static_cast<GroupWait*>(parameter);
  std::vector<HANDLE> list(wait->handles, wait->handles + wait->count);
  list.push_back(wait->release);
  DWORD r = WaitForMultipleObjects(static_cast<DWORD>(list.size()), list.data(), FALSE, INFINITE);
  if (r < WAIT_OBJECT_0 + wait->count) {
    InterlockedCompareExchange(wait->winner, wait->offset + static_cast<LONG>(r - WAIT_OBJECT_0), -1);
    SetEvent(wait->done);
  }
  return 0;
}

// Like WaitForMultipleObjects for any one handle, without the limit on
// their number. Returns the index of a set handle, -1 on time-out, -2 on
// failure. An auto-reset handle that is found set is consumed.
long WaitForAny(const std::vector<HANDLE>& handles, DWORD timeout) {
  if (handles.size() <= MAXIMUM_WAIT_OBJECTS) {
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    if (r < WAIT_OBJECT_0 + handles.size()) return static_cast<long>(r - WAIT_OBJECT_0);
    if (r == WAIT_TIMEOUT) return -1;
    return -2;
  }
  const DWORD kGroup = MAXIMUM_WAIT_OBJECTS - 1;
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (release == nullptr || done == nullptr) {
    if (release) CloseHandle(release);
    if (done) CloseHandle(done);
    return -2;
  }
  volatile LONG winner = -1;
  std::vector<GroupWait> groups;
  for (std::size_t first = 0; first < handles.size(); first += kGroup) {
    DWORD count = static_cast<DWORD>(std::min<std::size_t>(kGroup, handles.size() - first));
    groups.push_back({handles.data() + first, count, release, done, &winner, static_cast<LONG>(first)});
  }
  std::vector<HANDLE> threads;
  bool failed = false;
  for (GroupWait& group : groups) {
    HANDLE thread = CreateThread(nullptr, 0, WaitForGroup, &group, 0, nullptr);
    if (thread == nullptr) {
      failed = true;
      break;
    }
    threads.push_back(thread);
  }
  if (!failed) WaitForSingleObject(done, timeout);
  SetEvent(release);
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  CloseHandle(release);
  CloseHandle(done);
  if (failed) return -2;
  return winner >= 0 ? winner : -1;
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
                                      SocketHandle listenSocket, const SocketHandle* watched,
                                      std::size_t watchedCount, unsigned timeoutMs) {
  WaitOutcome outcome;
  std::vector<HANDLE> handles;
  for (std::size_t i = 0; i < count; ++i) handles.push_back(WaitAccess::Handle(*events[i]));
  SOCKET listener = static_cast<SOCKET>(listenSocket);
  if (listenSocket != kInvalidSocket) {
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
      if (WSAEventSelect(static_cast<SOCKET>(watched[i]), t_dataEvent.handle, FD_READ | FD_CLOSE) != 0) {
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
