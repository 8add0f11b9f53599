// Prints the access-log date of a time given in seconds since 1970, so that
// tests can run it under several TZ settings.
#include "platform/Process.h"
#include "server/LogDate.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  platform::SetBinaryStandardStreams();  // the bytes as printed
  char text[64];
  std::int32_t when = argc > 1 ? static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10)) : 0;
  std::printf("%s\n", FormatLogDate(text, sizeof text, when));
  return 0;
}
