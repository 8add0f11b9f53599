// The framework pages of a running provider, over real loopback sockets;
// the statistics page's timings and file also in this process.
#include "MemoryChannel.h"
#include "ProviderFixture.h"
#include "pages/PageStats.h"
#include "pages/StandardPages.h"
#include "pages/StatsPage.h"
#include "platform/Process.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testing_support::Get;
using testing_support::ProviderProcess;

std::string Body(const std::string& reply) {
  std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

// The provider's module name: its file name, as its argv[0] ends.
std::string ModuleName() { return std::filesystem::path(testing_support::ProviderBinary()).filename().string(); }

using FrameworkPages = testing_support::ProviderFixture;

TEST_F(FrameworkPages, StatusScheduleHeartbeatAnswers) {
  ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x4ff"}, Env());
  ASSERT_TRUE(provider.Started()) << provider.Log();
  std::string port = std::to_string(provider.Port());
  std::string status = Get(provider.Port(), "/status");
  std::string table = "<table type=\"status\" >\n\t<tr>\t<td  port=\"" + port + "\"  />\n</tr>\n</table>\n";
  EXPECT_EQ(status, "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(table.size()) + "\r\n\r\n" + table);
  EXPECT_EQ(Body(Get(provider.Port(), "/status/extra?x")), Body(status));
  EXPECT_EQ(testing_support::Post(provider.Port(), "/status"), "HTTP/1.1 405 Method Not Allowed\r\nContent-Length:0\r\n\r\n");
  EXPECT_EQ(Body(Get(provider.Port(), "/schedule")),
            "<table type=\"schedule\" >\n\t<tr><td>inactive</td><td>0</td></tr>\n</table>\n");
  EXPECT_EQ(Get(provider.Port(), "/heartbeat?anything=1"), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
  EXPECT_TRUE(testing_support::WaitForText(provider.LogFile(), "Heartbeat acknowledged"));
  EXPECT_EQ(Get(provider.Port(), "/cookiemaintenance"), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");

  // The process id goes to the collector once, shortly after the start.
  ASSERT_TRUE(collector_.WaitForRequests(1));
  std::string target = collector_.Requests()[0].target;
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

// provcon, in the query or the body, has the pages told of the collector's
// shutdown.
TEST_F(FrameworkPages, ShutdownStopsTheProvider) {
  struct {
    std::string request, told;
  } cases[] = {
      {"POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n", ""},
      {"POST /shutdown?provcon=1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "Sending OnProvConShutdown to page /index"},
      {"POST /shutdown HTTP/1.1\r\nContent-Length: 9\r\n\r\nprovcon=2", "Sending OnProvConShutdown to page /lvl1inventory"},
  };
  for (const auto& c : cases) {
    ProviderProcess provider(dir_.Path(), {"-u", "-z", "-V", "0x4ff"}, Env());
    ASSERT_TRUE(provider.Started());
    EXPECT_EQ(testing_support::Exchange(provider.Port(), c.request), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
    int code = -1;
    EXPECT_TRUE(provider.WaitForExit(20000, &code));
    EXPECT_EQ(code, 0);
    std::string log = provider.Log();
    EXPECT_NE(log.find("Call Cleaning up for page /status"), std::string::npos);
    if (c.told.empty()) EXPECT_EQ(log.find("Sending OnProvConShutdown"), std::string::npos);
    else EXPECT_NE(log.find(c.told), std::string::npos) << c.request;
  }
}

TEST_F(FrameworkPages, StatsWithAndWithoutStatistics) {
  std::string program = dir_.File("inventory-provider");
  testing_support::MakeProgramAlias(testing_support::ProviderBinary(), program);
  testing_support::WriteFile(program + ".stats", "old");
  testing_support::WriteFile(program + ".pagestats", "kept");
  auto plain = testing_support::RunProgram({program, "-u", "-o", "GET /status"}, "", Env());
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_NE(plain.output.find("<table type=\"status\" >"), std::string::npos) << plain.output;
  EXPECT_FALSE(testing_support::FileExists(program + ".stats"));
  EXPECT_EQ(testing_support::ReadFile(program + ".pagestats"), "kept");
  std::filesystem::remove(program + ".pagestats");

  testing_support::ProviderProcess& provider = Start({"-u", "-g", "-z", "-V", "0x440"}, {}, {}, program);
  ASSERT_TRUE(provider.Started());
  std::uint16_t p = provider.Port();
  testing_support::Get(p, "/status");
  testing_support::Get(p, "/status/x");
  // Timings are recorded after the reply has gone out: ask until both are in.
  std::string stats;
  auto statsShow = [&](const std::string& text) {
    return testing_support::WaitUntil([&] { return (stats = Get(p, "/stats")).find(text) != std::string::npos; }, 20000, 20);
  };
  statsShow("<page name=\"/status/x\">");
  EXPECT_NE(stats.find("<page name=\"/status\">\n\t<get>\n\t\t<count>1</count>"), std::string::npos) << stats;
  EXPECT_NE(stats.find("<page name=\"/status/x\">\n\t<get>\n\t\t<count>1</count>"), std::string::npos);
  EXPECT_EQ(testing_support::Exchange(p, "POST /stats HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), "");

  // Requests on session threads at once are all counted (each waits its
  // turn for the statistics file, half a second a try).
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) clients.emplace_back([p] { testing_support::Get(p, "/schedule"); });
  for (auto& c : clients) c.join();
  const std::string four = "<page name=\"/schedule\">\n\t<get>\n\t\t<count>4</count>";
  statsShow(four);
  EXPECT_NE(stats.find(four), std::string::npos) << stats;
  testing_support::Exchange(p, "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  int code = -1;
  EXPECT_TRUE(provider.WaitForExit(20000, &code));
  std::string saved = testing_support::ReadFile(program + ".stats");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(saved, found, std::regex(R"re(<key name="pagefound" value="(\d+)"/>)re"))) << saved;
  EXPECT_GE(std::stoul(found[1]), 7u);
}

std::string GetText(MonitorPage& page) {
  testing_support::MemoryChannel io;
  page.Get(&io, "/stats", nullptr, nullptr, nullptr, 1, 1);
  return io.written;
}

TEST(StatsPage, TimingsAveragesAndCountersAcrossARestart) {
  testing_support::TempDir dir;
  std::string program = dir.File("prov");
  PageStats::Instance().SetFileName(program);
  EXPECT_TRUE(PageStats::Instance().Record("/b", false, 10));
  EXPECT_TRUE(PageStats::Instance().Record("/b", false, 20));
  EXPECT_TRUE(PageStats::Instance().Record("/b", false, 31));
  EXPECT_TRUE(PageStats::Instance().Record("/a", true, 7));
  {
    MonitorServer server((ServerOptions()));
    server.Counters().pagefound = 5;
    StatsPage page(program);
    std::string text = GetText(page);
    EXPECT_NE(text.find("<pagefound>5</pagefound>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<page name=\"/a\">\n\t<get>\n\t\t<count>0</count>\n\t\t<sum>0</sum>\n\t\t<avg>0</avg>\n\t</get>\n"
                        "\t<post>\n\t\t<count>1</count>\n\t\t<sum>7</sum>\n\t\t<avg>7</avg>\n\t</post>\n</page>\n"
                        "<page name=\"/b\">\n\t<get>\n\t\t<count>3</count>\n\t\t<sum>61</sum>\n\t\t<avg>20</avg>"),
              std::string::npos)
        << text;
    EXPECT_TRUE(page.WriteStats());
    EXPECT_EQ(page.Post(nullptr, "/stats", nullptr, nullptr, nullptr, 1, 1), 400u);
  }
  std::string saved = testing_support::ReadFile(program + ".stats");
  EXPECT_NE(saved.find("<key name=\"pagefound\" value=\"5\"/>"), std::string::npos) << saved;
  {
    MonitorServer server((ServerOptions()));
    StatsPage page(program);
    EXPECT_EQ(page.InitializeOnce(), 0);
    EXPECT_EQ(server.Counters().pagefound, 5u);  // continued from the file
    ASSERT_EQ(page.Schedule().Items().size(), 1u);
    EXPECT_EQ(page.Schedule().Items()[0].Text(), "saveprovstats;provider statistics save;600;600");
    server.Signal(MonitorServer::kSignalSuggestShutdown);
    EXPECT_EQ(page.GetSchedulerTimeout(), 10000u);
    EXPECT_TRUE(page.IsIdle());
  }
  PageStats::Instance().SetFileName(dir.File("unused"));
}

// No page of this provider asks to be woken or to stay resident, but the
// framework offers it: /schedule reports the strongest wish, with the longest
// delay of the pages that ask to be woken.
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
