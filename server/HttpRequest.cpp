#include "server/HttpRequest.h"

#include "process/DiagLog.h"
#include "server/IOChannel.h"
#include "platform/AsciiText.h"
#include "server/UrlParsing.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

URLParse::URLParse() { Clear(); }

URLParse::URLParse(const URLParse& other) { *this = other; }

URLParse& URLParse::operator=(const URLParse& other) {
  if (this == &other) return *this;
  std::memcpy(method_, other.method_, sizeof method_);
  std::memcpy(path_, other.path_, sizeof path_);
  std::memcpy(headerStore_, other.headerStore_, sizeof headerStore_);
  std::memcpy(query_, other.query_, sizeof query_);
  headerCount_ = other.headerCount_;
  storeUsed_ = other.storeUsed_;
  // The header arrays point into the store: point them into our own copy.
  for (std::size_t i = 0; i <= kMaxHeaders; ++i) {
    headerNames_[i] = other.headerNames_[i] ? headerStore_ + (other.headerNames_[i] - other.headerStore_) : nullptr;
    headerValues_[i] = other.headerValues_[i] ? headerStore_ + (other.headerValues_[i] - other.headerStore_) : nullptr;
  }
  return *this;
}

void URLParse::Clear() {
  method_[0] = path_[0] = query_[0] = headerStore_[0] = '\0';
  for (std::size_t i = 0; i <= kMaxHeaders; ++i) headerNames_[i] = headerValues_[i] = nullptr;
  headerCount_ = 0;
  storeUsed_ = 0;
}

bool URLParse::AddHeader(const std::string& name, const std::string& value) {
  std::size_t needed = name.size() + 1 + value.size() + 1;
  if (headerCount_ >= kMaxHeaders || storeUsed_ + needed >= kHeaderStoreSize) return false;
  char* namePlace = headerStore_ + storeUsed_;
  std::memcpy(namePlace, name.c_str(), name.size() + 1);
  char* valuePlace = namePlace + name.size() + 1;
  std::memcpy(valuePlace, value.c_str(), value.size() + 1);
  storeUsed_ += needed;
  headerNames_[headerCount_] = namePlace;
  headerValues_[headerCount_] = valuePlace;
  ++headerCount_;
  return true;
}

bool URLParse::ContinueHeader(const std::string& more) {
  // The last value is the last text in the store: extend it in place.
  std::size_t needed = 1 + more.size();
  if (storeUsed_ + needed >= kHeaderStoreSize) return false;
  char* end = headerStore_ + storeUsed_ - 1;  // its terminator
  *end = ' ';
  std::memcpy(end + 1, more.c_str(), more.size() + 1);
  storeUsed_ += needed;
  return true;
}

int URLParse::ReadRequest(IOBase& io) {
  Clear();
  std::vector<char> line(kLineSize);
  long n = io.ReadLine(line.data(), static_cast<long>(line.size()));
  if (n == 0) return kEndOfInput;
  if (n < 0) return kMalformed;

  std::string requestLine(line.data());
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (tokens.size() < 3) {
    while (pos < requestLine.size() && IsAsciiSpace(requestLine[pos])) ++pos;
    if (pos >= requestLine.size()) break;
    std::size_t end = pos;
    while (end < requestLine.size() && !IsAsciiSpace(requestLine[end])) ++end;
    tokens.push_back(requestLine.substr(pos, end - pos));
    pos = end;
  }
  std::string method = tokens.size() > 0 ? tokens[0] : std::string();
  std::string uri = tokens.size() > 1 ? tokens[1] : std::string();
  if (method.size() > kMethodSize - 1) return kMalformed;
  std::memcpy(method_, method.c_str(), method.size() + 1);

  std::vector<char> rawPath(kPathSize), remainder(kQuerySize);
  SplitUrlOutputs outputs;
  outputs.path = rawPath.data();
  outputs.pathSize = rawPath.size();
  outputs.remainder = remainder.data();
  outputs.remainderSize = remainder.size();
  if (SplitUrl(uri.c_str(), outputs) != 0) return kMalformed;
  UrlDecode(path_, sizeof path_, rawPath.data());
  const char* rest = remainder.data();
  const char* query = nullptr;
  if (rest[0] == '?')
    query = rest + 1;
  else if (rest[0] == '#' || rest[0] == ';')
    query = std::strchr(rest, '?') ? std::strchr(rest, '?') + 1 : nullptr;
  if (query != nullptr) {
    std::strncpy(query_, query, sizeof query_ - 1);
    query_[sizeof query_ - 1] = '\0';
  }

  for (;;) {
    n = io.ReadLine(line.data(), static_cast<long>(line.size()));
    if (n <= 0) return kEndOfInput;
    if (line[0] == '\r' || line[0] == '\n') break;
    std::string header(line.data());
    if (IsAsciiSpace(header[0])) {
      if (headerCount_ == 0) return kMalformed;
      if (!ContinueHeader(Trim(header))) return kMalformed;
      continue;
    }
    std::size_t colon = header.find(':');
    if (colon == std::string::npos) return kMalformed;
    std::string name = header.substr(0, colon);
    while (!name.empty() && IsAsciiSpace(name.back())) name.pop_back();
    if (name.empty()) return kMalformed;
    if (!AddHeader(name, Trim(header.substr(colon + 1)))) return kMalformed;
  }
  headerNames_[headerCount_] = nullptr;
  headerValues_[headerCount_] = nullptr;
  io.ResetRequestBytes();
  return kRequestRead;
}

