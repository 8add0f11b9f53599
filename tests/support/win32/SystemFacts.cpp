#include "TestSupport.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>

namespace testing_support {

bool SetEnvironmentValue(const char* name, const char* value) {
  if (name == nullptr || *name == '\0') return false;
  // Both copies, so that getenv and children agree.
  std::string entry = std::string(name) + "=" + (value ? value : "");
  _putenv(entry.c_str());
  return SetEnvironmentVariableA(name, value) != 0;
}

std::size_t CountOpenHandles() {
  DWORD count = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return 0;
  return count;
}

std::size_t CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  std::size_t count = 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ++count;
  CloseHandle(snapshot);
  return count;
}

}  // namespace testing_support
