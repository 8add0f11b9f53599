// The server's master configuration cache during page sweeps.
#include "server/MonitorServer.h"

#include "ProcessLog.h"
#include "TestSupport.h"
#include "config/ConfigurationFile.h"
#include "config/MasterConfig.h"
#include "pages/MonitorPage.h"
#include "process/DiagLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using testing_support::CountOf;

const char kLoading[] = "Loading MasterConfig Cache\n";
const char kReturning[] = "MonitorServer::GetCachedMasterConfig Returning copy of MasterConfig Cache\n";
const char kReleasing[] = "Releasing MasterConfig Cache\n";
const char kNoCopy[] = "MonitorServer::GetCachedMasterConfig; no cached copy available\n";
const char kShared[] = "MonitorPage::LoadMasterConfig Returning shared copy of master configuration TEST-MASTERCONFIGSHARED\n";
const char kNotShared[] = "MonitorPage::LoadMasterConfig Reading master configuration TEST-MASTERCONFIGNOTSHARED\n";
const char kForUpdate[] = "MonitorPage::LoadMasterConfig (forupdate) called; releasing master config cache if any\n";

std::string Master(std::uint32_t interval) {
  return "<section name=\"identity\"><key name=\"name\" value=\"rules\"/></section>"
         "<section name=\"monitoring-classes\"><section name=\"DefaultMonitorTag\">"
         "<key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"" +
         std::to_string(interval) + "\"/></section></section>";
}

// A page that reads (or updates) the master configuration when swept.
class MasterPage : public MonitorPage {
 public:
  MasterPage(const char* path, bool update = false) : MonitorPage(path, false), update_(update) {}
  int Initialize() override {
    Visit();
    return 0;
  }
  void Reconfig() override { Visit(); }

  void Visit() {
    std::unique_ptr<ConfigurationFile> master = LoadMasterConfig(update_);
    std::uint32_t interval = 0;
    if (master != nullptr) MasterConfig::GetInterval(master.get(), "DefaultMonitorTag", interval);
    intervals.push_back(interval);
    if (master != nullptr && update_) {
      master->SetValue(MasterConfig::GetMonitoringClass(master.get(), "DefaultMonitorTag"), "interval", interval + 1);
      MasterConfig::SetModified(master.get());
      written = master->WriteFile();
    }
    if (keep) kept = std::move(master);
  }

  std::vector<std::uint32_t> intervals;
  bool written = false;
  bool keep = false;
  std::unique_ptr<ConfigurationFile> kept;

 private:
  bool update_;
};

class MasterConfigCache : public ::testing::Test {
 protected:
  void SetUp() override {
    logStart_ = testing_support::ProcessLogSize();
    server_.reset(new MonitorServer(ServerOptions()));
    server_->SetModuleDirectory(dir_.Path() + "/");
    WriteFile(dir_.File(kMasterConfigFileName), Master(60));
  }
  void TearDown() override {
    server_->DeletePages();
    server_.reset();
  }
  MasterPage* Add(const char* path, bool update = false) {
    MasterPage* page = new MasterPage(path, update);
    EXPECT_EQ(page->Register(), 0);
    return page;
  }
  std::string Log() { return testing_support::ProcessLogSince(logStart_); }

  TempDir dir_;
  std::unique_ptr<MonitorServer> server_;
  std::size_t logStart_ = 0;
};

