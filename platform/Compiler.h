// What the compiler can be told or asked beyond the language: format
// checking and prefetching. Code elsewhere uses
// these names and never the compiler's own extensions.
#pragma once

// Marks a function whose argument formatIndex (counted from 1) is a printf
// format for the arguments from firstArgument on, so that calls are checked.
#if defined(__GNUC__)
#define PROVIDER_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PROVIDER_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace platform {

// Starts fetching `lines` cache lines (64 bytes each) from address on, so
// that a later miss overlaps the work in between. Only a hint.
inline void Prefetch(const void* address, int lines = 1) {
#if defined(__GNUC__)
  const char* bytes = static_cast<const char*>(address);
  for (int i = 0; i < lines; ++i) __builtin_prefetch(bytes + 64 * i);
#else
  (void)address;
  (void)lines;
#endif
}

}  // namespace platform
