#include "inventory/SnmpTools.h"

#include "TestSupport.h"

#include "platform/Process.h"

#include <gtest/gtest.h>

namespace {

void ExpectBinding(const SnmpVarBind& b, const std::string& oid, const std::string& type, const std::string& value) {
  EXPECT_EQ(b.GetOid(), oid);
  EXPECT_EQ(b.GetType(), type);
  EXPECT_EQ(b.GetValue(), value);
}

SnmpVarBind Parsed(const std::string& line, bool* ok = nullptr) {
  SnmpVarBind binding("unset", "unset", "unset");
  bool parsed = ParseSnmpWalkLine(line, binding);
  if (ok != nullptr) *ok = parsed;
  return binding;
}

TEST(SnmpVarBind, ConstructorsAndSetters) {
  SnmpVarBind a(".1.3.6.1.2.1.1.4.0", "STRING", "me");
  SnmpVarBind b(a);
  b.SetValue("you");
  ExpectBinding(a, ".1.3.6.1.2.1.1.4.0", "STRING", "me");
  ExpectBinding(b, ".1.3.6.1.2.1.1.4.0", "STRING", "you");
  ExpectBinding(SnmpVarBind("1.3.6.1.4.1.232.6.2.12.3.0", -2147483647 - 1), "1.3.6.1.4.1.232.6.2.12.3.0", "integer",
                "-2147483648");
  SnmpVarBind c("x", 12);
  c.SetOid("y");
  c.SetType("INTEGER");
  ExpectBinding(c, "y", "INTEGER", "12");
}

TEST(ParseSnmpWalkLine, SplitsAtFirstEqualsAndFirstColonAndTrims) {
  ExpectBinding(Parsed(".1.3.6.1.4.1.232.6.2.12.3.0 = INTEGER: 4"), ".1.3.6.1.4.1.232.6.2.12.3.0", "INTEGER", "4");
  ExpectBinding(Parsed("  .1.2 \t=\t STRING :  \"a: b = c\"  "), ".1.2", "STRING", "a: b = c");
  ExpectBinding(Parsed(".1.3 = Timeticks: (105) 0:00:01.05"), ".1.3", "Timeticks", "(105) 0:00:01.05");
  ExpectBinding(Parsed(".1.4 = OID: .1.3.6.1.4.1.8072.3.2.10"), ".1.4", "OID", ".1.3.6.1.4.1.8072.3.2.10");
  // Quotes go only from STRING values, one at each end.
  ExpectBinding(Parsed(".1.5 = Hex-STRING: \"00 01\""), ".1.5", "Hex-STRING", "\"00 01\"");
  ExpectBinding(Parsed(".1.6 = STRING: \"\"quoted\"\""), ".1.6", "STRING", "\"quoted\"");
  ExpectBinding(Parsed(".1.7 = STRING: \""), ".1.7", "STRING", "");
  ExpectBinding(Parsed(".1.8 = STRING: plain"), ".1.8", "STRING", "plain");
  ExpectBinding(Parsed(".1.9 =  : "), ".1.9", "", "");
  bool ok = true;
  SnmpVarBind untouched = Parsed("Timeout: No Response from localhost", &ok);
  EXPECT_FALSE(ok);
  ExpectBinding(untouched, "unset", "unset", "unset");
  Parsed(".1.3.6.1.2.1.1.4.0 = \"\"", &ok);
  EXPECT_FALSE(ok);
  Parsed("", &ok);
  EXPECT_FALSE(ok);
}

TEST(ParseSnmpWalkLine, LongLinesAndLongStringValuesAreCut) {
  const std::string prefix = ".1.3.6.1.4.1.232.6.2.12.5.0 = OCTETS: ";
  std::string line = prefix + std::string(3000, 'v');
  ExpectBinding(Parsed(line), ".1.3.6.1.4.1.232.6.2.12.5.0", "OCTETS", std::string(1023 - prefix.size(), 'v'));
  // The closing quote is beyond the cut, so only the opening one goes.
  ExpectBinding(Parsed(".1.5 = STRING: \"" + std::string(600, 's') + "\""), ".1.5", "STRING", std::string(510, 's'));
  ExpectBinding(Parsed(".1.5 = STRING: \"" + std::string(509, 's') + "\""), ".1.5", "STRING", std::string(509, 's'));
  // Nothing after the cut is looked at, an "=" included.
  bool ok = true;
  Parsed(std::string(1023, 'n') + " = INTEGER: 1", &ok);
  EXPECT_FALSE(ok);
}

TEST(FindBindings, CopiesMatchesInListOrder) {
  SnmpVarBindList walked = {
      SnmpVarBind(".1.3.6.1.4.1.232.3.2.5.1.1.2.0.1", "INTEGER", "1"),
      SnmpVarBind(".1.3.6.1.4.1.232.3.2.2.1.1.22.0", "INTEGER", "4294967295"),
      SnmpVarBind(".1.3.6.1.4.1.232.3.2.5.1.1.2.0.3", "INTEGER", "3"),
  };
  SnmpVarBindList found = {SnmpVarBind("kept", "x", "y")};
  EXPECT_TRUE(FindBindings("232.3.2.5.1.1.2.0", walked, found));
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].GetOid(), "kept");
  ExpectBinding(found[1], ".1.3.6.1.4.1.232.3.2.5.1.1.2.0.1", "INTEGER", "1");
  ExpectBinding(found[2], ".1.3.6.1.4.1.232.3.2.5.1.1.2.0.3", "INTEGER", "3");
  SnmpVarBindList none;
  EXPECT_FALSE(FindBindings("232.6.2.12", walked, none));
  EXPECT_TRUE(none.empty());
  EXPECT_FALSE(FindBindings("1", SnmpVarBindList(), none));
}

TEST(SnmpTools, MissingToolsGiveNoBindingsAndSetsStillAnswerTrue) {
  testing_support::TempDir emptyDir;
  std::string savedPath = platform::EnvironmentValue("PATH", "");
  testing_support::SetEnvironmentValue("PATH", emptyDir.Path().c_str());
  SnmpVarBindList result;
  EXPECT_FALSE(SnmpWalk("1.3.6.1.4.1.232.6.2.12", result));
  EXPECT_TRUE(result.empty());
  EXPECT_TRUE(SnmpSetInteger("1.3.6.1.4.1.232.6.2.12.3.0", 3));
  EXPECT_TRUE(SnmpSet(SnmpVarBind("1.3.6.1.4.1.232.6.2.12.3.0", 4)));
  testing_support::SetEnvironmentValue("PATH", savedPath.c_str());
}

TEST(SnmpTools, CommandLines) {
  EXPECT_EQ(SnmpWalkCommandLine("1.3.6.1.4.1.232.6.2.12"), "snmpwalk -v 1 -c kestra -O n -r 2 -t 5 localhost 1.3.6.1.4.1.232.6.2.12");
  EXPECT_EQ(SnmpSetCommandLine("1.3.6.1.4.1.232.3.2.5.1.1.56.0.2", "integer", "12"),
            "snmpset -v 1 -c morsend -r 2 -t 5 localhost 1.3.6.1.4.1.232.3.2.5.1.1.56.0.2 integer 12");
}

}  // namespace
