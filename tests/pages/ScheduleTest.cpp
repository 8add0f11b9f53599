// A page's schedule: order, settlement, changes, and its timer XML and
// exported table.
#include "pages/Schedule.h"

#include "pages/MonitorPage.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Names(const std::vector<MonitoredItem>& items) {
  std::vector<std::string> names;
  for (const auto& item : items) names.push_back(item.ID);
  return names;
}

TEST(PageSchedule, OrderTiesAndInitialItems) {
  PageSchedule s;
  EXPECT_EQ(s.NextTimeout(), kNothingDue);
  EXPECT_EQ(s.Add("a", "", 50, true, false), kScheduleAdded);
  EXPECT_EQ(s.Add("b", "", 50, true, false), kScheduleAdded);
  EXPECT_EQ(s.Add("c", "", 10, false, false), kScheduleAdded);
  EXPECT_EQ(Names(s.Items()), (std::vector<std::string>{"c", "b", "a"}));  // later ties first
  EXPECT_EQ(s.Add("a", "again", 5, true, false), kScheduleReplaced);
  EXPECT_EQ(Names(s.Items()), (std::vector<std::string>{"a", "c", "b"}));

  PageSchedule now;
  now.Add("later", "", 30, true, false);
  now.Add("first", "", 30, false, true);
  EXPECT_EQ(now.NextTimeout(), 0u);
  EXPECT_EQ(Names(now.Settle(0)), (std::vector<std::string>{"first"}));
  EXPECT_EQ(Names(now.Items()), (std::vector<std::string>{"later"}));  // did not renew
  EXPECT_EQ(now.NextTimeout(), 30u);
}

// Seconds passed accumulate until they reach the earliest item; then every
// item is settled: the due fall out or renew, the rest count down.
TEST(PageSchedule, SettlementAccumulatesUntilDue) {
  PageSchedule s;
  s.Add("r", "", 100, true, false);
  struct {
    std::uint32_t passed, next;
    std::size_t due;
  } steps[] = {{30, 70, 0}, {30, 40, 0}, {30, 40, 0} /* 90 is not below the stored 40 */, {10, 100, 1}};
  for (const auto& step : steps) {
    EXPECT_EQ(s.Settle(step.passed).size(), step.due) << step.passed;
    EXPECT_EQ(s.NextTimeout(), step.next) << step.passed;
  }
  EXPECT_EQ(s.SecondsPassed(), 0u);

  PageSchedule mixed;
  mixed.Add("five", "", 5, false, false);
  mixed.Add("seven", "", 7, true, false);
  mixed.Add("twenty", "", 20, true, false);
  EXPECT_EQ(Names(mixed.Settle(8)), (std::vector<std::string>{"five", "seven"}));
  ASSERT_EQ(mixed.Items().size(), 2u);
  EXPECT_EQ(mixed.Items()[0].Text(), "seven;;7;7");
  EXPECT_EQ(mixed.Items()[1].Text(), "twenty;;20;12");
  mixed.SetActive(false);
  EXPECT_TRUE(mixed.Settle(1000).empty());
  EXPECT_TRUE(mixed.IsIdle());
}

TEST(PageSchedule, ModifyRulesAndRemove) {
  struct Case {
    std::uint32_t newInterval, remains;
  } cases[] = {{30, 0}, {120, 80}, {50, 10}, {60, 20}};
  for (const Case& c : cases) {
    PageSchedule s;
    s.Add("m", "", 60, true, false);
    s.Settle(40);  // 20 seconds left
    s.Settle(0);
    EXPECT_EQ(s.Modify("m", c.newInterval), kScheduleModified);
    ASSERT_EQ(s.Items().size(), 1u);
    // Remains are counted from the last settlement; 40 have passed since.
    EXPECT_EQ(s.Items()[0].remains > 40 ? s.Items()[0].remains - 40 : 0, c.remains) << c.newInterval;
    EXPECT_EQ(s.Items()[0].interval, c.newInterval);
  }
  PageSchedule fresh;
  EXPECT_EQ(fresh.Modify("new", 15), kScheduleAdded);
  ASSERT_EQ(fresh.Items().size(), 1u);
  EXPECT_EQ(fresh.Items()[0].description, "created by call to modify");
  EXPECT_TRUE(fresh.Items()[0].renews);
  EXPECT_EQ(fresh.Remove("missing"), 0);
  EXPECT_EQ(fresh.Remove("new"), 1);
  EXPECT_EQ(fresh.NextTimeout(), kNothingDue);
}

// The collector's reply words are the collector messages' test.
TEST(PageSchedule, Import) {
  PageSchedule s;
  s.Add("x", "", 9, true, false);
  s.Import({{"a", "desc", "30", "12"}, {"bad", "d", "0", "1"}, {"short", "d", "3"}, {"x", "dup", "5", "7"}}, false);
  std::vector<MonitoredItem> items = s.Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Text(), "x;dup;5;7");
  EXPECT_EQ(items[1].Text(), "x;;9;9");
  EXPECT_EQ(items[2].Text(), "a;desc;30;12");
  EXPECT_FALSE(items[2].renews);
  PageSchedule due;
  due.Import({{"a", "d", "30", "12"}}, true);
  EXPECT_EQ(due.NextTimeout(), 0u);
}

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
