// Saved files survive a writer killed at any moment: a configuration file
// (the page statistics are one too; the record archive saves through the
// same replace of a locked file), rewritten in a loop by the file-rewriter
// helper and killed after varying delays, always loads afterwards with
// either the previous or the next content. And the provider starts again
// after being killed while it records page statistics.
#include "config/ConfigurationFile.h"

#include "HttpClient.h"
#include "ProviderFixture.h"
#include "TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/LockedFile.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::HelperBinary;
using testing_support::TempDir;

const unsigned kConfigSections = 1500;  // about 0.5 MB

// A fraction in [0, 1) that spreads evenly over the iterations.
double Spread(unsigned i) {
  double x = (i + 1) * 0.6180339887498949;
  return x - static_cast<double>(static_cast<unsigned long>(x));
}

// Checks the file after a kill: empty when it is sound, else what is wrong.
using Check = std::function<std::string()>;

// Runs file-rewriter on the file until budgetMs is used up (or maxKills),
// killing it each time after a different delay: either blind, counted from
// the start, or aimed, counted from one of its "saving" announcements.
// Returns the faults found; *kills counts the kills.
std::string KillLoop(const std::string& kind, const std::string& path, unsigned count, unsigned budgetMs,
                     unsigned maxKills, const Check& check, unsigned* kills) {
  // One run of three passes sets the scale of the delays on this machine.
  std::uint64_t started = platform::MonotonicMilliseconds();
  auto seeded = testing_support::RunProgram({HelperBinary("file-rewriter"), kind, path, std::to_string(count), "3"});
  const std::uint64_t threePasses = platform::MonotonicMilliseconds() - started + 1;
  if (seeded.exitCode != 0) return "the rewriter failed: " + seeded.error;
  std::string faults = check();
  if (!faults.empty()) return "after the seeding run: " + faults;

  *kills = 0;
  const std::uint64_t deadline = platform::MonotonicMilliseconds() + budgetMs;
  for (unsigned i = 0; i < maxKills && platform::MonotonicMilliseconds() < deadline && faults.size() < 2000; ++i) {
    platform::ChildProcess writer;
    platform::ChildProcessOptions options;
    options.output = platform::ChildProcessOptions::Stream::Pipe;
    if (!writer.Start(testing_support::CommandLineOf({HelperBinary("file-rewriter"), kind, path, std::to_string(count), "0"}), options))
      return faults + "the rewriter did not start\n";
    double delayMs = Spread(i) * static_cast<double>(threePasses);
    if (i % 2 == 0) {
      // Aimed: up to a third of a pass after the first, second or third save began.
      char c;
      for (unsigned lines = 1 + (i / 2) % 3; lines > 0 && writer.ReadOutput(&c, 1) == 1;)
        if (c == '\n') --lines;
      delayMs /= 9;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(delayMs * 1000)));
    writer.Kill();
    int code = -1;
    writer.Wait(-1, &code);
    if (code != 128 + 9) return faults + "the rewriter was not killed but ended with " + std::to_string(code) + "\n";
    ++*kills;
    std::string fault = check();
    if (!fault.empty()) faults += "kill " + std::to_string(i) + (i % 2 == 0 ? " (aimed): " : " (blind): ") + fault + "\n";
  }
  return faults;
}

// Whether a save in the folder replaces the file whole. Where it cannot
// (Wine has neither the file system's replace of a file that is open nor
// lets a plain rename replace one), saves are written in place and a kill
// may leave part of a file: there is nothing for these tests to check.
bool SavesReplaceWhole(const std::string& folder) {
  const std::string path = folder + "/replace-probe";
  platform::LockedFile probe;
  if (probe.Open(path) != platform::LockedFile::OpenResult::Opened) return false;
  bool whole = probe.ReplaceContent("probe", 5) && probe.ReplacedWhole();
  probe.Close();
  std::remove(path.c_str());
  return whole;
}


