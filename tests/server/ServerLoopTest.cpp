#include "server/MonitorServer.h"

#include "HttpClient.h"
#include "ServerFixture.h"
#include "pages/MonitorPage.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using testing_support::Exchange;
using testing_support::Get;


using TestPage = testing_support::RecordingPage;

class ServerLoop : public testing_support::ServerFixture {
 protected:
  TestPage* Add(const char* path, bool fork, int initResult = 0) {
    return ServerFixture::Add(new TestPage(path, journal_, fork, initResult));
  }
  testing_support::Journal journal_;
};

// Pages that answer on a session thread get an access-log line; those served
// on the main thread do not.
TEST_F(ServerLoop, ServesPagesAndClosesBadRequestsWithoutReply) {
  Make();
  Add("/echo", true);
  Add("/main", false);
  std::uint16_t port = Start();
  ASSERT_NE(port, 0);
  std::string reply = Get(port, "/echo?x=1");
  EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\nContent-Length:23\r\n\r\nget /echo x=1 session=1");
  EXPECT_NE(Get(port, "/echo/deeper").find("get /echo/deeper (none)"), std::string::npos);
  EXPECT_EQ(Get(port, "/unknown"), "");
  EXPECT_EQ(Get(port, "/echoes"), "");
  EXPECT_EQ(Exchange(port, "GET /echo HTTP/1.1\r\nbroken header\r\n\r\n"), "");
  EXPECT_EQ(Exchange(port, "PUT /echo HTTP/1.1\r\n\r\n"), "HTTP/1.1 405 Method Not Allowed\r\n\r\n");
  EXPECT_EQ(Exchange(port, "POST /echo HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody"),
            "HTTP/1.1 200 OK\r\nContent-Length:11\r\n\r\nposted body");
  EXPECT_EQ(Exchange(port, "POST /main HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi"),
            "HTTP/1.1 200 OK\r\nContent-Length:9\r\n\r\nposted hi");
  EXPECT_NE(Get(port, "/main?q").find("session=0"), std::string::npos);
  Stop();
  EXPECT_TRUE(finished_);
  std::string log = Log();
  EXPECT_EQ(log.find("\"POST /main\""), std::string::npos);
  EXPECT_EQ(log.find("\"GET /main\""), std::string::npos);
  EXPECT_NE(log.find("\"GET /echo\" 200 " + std::to_string(reply.size()) + " [request#1]"), std::string::npos) << log;
  EXPECT_EQ(server_->Counters().pagenotfound, 2u);
  EXPECT_EQ(server_->Counters().forked, 4u);
  EXPECT_EQ(server_->Counters().unforked, 2u);
}

// Idle exit: after the time-out a page set, or at once when a shutdown was
// suggested.
TEST_F(ServerLoop, IdleExitAfterThePageSetTimeoutOrASuggestedShutdown) {
  for (bool suggest : {false, true}) {
    ServerOptions options;
    options.idleTimeout = 90;
    Make(options);
    journal_.entries.clear();
    Add("/idle", true)->idleTimeout = suggest ? 0 : 1;
    ASSERT_NE(Start(), 0);
    if (suggest) server_->Signal(MonitorServer::kSignalSuggestShutdown);
    EXPECT_TRUE(WaitFinished(30000)) << suggest;
    EXPECT_EQ(journal_.Entries(), (std::vector<std::string>{"init /idle", "shutdown /idle"}));
    server_->DeletePages();
    server_.reset();
  }
}

TEST_F(ServerLoop, ShutdownRunsPreShutdownThenShutdownThenWaitsForSessions) {
  Make();
  Add("/a", true);
  TestPage* slow = Add("/slow", true);
  slow->delayMs = 500;
  std::uint16_t port = Start();
  std::string slowReply;
  std::thread client([&] { slowReply = Get(port, "/slow"); });
  while (!slow->entered) platform::SleepMilliseconds(5);
  server_->Signal(MonitorServer::kSignalShutdown);
  runner_.join();
  client.join();
  // The session in progress finished its reply before the run ended.
  EXPECT_NE(slowReply.find("get /slow"), std::string::npos);
  EXPECT_EQ(journal_.Entries(), (std::vector<std::string>{"init /a", "init /slow", "shutdown /a", "shutdown /slow"}));
}

