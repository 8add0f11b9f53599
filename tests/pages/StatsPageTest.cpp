// Statistics: counters, per-page timings and their file; "/stats" on a
// provider started with -g is the framework pages' test.
#include "pages/StatsPage.h"

#include "MemoryChannel.h"
#include "TestSupport.h"
#include "pages/PageStats.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

std::string GetText(MonitorPage& page) {
  testing_support::MemoryChannel io;
  page.Get(&io, "/stats", nullptr, nullptr, nullptr, 1, 1);
  return io.written;
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
  std::string saved = ReadFile(program + ".stats");
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

}  // namespace
