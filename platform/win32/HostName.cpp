#include "platform/HostName.h"

#include <windows.h>

namespace platform {

std::string HostName() {
  // The DNS host name, as a browser on this machine would write it; it
  // needs no socket library.
  char name[256] = "";
  DWORD size = sizeof name;
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string();
  return std::string(name, size);
}

}  // namespace platform
