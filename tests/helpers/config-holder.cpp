// Holds a configuration file for update on behalf of a test, in a process of
// its own.
//
//   config-holder <directory> <file> <value> <wait> [write|abandon]
//
// Loads the file for update (waiting up to 20 seconds), prints "locked",
// waits (<wait> is "stdin": until a line or the end of standard input;
// otherwise milliseconds), then either sets key "value" of section "holder"
// and writes the file ("written"), or ends without writing ("abandoned").
// Exit codes: 0 done, 1 write failed, 2 lock not obtained, 3 usage.
#include "config/ConfigurationFile.h"
#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  platform::SetBinaryStandardStreams();  // lines end in "\n" alone
  if (argc < 5) {
    std::fprintf(stderr, "usage: config-holder directory file value wait [write|abandon]\n");
    return 3;
  }
  bool write = argc < 6 || std::strcmp(argv[5], "abandon") != 0;
  ConfigurationFile file(argv[1], argv[2]);
  if (!file.LoadForUpdate(ConfigurationFile::kUpdateTimeout)) return std::printf("busy\n"), 2;
  std::printf("locked\n");
  std::fflush(stdout);

  char line[256];
  if (std::strcmp(argv[4], "stdin") == 0) (void)!std::fgets(line, sizeof line, stdin);  // the end of input goes ahead too
  else platform::SleepMilliseconds(static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
  if (!write) return std::printf("abandoned\n"), 0;
  file.SetValue(file.FindOrCreateSection(file.GetRoot(), "holder"), "value", argv[3]);
  bool written = file.WriteFile();
  std::printf(written ? "written\n" : "write failed\n");
  return written ? 0 : 1;
}
