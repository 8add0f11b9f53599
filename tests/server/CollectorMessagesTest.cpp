// The server's messages to the collector, against a stand-in collector.
#include "server/MonitorServer.h"

#include "FakeCollector.h"
#include "TestSupport.h"
#include "pages/MonitorPage.h"
#include "platform/Process.h"
#include "server/ProviderCon.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::FakeCollector;

class WakePage : public MonitorPage {
 public:
  WakePage(const char* path, int initResult = 0) : MonitorPage(path, false), initResult_(initResult) {}
  int Initialize() override { return initResult_; }

 private:
  int initResult_;
};

class CollectorMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    collector_.reset(new FakeCollector);
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", std::to_string(collector_->Port()).c_str());
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
    for (const auto& r : collector_->Requests()) targets.push_back(r.target);
    return targets;
  }

  std::unique_ptr<FakeCollector> collector_;
  std::unique_ptr<MonitorServer> server_;
};

TEST_F(CollectorMessages, HeartbeatFollowsTheApplicationPagesTimers) {
  EXPECT_EQ(CProviderCon::CollectorPort(), collector_->Port());
  MonitorServer& server = Make();
  WakePage* page = new WakePage("/app");
  page->Register();
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
  EXPECT_EQ(collector_->Requests()[0].head, "POST /heartbeat/monitor?port=4321\nContent-Length: 0\n\n");

  // A framework page's timers never ask for heartbeats; a failed reply still
  // changes the state.
  collector_->SetReply("HTTP/1.1 500 Oops\r\n\r\n");
  page->AddMonitoredItem("again", "", 5, false, false);
  EXPECT_TRUE(server.Heartbeating());
  EXPECT_EQ(Targets().size(), 3u);
}

TEST_F(CollectorMessages, LateInitializationNoticeCarriesTheOutcome) {
  ServerOptions options;
  options.firstRun = true;
  MonitorServer& server = Make(options);
  (new WakePage("/fails", 3))->Register();
  EXPECT_EQ(server.LateProviderInitialization(), 1);
  ASSERT_TRUE(collector_->WaitForRequests(1));
  EXPECT_EQ(Targets(), (std::vector<std::string>{"/inventory?file=provider.exe&provstatus=0"}));

  ServerOptions plain;
  server_->DeletePages();
  MonitorServer& again = Make(plain);
  (new WakePage("/ok"))->Register();
  EXPECT_EQ(again.LateProviderInitialization(), 0);
  EXPECT_EQ(Targets().size(), 1u);  // only sent with the first-run flag
}

TEST_F(CollectorMessages, ExternalScheduleCommandsAndReplyWords) {
  Make();
  WakePage* page = new WakePage("/lvl1inventory");
  page->Register();
  int result = -1;
  collector_->SetReply("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nreplaced");
  EXPECT_TRUE(page->SendESAddRenew("my item&x", 60, &result));
  EXPECT_EQ(result, kScheduleReplaced);
  EXPECT_EQ(Targets().back(), "/extschedule?cmd=addrenew&page=%2Flvl1inventory&cookie=my%20item%26x&delay=60");

  collector_->SetReply("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nReplaced");
  EXPECT_TRUE(page->SendESModify("i", 5, &result));
  EXPECT_EQ(result, kScheduleUnknown);
  collector_->SetReply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(page->SendESDelete("i", &result));
  EXPECT_EQ(result, kScheduleCommError);
  EXPECT_EQ(Targets().back(), "/extschedule?cmd=del&page=%2Flvl1inventory&cookie=i&delay=0");

  result = 42;
  collector_->SetReply("HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\ndeleted");
  EXPECT_FALSE(page->SendESAdd("i", 5, &result));
  EXPECT_EQ(result, 42);
}

}  // namespace
