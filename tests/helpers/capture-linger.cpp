// Prints its process id, closes standard output and standard error, and
// keeps running until the file named by its argument exists (two minutes
// at most).
#include "platform/Process.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::printf("pid %u\n", static_cast<unsigned>(platform::CurrentProcessId()));
  std::fflush(stdout);
  std::fprintf(stderr, "closing my output\n");
  std::fclose(stdout);
  std::fclose(stderr);
  for (int waited = 0; waited < 120000; waited += 10) {
    if (std::ifstream(argv[1]).good()) return 0;
    platform::SleepMilliseconds(10);
  }
  return 1;
}
