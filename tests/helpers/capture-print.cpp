// Writes its arguments to standard output, each in one write, with "\r" and
// "\n" decoded. "--err" sends the following arguments to standard error,
// "--out" back to standard output.
#include "platform/Process.h"

#include <cstdio>
#include <string>

namespace {
std::string Decode(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '\\' && (p[1] == 'r' || p[1] == 'n')) out += *++p == 'r' ? '\r' : '\n';
    else out += *p;
  }
  return out;
}
}  // namespace

int main(int argc, char** argv) {
  platform::SetBinaryStandardStreams();  // the bytes exactly as decoded
  static char outBuffer[1 << 16], errBuffer[1 << 16];
  std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
  std::setvbuf(stderr, errBuffer, _IOFBF, sizeof errBuffer);
  std::FILE* target = stdout;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--err" || arg == "--out") {
      target = arg == "--err" ? stderr : stdout;
      continue;
    }
    std::string text = Decode(argv[i]);
    std::fwrite(text.data(), 1, text.size(), target);
    std::fflush(target);
  }
  return 0;
}
