// The master configuration: its lookups, and the server's cache of it
// during page sweeps.
#include "config/MasterConfig.h"

#include "ServerFixture.h"
#include "TestSupport.h"
#include "config/ConfigurationFile.h"
#include "pages/MonitorPage.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using testing_support::CountOf;
using testing_support::TempDir;
using testing_support::WriteFile;

const char kMaster[] =
    "<section name=\"identity\"><key name=\"name\" value=\"rules-7\"/><key name=\"displayName\" value=\"Standard\"/>"
    "<key name=\"time\" value=\"2024-03-01 10:00\"/><key name=\"static\" value=\"17\"/></section>"
    "<section name=\"monitoring-classes\">"
    "<section name=\"DefaultMonitorTag\"><key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"60\"/>"
    "<key name=\"criticalThreshold\" value=\"95\"/><key name=\"serviceName12\" value=\"w32time\"/>"
    "<key name=\"os-log-filter0\" value=\"System\"/></section>"
    "<section name=\"Quiet\"><key name=\"enabled\" value=\"0\"/></section></section>";

TEST(MasterConfig, Lookups) {
  TempDir dir;
  WriteFile(dir.File(kMasterConfigFileName), kMaster);
  std::unique_ptr<ConfigurationFile> master(
      MasterConfig::LoadMasterConfigFile(dir.Path().c_str(), kMasterConfigFileName, false));
  ConfigurationFile* m = master.get();
  std::string text;
  std::uint32_t number = 0;
  bool flag = true;
  // Identity names are read by their exact keys.
  EXPECT_TRUE(MasterConfig::GetName(m, text) && text == "rules-7");
  EXPECT_TRUE(MasterConfig::GetDisplayName(m, text) && text == "Standard");
  EXPECT_TRUE(MasterConfig::GetTime(m, text) && text == "2024-03-01 10:00");
  EXPECT_TRUE(MasterConfig::GetStatic(m, number) && number == 17u);
  EXPECT_TRUE(MasterConfig::GetModified(m, flag) && !flag);  // no "modified" key: not modified
  EXPECT_EQ(MasterConfig::GetMonitoringClass(m, "defaultmonitortag"), nullptr);
  EXPECT_TRUE(MasterConfig::GetEnabled(m, "Quiet", flag) && !flag);
  EXPECT_TRUE(MasterConfig::GetCriticalThreshold(m, "DefaultMonitorTag", number) && number == 95u);
  EXPECT_TRUE(MasterConfig::GetServiceName(m, "DefaultMonitorTag", 12, text) && text == "w32time");
  EXPECT_TRUE(MasterConfig::GetOsLogFilter(m, "DefaultMonitorTag", 0, text) && text == "System");
  // Missing classes and keys leave the outputs alone.
  text = "untouched";
  number = 5;
  EXPECT_FALSE(MasterConfig::GetServiceName(m, "DefaultMonitorTag", 1, text));
  EXPECT_FALSE(MasterConfig::GetInterval(m, "Quiet", number));
  EXPECT_FALSE(MasterConfig::GetEnabled(m, "Absent", flag));
  EXPECT_FALSE(MasterConfig::GetName(nullptr, text));
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(number, 5u);
  // A read-only view answers the same and refuses the one change.
  CachedConfigurationFile view(*master);
  EXPECT_TRUE(MasterConfig::GetInterval(&view, "DefaultMonitorTag", number) && number == 60u);
  EXPECT_FALSE(MasterConfig::SetModified(&view));
  // A file that cannot be loaded still gives an object, without a document.
  std::unique_ptr<ConfigurationFile> none(MasterConfig::LoadMasterConfigFile(nullptr, "", false));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->GetRoot(), nullptr);
}

const char kLoading[] = "Loading MasterConfig Cache\n";
const char kReturning[] = "MonitorServer::GetCachedMasterConfig Returning copy of MasterConfig Cache\n";
const char kReleasing[] = "Releasing MasterConfig Cache\n";
const char kNoCopy[] = "MonitorServer::GetCachedMasterConfig; no cached copy available\n";
const char kNotShared[] = "MonitorPage::LoadMasterConfig Reading master configuration TEST-MASTERCONFIGNOTSHARED\n";
const char kForUpdate[] = "MonitorPage::LoadMasterConfig (forupdate) called; releasing master config cache if any\n";