TEST_F(MasterConfigCache, OneSweepLoadsTheFileOnceForAllReaders) {
  MasterPage* a = Add("/a");
  MasterPage* b = Add("/b");
  server_->Reconfig();
  std::string log = Log();
  EXPECT_EQ(CountOf(log, kLoading), 1u);
  EXPECT_EQ(CountOf(log, kReturning), 2u);
  EXPECT_EQ(CountOf(log, kShared), 2u);
  EXPECT_EQ(CountOf(log, kNotShared), 0u);
  EXPECT_EQ(CountOf(log, kReleasing), 1u);
  EXPECT_GT(log.rfind(kReleasing), log.rfind(kReturning));  // released at the end of the sweep
  EXPECT_EQ(a->intervals, std::vector<std::uint32_t>{60});
  EXPECT_EQ(b->intervals, std::vector<std::uint32_t>{60});
  EXPECT_FALSE(server_->masterConfigCacheAllowed);

  // Outside a sweep every read goes to the file.
  logStart_ += log.size();
  a->Visit();
  b->Visit();
  log = Log();
  EXPECT_EQ(CountOf(log, kLoading), 0u);
  EXPECT_EQ(CountOf(log, kNoCopy), 2u);
  EXPECT_EQ(CountOf(log, kNotShared), 2u);
  EXPECT_EQ(CountOf(log, "MonitorPage::LoadMasterConfig called\n"), 2u);

  // So does the late initialization's sweep.
  logStart_ += log.size();
  EXPECT_EQ(server_->LateProviderInitialization(), 0);
  log = Log();
  EXPECT_EQ(CountOf(log, kLoading), 1u);
  EXPECT_EQ(CountOf(log, kReturning), 2u);
  EXPECT_EQ(CountOf(log, kReleasing), 1u);
  EXPECT_EQ(a->intervals.size(), 3u);
}

TEST_F(MasterConfigCache, AnUpdateInTheSweepDropsTheCacheAndLaterPagesReadItAnew) {
  MasterPage* a = Add("/a");
  MasterPage* b = Add("/b", true);
  MasterPage* c = Add("/c");
  server_->Reconfig();
  std::string log = Log();
  EXPECT_EQ(CountOf(log, kLoading), 2u);
  EXPECT_EQ(CountOf(log, kForUpdate), 1u);
  EXPECT_EQ(CountOf(log, kReturning), 2u);
  EXPECT_EQ(CountOf(log, kNotShared), 1u);
  // Released by the update, and again at the end of the sweep.
  EXPECT_EQ(CountOf(log, kReleasing), 2u);
  EXPECT_TRUE(b->written);
  EXPECT_EQ(a->intervals, std::vector<std::uint32_t>{60});
  EXPECT_EQ(b->intervals, std::vector<std::uint32_t>{60});
  EXPECT_EQ(c->intervals, std::vector<std::uint32_t>{61});
  EXPECT_EQ(ReadFile(dir_.File(kMasterConfigFileName)),
            "<section name=\"identity\"><key name=\"name\" value=\"rules\"/><key name=\"modified\" value=\"1\"/>"
            "</section><section name=\"monitoring-classes\"><section name=\"DefaultMonitorTag\">"
            "<key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"61\"/></section></section>");
}

TEST_F(MasterConfigCache, BypassingTheCacheAndKeepingAViewPastTheSweep) {
  MasterPage* a = Add("/a");
  a->keep = true;
  server_->Reconfig();
  ASSERT_NE(a->kept, nullptr);
  EXPECT_TRUE(a->kept->IsShared());
  // The cache is gone, yet the view a page kept still reads its copy.
  std::uint32_t interval = 0;
  EXPECT_TRUE(MasterConfig::GetInterval(a->kept.get(), "DefaultMonitorTag", interval));
  EXPECT_EQ(interval, 60u);
  a->kept.reset();

  // With the bypass flag a read in a sweep goes to the file.
  server_->SetMasterConfigSharing(true);
  logStart_ = testing_support::ProcessLogSize();
  std::unique_ptr<ConfigurationFile> fresh(a->LoadMasterConfig(false, true));
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->IsShared());
  EXPECT_EQ(CountOf(Log(), kLoading), 0u);
  EXPECT_EQ(CountOf(Log(), kNotShared), 1u);
  server_->SetMasterConfigSharing(false);

  // No master file: the read gives an empty configuration, and no class.
  std::remove(dir_.File(kMasterConfigFileName).c_str());
  a->intervals.clear();
  server_->Reconfig();
  EXPECT_EQ(a->intervals, std::vector<std::uint32_t>{0});
}

}  // namespace
