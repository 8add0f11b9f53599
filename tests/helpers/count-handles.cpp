// Prints how many handles (descriptors) it has open, the inherited ones
// among them.
#include "platform/Process.h"

#include <cstdio>

int main() {
  std::printf("%zu\n", platform::CountOpenHandles());
  return 0;
}
