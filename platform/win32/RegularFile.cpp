#include "platform/RegularFile.h"

#include <windows.h>

namespace platform {

namespace {
HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

RegularFile::~RegularFile() { Close(); }

RegularFile::OpenResult RegularFile::Open(const std::string& path) {
  Close();
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return OpenResult::Failed;
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return OpenResult::NotRegular;
  // Opening a pipe or device does not wait (a busy pipe fails); the type
  // check below refuses it before any read.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return OpenResult::Failed;
  BY_HANDLE_FILE_INFORMATION information;
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return OpenResult::NotRegular;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  return OpenResult::Opened;
}

std::int64_t RegularFile::Read(char* buffer, std::size_t length) {
  if (handle_ == -1) return -1;
  std::size_t done = 0;
  while (done < length) {
    const std::size_t rest = length - done;
    DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
    DWORD read = 0;
    if (!ReadFile(Handle(handle_), buffer + done, chunk, &read, nullptr)) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    if (read == 0) break;
    done += read;
  }
  return static_cast<std::int64_t>(done);
}

void RegularFile::Close() {
  if (handle_ != -1) CloseHandle(Handle(handle_));
  handle_ = -1;
  size_ = 0;
}

}  // namespace platform
