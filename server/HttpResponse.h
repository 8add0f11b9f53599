// Writing HTTP responses on a request channel.
#pragma once

#include <cstddef>

class IOBase;

// The status codes the server and the pages answer with.
enum HttpStatus : unsigned {
  kHttpOk = 200,
  kHttpNoContent = 204,
  kHttpNotModified = 304,
  kHttpBadRequest = 400,
  kHttpNotFound = 404,
  kHttpMethodNotAllowed = 405,
  kHttpExpectationFailed = 417,
  kHttpInternalError = 500,
};
class ProviderErrorList;
class XMLAccumulator;

// Status line, Content-Length when a body is given, the page's headers, an
// empty line, then the body. 0 on success, -1 when writing failed or the
// headers do not fit the 4096-byte header block (nothing is written then).
int WriteStandardResponse(IOBase& io, const char* status, const char* body, std::size_t bodyLength,
                          const char* const* headerNames = nullptr, const char* const* headerValues = nullptr);

// The standard XML reply: the error list (compact XML, nothing when empty or
// absent) followed by the builder's document, as one body.
int WriteXmlResponse(IOBase& io, const char* status, const ProviderErrorList* errors, const XMLAccumulator* xml,
                     const char* const* headerNames = nullptr, const char* const* headerValues = nullptr);
