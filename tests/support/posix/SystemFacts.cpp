#include "TestSupport.h"

#include <dirent.h>
#include <stdlib.h>

namespace testing_support {

bool SetEnvironmentValue(const char* name, const char* value) {
  if (name == nullptr || *name == '\0') return false;
  if (value == nullptr) return unsetenv(name) == 0;
  return setenv(name, value, 1) == 0;
}

namespace {
std::size_t CountEntries(const char* directory) {
  DIR* dir = opendir(directory);
  if (dir == nullptr) return 0;
  std::size_t count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}
}  // namespace

// The directory stream itself holds one descriptor while counting.
std::size_t CountOpenHandles() { return CountEntries("/proc/self/fd") - 1; }

std::size_t CountThreads() { return CountEntries("/proc/self/task"); }

}  // namespace testing_support
