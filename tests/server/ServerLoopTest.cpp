#include "server/MonitorServer.h"

#include "HttpClient.h"
#include "ProcessLog.h"
#include "TestSupport.h"
#include "pages/MonitorPage.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/IOChannel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using testing_support::Exchange;
using testing_support::Get;

using testing_support::ProcessLogSince;
using testing_support::ProcessLogSize;

struct Journal {
  std::mutex lock;
  std::vector<std::string> entries;
  void Add(const std::string& entry) {
    std::lock_guard<std::mutex> guard(lock);
    entries.push_back(entry);
  }
  std::vector<std::string> Entries() {
    std::lock_guard<std::mutex> guard(lock);
    return entries;
  }
};

class TestPage : public MonitorPage {
 public:
  TestPage(const char* path, bool fork, Journal& journal, int initResult = 0)
      : MonitorPage(path, false), fork_(fork), journal_(journal), initResult_(initResult) {}

  int Initialize() override {
    journal_.Add(std::string("init ") + Path());
    if (idleTimeout_ != 0) SetIdleTimeout(idleTimeout_);
    return initResult_;
  }
  bool ForkOnRequest(const char*, const char*, const char* const*, const char* const*, unsigned) override {
    return fork_;
  }
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const*, const char* const*, unsigned,
               unsigned onSession) override {
    entered = true;
    if (delayMs_ != 0) platform::SleepMilliseconds(delayMs_);
    if (markCollector_) MonitorServer::Instance().SetCollectorRequestSeen();
    std::string body = std::string("get ") + path + " " + (query ? query : "(none)") + " session=" +
                       std::to_string(onSession);
    StandardResponse(io, "200 OK", body.data(), body.size());
    return 200;
  }
  unsigned Post(IOBase* io, const char*, const char*, const char* const* names, const char* const* values, unsigned,
                unsigned) override {
    std::string body;
    ReadRequestBody(io, names, values, body);
    body = "posted " + body;
    StandardResponse(io, "200 OK", body.data(), body.size());
    return 200;
  }
  void OnShutdown() override { journal_.Add(std::string("shutdown ") + Path()); }
  void TimeToMonitor(unsigned count, const char* const* names) override {
    for (unsigned i = 0; i < count; ++i) journal_.Add(std::string("monitor ") + names[i]);
  }
  void Cleanup() override { journal_.Add(std::string("cleanup ") + Path()); }

  std::uint32_t idleTimeout_ = 0;
  unsigned delayMs_ = 0;
  bool markCollector_ = false;
  std::atomic<bool> entered{false};

 private:
  bool fork_;
  Journal& journal_;
  int initResult_;
};

class ServerLoop : public ::testing::Test {
 protected:
  void SetUp() override { logStart_ = ProcessLogSize(); }
  void TearDown() override {
    Stop();
    if (server_) server_->DeletePages();
    server_.reset();
    for (std::FILE* f : {in_, out_})
      if (f) std::fclose(f);
  }

