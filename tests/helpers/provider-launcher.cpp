// Starts a program the way the collector starts a provider: creates the
// ready event for the port, starts the program, and waits for the event.
// Prints "ready" or "timeout". The program is stopped when this launcher's
// standard input ends.
//   provider-launcher PORT TIMEOUT_MS PROGRAM [ARGS...]
#include "platform/ChildProcess.h"
#include "platform/NamedEvent.h"
#include "platform/Process.h"
#include "process/Unicorn.h"

#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PORT TIMEOUT_MS PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  platform::SetBinaryStandardStreams();  // lines end in "\n" alone
  unsigned port = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
  unsigned timeout = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  platform::NamedEvent ready;
  if (!ready.Create(ReadySignal::EventName(port))) return std::fprintf(stderr, "cannot create the ready event\n"), 2;
  platform::ChildProcess child;
  platform::ChildProcessOptions options;
  options.input = platform::ChildProcessOptions::Stream::Null;
  if (!child.Start(testing_support::CommandLineOf(std::vector<std::string>(argv + 3, argv + argc)), options))
    return std::fprintf(stderr, "cannot start %s\n", argv[3]), 2;
  std::puts(ready.Wait(timeout) ? "ready" : "timeout");
  std::fflush(stdout);
  char buffer[256];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) continue;
  if (!child.Wait(0, nullptr)) {
    child.Kill();
    child.Wait(-1, nullptr);
  }
  return 0;
}
