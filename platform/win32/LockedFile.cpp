#include "platform/LockedFile.h"

#include <windows.h>

namespace platform {

namespace {
HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

LockedFile::~LockedFile() { Close(); }

LockedFile::OpenResult LockedFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return OpenResult::Failed;
  // No sharing with any other opener, for reading or writing; the handle is
  // not inherited (null security attributes).
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? OpenResult::Busy
                                                                             : OpenResult::Failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return OpenResult::Opened;
}

bool LockedFile::ReadAll(std::string& content) {
  content.clear();
  if (handle_ < 0) return false;
  if (SetFilePointer(Handle(handle_), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(Handle(handle_), buffer, sizeof buffer, &n, nullptr)) return false;
    if (n == 0) return true;
    content.append(buffer, n);
  }
}

bool LockedFile::ReplaceContent(const char* data, std::size_t length) {
  if (handle_ < 0) return false;
  HANDLE file = Handle(handle_);
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  if (!SetEndOfFile(file)) return false;
  std::size_t done = 0;
  while (done < length) {
    DWORD chunk = length - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length - done);
    DWORD n = 0;
    if (!WriteFile(file, data + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

bool LockedFile::Flush() {
  if (handle_ < 0) return false;
  if (FlushFileBuffers(Handle(handle_))) return true;
  // Devices such as NUL cannot be flushed; their data is with the system.
  DWORD error = GetLastError();
  return error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_FUNCTION;
}

bool LockedFile::Close() {
  if (handle_ < 0) return true;
  HANDLE file = Handle(handle_);
  handle_ = -1;
  return CloseHandle(file) != 0;
}

}  // namespace platform