  MonitorServer& Make(ServerOptions options = ServerOptions()) {
    options.skipStdioPhase = true;
    options.portGiven = true;
    options.port = 0;
    server_.reset(new MonitorServer(options));
    in_ = std::tmpfile();
    out_ = std::tmpfile();
    MonitorServer::Streams streams;
    streams.input = in_;
    streams.output = out_;
    streams.error = nullptr;
    server_->SetStreams(streams);
    return *server_;
  }
  TestPage* Add(const char* path, bool fork, int initResult = 0) {
    TestPage* page = new TestPage(path, fork, journal_, initResult);
    EXPECT_EQ(page->Register(), 0);
    return page;
  }
  void Start() {
    finished_ = false;
    runner_ = std::thread([this] {
      server_->Run();
      finished_ = true;
    });
  }
  std::uint16_t WaitForPort() {
    std::uint64_t deadline = platform::MonotonicMilliseconds() + 20000;
    while (server_->Port() == 0 && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(5);
    return server_->Port();
  }
  bool WaitFinished(unsigned ms) {
    std::uint64_t deadline = platform::MonotonicMilliseconds() + ms;
    while (!finished_ && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(10);
    return finished_;
  }
  void Stop() {
    if (runner_.joinable()) {
      server_->Signal(MonitorServer::kSignalShutdown);
      runner_.join();
    }
  }
  std::string Log() { return ProcessLogSince(logStart_); }

  Journal journal_;
  std::unique_ptr<MonitorServer> server_;
  std::thread runner_;
  std::atomic<bool> finished_{false};
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  std::size_t logStart_ = 0;
};

TEST_F(ServerLoop, ServesPagesAndClosesBadRequestsWithoutReply) {
  Make();
  Add("/echo", true);
  Start();
  std::uint16_t port = WaitForPort();
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
  Stop();
  EXPECT_TRUE(finished_);
  std::string log = Log();
  EXPECT_NE(log.find("Listen port bound to " + std::to_string(port)), std::string::npos);
  EXPECT_NE(log.find("Accept connection couldn't find page matching /unknown"), std::string::npos);
  EXPECT_NE(log.find("Accept connection failed to parse URI"), std::string::npos);
  EXPECT_EQ(server_->Counters().pagenotfound, 2u);
  EXPECT_EQ(server_->Counters().forked, 4u);
}

TEST_F(ServerLoop, MainThreadRequestsHaveNoAccessLogLine) {
  Make();
  Add("/main", false);
  Add("/fork", true);
  Start();
  std::uint16_t port = WaitForPort();
  EXPECT_EQ(Exchange(port, "POST /main HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi"),
            "HTTP/1.1 200 OK\r\nContent-Length:9\r\n\r\nposted hi");
  EXPECT_NE(Get(port, "/main?q").find("session=0"), std::string::npos);
  std::string forked = Get(port, "/fork");
  Stop();
  std::string log = Log();
  EXPECT_NE(log.find("Accept connection executes in master process/thread for page /main"), std::string::npos);
  EXPECT_EQ(log.find("\"POST /main\""), std::string::npos);
  EXPECT_EQ(log.find("\"GET /main\""), std::string::npos);
  std::string access = "\"GET /fork\" 200 " + std::to_string(forked.size()) + " [request#1]";
  EXPECT_NE(log.find(access), std::string::npos) << log;
  EXPECT_EQ(server_->Counters().unforked, 2u);
}

TEST_F(ServerLoop, IdleExitAfterThePageSetTimeout) {
  ServerOptions options;
  options.idleTimeout = 90;
  Make(options);
  TestPage* page = Add("/idle", true);
  page->idleTimeout_ = 1;
  Start();
  ASSERT_NE(WaitForPort(), 0);
  EXPECT_TRUE(WaitFinished(30000));
  runner_.join();
  std::string log = Log();
  EXPECT_NE(log.find("Idle exit initiated"), std::string::npos);
  EXPECT_EQ(journal_.Entries(), (std::vector<std::string>{"init /idle", "shutdown /idle"}));
}

TEST_F(ServerLoop, SuggestedShutdownExitsWhenIdle) {
  ServerOptions options;
  options.idleTimeout = 90;
  Make(options);
  Add("/p", true);
  Start();
  ASSERT_NE(WaitForPort(), 0);
  server_->Signal(MonitorServer::kSignalSuggestShutdown);
  EXPECT_TRUE(WaitFinished(30000));
  runner_.join();
  EXPECT_EQ(server_->IdleTimeout(), 1u);
  EXPECT_NE(Log().find("Shutdown suggest accepted; idle timeout set to 1"), std::string::npos);
}

TEST_F(ServerLoop, ShutdownRunsPreShutdownThenShutdownThenWaitsForSessions) {
  Make();
  Add("/a", true);
  TestPage* slow = Add("/slow", true);
  slow->delayMs_ = 500;
  Start();
  std::uint16_t port = WaitForPort();
  std::string slowReply;
  std::thread client([&] { slowReply = Get(port, "/slow"); });
  while (!slow->entered) platform::SleepMilliseconds(5);
  server_->Signal(MonitorServer::kSignalShutdown);
  runner_.join();
  client.join();
  // The session in progress finished its reply before the run ended.
  EXPECT_NE(slowReply.find("get /slow"), std::string::npos);
  std::string log = Log();
  std::size_t pre1 = log.find("MonitorPage::OnPreShutdown requesting");
  std::size_t pre2 = log.find("MonitorPage::OnPreShutdown requesting", pre1 + 1);
  std::size_t handled = log.find("Shutdown request handled by default MonitorServer handler");
  ASSERT_NE(pre2, std::string::npos);
  ASSERT_NE(handled, std::string::npos);
  EXPECT_EQ(journal_.Entries(), (std::vector<std::string>{"init /a", "init /slow", "shutdown /a", "shutdown /slow"}));
  EXPECT_LT(pre2, log.find("Call OnShutdown for page /a", pre2));
  EXPECT_LT(log.find("HTTP Session finished"), handled);
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
  runner_.join();
  EXPECT_EQ(journal_.Entries(), (std::vector<std::string>{"init /a", "init /Z", "init /b", "init /c"}));
  std::string log = Log();
  EXPECT_NE(log.find("LateInitialization page /c rv 7"), std::string::npos);
  EXPECT_NE(log.find("A failure occurred in LateProviderInitialization; skipping Process Connections"),
            std::string::npos);
}

TEST_F(ServerLoop, FirstRunDefersInitializationUntilTheCollectorAsked) {
  ServerOptions options;
  options.firstRun = true;
  Make(options);
  TestPage* index = Add("/index", false);
  Add("/app", true);
  Start();
  std::uint16_t port = WaitForPort();
  Get(port, "/index");  // served on the main thread, before the collector asked
  EXPECT_TRUE(journal_.Entries().empty());
  index->markCollector_ = true;
  Get(port, "/index");
  Get(port, "/app");
  Stop();
  std::vector<std::string> entries = journal_.Entries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0], "init /app");
  EXPECT_EQ(entries[1], "init /index");
  EXPECT_NE(Log().find("Late initialization not done; Timeout changed to 10000 seconds"), std::string::npos);
}

