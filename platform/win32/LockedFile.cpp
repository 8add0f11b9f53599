#include "platform/LockedFile.h"

#include <windows.h>

namespace platform {

namespace {
HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Others may rename or delete the file but never open it: the lock holder
// puts a new file in its place that way.
const DWORD kShareMode = FILE_SHARE_DELETE;

bool WriteAll(HANDLE file, const char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    DWORD chunk = length - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length - done);
    DWORD n = 0;
    if (!WriteFile(file, data + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

bool WriteInPlace(HANDLE file, const char* data, std::size_t length) {
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  if (!SetEndOfFile(file)) return false;
  return WriteAll(file, data, length);
}

// The layout of FILE_RENAME_INFO with its flags word.
struct RenameInformation {
  DWORD flags;
  HANDLE rootDirectory;
  DWORD fileNameLength;
  WCHAR fileName[1];
};
const FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
const DWORD kRenameReplaceIfExists = 0x1;
const DWORD kRenamePosixSemantics = 0x2;

// Gives the open file the name target, replacing the file there even while
// that one is open (its openers allowed it to be deleted).
bool RenameOver(HANDLE file, const std::string& target) {
  char full[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(target.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return false;
  int wide = MultiByteToWideChar(CP_ACP, 0, full, -1, nullptr, 0);
  if (wide <= 0) return false;
  std::size_t bytes = sizeof(RenameInformation) + static_cast<std::size_t>(wide) * sizeof(WCHAR);
  std::string storage(bytes, '\0');
  auto* info = reinterpret_cast<RenameInformation*>(&storage[0]);
  MultiByteToWideChar(CP_ACP, 0, full, -1, info->fileName, wide);
  info->fileNameLength = static_cast<DWORD>((wide - 1) * sizeof(WCHAR));
  // The file system's own replace keeps the old file's openers apart; the
  // older call without it refuses a target that is open.
  info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
  if (SetFileInformationByHandle(file, kFileRenameInfoEx, info, static_cast<DWORD>(bytes))) return true;
  info->flags = TRUE;  // ReplaceIfExists of the plain call
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(bytes)) != 0;
}
}  // namespace

LockedFile::~LockedFile() { Close(); }

LockedFile::OpenResult LockedFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return OpenResult::Failed;
  // No sharing with any other opener, for reading or writing; the handle is
  // not inherited (null security attributes).
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareMode, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? OpenResult::Busy
                                                                             : OpenResult::Failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  // Resolved now, so that a later change of folder cannot redirect the save.
  char full[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  path_ = length > 0 && length < sizeof full ? std::string(full, length) : path;
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
  replacedWhole_ = false;
  if (handle_ < 0) return false;
  HANDLE file = Handle(handle_);
  if (GetFileType(file) != FILE_TYPE_DISK) return WriteInPlace(file, data, length);
  // The new content goes to a file of its own, which takes the old one's
  // name once complete: a kill at any moment leaves one or the other whole.
  // Only the lock holder writes the temporary file, so its name is fixed.
  std::string temporary = path_ + ".tmp";
  HANDLE replacement = CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareMode,
                                   nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A folder this process may not create files in: the old way is all there is.
  if (replacement == INVALID_HANDLE_VALUE) return WriteInPlace(file, data, length);
  bool written = WriteAll(replacement, data, length) && FlushFileBuffers(replacement);
  if (written && RenameOver(replacement, path_)) {
    CloseHandle(file);
    handle_ = reinterpret_cast<std::intptr_t>(replacement);
    replacedWhole_ = true;
    return true;
  }
  FILE_DISPOSITION_INFO remove{TRUE};
  SetFileInformationByHandle(replacement, FileDispositionInfo, &remove, sizeof remove);
  CloseHandle(replacement);
  // A full disk keeps the former content; a name that cannot be replaced is
  // written the old way.
  return written && WriteInPlace(file, data, length);
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
