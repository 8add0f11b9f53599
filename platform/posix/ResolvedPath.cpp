#include "platform/ResolvedPath.h"

#include <cstdlib>
#include <sys/stat.h>

namespace platform {

PathKind ResolvePath(const std::string& path, std::string* resolved) {
  if (path.empty()) return PathKind::Missing;
  char* full = realpath(path.c_str(), nullptr);
  if (full == nullptr) return PathKind::Missing;
  *resolved = full;
  std::free(full);
  struct stat info;
  if (stat(resolved->c_str(), &info) != 0) return PathKind::Missing;
  if (S_ISREG(info.st_mode)) return PathKind::RegularFile;
  if (S_ISDIR(info.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

bool PathIsWithin(const std::string& resolvedPath, const std::string& resolvedFolder) {
  if (resolvedFolder.empty() || resolvedPath.size() <= resolvedFolder.size()) return false;
  if (resolvedPath.compare(0, resolvedFolder.size(), resolvedFolder) != 0) return false;
  return resolvedFolder.back() == '/' || resolvedPath[resolvedFolder.size()] == '/';
}

}  // namespace platform
