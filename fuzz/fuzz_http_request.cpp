// Request reading: ReadRequest and ReadBody over an in-memory channel, one
// request as on a socket or several in a row as on standard input. The
// first byte picks the channel's behaviour; the rest is the input.
#include "server/HttpRequest.h"
#include "server/IOChannel.h"
#include "server/UrlParsing.h"
#include "support/FuzzCheck.h"
#include "support/MemoryChannel.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool Inside(const void* pointer, const void* object, std::size_t size) {
  const char* p = static_cast<const char*>(pointer);
  const char* begin = static_cast<const char*>(object);
  return p >= begin && p < begin + size;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

void CheckRequest(const URLParse& request) {
  FUZZ_CHECK(strnlen(request.Method(), URLParse::kMethodSize) < URLParse::kMethodSize);
  for (const char* c = request.Method(); *c != '\0'; ++c) FUZZ_CHECK(!IsSpace(*c));
  FUZZ_CHECK(strnlen(request.Path(), URLParse::kPathSize) < URLParse::kPathSize);
  if (request.Query() != nullptr) {
    FUZZ_CHECK(request.Query()[0] != '\0');
    FUZZ_CHECK(strnlen(request.Query(), URLParse::kQuerySize) < URLParse::kQuerySize);
  }
  const std::uint32_t count = request.HeaderCount();
  FUZZ_CHECK(count <= URLParse::kMaxHeaders);
  const char* const* names = request.HeaderNames();
  const char* const* values = request.HeaderValues();
  std::size_t stored = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    FUZZ_CHECK(names[i] != nullptr && values[i] != nullptr);
    // The arrays point into the object's own store, also in a copy.
    FUZZ_CHECK(Inside(names[i], &request, sizeof request));
    FUZZ_CHECK(Inside(values[i], &request, sizeof request));
    const std::size_t nameLength = std::strlen(names[i]);
    FUZZ_CHECK(nameLength > 0);
    FUZZ_CHECK(!IsSpace(names[i][0]) && !IsSpace(names[i][nameLength - 1]));
    FUZZ_CHECK(std::strchr(names[i], ':') == nullptr);
    stored += nameLength + 1 + std::strlen(values[i]) + 1;
  }
  FUZZ_CHECK(stored < URLParse::kHeaderStoreSize);
  FUZZ_CHECK(names[count] == nullptr && values[count] == nullptr);
}

void CheckSameRequest(const URLParse& a, const URLParse& b) {
  FUZZ_CHECK(std::strcmp(a.Method(), b.Method()) == 0);
  FUZZ_CHECK(std::strcmp(a.Path(), b.Path()) == 0);
  FUZZ_CHECK((a.Query() == nullptr) == (b.Query() == nullptr));
  if (a.Query() != nullptr) FUZZ_CHECK(std::strcmp(a.Query(), b.Query()) == 0);
  FUZZ_CHECK(a.HeaderCount() == b.HeaderCount());
  for (std::uint32_t i = 0; i < a.HeaderCount(); ++i) {
    FUZZ_CHECK(std::strcmp(a.HeaderNames()[i], b.HeaderNames()[i]) == 0);
    FUZZ_CHECK(std::strcmp(a.HeaderValues()[i], b.HeaderValues()[i]) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const bool stdio = (mode & 1) != 0;
  static const std::size_t kPieces[8] = {0, 1, 2, 3, 7, 64, 1000, 1024};
  MemoryChannel io(data + 1, size - 1, stdio ? IOBase::kStdio : IOBase::kSocket,
                   (mode & 2) != 0 ? MemoryChannel::PartialLine::Returned : MemoryChannel::PartialLine::Dropped,
                   kPieces[(mode >> 2) & 7]);

  // About 25 KB: kept off the stack as the server keeps it.
  auto request = std::make_unique<URLParse>();
  for (int number = 0; number < 16; ++number) {
    io.Write("reply", 5);
    const int result = request->ReadRequest(io);
    FUZZ_CHECK(result == URLParse::kRequestRead || result == URLParse::kEndOfInput ||
               result == URLParse::kMalformed);
    if (result != URLParse::kRequestRead) break;
    FUZZ_CHECK(io.RequestBytesWritten() == 0);
    CheckRequest(*request);

    auto copy = std::make_unique<URLParse>(*request);
    CheckRequest(*copy);
    CheckSameRequest(*request, *copy);
    auto assigned = std::make_unique<URLParse>();
    *assigned = *copy;
    copy.reset();
    CheckRequest(*assigned);
    CheckSameRequest(*request, *assigned);

    QueryStringMap query(request->Query());
    (void)query.Size();

    const char* length = FindHeader(request->HeaderNames(), request->HeaderValues(), "content-length");
    const std::size_t before = io.Remaining();
    std::string body = "old";
    const bool read = ReadBody(io, request->HeaderNames(), request->HeaderValues(), body);
    if (length == nullptr || std::strtoll(length, nullptr, 10) <= 0) {
      FUZZ_CHECK(!read);
      FUZZ_CHECK(io.Remaining() == before);
    } else {
      FUZZ_CHECK(read);
      const unsigned long long announced = std::strtoull(length, nullptr, 10);
      FUZZ_CHECK(body.size() <= announced);
      FUZZ_CHECK(body.size() == before - io.Remaining());
      // Everything announced that the input held arrived.
      FUZZ_CHECK(body.size() == announced || io.Remaining() == 0);
    }
    if (!stdio) break;
  }
  return 0;
}
