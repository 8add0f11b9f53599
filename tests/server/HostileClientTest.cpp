// Hostile clients and a misbehaving collector against the running provider,
// the attacks of a group at once, while a well-behaved client polls /status:
// the provider neither crashes nor freezes, /status answers within a second
// throughout, descriptors and threads come back to where they
// were, and POST /shutdown still ends the process with status 0.
#include "ProviderFixture.h"

#include "platform/HostName.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

using testing_support::Exchange;
using testing_support::FakeCollector;
using testing_support::Get;
using testing_support::ProviderProcess;
using testing_support::WriteFile;

// How long /status may take while an attack runs.
const std::uint64_t kStatusLimitMs = 1000;
// How long the attacks run under the poller's eye before they are taken down.
const std::uint64_t kAttackWindowMs = 2500;

// A connection that has sent the text.
platform::Socket Connect(std::uint16_t port, const std::string& text = std::string()) {
  platform::Socket socket = platform::CreateTcpSocket();
  if (!platform::ConnectLoopback(socket, port, 5000)) return platform::Socket();
  platform::SendAll(socket, text.data(), text.size(), 5000);
  return socket;
}

// True when the server closed the connection within the time; what it sent
// before that lands in reply.
bool ClosedByServer(const platform::Socket& socket, unsigned timeoutMs, std::string* reply) {
  std::uint64_t deadline = platform::MonotonicMilliseconds() + timeoutMs;
  char buffer[4096];
  for (std::uint64_t now; (now = platform::MonotonicMilliseconds()) < deadline;) {
    if (platform::WaitReadable(socket, static_cast<unsigned>(deadline - now)) <= 0) return false;
    long n = platform::Receive(socket, buffer, sizeof buffer);
    if (n <= 0) return true;
    reply->append(buffer, static_cast<std::size_t>(n));
  }
  return false;
}

// Descriptors and threads of a process, where the system shows them.
struct Usage {
  long descriptors = -1, threads = -1;
};
// Only programs built for this system show in its /proc (a Windows build
// run under a compatibility layer sees the host's).
bool UsageVisible() { return std::string(EXECUTABLE_SUFFIX).empty() && std::filesystem::exists("/proc/self/fd"); }
long Entries(const std::string& folder) {
  std::error_code error;
  long n = std::distance(std::filesystem::directory_iterator(folder, error), std::filesystem::directory_iterator());
  return error ? -1L : n;
}
Usage UsageOf(std::uint32_t pid) {
  std::string proc = "/proc/" + std::to_string(pid);
  return {Entries(proc + "/fd"), Entries(proc + "/task")};
}

// One attack: begin starts it (and returns at once or when its part is
// sent), end takes it down again.
struct Attack {
  std::string name;
  std::function<void()> begin;
  std::function<void()> end;
};

class HostileClients : public testing_support::ProviderFixture {
 protected:
  void SetUp() override {
    client_ = dir_.Path() + "/client";
    std::filesystem::create_directory(client_);
    WriteClientRegistry(client_);
    WriteInventory(client_ + "/inventory-1.xml", 60000);
  }

  static void WriteInventory(const std::string& path, int products) {
    std::string text = "<?xml version=\"1.0\"?>\n<inventory><software>";
    for (int i = 0; i < products; ++i)
      text += "<product name=\"Product " + std::to_string(i) + "\" vendor=\"Vendor " + std::to_string(i % 97) +
              "\" version=\"1." + std::to_string(i % 13) + "\"><file size=\"" + std::to_string(i) + "\"/></product>";
    text += "</software></inventory>\n";
    WriteFile(path, text);
  }

  void Start(std::vector<std::string> args = {}, const std::vector<std::string>& launcher = {}) {
    args.insert(args.end(), {"-u", "-z", "-V", "0x433", "-b", "100000"});
    ProviderFixture::Start(args, {}, launcher);
    if (!provider_->Started()) return;
    port_ = provider_->Port();
    // Warm up: the pages' first requests make what they keep.
    Get(port_, "/status");
    Get(port_, "/lvl1inventory?command=query&data=count(//product)");
    platform::SleepMilliseconds(300);
    baseline_ = UsageOf(provider_->Process().Id());
  }

