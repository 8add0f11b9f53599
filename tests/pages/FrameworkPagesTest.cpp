// The framework pages of a running provider, over real loopback sockets.
#include "FakeCollector.h"
#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <regex>

namespace {

using testing_support::Environment;
using testing_support::FakeCollector;
using testing_support::Get;
using testing_support::ProviderProcess;
using testing_support::TempDir;

std::string Body(const std::string& reply) {
  std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

// The provider's module name: its file name, as its argv[0] ends.
std::string ModuleName() { return std::filesystem::path(testing_support::ProviderBinary()).filename().string(); }

class FrameworkPages : public ::testing::Test {
 protected:
  Environment Env() {
    return testing_support::ProviderEnvironment(dir_.Path(), dir_.File("none.reg"), collector_.Port());
  }
  TempDir dir_;
  FakeCollector collector_;
};

TEST_F(FrameworkPages, StatusScheduleHeartbeatAnswers) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x4ff"}, Env());
  ASSERT_TRUE(provider.Started()) << provider.Log();
  std::string port = std::to_string(provider.Port());
  std::string status = Get(provider.Port(), "/status");
  std::string table = "<table type=\"status\" >\n\t<tr>\t<td  port=\"" + port + "\"  />\n</tr>\n</table>\n";
  EXPECT_EQ(status, "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(table.size()) + "\r\n\r\n" + table);
  EXPECT_EQ(Body(Get(provider.Port(), "/status/extra?x")), Body(status));
  EXPECT_EQ(testing_support::Exchange(provider.Port(), "POST /status HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
            "HTTP/1.1 405 Method Not Allowed\r\nContent-Length:0\r\n\r\n");
  EXPECT_EQ(Body(Get(provider.Port(), "/schedule")),
            "<table type=\"schedule\" >\n\t<tr><td>inactive</td><td>0</td></tr>\n</table>\n");
  EXPECT_EQ(Get(provider.Port(), "/heartbeat?anything=1"), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
  EXPECT_TRUE(testing_support::WaitForText(provider.LogFile(), "Heartbeat acknowledged"));
  EXPECT_EQ(Get(provider.Port(), "/cookiemaintenance"), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");

  // The process id goes to the collector once, shortly after the start.
  ASSERT_TRUE(collector_.WaitForRequests(1));
  std::string target = collector_.Requests()[0].target;
  std::string module = std::regex_replace(ModuleName(), std::regex(R"(\.)"), R"(\.)");
  EXPECT_TRUE(std::regex_match(target, std::regex(R"(/inventory\?file=)" + module + R"(&pid=\d+)"))) << target;
  EXPECT_EQ(target, "/inventory?file=" + ModuleName() + "&pid=" + std::to_string(provider.Process().Id()));
}

TEST_F(FrameworkPages, IndexListsApplicationPagesAndTriggersLateInitialization) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-f", "-V", "0x4ff"}, Env());
  ASSERT_TRUE(provider.Started());
  // Framework pages never appear in the list.
  const std::string before =
      "<table date=\"9 Feb 2007\" version=\"1.2.0.1\">\n\t<page path=\"/lvl1inventory\" metadata=\"n\"/>\n</table>\n";
  EXPECT_EQ(Body(Get(provider.Port(), "/index")), before);
  EXPECT_EQ(Body(Get(provider.Port(), "/index?collectorrequest=10")), before);
  EXPECT_EQ(Body(Get(provider.Port(), "/index?COLLECTORREQUEST=1")), before);
  // The request that sets the flag is served before late initialization.
  EXPECT_EQ(Body(Get(provider.Port(), "/index?collectorrequest=1")), before);
  EXPECT_EQ(Body(Get(provider.Port(), "/index")),
            "<table date=\"9 Feb 2007\" version=\"1.2.0.1\" lateinitdone=\"1\">\n"
            "\t<page path=\"/lvl1inventory\" metadata=\"n\"/>\n</table>\n");
  std::string log = provider.Log();
  EXPECT_EQ(log.find("IndexPage::Initial index page request from collector"),
            log.rfind("IndexPage::Initial index page request from collector"));
  // With -f the collector hears how late initialization went.
  ASSERT_TRUE(collector_.WaitForRequests(2));
  bool told = false;
  for (const auto& r : collector_.Requests()) told = told || r.target == "/inventory?file=" + ModuleName() + "&provstatus=1";
  EXPECT_TRUE(told);
}

TEST_F(FrameworkPages, ShutdownStopsTheProvider) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x4ff"}, Env());
  ASSERT_TRUE(provider.Started());
  EXPECT_EQ(testing_support::Exchange(provider.Port(), "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
  int code = -1;
  EXPECT_TRUE(provider.WaitForExit(20000, &code));
  EXPECT_EQ(code, 0);
  std::string log = provider.Log();
  EXPECT_EQ(log.find("Sending OnProvConShutdown"), std::string::npos);
  EXPECT_NE(log.find("Shutdown..."), std::string::npos);
  EXPECT_NE(log.find("Call Cleaning up for page /status"), std::string::npos);

  ProviderProcess second(dir_.Path(), {"-u", "-z", "-V", "0x4ff"}, Env());
  ASSERT_TRUE(second.Started());
  testing_support::Exchange(second.Port(), "POST /shutdown?provcon=1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(second.WaitForExit(20000, &code));
  EXPECT_NE(second.Log().find("Sending OnProvConShutdown to page /index"), std::string::npos);

  ProviderProcess third(dir_.Path(), {"-u", "-z", "-V", "0x4ff"}, Env());
  ASSERT_TRUE(third.Started());
  testing_support::Exchange(third.Port(), "POST /shutdown HTTP/1.1\r\nContent-Length: 9\r\n\r\nprovcon=2");
  EXPECT_TRUE(third.WaitForExit(20000, &code));
  EXPECT_NE(third.Log().find("Sending OnProvConShutdown to page /lvl1inventory"), std::string::npos);
}

}  // namespace

// No page of this provider asks to be woken or to stay resident, but the
// framework offers it: /schedule reports the strongest wish, with the longest
// delay of the pages that ask to be woken.
#include "MemoryChannel.h"
#include "pages/StandardPages.h"
#include "server/MonitorServer.h"

#include <utility>
#include <vector>

namespace {

class WishPage : public MonitorPage {
 public:
  WishPage(const std::string& path, int state, std::uint32_t delay)
      : MonitorPage(path.c_str(), false), state_(state), delay_(delay) {}
  int GetScheduleState(std::uint32_t& delay) override {
    delay = delay_;
    return state_;
  }

 private:
  int state_;
  std::uint32_t delay_;
};

TEST(SchedulePage, ReportsTheStrongestWishAndTheLongestWakeDelay) {
  const struct {
    std::vector<std::pair<int, std::uint32_t>> wishes;  // in registry order
    std::string row;
  } cases[] = {
      {{{1, 30}, {1, 90}}, "<td>wakeme</td><td>90</td>"},
      {{{1, 90}, {1, 30}}, "<td>wakeme</td><td>90</td>"},
      {{{1, 30}, {2, 60}}, "<td>resident</td><td>30</td>"},
      {{{0, 50}}, "<td>inactive</td><td>0</td>"},
  };
  for (const auto& c : cases) {
    MonitorServer server{ServerOptions()};
    SchedulePage* schedule = new SchedulePage;
    schedule->Register();
    for (std::size_t i = 0; i < c.wishes.size(); ++i)
      (new WishPage("/page" + std::to_string(i), c.wishes[i].first, c.wishes[i].second))->Register();
    testing_support::MemoryChannel io;
    EXPECT_EQ(schedule->Get(&io, "/schedule", nullptr, nullptr, nullptr, 1, 1), 200u);
    EXPECT_NE(io.written.find(c.row), std::string::npos) << io.written;
    server.DeletePages();
  }
}

}  // namespace
