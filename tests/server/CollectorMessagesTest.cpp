// The collector client and the server's messages to the collector, against
// a stand-in collector.
#include "server/MonitorServer.h"

#include "FakeCollector.h"
#include "HttpClient.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "pages/MonitorPage.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "server/ProviderCon.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using testing_support::FakeCollector;

class CollectorMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", std::to_string(collector_.Port()).c_str());
  }
  void TearDown() override {
    if (server_) server_->DeletePages();
    server_.reset();
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", nullptr);
  }
  MonitorServer& Make(ServerOptions options = ServerOptions()) {
    options.port = 4321;
    server_.reset(new MonitorServer(options));
    server_->SetApplicationName("provider.exe");
    return *server_;
  }
  std::vector<std::string> Targets() {
    std::vector<std::string> targets;
    for (const auto& r : collector_.Requests()) targets.push_back(r.target);
    return targets;
  }

  testing_support::RecordingPage* Page(const char* path, int initResult = 0) {
    auto* page = new testing_support::RecordingPage(path, journal_, false, initResult);
    page->Register();
    return page;
  }

  testing_support::Journal journal_;
  FakeCollector collector_;
  std::unique_ptr<MonitorServer> server_;
};

TEST_F(CollectorMessages, HeartbeatFollowsTheApplicationPagesTimers) {
  EXPECT_EQ(CProviderCon::CollectorPort(), collector_.Port());
  MonitorServer& server = Make();
  auto* page = Page("/app");
  server.SetHeartbeatRequested(true);
  server.UpdateHeartbeat();
  EXPECT_TRUE(Targets().empty());  // nothing wanted, nothing was on

  page->AddMonitoredItem("item", "", 60, true, false);
  page->AddMonitoredItem("second", "", 90, true, false);  // not empty before: no new evaluation
  server.UpdateHeartbeat();
  EXPECT_TRUE(server.Heartbeating());
  page->RemoveMonitoredItem("item");
  page->RemoveMonitoredItem("second");
  EXPECT_FALSE(server.Heartbeating());
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/heartbeat/monitor?port=4321", "/heartbeat/monitor?port=4321&cancel=1"}));
  EXPECT_EQ(collector_.Requests()[0].head, "POST /heartbeat/monitor?port=4321\nContent-Length: 0\n\n");

  // A framework page's timers never ask for heartbeats; a failed reply still
  // changes the state.
  collector_.SetReply("HTTP/1.1 500 Oops\r\n\r\n");
  page->AddMonitoredItem("again", "", 5, false, false);
  EXPECT_TRUE(server.Heartbeating());
  EXPECT_EQ(Targets().size(), 3u);
}

TEST_F(CollectorMessages, LateInitializationNoticeCarriesTheOutcome) {
  ServerOptions options;
  options.firstRun = true;
  MonitorServer& server = Make(options);
  Page("/fails", 3);
  EXPECT_EQ(server.LateProviderInitialization(), 1);
  ASSERT_TRUE(collector_.WaitForRequests(1));
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/inventory?file=provider.exe&provstatus=0"}));

  ServerOptions plain;
  server_->DeletePages();
  MonitorServer& again = Make(plain);
  Page("/ok");
  EXPECT_EQ(again.LateProviderInitialization(), 0);
  EXPECT_EQ(Targets().size(), 1u);  // only sent with the first-run flag
}

TEST_F(CollectorMessages, ExternalScheduleCommandsAndReplyWords) {
  Make();
  auto* page = Page("/lvl1inventory");
  int result = -1;
  collector_.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nreplaced");
  EXPECT_TRUE(page->SendESAddRenew("my item&x", 60, &result));
  EXPECT_EQ(result, kScheduleReplaced);
  EXPECT_EQ(Targets().back(), "/extschedule?cmd=addrenew&page=%2Flvl1inventory&cookie=my%20item%26x&delay=60");

  collector_.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nReplaced");
  EXPECT_TRUE(page->SendESModify("i", 5, &result));
  EXPECT_EQ(result, kScheduleUnknown);
  collector_.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(page->SendESDelete("i", &result));
  EXPECT_EQ(result, kScheduleCommError);
  EXPECT_EQ(Targets().back(), "/extschedule?cmd=del&page=%2Flvl1inventory&cookie=i&delay=0");

  result = 42;
  collector_.SetReply("HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\ndeleted");
  EXPECT_FALSE(page->SendESAdd("i", 5, &result));
  EXPECT_EQ(result, 42);
}

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