  // Starts the attacks together under the poller's eye: /status answers
  // within the limit while they run and until each has been taken down.
  void Run(const std::vector<Attack>& attacks) {
    ASSERT_NE(port_, 0) << "the provider did not start";
    // /status one request after another; a round in progress ends (within
    // its own time-out) before the poller stops.
    std::atomic<bool> stop{false};
    std::uint64_t longest = 0;
    int answered = 0;
    std::thread poller([&] {
      while (!stop) {
        std::uint64_t begin = platform::MonotonicMilliseconds();
        std::string reply = Exchange(port_, "GET /status HTTP/1.1\r\n\r\n", 30000);
        longest = std::max(longest, platform::MonotonicMilliseconds() - begin);
        answered += reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
        platform::SleepMilliseconds(20);
      }
    });
    std::string names;
    std::uint64_t start = platform::MonotonicMilliseconds();
    for (const Attack& attack : attacks) {
      attack.begin();
      names += (names.empty() ? "" : ", ") + attack.name;
    }
    std::uint64_t window = start + kAttackWindowMs;
    while (platform::MonotonicMilliseconds() < window) platform::SleepMilliseconds(20);
    for (const Attack& attack : attacks)
      if (attack.end) attack.end();
    stop = true;
    poller.join();
    ran_ = true;
    EXPECT_LE(longest, kStatusLimitMs) << names;
    EXPECT_GT(answered, 0) << names;
    std::printf("[ attacks  ] %zu at once: /status took at most %llu ms\n", attacks.size(),
                static_cast<unsigned long long>(longest));
    int code = 0;
    ASSERT_FALSE(provider_->WaitForExit(0, &code)) << "the provider ended with " << code << "\n" << provider_->Log();
  }

