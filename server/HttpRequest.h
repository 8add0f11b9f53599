// One parsed HTTP request in fixed-size fields, and reading a request body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class IOBase;

class URLParse {
 public:
  static constexpr std::size_t kMethodSize = 100;
  static constexpr std::size_t kPathSize = 10240;
  static constexpr std::size_t kQuerySize = 10240;
  static constexpr std::size_t kHeaderStoreSize = 4096;
  static constexpr std::size_t kMaxHeaders = 15;
  static constexpr std::size_t kLineSize = 10240;

  // Results of ReadRequest.
  enum : int { kRequestRead = 0, kEndOfInput = 1, kMalformed = 2 };

  URLParse();
  URLParse(const URLParse& other);
  URLParse& operator=(const URLParse& other);

  // Reads the request line and headers (not the body).
  int ReadRequest(IOBase& io);

  const char* Method() const { return method_; }
  const char* Path() const { return path_; }
  // The raw query without "?"; null when there is none.
  const char* Query() const { return query_[0] != '\0' ? query_ : nullptr; }
  const char* const* HeaderNames() const { return headerNames_; }
  const char* const* HeaderValues() const { return headerValues_; }
  std::uint32_t HeaderCount() const { return headerCount_; }

 private:
  void Clear();
  bool AddHeader(const std::string& name, const std::string& value);
  bool ContinueHeader(const std::string& more);

  char method_[kMethodSize];
  char path_[kPathSize];
  char headerStore_[kHeaderStoreSize];
  char query_[kQuerySize];
  const char* headerNames_[kMaxHeaders + 1];
  const char* headerValues_[kMaxHeaders + 1];
  std::uint32_t headerCount_ = 0;
  std::size_t storeUsed_ = 0;
};

// The verb of a method, as pages are asked about it: GET and POST with
// letter case ignored, anything else "other".
enum RequestVerb : unsigned { kVerbOther = 0, kVerbGet = 1, kVerbPost = 2 };
RequestVerb VerbOf(const char* method);

// Value of a header, looked up without regard to case; null when absent.
const char* FindHeader(const char* const* names, const char* const* values, const char* name);

// Reads the body that Content-Length announces into output; true when a
// body was read (also when the input ended early: output holds what came).
bool ReadBody(IOBase& io, const char* const* names, const char* const* values, std::string& output);

// Reads past what is left unread of the body Content-Length announces, so
// that the next request on a stream starts where this one's body ends.
void SkipUnreadBody(IOBase& io, const char* const* names, const char* const* values);
