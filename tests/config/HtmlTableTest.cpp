#include "config/HtmlTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::vector<std::string>>;

TEST(HtmlTable, ExactTextOfEveryOperation) {
  HtmlTable table;
  EXPECT_EQ(table.GetState(), HtmlTable::OutsideTable);
  table.BeginTable("old");
  table.BeginTable("timers");  // discards what came before
  EXPECT_EQ(table.GetState(), HtmlTable::InTable);
  table.BeginRow();
  EXPECT_EQ(table.GetState(), HtmlTable::InRow);
  table.AddCell("a<b");
  table.AddCell(42u);
  table.AddCell("tab\tline\r\nq\"&'");
  table.EndRow();
  table.BeginRow();
  table.BeginCell();
  EXPECT_EQ(table.GetState(), HtmlTable::InOpenCell);
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

TEST(HtmlTable, WildcardMatching) {
  std::vector<std::string> captures;
  EXPECT_TRUE(MatchWildcard("a*c", "abbbc"));
  EXPECT_TRUE(MatchWildcard("A*C", "abc"));  // letter case ignored
  EXPECT_FALSE(MatchWildcard("a*c", "abcd"));
  EXPECT_TRUE(MatchWildcard("*", ""));
  EXPECT_TRUE(MatchWildcard("", ""));
  EXPECT_FALSE(MatchWildcard("", "x"));
  EXPECT_FALSE(MatchWildcard("a?", "ab"));  // "?" is an ordinary character
  EXPECT_TRUE(MatchWildcard("*x*y*z*", "..x..y..y..z.."));

  // "@" takes the shortest run that lets the rest match.
  EXPECT_TRUE(MatchWildcard("*<b>@</b>*", "0<b>one</b>1<b>two</b>", &captures));
  EXPECT_EQ(captures, std::vector<std::string>{"one"});
  captures.clear();
  EXPECT_TRUE(MatchWildcard("@-@-*", "a--b-c", &captures));
  EXPECT_EQ(captures, (std::vector<std::string>{"a", ""}));
  captures.clear();
  EXPECT_TRUE(MatchWildcard("@x", "axbx", &captures));
  EXPECT_EQ(captures, std::vector<std::string>{"axb"});

  captures.clear();
  const std::string longText(5000, 'q');
  EXPECT_TRUE(MatchWildcard("<@>", "<" + longText + ">", &captures));
  EXPECT_EQ(captures[0].size(), kMaxWildcardCapture);
}

TEST(HtmlTable, ReadsBackTablesItWrote) {
  HtmlTable table;
  table.BeginTable("t");
  table.BeginRow();
  table.AddCell("a&b");
  table.AddCell(7u);
  table.EndRow();
  table.BeginRow();
  table.EndRow();
  table.BeginRow();
  table.BeginCell();
  table.AddCellAttribute("x", "1");
  table.EndCell();
  table.AddCell("last");
  table.EndRow();
  table.EndTable();
  // Cells with attributes are not read; text stays escaped.
  EXPECT_EQ(ReadHtmlTable(table.GetText()), (Rows{{"a&amp;b", "7"}, {}, {"last"}}));

  EXPECT_EQ(ReadHtmlTable("<TR><Td>x</tD></tr> <tr><td>y</td>"), (Rows{{"x"}}));
  EXPECT_EQ(FindTagged("k", "<k>1</k><k></k>junk<k>3</k><k>open"), (std::vector<std::string>{"1", "", "3"}));
  EXPECT_TRUE(FindTagged("k", "").empty());
  EXPECT_EQ(ReadHtmlTable("<row><c>1</c></row>", "row", "c"), (Rows{{"1"}}));

  // A row longer than a capture loses its end, and reading goes on after it.
  std::string big = "<tr><td>" + std::string(2000, 'v') + "</td></tr><tr><td>n</td></tr>";
  const Rows rows = ReadHtmlTable(big);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].empty());
  EXPECT_EQ(rows[1], std::vector<std::string>{"n"});
}

}  // namespace
