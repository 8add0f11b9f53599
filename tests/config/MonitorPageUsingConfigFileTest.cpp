// Monitoring parameters of a page: from the master configuration or the
// local file, into an external wake-up or an internal timer.
#include "config/MonitorPageUsingConfigFile.h"

#include "FakeCollector.h"
#include "ProviderProcess.h"
#include "TestSupport.h"
#include "config/MasterConfig.h"
#include "platform/Process.h"
#include "server/IOChannel.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "HttpClient.h"

namespace {

using testing_support::FakeCollector;
using testing_support::ReadFile;
using testing_support::TempDir;

class Monitored : public CMonitorPageUsingConfigFile {
 public:
  Monitored() : CMonitorPageUsingConfigFile("/monitored") {}
  void TimeToMonitor(unsigned count, const char* const*) override { monitored.push_back(count); }
  std::vector<unsigned> monitored;
};

class MonitoringParameters : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::CurrentDirectory();
    ASSERT_TRUE(platform::ChangeDirectory(dir_.Path()));
    platform::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", std::to_string(collector_.Port()).c_str());
    server_.reset(new MonitorServer(ServerOptions()));
    server_->SetModuleDirectory(dir_.Path() + "/");
    page_ = new Monitored;
    page_->Register();
  }
  void TearDown() override {
    server_->DeletePages();
    server_.reset();
    platform::SetEnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", nullptr);
    platform::ChangeDirectory(previous_);
  }
  // A request on a channel over temporary files; returns what was written.
  std::string Call(bool post, const char* query, unsigned* status) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    IOStdio io(in, out);
    const char* names[] = {nullptr};
    *status = post ? page_->Post(&io, "/monitored", query, names, names, 1, 0)
                   : page_->Get(&io, "/monitored", query, names, names, 1, 1);
    std::string written = testing_support::ReadStream(out);
    std::fclose(in);
    std::fclose(out);
    return written;
  }
  std::vector<std::string> Targets() {
    std::vector<std::string> targets;
    for (const auto& r : collector_.Requests()) targets.push_back(r.target);
    return targets;
  }

  TempDir dir_;
  std::string previous_;
  FakeCollector collector_;
  std::unique_ptr<MonitorServer> server_;
  Monitored* page_ = nullptr;
};

const char kDel[] = "/extschedule?cmd=del&page=%2Fmonitored&cookie=DefaultMonitorTag&delay=0";

