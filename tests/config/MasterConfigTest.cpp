// Lookups of the master configuration.
#include "config/MasterConfig.h"

#include "TestSupport.h"
#include "platform/LockedFile.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const char kMaster[] =
    "<section name=\"identity\"><key name=\"name\" value=\"rules-7\"/><key name=\"displayName\" value=\"Standard\"/>"
    "<key name=\"time\" value=\"2024-03-01 10:00\"/><key name=\"static\" value=\"17\"/></section>"
    "<section name=\"monitoring-classes\">"
    "<section name=\"DefaultMonitorTag\"><key name=\"enabled\" value=\"1\"/><key name=\"interval\" value=\"60\"/>"
    "<key name=\"warningThreshold\" value=\"80\"/><key name=\"criticalThreshold\" value=\"95\"/>"
    "<key name=\"serviceName0\" value=\"spooler\"/><key name=\"serviceName12\" value=\"w32time\"/>"
    "<key name=\"os-log-filter0\" value=\"System\"/></section>"
    "<section name=\"Quiet\"><key name=\"enabled\" value=\"0\"/></section>"
    "</section>";

TEST(MasterConfig, IdentityAndClassLookups) {
  TempDir dir;
  WriteFile(dir.File(kMasterConfigFileName), kMaster);
  std::unique_ptr<ConfigurationFile> master(
      MasterConfig::LoadMasterConfigFile(dir.Path().c_str(), kMasterConfigFileName, false));
  ASSERT_NE(master->GetRoot(), nullptr);
  EXPECT_FALSE(master->IsForUpdate());

  std::string text;
  EXPECT_TRUE(MasterConfig::GetTime(master.get(), text));
  EXPECT_EQ(text, "2024-03-01 10:00");
  std::uint32_t number = 0;
  EXPECT_TRUE(MasterConfig::GetStatic(master.get(), number));
  EXPECT_EQ(number, 17u);
  bool flag = true;
  EXPECT_TRUE(MasterConfig::GetModified(master.get(), flag));  // no "modified" key: not modified
  EXPECT_FALSE(flag);

  EXPECT_EQ(MasterConfig::GetMonitoringClass(master.get(), "defaultmonitortag"), nullptr);
  EXPECT_TRUE(MasterConfig::GetEnabled(master.get(), "DefaultMonitorTag", flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(MasterConfig::GetEnabled(master.get(), "Quiet", flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(MasterConfig::GetCriticalThreshold(master.get(), "DefaultMonitorTag", number));
  EXPECT_EQ(number, 95u);
  EXPECT_TRUE(MasterConfig::GetServiceName(master.get(), "DefaultMonitorTag", 12, text));
  EXPECT_EQ(text, "w32time");
  EXPECT_TRUE(MasterConfig::GetOsLogFilter(master.get(), "DefaultMonitorTag", 0, text));
  EXPECT_EQ(text, "System");

  // Missing classes and keys leave the outputs alone.
  text = "untouched";
  number = 5;
  flag = true;
  EXPECT_FALSE(MasterConfig::GetServiceName(master.get(), "DefaultMonitorTag", 1, text));
  EXPECT_FALSE(MasterConfig::GetOsLogFilter(master.get(), "Quiet", 0, text));
  EXPECT_FALSE(MasterConfig::GetInterval(master.get(), "Quiet", number));
  EXPECT_FALSE(MasterConfig::GetEnabled(master.get(), "Absent", flag));
  EXPECT_FALSE(MasterConfig::GetName(nullptr, text));
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(number, 5u);
  EXPECT_TRUE(flag);

  // A read-only view answers the same and refuses the one change.
  CachedConfigurationFile view(*master);
  EXPECT_TRUE(MasterConfig::GetInterval(&view, "DefaultMonitorTag", number));
  EXPECT_FALSE(MasterConfig::SetModified(&view));
}

TEST(MasterConfig, ModifiedFlagNeedsAnIdentitySection) {
  TempDir dir;
  WriteFile(dir.File(kMasterConfigFileName), kMaster);
  {
    std::unique_ptr<ConfigurationFile> master(
        MasterConfig::LoadMasterConfigFile(dir.Path().c_str(), kMasterConfigFileName, true));
    EXPECT_TRUE(master->IsForUpdate());
    platform::LockedFile probe;
    EXPECT_EQ(probe.Open(dir.File(kMasterConfigFileName)), platform::LockedFile::OpenResult::Busy);
    EXPECT_TRUE(MasterConfig::SetModified(master.get()));
    bool modified = false;
    EXPECT_TRUE(MasterConfig::GetModified(master.get(), modified));
    EXPECT_TRUE(modified);
    ASSERT_TRUE(master->WriteFile());
  }
  EXPECT_NE(ReadFile(dir.File(kMasterConfigFileName)).find("<key name=\"modified\" value=\"1\"/></section>"),
            std::string::npos);

  WriteFile(dir.File("other.xml"), "<section name=\"monitoring-classes\"/>");
  std::unique_ptr<ConfigurationFile> noIdentity(MasterConfig::LoadMasterConfigFile(dir.Path().c_str(), "other.xml", true));
  bool modified = true;
  EXPECT_FALSE(MasterConfig::GetModified(noIdentity.get(), modified));
  EXPECT_TRUE(modified);
  EXPECT_FALSE(MasterConfig::SetModified(noIdentity.get()));
  std::uint32_t number = 0;
  EXPECT_FALSE(MasterConfig::GetStatic(noIdentity.get(), number));

  // A file that cannot be loaded still gives an object, without a document.
  std::unique_ptr<ConfigurationFile> none(MasterConfig::LoadMasterConfigFile(nullptr, "", false));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->GetRoot(), nullptr);
  EXPECT_EQ(MasterConfig::GetIdentity(none.get()), nullptr);
  EXPECT_FALSE(MasterConfig::GetEnabled(none.get(), "DefaultMonitorTag", modified));
}

TEST(MasterConfig, IdentityNamesAreReadByTheirExactKeys) {
  TempDir dir;
  WriteFile(dir.File(kMasterConfigFileName), kMaster);
  std::unique_ptr<ConfigurationFile> master(
      MasterConfig::LoadMasterConfigFile(dir.Path().c_str(), kMasterConfigFileName, false));
  std::string name, displayName;
  EXPECT_TRUE(MasterConfig::GetName(master.get(), name));
  EXPECT_EQ(name, "rules-7");
  EXPECT_TRUE(MasterConfig::GetDisplayName(master.get(), displayName));
  EXPECT_EQ(displayName, "Standard");
}

}  // namespace
