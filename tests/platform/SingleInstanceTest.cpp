#include "platform/SingleInstance.h"
#include "platform/NamedEvent.h"
#include "platform/Process.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::string UniqueName(const char* base) {
  return std::string(base) + " " + std::to_string(platform::CurrentProcessId());
}

TEST(SingleInstanceGuard, SecondHolderIsRefusedUntilRelease) {
  std::string name = UniqueName("guard test/with slash");
  platform::SingleInstanceGuard first, second;
  EXPECT_EQ(first.Acquire(name), platform::SingleInstanceGuard::Result::Acquired);
  EXPECT_EQ(second.Acquire(name), platform::SingleInstanceGuard::Result::HeldByAnother);
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_EQ(second.Acquire(name), platform::SingleInstanceGuard::Result::Acquired);
  platform::SingleInstanceGuard other;
  EXPECT_EQ(other.Acquire(name + " other"), platform::SingleInstanceGuard::Result::Acquired);
}

// Whether this process reads files that deny it reading (a superuser).
bool ReadsUnreadableFiles() {
  testing_support::TempDir dir;
  std::string file = dir.File("closed");
  testing_support::WriteFile(file, "x");
  std::filesystem::permissions(file, std::filesystem::perms::none);
  return std::ifstream(file).is_open();
}

TEST(SingleInstanceGuard, ASuperuserKeepsTheLockOutOfFoldersOthersWrite) {
  if (!ReadsUnreadableFiles()) GTEST_SKIP() << "not running as a superuser";
  if (!platform::EnvironmentValue("INVENTORY_PROVIDER_LOCK_DIR", "").empty())
    GTEST_SKIP() << "INVENTORY_PROVIDER_LOCK_DIR chooses the folder";
  std::string name = UniqueName("superuser guard test");
  platform::SingleInstanceGuard guard;
  EXPECT_EQ(guard.Acquire(name), platform::SingleInstanceGuard::Result::Acquired);
  for (const char* folder : {"/run/lock", "/tmp"}) {
    std::error_code error;
    auto perms = std::filesystem::status(folder, error).permissions();
    if (error || (perms & std::filesystem::perms::others_write) == std::filesystem::perms::none) continue;
    EXPECT_FALSE(testing_support::FileExists(std::string(folder) + "/" + name + ".lock")) << folder;
  }
}

TEST(NamedEvent, OpenOnlyFindsCreatedEventsAndSetWakesWaiter) {
  std::string name = UniqueName("corvane.test.event");
  platform::NamedEvent opener;
  EXPECT_FALSE(opener.OpenExisting(name));
  platform::NamedEvent creator;
  ASSERT_TRUE(creator.Create(name));
  EXPECT_FALSE(creator.Wait(20));
  ASSERT_TRUE(opener.OpenExisting(name));
  EXPECT_TRUE(opener.Set());
  EXPECT_TRUE(creator.Wait(1000));
  EXPECT_TRUE(creator.Wait(0));  // stays set
  opener.Reset();
  EXPECT_FALSE(creator.Wait(0));
  opener.Close();
  creator.Close();
  platform::NamedEvent late;
  EXPECT_FALSE(late.OpenExisting(name));
}

// A second name for another file, planted where the lock file goes, is not
// taken for the lock.
TEST(SingleInstanceGuard, AHardLinkPlantedAsTheLockFileIsRefused) {
  testing_support::TempDir dir;
  const std::string saved = platform::EnvironmentValue("INVENTORY_PROVIDER_LOCK_DIR", "");
  testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_LOCK_DIR", dir.Path().c_str());
  std::string name = UniqueName("planted guard test");
  std::string lockFile = dir.File(name + ".lock");
  platform::SingleInstanceGuard guard;
  bool acquired = guard.Acquire(name) == platform::SingleInstanceGuard::Result::Acquired;
  guard.Release();
  bool fileKept = testing_support::FileExists(lockFile);
  std::error_code error;
  if (fileKept) {
    std::filesystem::remove(lockFile, error);
    testing_support::WriteFile(dir.File("other"), "x");
    std::filesystem::create_hard_link(dir.File("other"), lockFile, error);
  }
  platform::SingleInstanceGuard planted;
  bool plantedAcquired = fileKept && !error && planted.Acquire(name) == platform::SingleInstanceGuard::Result::Acquired;
  planted.Release();
  testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_LOCK_DIR", saved.empty() ? nullptr : saved.c_str());
  EXPECT_TRUE(acquired);
  if (!fileKept || error) GTEST_SKIP() << "no lock file in the folder, or no hard links there";
  EXPECT_FALSE(plantedAcquired);
}

}  // namespace
