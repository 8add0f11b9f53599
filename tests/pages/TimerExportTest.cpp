// A page's schedule as timer XML, as an exported table and read back.
#include "pages/MonitorPage.h"

#include "server/MonitorServer.h"

#include <gtest/gtest.h>

namespace {

TEST(TimerExport, XmlAndTableTexts) {
  MonitorServer server((ServerOptions()));
  MonitorPage page("/timers", false);
  page.AddMonitoredItem("b&c", "two <words>", 30, true, false);
  page.AddMonitoredItem("a", "", 10, false, true);
  page.AdvanceSchedule(0);  // "a" falls due and is dropped
  page.AddMonitoredItem("a", "one", 10, false, false);
  page.AdvanceSchedule(4);
  EXPECT_EQ(page.ExportTimerXml(),
            "<TIMERS secondspassed=\"4\">\n"
            "\t<TIMER ID=\"a\" interval=\"10\" remains=\"10\" renews=\"0\" initial=\"0\">one</TIMER>\n"
            "\t<TIMER ID=\"b&amp;c\" interval=\"30\" remains=\"30\" renews=\"1\" initial=\"0\">two &lt;words&gt;</TIMER>\n"
            "</TIMERS>\n");
  std::string table = page.ExportTimerTable();
  EXPECT_EQ(table,
            "<table type=\"monitorexport\" >\n"
            "\t<tr><td>a</td><td>one</td><td>10</td><td>10</td></tr>\n"
            "\t<tr><td>b&amp;c</td><td>two &lt;words&gt;</td><td>30</td><td>30</td></tr>\n"
            "</table>\n");

  MonitorPage copy("/copy", false);
  copy.ImportTimerTable(table, false);
  std::vector<MonitoredItem> items = copy.Schedule().Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Text(), "a;one;10;10");
  EXPECT_EQ(items[1].ID, "b&amp;c");  // cells are not unescaped
  EXPECT_EQ(MonitorPage::IsTimerStatusRequest("TIMERSTATUS=1"), true);
  EXPECT_EQ(MonitorPage::IsTimerStatusRequest("timerstatus"), false);
  EXPECT_EQ(MonitorPage::IsTimerStatusRequest(nullptr), false);
  EXPECT_EQ(MonitorPage::IsWorkerStatusRequest("workerstatus=x"), true);
  EXPECT_EQ(MonitorPage::IsAsyncStatusRequest("asyncstatus"), false);
}

}  // namespace
