// The SNMP tools: the walk's line parser, and walk, find and set against a
// real snmpd of the test's own.
#include "inventory/SnmpTools.h"

#include "InventoryProvider.h"
#include "SnmpAgent.h"

#include <gtest/gtest.h>

namespace {

using testing_support::SnmpAgent;

const std::string kState = "1.3.6.1.4.1.232.6.2.12.3.0";
const std::string kLabel = "1.3.6.1.4.1.232.6.2.12.4.0";
const std::string kFixed = "1.3.6.1.4.1.232.6.2.12.6.0";

void ExpectBinding(const SnmpVarBind& b, const std::string& oid, const std::string& type, const std::string& value) {
  EXPECT_EQ(b.GetOid(), oid) << value;
  EXPECT_EQ(b.GetType(), type) << oid;
  EXPECT_EQ(b.GetValue(), value) << oid;
}

// Lines are looked at up to 1023 bytes and STRING values up to 511: longer
// ones are cut, never overrun. A line that is no binding leaves it as it was.
TEST(ParseSnmpWalkLine, SplitsAtFirstEqualsAndFirstColonTrimsAndCuts) {
  const std::string cut = ".1.3.6.1.4.1.232.6.2.12.5.0 = OCTETS: ";
  const struct {
    std::string line, oid, type, value;
  } cases[] = {
      {".1.3.6.1.4.1.232.6.2.12.3.0 = INTEGER: 4", ".1.3.6.1.4.1.232.6.2.12.3.0", "INTEGER", "4"},
      {"  .1.2 \t=\t STRING :  \"a: b = c\"  ", ".1.2", "STRING", "a: b = c"},
      {".1.3 = Timeticks: (105) 0:00:01.05", ".1.3", "Timeticks", "(105) 0:00:01.05"},
      // Quotes go only from STRING values, one at each end.
      {".1.5 = Hex-STRING: \"00 01\"", ".1.5", "Hex-STRING", "\"00 01\""},
      {".1.6 = STRING: \"\"quoted\"\"", ".1.6", "STRING", "\"quoted\""}, {".1.7 = STRING: \"", ".1.7", "STRING", ""},
      {".1.8 = STRING: plain", ".1.8", "STRING", "plain"}, {".1.9 =  : ", ".1.9", "", ""},
      {"Timeout: No Response from localhost", "unset", "unset", "unset"},
      {".1.3.6.1.2.1.1.4.0 = \"\"", "unset", "unset", "unset"}, {"", "unset", "unset", "unset"},
      {cut + std::string(3000, 'v'), ".1.3.6.1.4.1.232.6.2.12.5.0", "OCTETS", std::string(1023 - cut.size(), 'v')},
      // The closing quote is beyond the cut, so only the opening one goes.
      {".1.5 = STRING: \"" + std::string(600, 's') + "\"", ".1.5", "STRING", std::string(510, 's')},
      {".1.5 = STRING: \"" + std::string(509, 's') + "\"", ".1.5", "STRING", std::string(509, 's')},
      // Nothing after the cut is looked at, an "=" included.
      {std::string(1023, 'n') + " = INTEGER: 1", "unset", "unset", "unset"},
  };
  for (const auto& c : cases) {
    SnmpVarBind binding("unset", "unset", "unset");
    EXPECT_EQ(ParseSnmpWalkLine(c.line, binding), c.oid != "unset") << c.line;
    ExpectBinding(binding, c.oid, c.type, c.value);
  }
  ExpectBinding(SnmpVarBind(kState, -2147483647 - 1), kState, "integer", "-2147483648");
}

TEST(SnmpTools, MissingToolsGiveNoBindingsAndSetsStillAnswerTrue) {
  testing_support::TempDir emptyDir;
  ScopedVariable path("PATH", emptyDir.Path());
  SnmpVarBindList result;
  EXPECT_FALSE(SnmpWalk("1.3.6.1.4.1.232.6.2.12", result));
  EXPECT_TRUE(result.empty());
  EXPECT_TRUE(SnmpSetInteger(kState, 3));
  EXPECT_TRUE(SnmpSet(SnmpVarBind(kState, 4)));
}

class SnmpToolsAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = SnmpAgent::Unavailable()) GTEST_SKIP() << why;
    std::string config = SnmpAgent::OverrideLine(kState, "integer", "4") +
                         SnmpAgent::OverrideLine(kLabel, "octet_str", "\"hello there\"") +
                         SnmpAgent::OverrideLine(kFixed, "integer", "7", false) +
                         SnmpAgent::OverrideLine("1.3.6.1.4.1.232.6.2.12.7.0", "octet_str",
                                                 "\"" + std::string(1500, 'x') + "\"") +
                         SnmpAgent::OverrideLine("1.3.6.1.4.1.232.3.2.2.1.1.22.0", "uinteger", "4294967295");
    ASSERT_TRUE(agent_.Start(config)) << agent_.AgentLog();
    agent_.SteerThisProcess();
  }

  SnmpAgent agent_;
};

