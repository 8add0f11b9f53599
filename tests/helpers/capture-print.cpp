// Writes its arguments to standard output, each in one write, with C escapes
// decoded (\r \n \t \\ \xHH). "--err" sends the following arguments to
// standard error, "--out" back to standard output.
#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string Decode(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '\\' || p[1] == '\0') {
      out += *p;
      continue;
    }
    ++p;
    switch (*p) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'x': {
        char hex[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
        out += static_cast<char>(std::strtol(hex, nullptr, 16));
        p += hex[1] ? 2 : 1;
        break;
      }
      default: out += *p; break;
    }
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