RequestVerb VerbOf(const char* method) {
  if (EqualsNoCase(method, "GET")) return kVerbGet;
  if (EqualsNoCase(method, "POST")) return kVerbPost;
  return kVerbOther;
}

const char* FindHeader(const char* const* names, const char* const* values, const char* name) {
  if (names == nullptr || values == nullptr) return nullptr;
  for (std::size_t i = 0; names[i] != nullptr && values[i] != nullptr; ++i)
    if (EqualsNoCase(names[i], name)) return values[i];
  return nullptr;
}

bool ReadBody(IOBase& io, const char* const* names, const char* const* values, std::string& output) {
  const char* header = FindHeader(names, values, "Content-Length");
  if (header == nullptr) {
    DiagLog(kLogWarning, "ReadBody::Header content length not found!\n");
    return false;
  }
  long long announced = std::strtoll(header, nullptr, 10);
  if (announced <= 0) {
    DiagLog(kLogInputOutput, "ReadBody::Header content length ZERO found!\n");
    return false;
  }
  std::uint32_t length = announced > 0xffffffffLL ? 0xffffffffu : static_cast<std::uint32_t>(announced);
  DiagLog(kLogInputOutput, "ReadBody::Header content length is %u\n", length);
  output.clear();
  std::uint32_t remaining = length;
  char piece[1024];
  for (;;) {
    DiagLog(kLogInputOutput, "ReadBody::Expect Body length %u, Have %u so far\n", length,
            static_cast<std::uint32_t>(output.size()));
    if (output.size() >= length) break;
    std::uint32_t ask = remaining < sizeof piece ? remaining : static_cast<std::uint32_t>(sizeof piece);
    DiagLog(kLogInputOutput, "ReadBody::Body read requests %u bytes\n", ask);
    long got = io.Read(piece, static_cast<long>(ask));
    if (got <= 0) break;
    output.append(piece, static_cast<std::size_t>(got));
    remaining -= static_cast<std::uint32_t>(got);
  }
  DiagLog(kLogInputOutput, "ReadBody::Gets reads end of body ( %d bytes left )\n", static_cast<int>(remaining));
  DiagLog(kLogInputOutput, "ReadBody::data ( %s )\n", output.c_str());
  return true;
}

void SkipUnreadBody(IOBase& io, const char* const* names, const char* const* values) {
  const char* header = FindHeader(names, values, "Content-Length");
  if (header == nullptr) return;
  long long announced = std::strtoll(header, nullptr, 10);
  if (announced <= 0 || static_cast<std::uint64_t>(announced) <= io.RequestBytesRead()) return;
  std::uint64_t left = static_cast<std::uint64_t>(announced) - io.RequestBytesRead();
  char piece[1024];
  while (left > 0) {
    long got = io.Read(piece, static_cast<long>(left < sizeof piece ? left : sizeof piece));
    if (got <= 0) break;
    left -= static_cast<std::uint64_t>(got);
  }
}
