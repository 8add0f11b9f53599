#include "platform/SingleInstance.h"
#include "platform/NamedEvent.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

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

}  // namespace
