#include "platform/SingleInstance.h"

#include <windows.h>

namespace platform {

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

SingleInstanceGuard::Result SingleInstanceGuard::Acquire(const std::string& uniqueName) {
  Release();
  // Every supported system is of the NT family, version 5 or later: the name
  // lives in the global namespace, seen across terminal sessions.
  std::string name = "Global\\" + uniqueName;
  HANDLE existing = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
  if (existing != nullptr) {
    CloseHandle(existing);
    return Result::HeldByAnother;
  }
  if (GetLastError() == ERROR_ACCESS_DENIED) return Result::AccessDenied;
  // Manual reset, created signalled.
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, name.c_str());
  if (event == nullptr) return GetLastError() == ERROR_ACCESS_DENIED ? Result::AccessDenied : Result::CreateFailed;
  // Created by another process between the open and the creation: that one
  // is the instance.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(event);
    return Result::HeldByAnother;
  }
  handle_ = reinterpret_cast<std::intptr_t>(event);
  return Result::Acquired;
}

void SingleInstanceGuard::Release() {
  if (handle_ >= 0) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
  }
}

}  // namespace platform