TEST_F(MonitoringParameters, LongIntervalsBecomeExternalWakeups) {
  unsigned status = 0;
  EXPECT_EQ(Call(true, "EnableMonitoring=1&PollingInterval=60", &status), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(ReadFile("DefaultConfigFile"),
            "<section name=\"DefaultMonitorTag\"><key name=\"EnableMonitoring\" value=\"1\"/>"
            "<key name=\"PollingInterval\" value=\"60\"/></section>");
  EXPECT_EQ(Targets(), (std::vector<std::string>{
                           kDel, "/extschedule?cmd=addrenew&page=%2Fmonitored&cookie=DefaultMonitorTag&delay=60"}));
  EXPECT_EQ(page_->monitored, std::vector<unsigned>{0});  // monitored at once
  EXPECT_TRUE(page_->Schedule().IsEmpty());
  EXPECT_EQ(server_->IdleTimeout(), 15u);
}

TEST_F(MonitoringParameters, ShortIntervalsBecomeInternalTimers) {
  unsigned status = 0;
  Call(true, "EnableMonitoring=1&PollingInterval=10", &status);
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(Targets(), std::vector<std::string>{kDel});
  ASSERT_EQ(page_->Schedule().Items().size(), 1u);
  EXPECT_EQ(page_->Schedule().Items()[0].Text(), "DefaultMonitorTag;;10;0");  // initial: due at once

  // GET after turning monitoring off shows the stored interval.
  Call(true, "EnableMonitoring=0&PollingInterval=10", &status);
  EXPECT_TRUE(page_->Schedule().IsEmpty());
  EXPECT_EQ(Call(false, nullptr, &status),
            "HTTP/1.1 200 OK\r\nContent-Length:120\r\n\r\n<DefaultMonitorTag>\n\t<EnableMonitoring>0</EnableMonitoring>\n"
            "\t<PollingInterval>10</PollingInterval>\n</DefaultMonitorTag>\n");
}

TEST_F(MonitoringParameters, MissingFieldsAnswer400ButStillReinitialize) {
  unsigned status = 0;
  EXPECT_EQ(Call(true, "ThresholdsHaveChanged=yes", &status), "HTTP/1.1 400 Bad Request\r\nContent-Length:0\r\n\r\n");
  EXPECT_EQ(status, 400u);
  EXPECT_EQ(Targets(), std::vector<std::string>{kDel});
  EXPECT_EQ(page_->monitored, std::vector<unsigned>{0});
  // Neither query nor body: nothing happens.
  Call(true, nullptr, &status);
  EXPECT_EQ(status, 400u);
  EXPECT_EQ(Targets().size(), 1u);

  page_->ExternalWakeupRecieved("defaultmonitortag");
  page_->ExternalWakeupRecieved("other");
  EXPECT_EQ(page_->monitored, (std::vector<unsigned>{0, 0}));
}

TEST_F(MonitoringParameters, ALocalFileThatDoesNotParseIsNeverOverwritten) {
  const std::string broken = "<section name=\"DefaultMonitorTag\"><key name=\"Other\" value=\"keep\"/>";
  testing_support::WriteFile("DefaultConfigFile", broken);
  unsigned status = 0;
  EXPECT_EQ(Call(true, "EnableMonitoring=1&PollingInterval=10", &status),
            "HTTP/1.1 400 Bad Request\r\nContent-Length:0\r\n\r\n");
  EXPECT_EQ(status, 500u);
  EXPECT_EQ(ReadFile("DefaultConfigFile"), broken);
}

TEST_F(MonitoringParameters, TheMasterConfigurationWinsWhenItHasTheClass) {
  std::string master = "<section name=\"identity\"><key name=\"modified\" value=\"0\"/></section>"
                       "<section name=\"monitoring-classes\"><section name=\"DefaultMonitorTag\">"
                       "<key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"20\"/></section></section>";
  testing_support::WriteFile(dir_.File(kMasterConfigFileName), master);
  bool enabled = false;
  std::uint32_t interval = 0;
  page_->GetMonitoringParams(enabled, interval);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(interval, 20u);
  unsigned status = 0;
  Call(true, "EnableMonitoring=1&PollingInterval=45", &status);
  EXPECT_EQ(status, 200u);
  EXPECT_FALSE(testing_support::FileExists("DefaultConfigFile"));
  EXPECT_EQ(ReadFile(dir_.File(kMasterConfigFileName)),
            "<section name=\"identity\"><key name=\"modified\" value=\"1\"/></section>"
            "<section name=\"monitoring-classes\"><section name=\"DefaultMonitorTag\">"
            "<key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"45\"/></section></section>");
}

TEST_F(MonitoringParameters, OverARealSocket) {
  // The page on a running server: GET on a session thread, POST on the loop.
  ServerOptions options;
  options.skipStdioPhase = true;
  options.portGiven = true;
  options.idleTimeout = 0;
  server_->DeletePages();
  server_.reset(new MonitorServer(options));
  server_->SetModuleDirectory(dir_.Path() + "/");
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  MonitorServer::Streams streams;
  streams.input = in;
  streams.output = out;
  streams.error = nullptr;
  server_->SetStreams(streams);
  page_ = new Monitored;
  page_->Register();
  std::thread runner([this] { server_->Run(); });
  for (int i = 0; i < 2000 && server_->Port() == 0; ++i) platform::SleepMilliseconds(5);
  std::uint16_t port = server_->Port();
  ASSERT_NE(port, 0);
  EXPECT_EQ(testing_support::Exchange(port, "POST /monitored HTTP/1.1\r\nContent-Length: 36\r\n\r\n"
                                            "EnableMonitoring=1&PollingInterval=5"),
            "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
  std::string reply = testing_support::Get(port, "/monitored?timerstatus=1");
  EXPECT_NE(reply.find("<TIMER ID=\"DefaultMonitorTag\" interval=\"5\""), std::string::npos) << reply;
  EXPECT_NE(testing_support::Get(port, "/monitored").find("<PollingInterval>5</PollingInterval>"), std::string::npos);
  server_->Signal(MonitorServer::kSignalShutdown);
  runner.join();
  EXPECT_NE(ReadFile("DefaultConfigFile").find("<key name=\"PollingInterval\" value=\"5\"/>"), std::string::npos);
  std::fclose(in);
  std::fclose(out);
}

// The inventory page of the real provider, reconfigured through the external
// alarm page: after it, monitoring is exactly one of an external wake-up, an
// internal timer, or nothing, and never a timer that is due on every pass.
TEST(MonitoringOnTheProvider, ReconfigurationNeverSpinsNorDropsMonitoring) {
  struct Case {
    const char* keys;  // of section DefaultMonitorTag in the local file
    bool collectorRefuses;
    const char* logged;  // once, at 0x20
    bool internalTimer;
  } cases[] = {
      {"<key name=\"EnableMonitoring\" value=\"1\"/><key name=\"PollingInterval\" value=\"0\"/>", false,
       "polling interval 0; monitoring not set up", false},
      {"<key name=\"EnableMonitoring\" value=\"1\"/>", false, "polling interval 0; monitoring not set up", false},
      {"<key name=\"EnableMonitoring\" value=\"1\"/><key name=\"PollingInterval\" value=\"soon\"/>", false,
       "polling interval 0; monitoring not set up", false},
      {"<key name=\"EnableMonitoring\" value=\"1\"/><key name=\"PollingInterval\" value=\"-5\"/>", false,
       "polling interval 0; monitoring not set up", false},
      {"<key name=\"EnableMonitoring\" value=\"1\"/><key name=\"PollingInterval\" value=\"60\"/>", true,
       "external wakeup call refused; using an internal timer", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    TempDir dir;
    FakeCollector collector(c.collectorRefuses ? "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"
                                               : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    testing_support::WriteFile(dir.File("DefaultConfigFile"),
                               std::string("<section name=\"DefaultMonitorTag\">") + c.keys + "</section>");
    testing_support::ProviderProcess provider(
        dir.Path(), {"-u", "-z", "-V", "0x460", "-b", "1000000"},  // a timer spinning must not roll the log over
        testing_support::ProviderEnvironment(dir.Path(), dir.File("none.reg"), collector.Port()));
    ASSERT_TRUE(provider.Started()) << provider.Log();
    EXPECT_EQ(testing_support::Exchange(provider.Port(),
                                        "POST /extalarm?masterreconfig=1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n");
    // Pages are reconfigured in path order; /status is the last.
    ASSERT_TRUE(testing_support::WaitForText(provider.LogFile(), "Reconfig for page /status")) << provider.Log();
    if (c.internalTimer) {
      EXPECT_TRUE(testing_support::WaitForText(provider.LogFile(), "Time to monitor item DefaultMonitorTag", 5000));
    }
    // A few passes of the server loop after the reconfiguration.
    for (int i = 0; i < 3; ++i) testing_support::Get(provider.Port(), "/status");
    std::string log = provider.Log();
    auto count = [&log](const std::string& text) {
      std::size_t n = 0;
      for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count(c.logged), 1u);
    EXPECT_EQ(count("Time to monitor item DefaultMonitorTag"), c.internalTimer ? 1u : 0u) << log;
  }
}

TEST_F(MonitoringParameters, AnIntervalOfExactlyTheMinimumIsAnExternalWakeup) {
  unsigned status = 0;
  Call(true, "EnableMonitoring=1&PollingInterval=30", &status);
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(Targets(), (std::vector<std::string>{
                           kDel, "/extschedule?cmd=addrenew&page=%2Fmonitored&cookie=DefaultMonitorTag&delay=30"}));
  EXPECT_TRUE(page_->Schedule().IsEmpty());
}

// A start with crash recovery cannot rely on the wake-up of the run that
// crashed: a long interval gets an internal timer; a plain start relies on it.
TEST_F(MonitoringParameters, CrashRecoveryStartsAnInternalTimerForALongInterval) {
  testing_support::WriteFile("DefaultConfigFile", "<section name=\"DefaultMonitorTag\"><key name=\"EnableMonitoring\" "
                                                  "value=\"1\"/><key name=\"PollingInterval\" value=\"60\"/></section>");
  page_->InitializeMonitoring(false, false, false);
  EXPECT_TRUE(page_->Schedule().IsEmpty());
  page_->InitializeMonitoring(false, true, false);
  ASSERT_EQ(page_->Schedule().Items().size(), 1u);
  EXPECT_EQ(page_->Schedule().Items()[0].Text(), "DefaultMonitorTag;;60;0");
  EXPECT_TRUE(Targets().empty());
}

}  // namespace