TEST(ConfigFileKill, ConfigurationFileIsOldOrNewAfterKill) {
  TempDir dir;
  if (!SavesReplaceWhole(dir.Path()))
    GTEST_SKIP() << "saves here are written in place (no replace of an open file), so a kill can cut one";
  const std::string path = dir.File("monitor.xml");
  std::uint32_t lastGeneration = 0;
  Check check = [&]() -> std::string {
    // Loaded the way a page loads its configuration.
    ConfigurationFile file(nullptr, path.c_str());
    if (!file.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout) || file.GetRoot() == nullptr || file.IsNew())
      return "the file does not load, does not parse or is empty";
    std::uint32_t generation = 0;
    if (!file.GetValueUnsigned(file.GetRoot(), "generation", generation) || generation < lastGeneration)
      return "no generation key, or the generation went back";
    lastGeneration = generation;
    unsigned s = 0;
    for (const XmlNode* section : file.GetRoot()->Children()) {
      if (section->Kind() != XmlKind::Element || section->Name() != "section") continue;
      for (int k = 0; k < 10; ++k) {
        std::string value;
        std::string expected = std::to_string(generation) + "-" + std::to_string(s) + "-" + std::to_string(k);
        if (!file.GetValue(section, ("k" + std::to_string(k)).c_str(), value) || value != expected)
          return "section " + std::to_string(s) + " key " + std::to_string(k) + " holds [" + value + "], not " + expected;
      }
      ++s;
    }
    return s == kConfigSections ? "" : std::to_string(s) + " sections";
  };
  unsigned kills = 0;
  EXPECT_EQ(KillLoop("config", path, kConfigSections, 6000, 150, check, &kills), "");
  EXPECT_GT(kills, 0u);
}

class ConfigFileKillProvider : public testing_support::ProviderFixture {};

TEST_F(ConfigFileKillProvider, ProviderStartsAfterKillWhileRecordingStatistics) {
  // A program of its own, so that its statistics files are this test's.
  const std::string program = dir_.File("inventory-provider");
  testing_support::MakeProgramAlias(testing_support::ProviderBinary(), program);
  const std::vector<std::string> args{"-g", "-z", "-V", "0x440"};
  const std::uint64_t deadline = platform::MonotonicMilliseconds() + 4000;
  for (unsigned i = 0; i < 8 && platform::MonotonicMilliseconds() < deadline; ++i) {
    ASSERT_TRUE(Start(args, {}, {}, program).Started()) << "start " << i;
    // Every request rewrites the page statistics file; two clients keep it busy.
    std::atomic<bool> stop{false};
    const std::uint16_t port = Port();
    std::vector<std::thread> clients;
    for (int c = 0; c < 2; ++c)
      clients.emplace_back([&stop, port] {
        while (!stop) testing_support::Exchange(port, "GET /status HTTP/1.1\r\n\r\n", 2000);
      });
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(20000 + Spread(i) * 200000)));
    provider_->Process().Kill();
    provider_->WaitForExit(20000, nullptr);
    stop = true;
    for (auto& client : clients) client.join();
  }
  // The last start serves, shows the statistics kept so far and exits cleanly.
  ASSERT_TRUE(Start(args, {}, {}, program).Started());
  EXPECT_NE(testing_support::Get(Port(), "/status").find("200 OK"), std::string::npos);
  std::string stats = testing_support::Get(Port(), "/stats");
  EXPECT_NE(stats.find("<page name=\"/status\">"), std::string::npos) << stats;
  testing_support::Exchange(Port(), "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  int code = -1;
  EXPECT_TRUE(provider_->WaitForExit(20000, &code));
  EXPECT_EQ(code, 0) << provider_->Log();
  ConfigurationFile saved(nullptr, (program + ".stats").c_str());
  ASSERT_TRUE(saved.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout));
  std::uint32_t found = 0;
  EXPECT_TRUE(saved.GetValueUnsigned(saved.GetRoot(), "pagefound", found));
  EXPECT_GE(found, 2u);
}

}  // namespace
