// Statistics: counters, per-page timings, their files, and "/stats" on a
// provider started with -g.
#include "pages/StatsPage.h"

#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"
#include "pages/PageStats.h"
#include "platform/ChildProcess.h"
#include "platform/Process.h"
#include "server/IOChannel.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

std::string GetText(MonitorPage& page) {
  std::FILE* out = std::tmpfile();
  IOStdio io(nullptr, out);
  page.Get(&io, "/stats", nullptr, nullptr, nullptr, 1, 1);
  std::string text = testing_support::ReadStream(out);
  std::fclose(out);
  return text;
}

TEST(StatsPage, TimingsAveragesAndCountersAcrossARestart) {
  TempDir dir;
  std::string program = dir.File("prov");
  PageStats::Instance().SetFileName(program);
  EXPECT_TRUE(PageStats::Instance().Record("/b", false, 10));
  EXPECT_TRUE(PageStats::Instance().Record("/b", false, 20));
  EXPECT_TRUE(PageStats::Instance().Record("/b", false, 31));
  EXPECT_TRUE(PageStats::Instance().Record("/a", true, 7));
  {
    MonitorServer server((ServerOptions()));
    server.Counters().pagefound = 5;
    server.Counters().externalwakeups = 2;
    StatsPage page(program);
    std::string text = GetText(page);
    EXPECT_NE(text.find("<pagefound>5</pagefound>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<external-wakeups>2</external-wakeups>\n"), std::string::npos);
    EXPECT_NE(text.find("<page name=\"/a\">\n\t<get>\n\t\t<count>0</count>\n\t\t<sum>0</sum>\n\t\t<avg>0</avg>\n\t</get>\n"
                        "\t<post>\n\t\t<count>1</count>\n\t\t<sum>7</sum>\n\t\t<avg>7</avg>\n\t</post>\n</page>\n"
                        "<page name=\"/b\">\n\t<get>\n\t\t<count>3</count>\n\t\t<sum>61</sum>\n\t\t<avg>20</avg>"),
              std::string::npos)
        << text;
    EXPECT_LT(text.find("<forwarded>"), text.find("<pagenotfound>"));
    EXPECT_LT(text.find("<current-resident-time>"), text.find("<providerstats"));
    EXPECT_TRUE(page.WriteStats());
    EXPECT_EQ(page.Post(nullptr, "/stats", nullptr, nullptr, nullptr, 1, 1), 400u);
  }
  std::string saved = ReadFile(program + ".stats");
  EXPECT_NE(saved.find("<key name=\"pagefound\" value=\"5\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<key name=\"as-of\" value=\"["), std::string::npos);
  {
    MonitorServer server((ServerOptions()));
    StatsPage page(program);
    EXPECT_EQ(page.InitializeOnce(), 0);
    EXPECT_EQ(server.Counters().pagefound, 5u);  // continued from the file
    ASSERT_EQ(page.Schedule().Items().size(), 1u);
    EXPECT_EQ(page.Schedule().Items()[0].Text(), "saveprovstats;provider statistics save;600;600");
    EXPECT_EQ(page.GetSchedulerTimeout(), 600u);
    server.Signal(MonitorServer::kSignalSuggestShutdown);
    EXPECT_EQ(page.GetSchedulerTimeout(), 10000u);
    EXPECT_TRUE(page.IsIdle());
  }
  PageStats::Instance().SetFileName(dir.File("unused"));
}

TEST(StatsPage, ProviderWithAndWithoutStatistics) {
  TempDir dir;
  std::string program = dir.File("inventory-provider");
  testing_support::MakeProgramAlias(testing_support::ProviderBinary(), program);
  testing_support::WriteFile(program + ".stats", "old");
  testing_support::WriteFile(program + ".pagestats", "kept");
  testing_support::Environment env =
      testing_support::ProviderEnvironment(dir.Path(), dir.File("none.reg"), testing_support::FreePort());
  auto plain = testing_support::RunProgram({program, "-u", "-o", "GET /status"}, "", env);
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_FALSE(testing_support::FileExists(program + ".stats"));
  EXPECT_EQ(ReadFile(program + ".pagestats"), "kept");
  std::filesystem::remove(program + ".pagestats");

  testing_support::ProviderProcess provider(dir.Path(), {"-u", "-g", "-z", "-V", "0x440"}, env, true, program);
  ASSERT_TRUE(provider.Started());
  std::uint16_t p = provider.Port();
  testing_support::Get(p, "/status");
  testing_support::Get(p, "/status/x");
  // Timings are recorded after the reply has gone out: ask until both are in.
  std::string stats;
  for (int i = 0; i < 200; ++i) {
    stats = testing_support::Get(p, "/stats");
    if (stats.find("<page name=\"/status/x\">") != std::string::npos) break;
    platform::SleepMilliseconds(20);
  }
  EXPECT_NE(stats.find("<page name=\"/status\">\n\t<get>\n\t\t<count>1</count>"), std::string::npos) << stats;
  EXPECT_NE(stats.find("<page name=\"/status/x\">\n\t<get>\n\t\t<count>1</count>"), std::string::npos);
  EXPECT_EQ(testing_support::Exchange(p, "POST /stats HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), "");

  // Requests on many session threads at once are all counted.
  std::vector<std::thread> clients;
  for (int i = 0; i < 16; ++i) clients.emplace_back([p] { testing_support::Get(p, "/schedule"); });
  for (auto& c : clients) c.join();
  for (int i = 0; i < 500; ++i) {
    stats = testing_support::Get(p, "/stats");
    if (stats.find("<page name=\"/schedule\">\n\t<get>\n\t\t<count>16</count>") != std::string::npos) break;
    platform::SleepMilliseconds(20);
  }
  EXPECT_NE(stats.find("<page name=\"/schedule\">\n\t<get>\n\t\t<count>16</count>"), std::string::npos) << stats;
  testing_support::Exchange(p, "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  int code = -1;
  EXPECT_TRUE(provider.WaitForExit(20000, &code));
  std::string saved = ReadFile(program + ".stats");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(saved, found, std::regex(R"re(<key name="pagefound" value="(\d+)"/>)re"))) << saved;
  EXPECT_GE(std::stoul(found[1]), 19u);
}

}  // namespace