TEST_F(ServerLoop, LateInitializationRunsOnceInRegistryOrderAndStopsAtFailure) {
  Make();
  Add("/b", true);
  Add("/Z", true);  // byte order: upper case first
  Add("/c", true, 7);
  Add("/d", true);
  TestPage* done = Add("/a", true);
  EXPECT_EQ(done->InitializeOnce(), 0);
  EXPECT_EQ(done->InitializeOnce(), 0);
  Start();
  EXPECT_TRUE(WaitFinished(30000));
  EXPECT_EQ(journal_.Entries(), (std::vector<std::string>{"init /a", "init /Z", "init /b", "init /c"}));
}

TEST_F(ServerLoop, InternalTimersFallDueFromTheLoopWhileIdle) {
  ServerOptions options;
  options.idleTimeout = 90;
  Make(options);
  TestPage* page = Add("/timed", true);
  page->AddMonitoredItem("tick", "", 1, true, false);
  ASSERT_NE(Start(), 0);
  auto ticks = [this] { return journal_.Entries("monitor tick").size(); };
  testing_support::WaitUntil([&] { return ticks() >= 2; }, 30000);
  Stop();
  EXPECT_GE(ticks(), 2u);
  EXPECT_EQ(server_->Counters().timerserviced, ticks());
}

TEST_F(ServerLoop, ManyConcurrentConnectionsLeaveNothingBehind) {
  Make();
  TestPage* page = Add("/many", true);
  page->delayMs = 20;
  // ThreadSanitizer's runtime starts a thread of its own along with the
  // first one of the process: have it counted in the figure before.
  std::thread([] {}).join();
  std::size_t handlesBefore = testing_support::CountOpenHandles();
  std::size_t threadsBefore = testing_support::CountThreads();
  std::uint16_t port = Start();
  const int kClients = 200;
  std::vector<std::string> replies(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] { replies[i] = Get(port, "/many?n=" + std::to_string(i)); });
  for (auto& c : clients) c.join();
  for (int i = 0; i < kClients; ++i)
    EXPECT_NE(replies[i].find("get /many n=" + std::to_string(i) + " "), std::string::npos) << i;
  // Session threads are collected by the loop; give it a moment, not a deadline.
  testing_support::WaitUntil([&] { return testing_support::CountThreads() <= threadsBefore + 1; });
  EXPECT_EQ(testing_support::CountThreads(), threadsBefore + 1);  // the runner alone
  EXPECT_NE(Get(port, "/many").find("200 OK"), std::string::npos);
  Stop();
  EXPECT_EQ(testing_support::CountThreads(), threadsBefore);
  // Handles of this test's own temporary streams aside, nothing is left.
  EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore);
}

// A body that comes after the head, in pieces, is served once it is in.
TEST_F(ServerLoop, MainThreadPostWhoseBodyFollowsLaterIsServed) {
  Make();
  Add("/main", false);
  std::uint16_t port = Start();
  ASSERT_NE(port, 0);
  platform::Socket socket = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::ConnectLoopback(socket, port, 5000));
  for (const char* piece : {"POST /main HTTP/1.1\r\nContent-Length: 4\r\n\r\n", "bo", "dy"}) {
    platform::Send(socket, piece, std::string(piece).size());
    platform::SleepMilliseconds(200);
  }
  std::string reply;
  char buffer[256];
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 10000;
  while (platform::MonotonicMilliseconds() < deadline && platform::WaitReadable(socket, 100) >= 0) {
    long n = platform::Receive(socket, buffer, sizeof buffer);
    if (n <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  socket.Close();
  EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\nContent-Length:11\r\n\r\nposted body");
}

}  // namespace
