#include "server/ProviderCon.h"

#include "FakeCollector.h"
#include "HttpClient.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using testing_support::FakeCollector;

TEST(CProviderCon, ReadsStatusHeadersAndBodyByContentLength) {
  FakeCollector collector;
  struct {
    const char* reply;
    int status;
    const char* body;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Thing :  a:b \r\n\r\nhello and more", 200, "hello"},
      {"HTTP/1.1 200 OK\r\n\r\nbytes without a length", 200, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", 500, "ok"},
      {"http/1.1 204 No Content\r\n\r\n", 204, ""},  // the status line in any case
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", 200, "short"},  // cut short: what arrived
  };
  for (const auto& c : cases) {
    collector.SetReply(c.reply);
    CProviderCon con(collector.Port(), "post");
    EXPECT_EQ(con.requestDocument("/x?y=1", nullptr, false, 10), c.status) << c.reply;
    EXPECT_EQ(con.Body(), c.body) << c.reply;
  }
  CProviderCon con(collector.Port(), "post");
  collector.SetReply(cases[0].reply);
  con.requestDocument("/x?y=1", nullptr, false, 10);
  ASSERT_NE(con.Header("x-thing"), nullptr);
  EXPECT_STREQ(con.Header("x-thing"), "a:b");
  // The program's own form: no version, LF line ends.
  EXPECT_EQ(collector.Requests()[0].head, "POST /x?y=1\nContent-Length: 0\n\n");
  CProviderCon get(collector.Port(), "GET");
  EXPECT_EQ(get.requestDocument("/g", "body!", false, 10), 200);
  EXPECT_EQ(collector.Requests().back().head, "GET /g\nContent-Length: 5\n\n");
  EXPECT_EQ(collector.Requests().back().body, "body!");

  CProviderCon nobody(testing_support::FreePort());
  EXPECT_EQ(nobody.requestDocument("/e", nullptr, true, 10), 0);
  EXPECT_EQ(nobody.connect(false), 0);
}

// A peer that stalls or trickles holds an exchange no longer than the time-out,
// for the header block and for the body each as a whole.
TEST(CProviderCon, StallingAndTricklingPeersEndAtTheTimeOut) {
  struct Case {
    FakeCollector::Mode mode;
    std::string reply;
    int status;
    std::string body;
  } cases[] = {
      {FakeCollector::Mode::HoldOpen, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n1234", 200, "1234"},
      {FakeCollector::Mode::HoldOpen, "HTTP/1.1 200 OK\r\nContent-Len", 200, ""},
      // A byte every 100 ms: each arrives well within any per-byte wait.
      {FakeCollector::Mode::Trickle, "HTTP/1.1 200 OK\r\nX-Slow: " + std::string(100, 'a') + "\r\n\r\n", 200, ""},
      {FakeCollector::Mode::Trickle, "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n" + std::string(60, 'b'), 200,
       ""},
  };
  // The cases run side by side: each waits out the same time-out.
  std::vector<std::thread> runs;
  for (const Case& c : cases)
    runs.emplace_back([&c] {
      FakeCollector collector(c.reply);
      collector.SetMode(c.mode, 100);
      CProviderCon con(collector.Port());
      std::uint64_t before = platform::MonotonicMilliseconds();
      int status = con.requestDocument("/x", nullptr, false, 2);
      std::uint64_t took = platform::MonotonicMilliseconds() - before;
      EXPECT_LT(took, 3500u) << c.reply;
      if (c.mode == FakeCollector::Mode::HoldOpen) {
        EXPECT_EQ(status, c.status) << c.reply;
        EXPECT_EQ(con.Body(), c.body) << c.reply;
      }
    });
  for (std::thread& run : runs) run.join();
}

}  // namespace
