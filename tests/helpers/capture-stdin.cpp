// Reads standard input to its end and says how many bytes came. Gives up
// after 20 seconds if the input never ends.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/Process.h"

int main() {
  std::thread([] {
    platform::SleepMilliseconds(20000);
    std::printf("standard input never ended\n");
    std::fflush(stdout);
    std::_Exit(3);
  }).detach();
  long total = 0;
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) total += static_cast<long>(n);
  std::printf("read %ld bytes\n", total);
  return 0;
}
