// Monitoring parameters of a page: from the master configuration or the
// local file, into an external wake-up or an internal timer.
#include "config/MonitorPageUsingConfigFile.h"

#include "FakeCollector.h"
#include "HttpClient.h"
#include "ProcessLog.h"
#include "ProviderFixture.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "config/MasterConfig.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::FakeCollector;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Strings = std::vector<std::string>;

class Monitored : public CMonitorPageUsingConfigFile {
 public:
  Monitored() : CMonitorPageUsingConfigFile("/monitored") { Register(); }
  void TimeToMonitor(unsigned count, const char* const*) override { monitored.push_back(count); }
  std::vector<unsigned> monitored;
};

// The page on a running server over a real socket: GET on a session thread,
// POST on the loop (so what the page did is done when the reply comes).
class MonitoringParameters : public testing_support::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    previous_ = testing_support::CurrentDirectory();
    ASSERT_TRUE(testing_support::ChangeDirectory(dir_.Path()));
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", std::to_string(collector_.Port()).c_str());
    Make().SetModuleDirectory(dir_.Path() + "/");
    page_ = new Monitored;
    port_ = Start();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    ServerFixture::TearDown();
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", nullptr);
    testing_support::ChangeDirectory(previous_);
  }
  std::string Post(const std::string& body) {
    return testing_support::Exchange(
        port_, "POST /monitored HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }
  Strings Targets() {
    Strings targets;
    for (const auto& r : collector_.Requests()) targets.push_back(r.target);
    return targets;
  }

  TempDir dir_;
  std::string previous_;
  FakeCollector collector_;
  Monitored* page_ = nullptr;
  std::uint16_t port_ = 0;
};

const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n";
const char kBad[] = "HTTP/1.1 400 Bad Request\r\nContent-Length:0\r\n\r\n";
const char kDel[] = "/extschedule?cmd=del&page=%2Fmonitored&cookie=DefaultMonitorTag&delay=0";

TEST_F(MonitoringParameters, LongIntervalsBecomeExternalWakeups) {
  EXPECT_EQ(Post("EnableMonitoring=1&PollingInterval=60"), kOk);
  Stop();  // the page is read once the loop has ended
  EXPECT_EQ(ReadFile("DefaultConfigFile"),
            "<section name=\"DefaultMonitorTag\"><key name=\"EnableMonitoring\" value=\"1\"/>"
            "<key name=\"PollingInterval\" value=\"60\"/></section>");
  EXPECT_EQ(Targets(), (Strings{kDel, "/extschedule?cmd=addrenew&page=%2Fmonitored&cookie=DefaultMonitorTag&delay=60"}));
  EXPECT_EQ(page_->monitored, std::vector<unsigned>{0});  // monitored at once
  EXPECT_TRUE(page_->Schedule().IsEmpty());
  EXPECT_EQ(server_->IdleTimeout(), 15u);
  // Wake-ups name the class in any letter case.
  page_->ExternalWakeupRecieved("defaultmonitortag");
  page_->ExternalWakeupRecieved("other");
  EXPECT_EQ(page_->monitored, (std::vector<unsigned>{0, 0}));
}

TEST_F(MonitoringParameters, ShortIntervalsBecomeInternalTimers) {
  EXPECT_EQ(Post("EnableMonitoring=1&PollingInterval=5"), kOk);
  std::string reply = testing_support::Get(port_, "/monitored?timerstatus=1");
  EXPECT_NE(reply.find("<TIMER ID=\"DefaultMonitorTag\" interval=\"5\""), std::string::npos) << reply;
  // GET after turning monitoring off shows the stored interval.
  EXPECT_EQ(Post("EnableMonitoring=0&PollingInterval=10"), kOk);
  EXPECT_EQ(testing_support::Get(port_, "/monitored"),
            "HTTP/1.1 200 OK\r\nContent-Length:120\r\n\r\n<DefaultMonitorTag>\n\t<EnableMonitoring>0</EnableMonitoring>\n"
            "\t<PollingInterval>10</PollingInterval>\n</DefaultMonitorTag>\n");
  Stop();
  EXPECT_EQ(Targets(), (Strings{kDel, kDel}));
  EXPECT_TRUE(page_->Schedule().IsEmpty());
}

TEST_F(MonitoringParameters, MissingFieldsAnswer400ButStillReinitialize) {
  EXPECT_EQ(Post("ThresholdsHaveChanged=yes"), kBad);
  EXPECT_EQ(Targets(), Strings{kDel});
  // Neither query nor body: nothing happens.
  EXPECT_EQ(Post(""), kBad);
  Stop();
  EXPECT_EQ(Targets().size(), 1u);
  EXPECT_EQ(page_->monitored, std::vector<unsigned>{0});
}

TEST_F(MonitoringParameters, ALocalFileThatDoesNotParseIsNeverOverwritten) {
  const std::string broken = "<section name=\"DefaultMonitorTag\"><key name=\"Other\" value=\"keep\"/>";
  WriteFile("DefaultConfigFile", broken);
  EXPECT_EQ(Post("EnableMonitoring=1&PollingInterval=10"), kBad);
  EXPECT_EQ(ReadFile("DefaultConfigFile"), broken);
}

TEST_F(MonitoringParameters, TheMasterConfigurationWinsWhenItHasTheClass) {
  const std::string classes = "<section name=\"monitoring-classes\"><section name=\"DefaultMonitorTag\">"
                              "<key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"";
  WriteFile(dir_.File(kMasterConfigFileName),
            "<section name=\"identity\"><key name=\"modified\" value=\"0\"/></section>" + classes + "20\"/></section></section>");
  bool enabled = false;
  std::uint32_t interval = 0;
  page_->GetMonitoringParams(enabled, interval);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(interval, 20u);
  EXPECT_EQ(Post("EnableMonitoring=1&PollingInterval=45"), kOk);
  EXPECT_EQ(ReadFile("DefaultConfigFile"), "");  // made empty by the first read, never written
  EXPECT_EQ(ReadFile(dir_.File(kMasterConfigFileName)),
            "<section name=\"identity\"><key name=\"modified\" value=\"1\"/></section>" + classes + "45\"/></section></section>");
}

// The inventory page of the real provider, reconfigured through the external
// alarm page: after it, monitoring is exactly one of an external wake-up, an
// internal timer, or nothing, and never a timer that is due on every pass.
class MonitoringOnTheProvider : public testing_support::ProviderFixture {};

TEST_F(MonitoringOnTheProvider, ReconfigurationNeverSpinsNorDropsMonitoring) {
  const char kNotSetUp[] = "polling interval 0; monitoring not set up";
  const struct {
    const char* interval;  // key PollingInterval of section DefaultMonitorTag in the local file, if any
    bool collectorRefuses;
    const char* logged;  // once, at 0x20
  } cases[] = {
      {"0", false, kNotSetUp},
      {nullptr, false, kNotSetUp},
      {"soon", false, kNotSetUp},
      {"-5", false, kNotSetUp},
      {"60", true, "external wakeup call refused; using an internal timer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.interval ? c.interval : "no interval");
    collector_.SetReply(c.collectorRefuses ? "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"
                                           : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    WriteFile(dir_.File("DefaultConfigFile"),
              std::string("<section name=\"DefaultMonitorTag\"><key name=\"EnableMonitoring\" value=\"1\"/>") +
                  (c.interval ? std::string("<key name=\"PollingInterval\" value=\"") + c.interval + "\"/>" : "") +
                  "</section>");
    // A timer spinning must not roll the log over.
    auto& provider = Start({"-u", "-z", "-V", "0x460", "-b", "1000000"});
    ASSERT_TRUE(provider.Started());
    EXPECT_EQ(testing_support::Exchange(provider.Port(),
                                        "POST /extalarm?masterreconfig=1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              kOk);
    // Pages are reconfigured in path order; /status is the last.
    ASSERT_TRUE(testing_support::WaitForText(provider.LogFile(), "Reconfig for page /status")) << provider.Log();
    if (c.collectorRefuses) {
      EXPECT_TRUE(testing_support::WaitForText(provider.LogFile(), "Time to monitor item DefaultMonitorTag", 5000));
    }
    // A few passes of the server loop after the reconfiguration.
    for (int i = 0; i < 3; ++i) testing_support::Get(provider.Port(), "/status");
    const std::string log = provider.Log();
    EXPECT_EQ(testing_support::CountOf(log, c.logged), 1u);
    EXPECT_EQ(testing_support::CountOf(log, "Time to monitor item DefaultMonitorTag"), c.collectorRefuses ? 1u : 0u) << log;
  }
}

TEST_F(MonitoringParameters, AnIntervalOfExactlyTheMinimumIsAnExternalWakeup) {
  EXPECT_EQ(Post("EnableMonitoring=1&PollingInterval=30"), kOk);
  Stop();
  EXPECT_EQ(Targets(), (Strings{kDel, "/extschedule?cmd=addrenew&page=%2Fmonitored&cookie=DefaultMonitorTag&delay=30"}));
  EXPECT_TRUE(page_->Schedule().IsEmpty());
}

// A start with crash recovery cannot rely on the wake-up of the run that
// crashed: a long interval gets an internal timer; a plain start relies on it.
TEST_F(MonitoringParameters, CrashRecoveryStartsAnInternalTimerForALongInterval) {
  testing_support::WriteFile("DefaultConfigFile", "<section name=\"DefaultMonitorTag\"><key name=\"EnableMonitoring\" "
                                                  "value=\"1\"/><key name=\"PollingInterval\" value=\"60\"/></section>");
  Stop();
  page_->InitializeMonitoring(false, false, false);
  EXPECT_TRUE(page_->Schedule().IsEmpty());
  page_->InitializeMonitoring(false, true, false);
  ASSERT_EQ(page_->Schedule().Items().size(), 1u);
  EXPECT_EQ(page_->Schedule().Items()[0].Text(), "DefaultMonitorTag;;60;0");
  EXPECT_TRUE(Targets().empty());
}

}  // namespace
