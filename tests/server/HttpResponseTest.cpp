#include "server/HttpResponse.h"
#include "MemoryChannel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using WriteRecorder = testing_support::MemoryChannel;

TEST(WriteStandardResponse, SmallBodiesGoOutWithTheHeaderBlock) {
  WriteRecorder small;
  ASSERT_EQ(WriteStandardResponse(small, "200 OK", "hello", 5), 0);
  ASSERT_EQ(small.writes.size(), 1u);
  EXPECT_EQ(small.writes[0], "HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nhello");
  EXPECT_EQ(small.RequestBytesWritten(), small.writes[0].size());

  // A body that does not fit behind the header block follows it.
  std::string large(5000, 'b');
  WriteRecorder big;
  ASSERT_EQ(WriteStandardResponse(big, "200 OK", large.data(), large.size()), 0);
  ASSERT_EQ(big.writes.size(), 2u);
  EXPECT_EQ(big.writes[0], "HTTP/1.1 200 OK\r\nContent-Length:5000\r\n\r\n");
  EXPECT_EQ(big.writes[1], large);

  // Header block and body fill the 4096 bytes exactly.
  WriteRecorder exact;
  std::string fits(4096 - std::string("HTTP/1.1 200 OK\r\nContent-Length:4056\r\n\r\n").size(), 'f');
  ASSERT_EQ(fits.size(), 4056u);
  ASSERT_EQ(WriteStandardResponse(exact, "200 OK", fits.data(), fits.size()), 0);
  EXPECT_EQ(exact.writes.size(), 1u);
}

// A body that fits the block alone but not behind the headers is never
// copied into it (the sanitizer build sees any byte written past it).
TEST(WriteStandardResponse, BodiesJustBeyondTheBlockGoOutWhole) {
  for (std::size_t size : {4057u, 4096u}) {
    std::string body(size, 'x');
    body.back() = 'y';
    WriteRecorder io;
    ASSERT_EQ(WriteStandardResponse(io, "200 OK", body.data(), body.size()), 0);
    EXPECT_EQ(io.written, "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(size) + "\r\n\r\n" + body);
  }
}

}  // namespace
