// The SNMP tools against a real snmpd of the test's own.
#include "inventory/SnmpTools.h"

#include "CaptureTestLog.h"
#include "SnmpAgent.h"

#include <gtest/gtest.h>

namespace {

using testing_support::SnmpAgent;

const std::string kState = "1.3.6.1.4.1.232.6.2.12.3.0";
const std::string kLabel = "1.3.6.1.4.1.232.6.2.12.4.0";
const std::string kFixed = "1.3.6.1.4.1.232.6.2.12.6.0";

class SnmpToolsAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = SnmpAgent::Unavailable()) GTEST_SKIP() << why;
    std::string config = SnmpAgent::OverrideLine(kState, "integer", "4") +
                         SnmpAgent::OverrideLine(kLabel, "octet_str", "\"hello there\"") +
                         SnmpAgent::OverrideLine(kFixed, "integer", "7", false) +
                         SnmpAgent::OverrideLine("1.3.6.1.4.1.232.6.2.12.7.0", "octet_str",
                                                 "\"" + std::string(1500, 'x') + "\"") +
                         SnmpAgent::OverrideLine("1.3.6.1.4.1.232.3.2.5.1.1.2.0.1", "integer", "1") +
                         SnmpAgent::OverrideLine("1.3.6.1.4.1.232.3.2.5.1.1.2.0.2", "integer", "2") +
                         SnmpAgent::OverrideLine("1.3.6.1.4.1.232.3.2.2.1.1.22.0", "uinteger", "4294967295");
    ASSERT_TRUE(agent_.Start(config)) << agent_.AgentLog();
    agent_.SteerThisProcess();
  }

  // The value the agent now holds for oid, read by a walk.
  std::string Read(const std::string& oid) {
    SnmpVarBindList walked, found;
    if (!SnmpWalk(oid, walked) || !FindBindings(oid, walked, found)) return "(none)";
    return found[0].GetValue();
  }

  SnmpAgent agent_;
};

TEST_F(SnmpToolsAgent, WalkParsesTheAgentsBindingsInOrder) {
  CaptureTestLog log;
  SnmpVarBindList walked = {SnmpVarBind("kept", "x", "y")};
  ASSERT_TRUE(SnmpWalk("1.3.6.1.4.1.232.6.2.12", walked)) << agent_.AgentLog();
  ASSERT_EQ(walked.size(), 5u);
  EXPECT_EQ(walked[0].GetOid(), "kept");
  EXPECT_EQ(walked[1].GetOid(), "." + kState);
  EXPECT_EQ(walked[1].GetType(), "INTEGER");
  EXPECT_EQ(walked[1].GetValue(), "4");
  EXPECT_EQ(walked[2].GetOid(), "." + kLabel);
  EXPECT_EQ(walked[2].GetType(), "STRING");
  EXPECT_EQ(walked[2].GetValue(), "hello there");
  EXPECT_EQ(walked[3].GetValue(), "7");
  // A line of 1500 bytes: looked at up to 1023, the value up to 511.
  EXPECT_EQ(walked[4].GetValue(), std::string(510, 'x'));
  if (log.Readable()) {
    EXPECT_NE(log.Text().find(":CaptureOutput from command "
                              "'snmpwalk -v 1 -c kestra -O n -r 2 -t 5 localhost 1.3.6.1.4.1.232.6.2.12'\n"),
              std::string::npos);
  }

  SnmpVarBindList drives, controllers;
  ASSERT_TRUE(SnmpWalk("1.3.6.1.4.1.232.3.2", walked));
  EXPECT_TRUE(FindBindings("232.3.2.5.1.1.2.0", walked, drives));
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].GetValue(), "1");
  EXPECT_EQ(drives[1].GetValue(), "2");
  EXPECT_TRUE(FindBindings("232.3.2.2.1.1.22.0", walked, controllers));
  ASSERT_EQ(controllers.size(), 1u);
  EXPECT_EQ(controllers[0].GetType(), "Gauge32");
  EXPECT_EQ(controllers[0].GetValue(), "4294967295");

  SnmpVarBindList nothing;
  EXPECT_FALSE(SnmpWalk("1.3.6.1.4.1.232.9", nothing));
  EXPECT_TRUE(nothing.empty());
}

TEST_F(SnmpToolsAgent, SetsReachTheAgent) {
  CaptureTestLog log;
  EXPECT_TRUE(SnmpSetInteger(kState, 3));
  EXPECT_EQ(Read(kState), "3");
  if (log.Readable()) {
    EXPECT_NE(log.Text().find(":CaptureOutput from command "
                              "'snmpset -v 1 -c morsend -r 2 -t 5 localhost " + kState + " integer 3'\n"),
              std::string::npos);
  }
  EXPECT_TRUE(SnmpSet(SnmpVarBind(kState, 12)));
  EXPECT_EQ(Read(kState), "12");
  EXPECT_TRUE(SnmpSet(kLabel, "s", "rack-7"));
  EXPECT_EQ(Read(kLabel), "rack-7");
  EXPECT_EQ(agent_.ReadValue(kLabel), "\"rack-7\"");
}

TEST_F(SnmpToolsAgent, RefusedSetsStillAnswerTrue) {
  // Read-only object, unknown object, a value the tool rejects.
  EXPECT_TRUE(SnmpSetInteger(kFixed, 3));
  EXPECT_TRUE(SnmpSetInteger("1.3.6.1.4.1.232.6.2.12.99.0", 3));
  EXPECT_TRUE(SnmpSet(kState, "integer", "abc"));
  EXPECT_EQ(Read(kFixed), "7");
  EXPECT_EQ(Read(kState), "4");
}

TEST(SnmpAgentFixture, ToolsReachOnlyTheirOwnAgentAndItStops) {
  if (const char* why = SnmpAgent::Unavailable()) GTEST_SKIP() << why;
  SnmpAgent first, second;
  ASSERT_TRUE(first.Start(SnmpAgent::OverrideLine(kState, "integer", "3"))) << first.AgentLog();
  ASSERT_TRUE(second.Start(SnmpAgent::OverrideLine(kState, "integer", "4"))) << second.AgentLog();
  EXPECT_NE(first.Port(), second.Port());
  SnmpVarBindList walked;
  first.SteerThisProcess();
  ASSERT_TRUE(SnmpWalk(kState, walked));
  second.SteerThisProcess();
  ASSERT_TRUE(SnmpWalk(kState, walked));
  ASSERT_EQ(walked.size(), 2u);
  EXPECT_EQ(walked[0].GetValue(), "3");
  EXPECT_EQ(walked[1].GetValue(), "4");
  EXPECT_EQ(first.ReadValue(kState), "3");
  EXPECT_EQ(first.ReadValue(kFixed), "");
  second.Stop();
  EXPECT_EQ(second.ReadValue(kState), "");
  EXPECT_FALSE(second.IsRunning());
  first.Stop();
  EXPECT_FALSE(first.IsRunning());
}

}  // namespace
