// Prints how many handles (descriptors) it has open, the inherited ones
// among them.
#include "TestSupport.h"

#include <cstdio>

int main() {
  std::printf("%zu\n", testing_support::CountOpenHandles());
  return 0;
}
