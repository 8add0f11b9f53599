// Writing HTTP responses on a request channel.
#pragma once

#include <cstddef>

class IOBase;

// Status line, Content-Length when a body is given, the page's headers, an
// empty line, then the body. 0 on success, -1 when writing failed or the
// headers do not fit the 4096-byte header block (nothing is written then).
int WriteStandardResponse(IOBase& io, const char* status, const char* body, std::size_t bodyLength,
                          const char* const* headerNames = nullptr, const char* const* headerValues = nullptr);