TEST_F(ServerLoop, InternalTimersFallDueFromTheLoopWhileIdle) {
  ServerOptions options;
  options.idleTimeout = 90;
  Make(options);
  TestPage* page = Add("/timed", true);
  page->AddMonitoredItem("tick", "", 1, true, false);
  Start();
  ASSERT_NE(WaitForPort(), 0);
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 30000;
  auto ticks = [this] {
    std::size_t n = 0;
    for (const auto& e : journal_.Entries()) n += e == "monitor tick";
    return n;
  };
  while (ticks() < 3 && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(20);
  Stop();
  EXPECT_GE(ticks(), 3u);
  // The wait is the earliest due timer, not the 90-second idle time-out.
  EXPECT_NE(Log().find("select() timeout 1\n"), std::string::npos);
  EXPECT_EQ(server_->Counters().timerserviced, ticks());
}

TEST_F(ServerLoop, ManyConcurrentConnectionsLeaveNothingBehind) {
  Make();
  TestPage* page = Add("/many", true);
  page->delayMs_ = 20;
  // ThreadSanitizer's runtime starts a thread of its own along with the
  // first one of the process: have it counted in the figure before.
  std::thread([] {}).join();
  std::size_t handlesBefore = platform::CountOpenHandles();
  std::size_t threadsBefore = platform::CountThreads();
  Start();
  std::uint16_t port = WaitForPort();
  const int kClients = 200;
  std::vector<std::string> replies(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] { replies[i] = Get(port, "/many?n=" + std::to_string(i)); });
  for (auto& c : clients) c.join();
  for (int i = 0; i < kClients; ++i)
    EXPECT_NE(replies[i].find("get /many n=" + std::to_string(i) + " "), std::string::npos) << i;
  // Session threads are collected by the loop; give it a moment, not a deadline.
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 20000;
  while (platform::CountThreads() > threadsBefore + 1 && platform::MonotonicMilliseconds() < deadline)
    platform::SleepMilliseconds(20);
  EXPECT_EQ(platform::CountThreads(), threadsBefore + 1);  // the runner alone
  EXPECT_NE(Get(port, "/many").find("200 OK"), std::string::npos);
  Stop();
  EXPECT_EQ(platform::CountThreads(), threadsBefore);
  // Handles of this test's own temporary streams aside, nothing is left.
  EXPECT_EQ(platform::CountOpenHandles(), handlesBefore);
}

// A body that comes after the head, in pieces, is served once it is in.
TEST_F(ServerLoop, MainThreadPostWhoseBodyFollowsLaterIsServed) {
  Make();
  Add("/main", false);
  Start();
  std::uint16_t port = WaitForPort();
  ASSERT_NE(port, 0);
  platform::SocketHandle socket = platform::CreateTcpSocket();
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
  platform::CloseSocket(socket);
  EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\nContent-Length:11\r\n\r\nposted body");
}

}  // namespace
