// Case-insensitive comparisons, classes and trimming of ASCII text (header
// names, methods, keys, host names, character references, tool output).
// Every layer uses these; they do not depend on the system.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>

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

// The white space that Trim removes: ASCII only, whatever the locale.
inline bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline void TrimRight(std::string& text) {
  while (!text.empty() && IsAsciiSpace(text.back())) text.pop_back();
}

// The text without white space at either end.
inline std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsAsciiSpace(text[begin])) ++begin;
  while (end > begin && IsAsciiSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}
