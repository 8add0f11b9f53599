#include "platform/FileSearch.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace platform {

char PreferredSeparator() { return '/'; }

std::string FindFirstFile(const std::string& pattern) {
  std::size_t cut = pattern.find_last_of("/\\");
  std::string folder = cut == std::string::npos ? "." : pattern.substr(0, cut);
  std::string mask = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (folder.empty()) folder = "/";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::string();
  std::string found;
  while (dirent* entry = readdir(dir)) {
    if (fnmatch(mask.c_str(), entry->d_name, FNM_PERIOD) != 0) continue;
    struct stat info;
    std::string full = folder + "/" + entry->d_name;
    if (stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    found = entry->d_name;
    break;
  }
  closedir(dir);
  return found;
}

}  // namespace platform