// A page that reads (or updates) the master configuration when swept.
class MasterPage : public MonitorPage {
 public:
  MasterPage(const char* path, bool update) : MonitorPage(path, false), update_(update) { EXPECT_EQ(Register(), 0); }
  int Initialize() override {
    Visit();
    return 0;
  }
  void Reconfig() override { Visit(); }
  void Visit() {
    std::unique_ptr<ConfigurationFile> master(LoadMasterConfig(update_));
    std::uint32_t interval = 0;
    MasterConfig::GetInterval(master.get(), "DefaultMonitorTag", interval);
    intervals.push_back(interval);
    if (update_) {
      master->SetValue(MasterConfig::GetMonitoringClass(master.get(), "DefaultMonitorTag"), "interval", interval + 1);
      EXPECT_TRUE(master->WriteFile());
    }
    if (keep) kept = std::move(master);
  }
  std::vector<std::uint32_t> intervals;
  bool keep = false;
  std::unique_ptr<ConfigurationFile> kept;

 private:
  bool update_;
};

class MasterConfigCache : public testing_support::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    Make().SetModuleDirectory(dir_.Path() + "/");
    WriteFile(dir_.File(kMasterConfigFileName), kMaster);
  }
  // The log since the last call.
  std::string Log() {
    std::string log = ServerFixture::Log().substr(seen_);
    seen_ += log.size();
    return log;
  }
  void ExpectCounts(const std::string& log, std::size_t loading, std::size_t returning, std::size_t releasing,
                    std::size_t notShared) {
    EXPECT_EQ(CountOf(log, kLoading), loading);
    EXPECT_EQ(CountOf(log, kReturning), returning);
    EXPECT_EQ(CountOf(log, kReleasing), releasing);
    EXPECT_EQ(CountOf(log, kNotShared), notShared);
  }
  TempDir dir_;
  std::size_t seen_ = 0;
};

// One load per sweep for all readers, released at its end; an update in the
// sweep drops the cache, and later pages read the file anew.
TEST_F(MasterConfigCache, OneLoadPerSweepUntilAnUpdate) {
  MasterPage* a = new MasterPage("/a", false);
  new MasterPage("/b", false);
  server_->Reconfig();
  std::string log = Log();
  ExpectCounts(log, 1, 2, 1, 0);
  EXPECT_GT(log.rfind(kReleasing), log.rfind(kReturning));
  EXPECT_EQ(a->intervals, std::vector<std::uint32_t>{60});
  // Outside a sweep every read goes to the file.
  a->Visit();
  log = Log();
  ExpectCounts(log, 0, 0, 0, 1);
  EXPECT_EQ(CountOf(log, kNoCopy), 1u);

  MasterPage* c = new MasterPage("/c", true);
  MasterPage* d = new MasterPage("/d", false);
  EXPECT_EQ(server_->LateProviderInitialization(), 0);
  log = Log();
  // Released by the update, and again at the end of the sweep.
  ExpectCounts(log, 2, 3, 2, 1);
  EXPECT_EQ(CountOf(log, kForUpdate), 1u);
  EXPECT_EQ(a->intervals, (std::vector<std::uint32_t>{60, 60, 60}));
  EXPECT_EQ(c->intervals, std::vector<std::uint32_t>{60});
  EXPECT_EQ(d->intervals, std::vector<std::uint32_t>{61});
}

TEST_F(MasterConfigCache, AViewKeptPastTheSweepTheBypassAndNoFile) {
  MasterPage* a = new MasterPage("/a", false);
  a->keep = true;
  server_->Reconfig();
  ASSERT_NE(a->kept, nullptr);
  EXPECT_TRUE(a->kept->IsShared());
  // The cache is gone, yet the view a page kept still reads its copy.
  std::uint32_t interval = 0;
  EXPECT_TRUE(MasterConfig::GetInterval(a->kept.get(), "DefaultMonitorTag", interval) && interval == 60u);
  a->kept.reset();

  // With the bypass flag a read in a sweep goes to the file.
  server_->SetMasterConfigSharing(true);
  Log();
  std::unique_ptr<ConfigurationFile> fresh(a->LoadMasterConfig(false, true));
  EXPECT_FALSE(fresh->IsShared());
  ExpectCounts(Log(), 0, 0, 0, 1);
  server_->SetMasterConfigSharing(false);

  // No master file: the read gives an empty configuration, and no class.
  std::remove(dir_.File(kMasterConfigFileName).c_str());
  a->keep = false;
  a->intervals.clear();
  server_->Reconfig();
  EXPECT_EQ(a->intervals, std::vector<std::uint32_t>{0});
}

}  // namespace
