// Checks of the fuzz targets: a failed one prints what and where, then
// aborts, which libFuzzer records as a crash with its input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line,
                                         const std::string& detail) {
  std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", condition, file, line);
  if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
  std::abort();
}

#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) FuzzCheckFailed(#condition, __FILE__, __LINE__, std::string()); \
  } while (0)

// detail is any expression giving a std::string, evaluated only on failure.
#define FUZZ_CHECK_DETAIL(condition, detail)                                    \
  do {                                                                          \
    if (!(condition)) FuzzCheckFailed(#condition, __FILE__, __LINE__, (detail)); \
  } while (0)

// Bytes shown with non-printable ones as \xHH, cut to a readable length.
inline std::string Printable(const std::string& bytes, std::size_t limit = 400) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (bytes.size() > limit) out += "...";
  return out;
}
