#include "platform/NamedEvent.h"

#include <windows.h>

namespace platform {

NamedEvent::~NamedEvent() { Close(); }

bool NamedEvent::Create(const std::string& name) {
  Close();
  // Manual reset, not signalled. An event of that name that still exists is
  // taken over and cleared.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  if (event == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) ResetEvent(event);
  handle_ = event;
  name_ = name;
  created_ = true;
  return true;
}

bool NamedEvent::OpenExisting(const std::string& name) {
  Close();
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
  if (event == nullptr) return false;
  handle_ = event;
  name_ = name;
  created_ = false;
  return true;
}

bool NamedEvent::Set() { return handle_ != nullptr && SetEvent(static_cast<HANDLE>(handle_)) != 0; }

void NamedEvent::Reset() {
  if (handle_ != nullptr) ResetEvent(static_cast<HANDLE>(handle_));
}

bool NamedEvent::Wait(unsigned timeoutMilliseconds) {
  if (handle_ == nullptr) return false;
  return WaitForSingleObject(static_cast<HANDLE>(handle_), timeoutMilliseconds) == WAIT_OBJECT_0;
}

void NamedEvent::Close() {
  // The name goes away with the last handle to the event.
  if (handle_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
  }
  created_ = false;
}

}  // namespace platform
