#include "platform/posix/CommandLineSplit.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using platform::SplitCommandLine;
using Args = std::vector<std::string>;

// The arguments after a plain program name.
Args After(const std::string& arguments) {
  Args all = SplitCommandLine("prog " + arguments);
  EXPECT_FALSE(all.empty());
  EXPECT_EQ(all.empty() ? "" : all[0], "prog");
  return all.empty() ? all : Args(all.begin() + 1, all.end());
}

TEST(SplitCommandLine, ProgramNameDropsQuotesAndKeepsBackslashes) {
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\tool.exe\" -x"),
            (Args{"C:\\Program Files\\tool.exe", "-x"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\a\"b c\"d e"), (Args{"C:\\dir\\ab cd", "e"}));
  EXPECT_EQ(SplitCommandLine("tool\\\\\" x\" y"), (Args{"tool\\\\ x", "y"}));
  EXPECT_EQ(SplitCommandLine(" \t snmpwalk  -v 1\t\tlocalhost "), (Args{"snmpwalk", "-v", "1", "localhost"}));
  EXPECT_EQ(SplitCommandLine("\"unterminated program"), (Args{"unterminated program"}));
  EXPECT_EQ(SplitCommandLine("\"\" a"), (Args{"", "a"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
  EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(SplitCommandLine, ArgumentsFollowTheRuntimeBackslashAndQuoteRules) {
  EXPECT_EQ(After("\"abc\" d e"), (Args{"abc", "d", "e"}));
  EXPECT_EQ(After("a\\\\\\b d\"e f\"g h"), (Args{"a\\\\\\b", "de fg", "h"}));
  EXPECT_EQ(After("a\\\\\\\"b c d"), (Args{"a\\\"b", "c", "d"}));
  EXPECT_EQ(After("a\\\\\\\\\"b c\" d e"), (Args{"a\\\\b c", "d", "e"}));
  // Two quotes inside quoting give one quote and quoting goes on.
  EXPECT_EQ(After("a\"b\"\" c d"), (Args{"ab\" c d"}));
  EXPECT_EQ(After("\"a\"\"b\" c"), (Args{"a\"b", "c"}));
  // Empty quoted arguments count; tabs separate; trailing backslashes stay.
  EXPECT_EQ(After("\"\" x\t\"\"\ty"), (Args{"", "x", "", "y"}));
  EXPECT_EQ(After("dir\\ sub\\\\ end\\"), (Args{"dir\\", "sub\\\\", "end\\"}));
  EXPECT_EQ(After("\"open to the end"), (Args{"open to the end"}));
  EXPECT_EQ(After("\\\"quoted\\\""), (Args{"\"quoted\""}));
  EXPECT_EQ(After("1.3.6.1.4.1.232.6.2.12.3.0 integer 12"),
            (Args{"1.3.6.1.4.1.232.6.2.12.3.0", "integer", "12"}));
}

// The tests hand argument lists to children as the command line that splits
// back into them.
TEST(SplitCommandLine, GivesBackTheArgumentsOfTheirQuotedLine) {
  for (const Args& args : {Args{"C:\\Program Files\\tool.exe", "", "a b", "x\\", "q\"r", "\\\"", "t\tu\\ v"},
                           Args{"prog"}, Args{"", "\\\\", "\"\""}}) {
    EXPECT_EQ(SplitCommandLine(testing_support::CommandLineOf(args)), args);
  }
}

}  // namespace
