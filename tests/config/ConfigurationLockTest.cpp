// The file lock between processes (with the config-holder helper program)
// and between threads of this process.
#include "config/ConfigurationFile.h"

#include "TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// Odd bytes on purpose (a lone CR, UTF-8 without a mark, a trailing line
// end): a holder that does not write leaves them byte for byte.
const char kBefore[] = "<section name=\"holder\">\r\n\t<key name=\"value\" value=\"before\rb \xC3\xA9\"/>\r\n</section>\r\n";

// config-holder in a child process: holds c.xml for update until told.
class Holder {
 public:
  Holder(const TempDir& dir, const char* value, const char* wait, const char* action = "write") {
    platform::ChildProcessOptions options;
    options.input = platform::ChildProcessOptions::Stream::Pipe;
    options.output = platform::ChildProcessOptions::Stream::Pipe;
    EXPECT_TRUE(child_.Start(testing_support::CommandLineOf({testing_support::HelperBinary("config-holder"), dir.Path(), "c.xml", value, wait, action}),
                             options));
  }
  std::string ReadLine() {
    std::string line;
    char c;
    while (child_.ReadOutput(&c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }
  void Go() { child_.WriteInput("go\n", 3); }
  int Finish() {
    int code = -1;
    child_.Wait(-1, &code);
    return code;
  }
  void Kill() { child_.Kill(); }

 private:
  platform::ChildProcess child_;
};

// Loads c.xml on a thread of its own, so that the test can watch it wait;
// gives the holder's value, or "(failed)".
std::future<std::string> LoadInBackground(const TempDir& dir, std::int32_t timeout) {
  return std::async(std::launch::async, [&dir, timeout] {
    ConfigurationFile file(dir.Path().c_str(), "c.xml");
    std::string value = "(failed)";
    if (file.LoadReadOnly(timeout)) file.GetValue(file.FindSection(file.GetRoot(), "holder"), "value", value);
    return value;
  });
}

TEST(ConfigurationLock, LoadsWaitForAnotherProcessThatHoldsTheFile) {
  TempDir dir;
  WriteFile(dir.File("c.xml"), kBefore);
  Holder holder(dir, "after", "stdin");
  ASSERT_EQ(holder.ReadLine(), "locked");

  ConfigurationFile probe(dir.Path().c_str(), "c.xml");
  std::uint64_t start = platform::MonotonicMilliseconds();
  EXPECT_FALSE(probe.LoadReadOnly(0));
  EXPECT_LT(platform::MonotonicMilliseconds() - start, 450u) << "a timeout of 0 tries once, without the 500 ms retry";
  start = platform::MonotonicMilliseconds();
  EXPECT_FALSE(probe.LoadForUpdate(1));
  EXPECT_GE(platform::MonotonicMilliseconds() - start, 1000u);
  EXPECT_EQ(probe.GetRoot(), nullptr);

  auto load = LoadInBackground(dir, 5);
  EXPECT_EQ(load.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "the load did not wait";
  holder.Go();
  EXPECT_EQ(load.get(), "after");
  EXPECT_EQ(holder.ReadLine(), "written");
  EXPECT_EQ(holder.Finish(), 0);
}

TEST(ConfigurationLock, AProcessThatEndsWithoutWritingOrDiesReleasesTheFileUnchanged) {
  TempDir dir;
  WriteFile(dir.File("c.xml"), kBefore);
  for (bool kill : {false, true}) {
    {
      Holder holder(dir, "after", "stdin", "abandon");
      ASSERT_EQ(holder.ReadLine(), "locked");
      ConfigurationFile probe(dir.Path().c_str(), "c.xml");
      EXPECT_FALSE(probe.LoadForUpdate(0));
      if (kill) {
        holder.Kill();
      } else {
        holder.Go();
        EXPECT_EQ(holder.ReadLine(), "abandoned");
      }
      holder.Finish();
      EXPECT_TRUE(probe.LoadForUpdate(0)) << (kill ? "killed" : "ended");
    }
    // Read once the probe let go: where the lock denies sharing it keeps readers out.
    EXPECT_EQ(ReadFile(dir.File("c.xml")), kBefore);
  }
}

TEST(ConfigurationLock, AnotherProcessWaitsForThisProcessesUpdate) {
  TempDir dir;
  ConfigurationFile file(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(file.LoadForUpdate(0));
  file.SetValue(file.CreateSection(file.GetRoot(), "parent"), "k", "v");
  Holder holder(dir, "child", "0");
  auto locked = std::async(std::launch::async, [&holder] { return holder.ReadLine(); });
  EXPECT_EQ(locked.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "the other process got the file while this one held it";
  ASSERT_TRUE(file.WriteFile());
  EXPECT_EQ(locked.get(), "locked");
  EXPECT_EQ(holder.ReadLine(), "written");
  EXPECT_EQ(holder.Finish(), 0);
  // The other process read what this one wrote, and added to it.
  EXPECT_EQ(ReadFile(dir.File("c.xml")),
            "<section name=\"parent\"><key name=\"k\" value=\"v\"/></section>"
            "<section name=\"holder\"><key name=\"value\" value=\"child\"/></section>");
}

// Threads take the same lock: another object, even on the same thread, is kept out.
TEST(ConfigurationLock, AnotherObjectOfThisProcessIsKeptOut) {
  TempDir dir;
  ConfigurationFile holder(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(holder.LoadForUpdate(0));
  EXPECT_FALSE(ConfigurationFile(dir.Path().c_str(), "c.xml").LoadReadOnly(0));
  ASSERT_TRUE(holder.WriteFile());
  EXPECT_TRUE(ConfigurationFile(dir.Path().c_str(), "c.xml").LoadReadOnly(0));
}

}  // namespace
