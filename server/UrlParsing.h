// Taking URLs apart, percent-decoding, and query strings as maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Outputs of SplitUrl; a null buffer means the part is not wanted. Every
// given output starts empty and is cut to its buffer size.
struct SplitUrlOutputs {
  char* scheme = nullptr;
  std::size_t schemeSize = 0;
  char* user = nullptr;
  std::size_t userSize = 0;
  char* password = nullptr;
  std::size_t passwordSize = 0;
  char* host = nullptr;
  std::size_t hostSize = 0;
  std::uint16_t* port = nullptr;  // 0 = none
  char* path = nullptr;
  std::size_t pathSize = 0;
  char* remainder = nullptr;  // from the first "?", "#" or ";" on
  std::size_t remainderSize = 0;
};

// Returns 0, or 1 when a port is present but invalid.
int SplitUrl(const char* url, const SplitUrlOutputs& outputs);

// Undoes percent-encoding and "+" for space. Writes at most size - 1 bytes and
// a NUL (output may be null to count only); returns the source characters
// consumed plus 1.
std::size_t UrlDecode(char* output, std::size_t size, const char* source);

// Percent-encodes every byte but letters, digits and "-_.~", then cuts the
// result to at most maxLength characters (never inside an escape).
std::string UrlEncode(const std::string& text, std::size_t maxLength = std::string::npos);

class QueryStringMap {
 public:
  explicit QueryStringMap(const char* query);

  bool Has(const std::string& name) const;
  // The value, or the empty text when the name is absent.
  const std::string& Value(const std::string& name) const;
  // Appends the values of the null-terminated names in order; false at the
  // first absent name (values already appended stay).
  bool GetAll(const char* const* names, std::vector<std::string>& values) const;
  std::size_t Size() const { return entries_.size(); }

 private:
  std::map<std::string, std::string> entries_;
};
