#include "platform/ResolvedPath.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// "\\?\C:\x" becomes "C:\x", "\\?\UNC\server\share" "\\server\share".
std::string WithoutLongPrefix(const std::string& path) {
  if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\" + path.substr(7);
  if (path.compare(0, 4, "\\\\?\\") == 0) return path.substr(4);
  return path;
}
}  // namespace

PathKind ResolvePath(const std::string& path, std::string* resolved) {
  if (path.empty()) return PathKind::Missing;
  // Opening follows links; backup semantics open folders too. No access
  // is asked for, so nothing is read and no sharing is denied.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return PathKind::Missing;
  PathKind kind = PathKind::Missing;
  std::vector<char> buffer(MAX_PATH);
  DWORD length = GetFinalPathNameByHandleA(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetFinalPathNameByHandleA(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (length > 0 && length < buffer.size() && GetFileInformationByHandle(file, &info)) {
    *resolved = WithoutLongPrefix(std::string(buffer.data(), length));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      kind = PathKind::Directory;
    else if (GetFileType(file) == FILE_TYPE_DISK && (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0)
      kind = PathKind::RegularFile;
    else
      kind = PathKind::Other;
  }
  CloseHandle(file);
  return kind;
}

bool PathIsWithin(const std::string& resolvedPath, const std::string& resolvedFolder) {
  if (resolvedFolder.empty() || resolvedPath.size() <= resolvedFolder.size()) return false;
  // Both were written by the system from the names on disk, so they agree
  // but for the case of a drive letter; any other difference refuses.
  for (std::size_t i = 0; i < resolvedFolder.size(); ++i) {
    char a = resolvedPath[i], b = resolvedFolder[i];
    if (IsSeparator(a) && IsSeparator(b)) continue;
    if (Folded(a) != Folded(b)) return false;
  }
  return IsSeparator(resolvedFolder.back()) || IsSeparator(resolvedPath[resolvedFolder.size()]);
}

}  // namespace platform
