// Clients that stall, cut their requests short or send too much, against the
// running provider: each is dealt with on its own and the others are served.
#include "FakeCollector.h"
#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"

#include "platform/HostName.h"
#include "platform/Socket.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using testing_support::Environment;
using testing_support::Exchange;
using testing_support::FakeCollector;
using testing_support::Get;
using testing_support::ProviderProcess;
using testing_support::TempDir;

platform::SocketHandle Connect(std::uint16_t port) {
  platform::SocketHandle socket = platform::CreateTcpSocket();
  if (!platform::ConnectLoopback(socket, port, 5000)) {
    platform::CloseSocket(socket);
    return platform::kInvalidSocket;
  }
  return socket;
}

void SendText(platform::SocketHandle socket, const std::string& text) {
  platform::Send(socket, text.data(), text.size());
}

// True when the server closed the connection within the time; what it sent
// before that lands in reply.
bool ClosedByServer(platform::SocketHandle socket, unsigned timeoutMs, std::string* reply) {
  std::uint64_t deadline = platform::MonotonicMilliseconds() + timeoutMs;
  char buffer[4096];
  for (;;) {
    std::uint64_t now = platform::MonotonicMilliseconds();
    if (now >= deadline) return false;
    if (platform::WaitReadable(socket, static_cast<unsigned>(deadline - now)) <= 0) return false;
    long n = platform::Receive(socket, buffer, sizeof buffer);
    if (n <= 0) return true;
    reply->append(buffer, static_cast<std::size_t>(n));
  }
}

class BadClients : public ::testing::Test {
 protected:
  Environment Env() {
    return testing_support::ProviderEnvironment(dir_.Path(), dir_.File("none.reg"), collector_.Port());
  }
  TempDir dir_;
  FakeCollector collector_;
};

TEST_F(BadClients, StalledClientsLetTheMainThreadGoAfterTheirTimeOut) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x423"}, Env());
  ASSERT_TRUE(provider.Started()) << provider.Log();
  std::uint16_t port = provider.Port();

  // One connects and says nothing; one announces a 2 GiB body to a page
  // served on the main thread and sends a few bytes of it.
  platform::SocketHandle silent = Connect(port);
  ASSERT_NE(silent, platform::kInvalidSocket);
  platform::SocketHandle shortBody = Connect(port);
  ASSERT_NE(shortBody, platform::kInvalidSocket);
  SendText(shortBody, "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 2147483648\r\n\r\n<alarms>");

  std::uint64_t before = platform::MonotonicMilliseconds();
  std::string status = Get(port, "/status");
  std::uint64_t waited = platform::MonotonicMilliseconds() - before;
  EXPECT_EQ(status.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << status;
  // Served only once both time-outs, one after the other, let the main
  // thread go.
  EXPECT_GE(waited + 500, 2 * 5000u);

  std::string reply;
  EXPECT_TRUE(ClosedByServer(silent, 20000, &reply));
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(ClosedByServer(shortBody, 20000, &reply));
  EXPECT_TRUE(testing_support::WaitForText(provider.LogFile(), "timed out reading the request")) << provider.Log();
  platform::CloseSocket(silent);
  platform::CloseSocket(shortBody);
}

TEST_F(BadClients, MalformedOversizedAndAbandonedRequestsLeaveTheProviderServing) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x423"}, Env());
  ASSERT_TRUE(provider.Started()) << provider.Log();
  std::uint16_t port = provider.Port();

  // Half a request line, then gone.
  platform::SocketHandle half = Connect(port);
  SendText(half, "GET /sta");
  platform::CloseSocket(half);

  // More headers than a request may have: closed without a reply.
  std::string many = "GET /status HTTP/1.1\r\n";
  for (int i = 0; i < 20; ++i) many += "X-Header-" + std::to_string(i) + ": value\r\n";
  EXPECT_EQ(Exchange(port, many + "\r\n"), "");

  // A 1 MB request line: the server stops reading long before its end.
  {
    platform::SocketHandle huge = Connect(port);
    std::string line = "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\n\r\n";
    std::thread sender([&] { SendText(huge, line); });
    std::string reply;
    EXPECT_TRUE(ClosedByServer(huge, 20000, &reply));
    EXPECT_EQ(reply.find("200 OK"), std::string::npos);
    platform::ShutdownSocket(huge);
    sender.join();
    platform::CloseSocket(huge);
  }

  // Clients that leave before reading their replies, on the main thread
  // (index) and on session threads (status).
  for (int i = 0; i < 40; ++i) {
    platform::SocketHandle gone = Connect(port);
    SendText(gone, i % 2 ? "GET /status HTTP/1.1\r\n\r\n" : "GET /index HTTP/1.1\r\n\r\n");
    platform::SetZeroLinger(gone);
    platform::CloseSocket(gone);
  }

  for (const char* target : {"/status", "/index", "/heartbeat"}) {
    std::string reply = Get(port, target);
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << target << ": " << reply;
  }
  int code = 0;
  EXPECT_FALSE(provider.WaitForExit(0, &code)) << "provider ended with " << code;
}

// A web page in a local browser reaches 127.0.0.1 too: its cross-site
// requests carry Origin, and after DNS rebinding its Host is the page's own
// name. Such requests are closed unanswered; the collector's requests (no
// Host at all, HTTP/1.0) and local clients naming an address, localhost or
// this machine are served.
TEST_F(BadClients, BrowserRequestsAreClosedUnanswered) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x423"}, Env());
  ASSERT_TRUE(provider.Started()) << provider.Log();
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
    if (c.served)
      EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << c.head << reply;
    else
      EXPECT_EQ(reply, "") << c.head;
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
