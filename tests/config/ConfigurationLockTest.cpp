// The file lock between processes (with the config-holder helper program)
// and between threads of this process.
#include "config/ConfigurationFile.h"

#include "TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using testing_support::HelperBinary;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const char kBefore[] = "<section name=\"holder\"><key name=\"value\" value=\"before\"/></section>";

// config-holder in a child process: holds the file for update until told.
class Holder {
 public:
  Holder(const TempDir& dir, const char* value, const char* wait, const char* action = "write") {
    platform::ChildProcessOptions options;
    options.input = platform::ChildProcessOptions::Stream::Pipe;
    options.output = platform::ChildProcessOptions::Stream::Pipe;
    started_ = child_.Start(
        testing_support::CommandLineOf({HelperBinary("config-holder"), dir.Path(), "c.xml", value, wait, action}), options);
  }
  bool Started() const { return started_; }
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
  bool started_ = false;
};

// A load on a thread of its own, so that the test can watch it wait.
class BackgroundLoad {
 public:
  BackgroundLoad(const TempDir& dir, std::int32_t timeout, bool forUpdate = false)
      : file_(dir.Path().c_str(), "c.xml"), thread_([this, timeout, forUpdate] {
          result_ = forUpdate ? file_.LoadForUpdate(timeout) : file_.LoadReadOnly(timeout);
          done_ = true;
        }) {}
  ~BackgroundLoad() {
    if (thread_.joinable()) thread_.join();
  }
  bool Done() const { return done_; }
  bool Result() {
    thread_.join();
    return result_;
  }
  std::string Value() {
    std::string value;
    file_.GetValue(file_.FindSection(file_.GetRoot(), "holder"), "value", value);
    return value;
  }

 private:
  ConfigurationFile file_;
  bool result_ = false;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

std::uint64_t Now() { return platform::MonotonicMilliseconds(); }

TEST(ConfigurationLock, LoadsWaitForAnotherProcessThatHoldsTheFile) {
  TempDir dir;
  WriteFile(dir.File("c.xml"), kBefore);
  Holder holder(dir, "after", "stdin");
  ASSERT_TRUE(holder.Started());
  ASSERT_EQ(holder.ReadLine(), "locked");

  ConfigurationFile probe(dir.Path().c_str(), "c.xml");
  std::uint64_t start = Now();
  EXPECT_FALSE(probe.LoadReadOnly(0));
  EXPECT_LT(Now() - start, 450u) << "a timeout of 0 tries once, without the 500 ms retry";
  start = Now();
  EXPECT_FALSE(probe.LoadForUpdate(1));
  EXPECT_GE(Now() - start, 1000u);
  EXPECT_EQ(probe.GetRoot(), nullptr);

  BackgroundLoad load(dir, 5);
  platform::SleepMilliseconds(300);
  EXPECT_FALSE(load.Done()) << "the load did not wait for the holder";
  holder.Go();
  EXPECT_TRUE(load.Result());
  EXPECT_EQ(load.Value(), "after");
  EXPECT_EQ(holder.ReadLine(), "written");
  EXPECT_EQ(holder.Finish(), 0);
}

TEST(ConfigurationLock, AProcessThatEndsWithoutWritingOrDiesReleasesTheFileUnchanged) {
  TempDir dir;
  WriteFile(dir.File("c.xml"), kBefore);
  {
    Holder holder(dir, "after", "stdin", "abandon");
    ASSERT_EQ(holder.ReadLine(), "locked");
    ConfigurationFile probe(dir.Path().c_str(), "c.xml");
    EXPECT_FALSE(probe.LoadForUpdate(0));
    holder.Go();
    EXPECT_EQ(holder.ReadLine(), "abandoned");
    EXPECT_EQ(holder.Finish(), 0);
    EXPECT_TRUE(probe.LoadForUpdate(0));
  }
  EXPECT_EQ(ReadFile(dir.File("c.xml")), kBefore);
  {
    Holder holder(dir, "after", "stdin");
    ASSERT_EQ(holder.ReadLine(), "locked");
    holder.Kill();
    holder.Finish();
    ConfigurationFile probe(dir.Path().c_str(), "c.xml");
    EXPECT_TRUE(probe.LoadForUpdate(0));
  }
  EXPECT_EQ(ReadFile(dir.File("c.xml")), kBefore);
}

TEST(ConfigurationLock, AnotherProcessWaitsForThisProcessesUpdate) {
  TempDir dir;
  ConfigurationFile file(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(file.LoadForUpdate(0));
  file.SetValue(file.CreateSection(file.GetRoot(), "parent"), "k", "v");

  Holder holder(dir, "child", "0");
  ASSERT_TRUE(holder.Started());
  std::atomic<bool> locked{false};
  std::string line;
  std::thread reader([&] {
    line = holder.ReadLine();
    locked = true;
  });
  platform::SleepMilliseconds(300);
  EXPECT_FALSE(locked) << "the other process got the file while this one held it";
  ASSERT_TRUE(file.WriteFile());
  reader.join();
  EXPECT_EQ(line, "locked");
  EXPECT_EQ(holder.ReadLine(), "written");
  EXPECT_EQ(holder.Finish(), 0);
  // The other process read what this one wrote, and added to it.
  EXPECT_EQ(ReadFile(dir.File("c.xml")),
            "<section name=\"parent\"><key name=\"k\" value=\"v\"/></section>"
            "<section name=\"holder\"><key name=\"value\" value=\"child\"/></section>");
}

TEST(ConfigurationLock, ThreadsOfOneProcessAreSerializedToo) {
  TempDir dir;
  WriteFile(dir.File("c.xml"), kBefore);
  ConfigurationFile holder(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(holder.LoadForUpdate(0));
  // Another object on the same thread is kept out as well.
  ConfigurationFile sameThread(dir.Path().c_str(), "c.xml");
  EXPECT_FALSE(sameThread.LoadReadOnly(0));

  BackgroundLoad load(dir, 5);
  platform::SleepMilliseconds(300);
  EXPECT_FALSE(load.Done()) << "the other thread's load did not wait";
  holder.SetValue(holder.FindSection(holder.GetRoot(), "holder"), "value", "after");
  ASSERT_TRUE(holder.WriteFile());
  EXPECT_TRUE(load.Result());
  EXPECT_EQ(load.Value(), "after");

  // Read, add one and write back from several threads: no update is lost.
  const int kThreads = 3, kRounds = 3;
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        ConfigurationFile file(dir.Path().c_str(), "c.xml");
        if (!file.LoadForUpdate(60)) {
          ++failures;
          continue;
        }
        XmlNode* section = file.FindOrCreateSection(file.GetRoot(), "counter");
        std::uint32_t count = 0;
        file.GetValueUnsigned(section, "count", count);
        file.SetValue(section, "count", count + 1);
        if (!file.WriteFile()) ++failures;
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(failures, 0);
  ConfigurationFile result(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(result.LoadReadOnly(0));
  std::uint32_t count = 0;
  EXPECT_TRUE(result.GetValueUnsigned(result.FindSection(result.GetRoot(), "counter"), "count", count));
  EXPECT_EQ(count, static_cast<std::uint32_t>(kThreads * kRounds));
}

}  // namespace