TEST_F(SnmpToolsAgent, WalkParsesTheAgentsBindingsInOrder) {
  SnmpVarBindList walked = {SnmpVarBind("kept", "x", "y")};
  ASSERT_TRUE(SnmpWalk("1.3.6.1.4.1.232.6.2.12", walked)) << agent_.AgentLog();
  ASSERT_EQ(walked.size(), 5u);
  EXPECT_EQ(walked[0].GetOid(), "kept");
  ExpectBinding(walked[1], "." + kState, "INTEGER", "4");
  ExpectBinding(walked[2], "." + kLabel, "STRING", "hello there");
  EXPECT_EQ(walked[3].GetValue(), "7");
  // A line of 1500 bytes: looked at up to 1023, the value up to 511.
  EXPECT_EQ(walked[4].GetValue(), std::string(510, 'x'));

  // Found bindings are appended to the list given (their order is asserted
  // with the chassis page's drive sequences).
  SnmpVarBindList controllers = {walked[0]}, none;
  ASSERT_TRUE(SnmpWalk("1.3.6.1.4.1.232.3.2", walked));
  EXPECT_TRUE(FindBindings("232.3.2.2.1.1.22.0", walked, controllers));
  ASSERT_EQ(controllers.size(), 2u);
  ExpectBinding(controllers[1], ".1.3.6.1.4.1.232.3.2.2.1.1.22.0", "Gauge32", "4294967295");
  EXPECT_FALSE(FindBindings("232.9", walked, none));
  EXPECT_FALSE(SnmpWalk("1.3.6.1.4.1.232.9", none));
  EXPECT_TRUE(none.empty());
}

TEST_F(SnmpToolsAgent, SetsReachTheAgentAndAnswerTrueEvenWhenRefused) {
  EXPECT_TRUE(SnmpSetInteger(kState, 3));
  EXPECT_EQ(agent_.ReadValue(kState), "3");
  EXPECT_TRUE(SnmpSet(SnmpVarBind(kState, 12)));
  EXPECT_EQ(agent_.ReadValue(kState), "12");
  EXPECT_TRUE(SnmpSet(kLabel, "s", "rack-7"));
  EXPECT_EQ(agent_.ReadValue(kLabel), "\"rack-7\"");
  // Read-only object, unknown object, a value the tool rejects.
  EXPECT_TRUE(SnmpSetInteger(kFixed, 3));
  EXPECT_TRUE(SnmpSetInteger("1.3.6.1.4.1.232.6.2.12.99.0", 3));
  EXPECT_TRUE(SnmpSet(kState, "integer", "abc"));
  EXPECT_EQ(agent_.ReadValue(kFixed), "7");
  EXPECT_EQ(agent_.ReadValue(kState), "12");
}

}  // namespace
