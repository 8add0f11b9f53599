// The registry key owner over the registry file: the values the provider
// reads, with the results Windows gives.
#include "config/CIRegKey.h"

#include "TestSupport.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using testing_support::TempDir;

const char kClientKey[] = "SOFTWARE\\Corvane\\Fleetwarden\\WinClient";

class RegKey : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::WriteRegistryFile(dir_.File("registry.reg"),
                                       "Windows Registry Editor Version 5.00\r\n\r\n"
                                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient]\r\n"
                                       "\"Path\"=\"C:\\\\Program Files\\\\Client\"\r\n"
                                       "\"HPSM\"=dword:00000002\r\n"
                                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
                                       "\"Path\"=\"other\"\r\n");
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_REGISTRY", dir_.File("registry.reg").c_str());
    baseline_ = CIRegKey::OpenKeyCount();
  }
  void TearDown() override {
    EXPECT_EQ(CIRegKey::OpenKeyCount(), baseline_);
    testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_REGISTRY", nullptr);
  }
  std::string Path(const CIRegKey& key) {
    char buffer[260] = {};
    std::uint32_t size = sizeof buffer;
    return key.QueryValue(buffer, "Path", &size) == kRegSuccess ? std::string(buffer, size - 1) : "(error)";
  }
  TempDir dir_;
  long baseline_ = 0;
};

TEST_F(RegKey, ValuesAreReadWithTheWindowsResults) {
  CIRegKey key;
  char buffer[260] = "unchanged";
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(key.QueryValue(buffer, "Path", &size), kRegInvalidHandle);  // no key yet
  EXPECT_STREQ(buffer, "unchanged");
  EXPECT_EQ(key.Open(0x80000001u, kClientKey, kRegKeyAllAccess), kRegInvalidHandle);
  ASSERT_EQ(key.Open(kRegLocalMachine, kClientKey, kRegKeyAllAccess), kRegSuccess);
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(key.QueryValue(buffer, "Path", &size), kRegSuccess);
  EXPECT_EQ(size, 24u);  // with its NUL
  EXPECT_STREQ(buffer, "C:\\Program Files\\Client");
  // The value names compare without regard to case; numbers are four bytes.
  unsigned char number[4] = {};
  size = sizeof number;
  EXPECT_EQ(key.QueryValue(number, "hpsm", &size), kRegSuccess);
  EXPECT_EQ(size * 1000 + number[0], 4002u);
  // Too small a buffer fails and tells the size needed; no buffer asks for it.
  size = 8;
  EXPECT_EQ(key.QueryValue(buffer, "Path", &size), kRegMoreData);
  EXPECT_EQ(size, 24u);
  size = 0;
  EXPECT_EQ(key.QueryValue(nullptr, "Path", &size), kRegSuccess);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(key.QueryValue(buffer, "Path", nullptr), kRegInvalidParameter);
  EXPECT_EQ(key.QueryValue(buffer, "Missing", &size), kRegFileNotFound);
}

TEST_F(RegKey, KeysAreClosedExactlyOnce) {
  {
    CIRegKey key;
    ASSERT_EQ(key.Open(kRegLocalMachine, kClientKey, kRegKeyAllAccess), kRegSuccess);
    // A second open closes the first key; a failed open keeps the key held.
    ASSERT_EQ(key.Open(kRegLocalMachine, "SOFTWARE\\Other", kRegKeyAllAccess), kRegSuccess);
    EXPECT_EQ(key.Open(kRegLocalMachine, "SOFTWARE\\Missing", kRegKeyAllAccess), kRegFileNotFound);
    EXPECT_EQ(Path(key), "other");
    EXPECT_EQ(CIRegKey::OpenKeyCount(), baseline_ + 1);
  }  // destroyed with its key open: closed (checked at the end of the test)
  CIRegKey key;
  ASSERT_EQ(key.Open(kRegLocalMachine, kClientKey, kRegKeyAllAccess), kRegSuccess);
  EXPECT_EQ(key.Close(), kRegSuccess);
  EXPECT_EQ(key.Close(), kRegSuccess);  // not closed twice
  EXPECT_EQ(Path(key), "(error)");
  // Without a registry file every open fails as for a missing key.
  testing_support::SetEnvironmentValue("INVENTORY_PROVIDER_REGISTRY", dir_.File("absent.reg").c_str());
  testing_support::RemoveRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient");
  EXPECT_EQ(key.Open(kRegLocalMachine, kClientKey, kRegKeyAllAccess), kRegFileNotFound);
}

}  // namespace
