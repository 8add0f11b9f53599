#include "server/HttpRequest.h"
#include "server/HttpResponse.h"

#include "MemoryChannel.h"

#include <gtest/gtest.h>


namespace {

using TextChannel = testing_support::MemoryChannel;

int Parse(const std::string& text, URLParse& request) {
  TextChannel io(text);
  return request.ReadRequest(io);
}

TEST(ReadRequest, RequestLineForms) {
  URLParse r;
  ASSERT_EQ(Parse("GET /status\n\n", r), 0);
  EXPECT_STREQ(r.Method(), "GET");
  EXPECT_EQ(r.HeaderNames()[0], nullptr);
  struct {
    std::string text;
    const char *path, *query;  // query null: none
  } forms[] = {
      {"GET /status\n\n", "/status", nullptr},
      {"POST /lvl1inventory?command=query&data=%2F%2Fa  HTTP/1.1  \r\n\r\n", "/lvl1inventory",
       "command=query&data=%2F%2Fa"},  // the query kept undecoded
      {"GET /a%20b+c HTTP/1.1\r\n\r\n", "/a b c", nullptr},
      {"GET /x#frag?q=1 HTTP/1.1\r\n\r\n", "/x", "q=1"},
      {"GET /x;p HTTP/1.1\r\n\r\n", "/x", nullptr},
      {"GET http://127.0.0.1:81/abs?z HTTP/1.1\r\n\r\n", "/abs", "z"},
      {std::string(99, 'M') + " / HTTP/1.1\r\n\r\n", "/", nullptr},
  };
  for (const auto& f : forms) {
    ASSERT_EQ(Parse(f.text, r), 0) << f.text;
    EXPECT_STREQ(r.Path(), f.path) << f.text;
    if (f.query) EXPECT_STREQ(r.Query(), f.query) << f.text;
    else EXPECT_EQ(r.Query(), nullptr) << f.text;
  }
  EXPECT_EQ(Parse("", r), 1);
  EXPECT_EQ(Parse("GET /x HTTP/1.1\r\nHost: a\r\n", r), 1);  // input ends in the headers
  EXPECT_EQ(Parse("GET http://h:99999/ HTTP/1.1\r\n\r\n", r), 2);
  EXPECT_EQ(Parse(std::string(100, 'M') + " / HTTP/1.1\r\n\r\n", r), 2);
}

TEST(ReadRequest, HeadersContinuationsAndLimits) {
  URLParse r;
  ASSERT_EQ(Parse("GET / HTTP/1.1\r\nHost :  here \r\nX:\r\n\tmore\r\nContent-Length: 3\r\n\r\n", r), 0);
  EXPECT_EQ(r.HeaderCount(), 3u);
  EXPECT_STREQ(r.HeaderNames()[0], "Host");
  EXPECT_STREQ(r.HeaderValues()[0], "here");
  EXPECT_STREQ(r.HeaderValues()[1], " more");
  EXPECT_STREQ(FindHeader(r.HeaderNames(), r.HeaderValues(), "content-LENGTH"), "3");
  EXPECT_EQ(r.HeaderNames()[3], nullptr);
  EXPECT_EQ(r.HeaderValues()[3], nullptr);

  EXPECT_EQ(Parse("GET / HTTP/1.1\r\n continued\r\n\r\n", r), 2);
  EXPECT_EQ(Parse("GET / HTTP/1.1\r\nno colon here\r\n\r\n", r), 2);
  EXPECT_EQ(Parse("GET / HTTP/1.1\r\n : value\r\n\r\n", r), 2);
  EXPECT_EQ(Parse("GET / HTTP/1.1\r\n: value\r\n\r\n", r), 2);

  std::string fifteen = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 15; ++i) fifteen += "H" + std::to_string(i) + ": v\r\n";
  ASSERT_EQ(Parse(fifteen + "\r\n", r), 0);
  EXPECT_EQ(r.HeaderCount(), 15u);
  EXPECT_EQ(Parse(fifteen + "H15: v\r\n\r\n", r), 2);

