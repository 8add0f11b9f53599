// Prints its process id and leaves at once, after starting a copy of itself
// that shares its output and prints a last line a moment later.
#include "platform/ChildProcess.h"
#include "platform/Process.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "late") == 0) {
    platform::SleepMilliseconds(300);
    std::printf("late line from the child\n");
    return 0;
  }
  std::printf("pid %u\n", static_cast<unsigned>(platform::CurrentProcessId()));
  std::fflush(stdout);
  platform::ChildProcess child;
  platform::ChildProcessOptions options;
  options.input = platform::ChildProcessOptions::Stream::Null;
  options.detachOnDestroy = true;
  if (!child.Start("\"" + platform::ModuleFilePath() + "\" late", options)) return 1;
  std::printf("parent leaving\n");
  return 0;
}