  // Descriptors and threads come back to the baseline; then POST /shutdown
  // ends the process with 0, with a client that reads nothing, when asked,
  // still connected.
  void ExpectCleanEnd(bool withStalledClient = false) {
    ASSERT_TRUE(ran_) << "the provider did not start";
    if (!UsageVisible()) std::printf("descriptor and thread counts not checked: the system shows no /proc\n");
    else EXPECT_TRUE(UsageComesDownTo(baseline_.descriptors, baseline_.threads, 30000));
    platform::Socket stalled;
    if (withStalledClient) {
      stalled = Connect(port_, "GET /lvl1inventory?command=query&data=//product HTTP/1.1\r\n\r\n");
      platform::SleepMilliseconds(1000);
    }
    Exchange(port_, "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    int code = -1;
    EXPECT_TRUE(provider_->WaitForExit(30000, &code)) << provider_->Log();
    EXPECT_EQ(code, 0) << provider_->Log();
    stalled.Close();
  }

  // Waits until the provider holds no more descriptors and threads than given.
  bool UsageComesDownTo(long descriptors, long threads, unsigned ms) {
    return testing_support::WaitUntil([&] {
      Usage now = UsageOf(provider_->Process().Id());
      return now.descriptors <= descriptors && now.threads <= threads;
    }, ms, 100);
  }

  // A client that sends the request and reads nothing of the reply; its
  // session gives up once its write makes no progress, the client still
  // connected.
  Attack NonReader(const std::string& name, const std::string& request) {
    auto socket = std::make_shared<platform::Socket>();
    std::uint16_t port = port_;
    return {name, [=] { *socket = Connect(port, request); },
            [=] {
              EXPECT_TRUE(!UsageVisible() || UsageComesDownTo(1000000, baseline_.threads + 1, 20000)) << name;
              socket->Close();
            }};
  }

  // Connections that send the text (nothing, or a request cut short) and
  // wait; the server must close each without a reply.
  Attack Silent(const std::string& name, int count, const std::string& text) {
    auto sockets = std::make_shared<std::vector<platform::Socket>>();
    std::uint16_t port = port_;
    return {name, [=] { for (int i = 0; i < count; ++i) sockets->push_back(Connect(port, text)); },
            [=] {
              for (platform::Socket& socket : *sockets) {
                std::string reply;
                EXPECT_TRUE(ClosedByServer(socket, 20000, &reply)) << name;
                EXPECT_EQ(reply, "") << name;
                socket.Close();
              }
            }};
  }

  // A request sent whole from a thread of its own; the reply is not checked.
  Attack Sender(const std::string& name, std::function<std::string()> request) {
    auto thread = std::make_shared<std::thread>();
    std::uint16_t port = port_;
    return {name, [=] { *thread = std::thread([=] { Exchange(port, request(), 20000); }); },
            [=] { thread->join(); }};
  }

  std::string client_;
  std::uint16_t port_ = 0;
  Usage baseline_;
  bool ran_ = false;
};

TEST_F(HostileClients, ConnectionAttacksHoldUpNoOtherClient) {
  Start();
  std::uint16_t port = port_;
  auto reopening = std::make_shared<std::atomic<bool>>(false);
  auto reopener = std::make_shared<std::thread>();
  auto reopenStart = std::make_shared<std::uint64_t>(0);
  std::string bigAlarms = "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 73400320\r\n\r\n";
  std::vector<Attack> attacks = {
      Silent("1 connection that sends nothing", 1, ""),
      Silent("2 connections that send nothing", 2, ""),
      Silent("5 connections that send nothing", 5, ""),
      {"5 silent connections, each re-opened once the server closes it",
       [=] {
         *reopenStart = platform::MonotonicMilliseconds();
         *reopening = true;
         *reopener = std::thread([=] {
           std::vector<platform::Socket> sockets;
           for (int i = 0; i < 5; ++i) sockets.push_back(Connect(port));
           while (*reopening) {
             for (platform::Socket& socket : sockets) {
               char byte;
               if (platform::WaitReadable(socket, 0) > 0 && platform::Receive(socket, &byte, 1) <= 0)
                 socket = Connect(port);
             }
             platform::SleepMilliseconds(20);
           }
           for (platform::Socket& socket : sockets) socket.Close();
         });
       },
       [=] {
         // By then the first five have been closed and re-opened.
         while (platform::MonotonicMilliseconds() < *reopenStart + 8000) platform::SleepMilliseconds(20);
         *reopening = false;
         reopener->join();
       }},
      Silent("half a request line, then nothing", 1, "GET /sta"),
      Silent("POST with Content-Length 2^31", 1,
             "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 2147483648\r\n\r\n<alarms>"),
      Silent("POST with Content-Length 10^20", 1,
             "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 100000000000000000000\r\n\r\n<alarms>"),
      Silent("POST with Content-Length 100 and 4 bytes", 1,
             "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 100\r\n\r\n<ala"),
      Sender("a 70 MB /extalarm?alarms=1 body",
             [=] { return bigAlarms + "<alarms>" + std::string(73400320 - 17, ' ') + "</alarms>"; }),
      Silent("16 headers", 1,
             [] {
               std::string many = "GET /status HTTP/1.1\r\n";
               for (int i = 0; i < 16; ++i) many += "X-Header-" + std::to_string(i) + ": value\r\n";
               return many + "\r\n";
             }()),
      Sender("a 1 MB request line", [] { return "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\n\r\n"; }),
      NonReader("//product on 60000 products, the reply never read",
                "GET /lvl1inventory?command=query&data=//product HTTP/1.1\r\n\r\n"),
      {"40 clients that leave before their replies",
       [=] {
         for (int i = 0; i < 40; ++i) {
           platform::Socket gone = Connect(port, i % 2 ? "GET /status HTTP/1.1\r\n\r\n" : "GET /index HTTP/1.1\r\n\r\n");
           platform::SetZeroLinger(gone);
           gone.Close();
         }
       },
       nullptr},
      // Last: taken for a whole request, it would end the provider.
      Silent("POST /shutdown with Content-Length 100 and 4 bytes", 1,
             "POST /shutdown HTTP/1.1\r\nContent-Length: 100\r\n\r\nprov"),
  };
  Run(attacks);
  for (const char* target : {"/status", "/index", "/heartbeat"})
    EXPECT_EQ(Get(port_, target).rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << target;
  // A body that arrived whole is served as before.
  std::string alarm = "<alarms><alarm page=\"/nothing\" cookie=\"c\"/></alarms>";
  EXPECT_EQ(Exchange(port_, "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: " + std::to_string(alarm.size()) +
                                "\r\n\r\n" + alarm)
                .rfind("HTTP/1.1 200 OK\r\n", 0),
            0u);
  std::string log = provider_->Log();
  EXPECT_NE(log.find("timed out reading the request"), std::string::npos);
  EXPECT_NE(log.find("timed out reading the body"), std::string::npos);
  EXPECT_NE(log.find("refused a body of 2147483648 bytes"), std::string::npos);
  ExpectCleanEnd(true);
}

TEST_F(HostileClients, LoadsParsesAndQueriesHoldUpNoOtherClient) {
  Start();
  std::uint16_t port = port_;
  std::string fifo = dir_.File("fifo.xml");
  bool haveFifo = testing_support::FileExists("/usr/bin/mkfifo") &&
                  testing_support::RunProgram({"/usr/bin/mkfifo", fifo}).exitCode == 0;
  WriteInventory(dir_.File("slow.xml"), 20000);
  std::string post = "POST /lvl1inventory?command=query&data=count(//product) HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
  std::vector<Attack> attacks = {
      Sender("a 140 KB alarm body of <b<b<b...",
             [] {
               std::string body = "<alarms>";
               for (int i = 0; i < 140000 / 2; ++i) body += "<b";
               return "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body;
             }),
  };
  if (haveFifo) {
    attacks.push_back(Sender("reconfig to a FIFO",
                             [=] { return "GET /lvl1inventory?command=reconfig&data=" + fifo + " HTTP/1.1\r\n\r\n"; }));
    attacks.push_back(Sender("an inventory POST after the FIFO", [=] {
      platform::SleepMilliseconds(300);
      return post;
    }));
  } else {
    std::printf("FIFO attack skipped: no mkfifo on this system\n");
  }
  attacks.push_back(Sender("reconfig to 20000 products",
                           [=] { return "GET /lvl1inventory?command=reconfig&data=" + dir_.File("slow.xml") + " HTTP/1.1\r\n\r\n"; }));
  auto threads = std::make_shared<std::vector<std::thread>>();
  attacks.push_back({"a slow query and an inventory POST behind it",
                     [=] {
                       threads->emplace_back([=] {
                         Exchange(port,
                                  "GET /lvl1inventory?command=query&data=count(//*%5Bcount(preceding::*)%3E"
                                  "count(following::*)%5D) HTTP/1.1\r\n\r\n",
                                  20000);
                       });
                       platform::SleepMilliseconds(200);
                       threads->emplace_back([=] { Exchange(port, post, 20000); });
                     },
                     [=] { for (std::thread& thread : *threads) thread.join(); }});
  Run(attacks);
  ExpectCleanEnd();
}

TEST_F(HostileClients, CollectorThatStallsHoldsUpNoClient) {
  // The late-initialization notice meets a collector that announces ten
  // bytes, sends four and keeps the connection open.
  collector_.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n1234");
  collector_.SetMode(FakeCollector::Mode::HoldOpen);
  Start({"-f"});
  Attack notice = Sender("late initialization notice to a stalling collector",
                         [] { return std::string("GET /index?collectorrequest=1 HTTP/1.1\r\n\r\n"); });
  Run({notice});
  collector_.CloseHeld();  // the provider's own time-out for the exchange is not waited for here
  ASSERT_TRUE(collector_.WaitForRequests(1));
  EXPECT_EQ(collector_.Requests()[0].target.rfind("/inventory?file=", 0), 0u);
  ExpectCleanEnd();
}

TEST_F(HostileClients, RunningOutOfDescriptorsIsTransient) {
  // prlimit starts programs of this system only.
  if (!UsageVisible() || !testing_support::FileExists("/usr/bin/prlimit"))
    GTEST_SKIP() << "no prlimit here to start the provider with few descriptors";
  Start({}, {"/usr/bin/prlimit", "--nofile=64", "--"});
  std::uint16_t port = port_;
  auto clients = std::make_shared<std::vector<std::thread>>();
  auto good = std::make_shared<std::atomic<int>>(0);
  Run({{"100 concurrent inventory queries with 64 descriptors",
        [=] {
          for (int i = 0; i < 100; ++i)
            clients->emplace_back([=] {
              std::string reply = Get(port, "/lvl1inventory?command=query&data=count(//product)");
              if (reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0) ++*good;
            });
        },
        [=] { for (std::thread& client : *clients) client.join(); }}});
  // Every query was answered in the end; connections beyond the descriptors
  // waited in the backlog.
  EXPECT_EQ(*good, 100);
  if (provider_->Log().find("Unable to accept() TCP connection") == std::string::npos)
    std::printf("descriptors did not run out in this run\n");
  ExpectCleanEnd();
}

// A web page in a local browser reaches 127.0.0.1 too: its cross-site
// requests carry Origin, and after DNS rebinding its Host is the page's own
// name. Such requests are closed unanswered; the collector's requests (no
// Host at all, HTTP/1.0) and local clients naming an address, localhost or
// this machine are served.
TEST_F(HostileClients, BrowserRequestsAreClosedUnanswered) {
  ProviderProcess& provider = ProviderFixture::Start({"-u", "-z", "-V", "0x423"});
  std::uint16_t port = provider.Port();
  std::string self = platform::HostName();
  struct Case {
    std::string head;
    bool served;
  } cases[] = {
      {"GET /status HTTP/1.0\r\n", true},
      {"GET /status\r\n", true},
      {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n", true},
      {"GET /status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n", true},
      {"GET /status HTTP/1.1\r\nhost: LocalHost:80\r\n", true},
      {"GET /status HTTP/1.1\r\nHost: localhost.\r\n", true},
      {"GET /status HTTP/1.1\r\nHost: [::1]:8080\r\n", true},
      {"GET /status HTTP/1.1\r\nHost: 10.1.2.3\r\n", true},
      {"GET /status HTTP/1.1\r\nHost: " + self + "\r\n", !self.empty()},
      {"GET /status HTTP/1.1\r\nHost: evil.example\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: evil.example:" + std::to_string(port) + "\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: localhost.evil.example\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: 127.0.0.1.evil.example\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: 127.0.0.1:80x\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: [::1\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: [evil]\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n", false},
      {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil.example\r\n", false},
      {"GET /status HTTP/1.0\r\norigin: null\r\n", false},
  };
  for (const Case& c : cases) {
    std::string reply = Exchange(port, c.head + "\r\n");
    EXPECT_EQ(c.served ? reply.substr(0, 17) : reply, c.served ? "HTTP/1.1 200 OK\r\n" : "") << c.head << reply;
  }
  // A cross-site form posted to /shutdown stops nothing.
  EXPECT_EQ(Exchange(port, "POST /shutdown HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                               "\r\nOrigin: http://evil.example\r\nContent-Length: 0\r\n\r\n"),
            "");
  EXPECT_EQ(Get(port, "/status").rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  int code = 0;
  EXPECT_FALSE(provider.WaitForExit(0, &code)) << "provider ended with " << code;
  EXPECT_TRUE(testing_support::WaitForText(provider.LogFile(), "Accept connection refused a request from 127.0.0.1:"));
}

}  // namespace
