// Case-insensitive comparisons and classes of ASCII text (header names,
// methods, keys, host names, character references).
#pragma once

#include <cctype>
#include <cstddef>

inline bool EqualsNoCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// True when text begins with prefix, compared without case.
inline bool StartsWithNoCase(const char* text, const char* prefix, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '\0') return false;
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

inline bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
