#include "pages/ExternalAlarmPage.h"

#include "MemoryChannel.h"
#include "ServerFixture.h"
#include "pages/QueryStringInterpretter.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

namespace {

struct AlarmSetup {
  MonitorServer server{ServerOptions()};
  ExternalAlarmPage* alarms = new ExternalAlarmPage;
  testing_support::Journal journal;
  testing_support::RecordingPage* target = new testing_support::RecordingPage("/target", journal);
  AlarmSetup() {
    alarms->Register();
    target->Register();
  }
  ~AlarmSetup() { server.DeletePages(); }
  std::string Woken() {
    std::string all;
    for (const std::string& entry : journal.Entries("wake ")) all += entry.substr(5) + ";";
    return all;
  }

  // Posts with the body on the channel's input; returns what was written.
  std::string Post(const char* query, const std::string& body = std::string(), unsigned* status = nullptr) {
    testing_support::MemoryChannel io(body);
    std::string length = std::to_string(body.size());
    const char* names[] = {"Content-Length", nullptr};
    const char* values[] = {length.c_str(), nullptr};
    unsigned s = alarms->Post(&io, "/extalarm", query, names, values, 1, 0);
    if (status) *status = s;
    return io.written;
  }
};

TEST(ExternalAlarmPage, QueryWakeupsAndNonMatches) {
  AlarmSetup setup;
  unsigned status = 0;
  EXPECT_EQ(setup.Post("page=/target/x&cookie=c%201", "", &status), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(setup.Woken(), "c 1;");
  setup.Post("page=/target");            // no cookie: no match
  setup.Post("page=/elsewhere&cookie=z");  // unknown page: dropped by the server
  setup.Post(nullptr);
  EXPECT_EQ(setup.Woken(), "c 1;");
  EXPECT_EQ(setup.server.Counters().externalwakeups, 2u);
  EXPECT_EQ(setup.alarms->Get(nullptr, "/extalarm", nullptr, nullptr, nullptr, 1, 0), 400u);
}

TEST(ExternalAlarmPage, AlarmDocumentsAndMasterReconfig) {
  AlarmSetup setup;
  setup.Post("alarms=1",
             "<alarms><alarm page=\"/target\" cookie=\"one\"/><other page=\"/target\" cookie=\"no\"/>"
             "<alarm page=\"/target\"/><alarm cookie=\"two\" page=\"/target\"></alarm></alarms>");
  EXPECT_EQ(setup.Woken(), "one;two;");
  EXPECT_EQ(setup.server.Counters().externalwakeups, 2u);
  setup.Post("alarms=1", "<alarms><alarm page=");  // does not parse: ignored
  EXPECT_EQ(setup.Woken(), "one;two;");

  setup.Post("masterreconfig=0&page=/target&cookie=x");
  EXPECT_TRUE(setup.alarms->Schedule().IsEmpty());
  EXPECT_EQ(setup.Woken(), "one;two;");  // reconfiguration requests take the whole query
  setup.Post("masterreconfig=1");
  ASSERT_EQ(setup.alarms->Schedule().Items().size(), 1u);
  EXPECT_EQ(setup.alarms->Schedule().Items()[0].Text(), "ExternalAlarmPage::ReloadConfig;ExternalAlarmPage::ReloadConfig;1;1");
  EXPECT_EQ(setup.alarms->GetSchedulerTimeout(), 1u);
}

TEST(QueryStringInterpretter, KeySetsAndTargetedCommands) {
  QueryStringMap query("target=a&cmd=run&instance=3");
  InstanceSelection instance;
  EXPECT_TRUE(instance.MatchQuery(query));
  EXPECT_STREQ(instance.Value(0), "3");
  EXPECT_EQ(instance.Value(1), nullptr);
  LanguageSelection language;
  EXPECT_FALSE(language.MatchQuery(query));
  EXPECT_STREQ(language.Value(0), "EN");

  std::vector<TargettedCommand> commands;
  EXPECT_TRUE(TargettedCommand::FromPairs({{"target", "a"}, {"cmd", "run"}, {"target", "b"}, {"cmd", "stop"}}, commands));
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_STREQ(commands[1].Target(), "b");
  EXPECT_STREQ(commands[1].Command(), "stop");
  std::vector<TargettedCommand> none;
  EXPECT_FALSE(TargettedCommand::FromPairs({}, none));
  EXPECT_FALSE(TargettedCommand::FromPairs({{"target", "a"}}, none));
  EXPECT_FALSE(TargettedCommand::FromPairs({{"cmd", "a"}, {"target", "b"}}, none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