  // The 4096-byte store: a header that would reach its end is refused.
  std::string big = "GET / HTTP/1.1\r\nA: " + std::string(4000, 'a') + "\r\nB: " + std::string(90, 'b') + "\r\n\r\n";
  EXPECT_EQ(Parse(big, r), 2);
  std::string fits = "GET / HTTP/1.1\r\nA: " + std::string(4000, 'a') + "\r\nB: " + std::string(80, 'b') + "\r\n\r\n";
  EXPECT_EQ(Parse(fits, r), 0);
  std::string longContinuation = "GET / HTTP/1.1\r\nA: x\r\n " + std::string(4100, 'c') + "\r\n\r\n";
  EXPECT_EQ(Parse(longContinuation, r), 2);
}

TEST(ReadRequest, CopiesPointIntoTheirOwnStore) {
  URLParse* original = new URLParse;
  ASSERT_EQ(Parse("GET /p?q HTTP/1.1\r\nName: Value\r\nOther: 2\r\n\r\n", *original), 0);
  URLParse copy(*original);
  URLParse assigned;
  assigned = *original;
  delete original;  // the copies must not point into freed memory
  for (const URLParse* r : {&copy, &assigned}) {
    EXPECT_STREQ(r->Path(), "/p");
    EXPECT_STREQ(r->Query(), "q");
    EXPECT_STREQ(r->HeaderNames()[1], "Other");
    EXPECT_STREQ(r->HeaderValues()[0], "Value");
    EXPECT_EQ(r->HeaderNames()[2], nullptr);
  }
}

TEST(ReadBody, LengthRules) {
  const char* names[] = {"content-length", nullptr};
  std::string body = "x";
  const char* zero[] = {"0", nullptr};
  TextChannel a("abc");
  EXPECT_FALSE(ReadBody(a, names, zero, body));
  const char* none[] = {"Host", nullptr};
  EXPECT_FALSE(ReadBody(a, none, zero, body));

  const char* ten[] = {"10", nullptr};
  TextChannel shortBody("abcd");
  EXPECT_TRUE(ReadBody(shortBody, names, ten, body));
  EXPECT_EQ(body, "abcd");

  std::string long2000(2000, 'q');
  const char* len[] = {"2000", nullptr};
  TextChannel exact(long2000 + "trailing");
  EXPECT_TRUE(ReadBody(exact, names, len, body));
  EXPECT_EQ(body, long2000);

  // A huge announced length reads what arrives, never more.
  const char* huge[] = {"2147483648", nullptr};
  TextChannel little("tiny");
  EXPECT_TRUE(ReadBody(little, names, huge, body));
  EXPECT_EQ(body, "tiny");
}

TEST(WriteStandardResponse, HeaderBlockForms) {
  TextChannel withBody("");
  const char* names[] = {"X-One", "X-Two", nullptr};
  const char* values[] = {"1", "2", nullptr};
  EXPECT_EQ(WriteStandardResponse(withBody, "200 OK", "hello", 5, names, values), 0);
  EXPECT_EQ(withBody.written, "HTTP/1.1 200 OK\r\nContent-Length:5\r\nX-One:1\r\nX-Two:2\r\n\r\nhello");

  TextChannel failing("", -1);
  EXPECT_EQ(WriteStandardResponse(failing, "200 OK", "x", 1), -1);

  // Headers that do not fit the block are refused; nothing is written.
  std::string huge(5000, 'v');
  const char* bigValues[] = {huge.c_str(), nullptr};
  const char* bigNames[] = {"Big", nullptr};
  TextChannel refused("");
  EXPECT_EQ(WriteStandardResponse(refused, "200 OK", "x", 1, bigNames, bigValues), -1);
  EXPECT_EQ(refused.written, "");

  // A body that fits the block alone but not behind the headers is never
  // copied into it (the sanitizer build sees any byte written past it).
  for (std::size_t size : {4057u, 4096u}) {
    std::string body(size, 'x');
    body.back() = 'y';
    TextChannel io("");
    ASSERT_EQ(WriteStandardResponse(io, "200 OK", body.data(), body.size()), 0);
    EXPECT_EQ(io.written, "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(size) + "\r\n\r\n" + body);
  }
}

TEST(ReadBody, LengthBeyond32BitsIsNotCutShort) {
  const char* names[] = {"Content-Length", nullptr};
  const char* beyond[] = {"4294967297", nullptr};  // 2^32 + 1
  std::string body;
  TextChannel io("abcdef");
  EXPECT_TRUE(ReadBody(io, names, beyond, body));
  EXPECT_EQ(body, "abcdef");
}

}  // namespace
