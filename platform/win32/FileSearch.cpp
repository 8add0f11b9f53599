#include "platform/FileSearch.h"

#include <windows.h>

// The system names its own function after the ANSI one.
#undef FindFirstFile

namespace platform {

char PreferredSeparator() { return '\\'; }

std::string FindFirstFile(const std::string& pattern) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return std::string();
  std::string found;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      found = entry.cFileName;
      break;
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

}  // namespace platform
