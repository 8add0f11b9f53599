// The HTML tables of the status pages. Reading and wildcard matching are
// checked against models by fuzz/fuzz_html_table; here the written text and
// the capture limit.
#include "config/HtmlTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(HtmlTable, ExactTextOfEveryOperation) {
  HtmlTable table;
  table.BeginTable("old");
  table.BeginTable("timers");  // discards what came before
  table.BeginRow();
  table.AddCell("a<b");
  table.AddCell(42u);
  table.AddCell("tab\tline\r\nq\"&'");
  table.EndRow();
  table.BeginRow();
  table.BeginCell();
  table.EndCell();
  table.BeginCell();
  table.AddCellAttribute("na\"me", "say \"x\"\n");
  table.AddCellAttribute("b", "");
  table.EndCell();
  table.EndCell();  // outside an open cell: a closing tag
  EXPECT_EQ(table.GetState(), HtmlTable::InRow);
  table.EndRow();
  table.EndTable();
  EXPECT_EQ(table.GetState(), HtmlTable::OutsideTable);
  const std::string expected =
      "<table type=\"timers\" >\n"
      "\t<tr><td>a&lt;b</td><td>42</td><td>tab&#x9;line&#xA;q&quot;&amp;&apos;</td></tr>\n"
      "\t<tr>\t<td  />\n"
      "\t<td  na&quot;me=\"say &quot;x&quot;&#xA;\"  b=\"\"  />\n"
      "</td>\n"
      "</tr>\n"
      "</table>\n";
  EXPECT_EQ(table.GetText(), expected);
  EXPECT_EQ(table.GetLength(), expected.size());
}

TEST(HtmlTable, CapturesAreCutAtTheirLimit) {
  std::vector<std::string> captures;
  EXPECT_TRUE(MatchWildcard("<@>", "<" + std::string(5000, 'q') + ">", &captures));
  EXPECT_EQ(captures.at(0).size(), kMaxWildcardCapture);
  // A row longer than a capture loses its end, and reading goes on after it.
  const auto rows = ReadHtmlTable("<tr><td>" + std::string(2000, 'v') + "</td></tr><tr><td>n</td></tr>");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].empty());
  EXPECT_EQ(rows[1], std::vector<std::string>{"n"});
}

}  // namespace
