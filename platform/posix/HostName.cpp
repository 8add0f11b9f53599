#include "platform/HostName.h"

#include <unistd.h>

namespace platform {

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

}  // namespace platform
