#include "server/HttpResponse.h"

#include "process/DiagLog.h"
#include "server/IOChannel.h"
#include "config/ProviderError.h"
#include "config/XMLAccumulator.h"

#include <string>

#include <cstdio>
#include <cstring>

namespace {
const std::size_t kHeaderBlockSize = 4096;

// Appends formatted text; false when it does not fit.
bool Append(char* block, std::size_t& used, const char* format, const char* a, const char* b = "") {
  int n = std::snprintf(block + used, kHeaderBlockSize - used, format, a, b);
  if (n < 0 || used + static_cast<std::size_t>(n) >= kHeaderBlockSize) return false;
  used += static_cast<std::size_t>(n);
  return true;
}
}  // namespace

int WriteStandardResponse(IOBase& io, const char* status, const char* body, std::size_t bodyLength,
                          const char* const* headerNames, const char* const* headerValues) {
  char block[kHeaderBlockSize];
  std::size_t used = 0;
  bool fits = Append(block, used, "HTTP/1.1 %s\r\n", status);
  if (body != nullptr) {
    DiagLog(kLogInputOutput, "Standard Response Body Length is %u]\n", static_cast<unsigned>(bodyLength));
    char length[32];
    std::snprintf(length, sizeof length, "%u", static_cast<unsigned>(bodyLength));
    fits = fits && Append(block, used, "Content-Length:%s\r\n", length);
  }
  if (headerNames != nullptr && headerValues != nullptr) {
    for (std::size_t i = 0; fits && headerNames[i] != nullptr && headerValues[i] != nullptr; ++i)
      fits = Append(block, used, "%s:%s\r\n", headerNames[i], headerValues[i]);
  }
  fits = fits && Append(block, used, "%s", "\r\n");
  if (!fits) {
    DiagLog(kLogCore, "%s Response headers do not fit the header block; response refused\n", io.Name());
    return -1;
  }
  // A body that fits behind the header block goes out with it: one send,
  // one segment, one wake-up of the client instead of two.
  const bool together = body != nullptr && bodyLength != 0 && bodyLength <= kHeaderBlockSize - used;
  if (together) {
    DiagLog(kLogInputOutput, "Standard Response WriteBody(%d bytes)\n", static_cast<int>(bodyLength));
    std::memcpy(block + used, body, bodyLength);
  }
  if (io.Write(block, together ? used + bodyLength : used) <= 0) {
    DiagLog(kLogCore, "%s Error writing standard response header\n", io.Name());
    return -1;
  }
  if (body != nullptr && bodyLength != 0 && !together) {
    DiagLog(kLogInputOutput, "Standard Response WriteBody(%d bytes)\n", static_cast<int>(bodyLength));
    if (io.Write(body, bodyLength) <= 0) {
      DiagLog(kLogCore, "%s Error writing standard response body\n", io.Name());
      return -1;
    }
  }
  return 0;
}

int WriteXmlResponse(IOBase& io, const char* status, const ProviderErrorList* errors, const XMLAccumulator* xml,
                     const char* const* headerNames, const char* const* headerValues) {
  std::string body;
  if (errors != nullptr) errors->AppendXml(body);
  if (xml != nullptr) xml->AppendXml(body, 0);
  return WriteStandardResponse(io, status, body.data(), body.size(), headerNames, headerValues);
}
