// Saved files survive a writer killed at any moment: a configuration file,
// the page statistics file and the asynchronous record archive, each
// rewritten in a loop by the file-rewriter helper and killed after varying
// delays, always load afterwards with either the previous or the next
// content. And the provider starts again after being killed while it
// records page statistics.
#include "config/ConfigurationFile.h"
#include "pages/AsyncCookie.h"

#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/LockedFile.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::HelperBinary;
using testing_support::TempDir;

const unsigned kConfigSections = 1500;  // about 0.5 MB
const unsigned kStatsPages = 400;
const unsigned kArchiveRecords = 2000;

// A fraction in [0, 1) that spreads evenly over the iterations.
double Spread(unsigned i) {
  double x = (i + 1) * 0.6180339887498949;
  return x - static_cast<double>(static_cast<unsigned long>(x));
}

struct Outcomes {
  unsigned kills = 0;
  unsigned changed = 0;  // a save completed before the kill
  unsigned unchanged = 0;
  std::vector<std::string> faults;
};

// Checks the file after a kill: empty when it is sound, else what is wrong.
// *changed tells whether it differs from the previous check.
using Check = std::function<std::string(bool* changed)>;

// Runs file-rewriter on the file until budgetMs is used up (or maxKills),
// killing it each time after a different delay: either blind, counted from
// the start, or aimed, counted from one of its "saving" announcements.
Outcomes KillLoop(const std::string& kind, const std::string& path, unsigned count, unsigned budgetMs,
                  unsigned maxKills, const Check& check) {
  Outcomes outcomes;
  // One run of three passes sets the scale of the delays on this machine.
  std::uint64_t started = platform::MonotonicMilliseconds();
  auto seeded = testing_support::RunProgram({HelperBinary("file-rewriter"), kind, path, std::to_string(count), "3"});
  std::uint64_t threePasses = platform::MonotonicMilliseconds() - started + 1;
  if (seeded.exitCode != 0) {
    outcomes.faults.push_back("the rewriter failed: " + seeded.error);
    return outcomes;
  }
  bool changed = false;
  std::string fault = check(&changed);
  if (!fault.empty()) {
    outcomes.faults.push_back("after the seeding run: " + fault);
    return outcomes;
  }

  std::uint64_t deadline = platform::MonotonicMilliseconds() + budgetMs;
  for (unsigned i = 0; i < maxKills && platform::MonotonicMilliseconds() < deadline; ++i) {
    platform::ChildProcess writer;
    platform::ChildProcessOptions options;
    options.output = platform::ChildProcessOptions::Stream::Pipe;
    if (!writer.Start(
            testing_support::CommandLineOf({HelperBinary("file-rewriter"), kind, path, std::to_string(count), "0"}), options)) {
      outcomes.faults.push_back("the rewriter did not start");
      break;
    }
    bool aimed = i % 2 == 0;
    if (aimed) {
      // Up to a third of a pass after the first, second or third save began.
      unsigned announcements = 1 + (i / 2) % 3;
      char c;
      while (announcements > 0 && writer.ReadOutput(&c, 1) == 1)
        if (c == '\n') --announcements;
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(Spread(i) * threePasses * 1000 / 9)));
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(Spread(i) * threePasses * 1000)));
    }
    writer.Kill();
    int code = -1;
    writer.Wait(-1, &code);
    if (code != 128 + 9) {
      outcomes.faults.push_back("the rewriter was not killed but ended with " + std::to_string(code));
      break;
    }
    ++outcomes.kills;
    fault = check(&changed);
    if (!fault.empty()) {
      outcomes.faults.push_back("kill " + std::to_string(i) + (aimed ? " (aimed): " : " (blind): ") + fault);
      if (outcomes.faults.size() >= 5) break;
    }
    (changed ? outcomes.changed : outcomes.unchanged) += 1;
  }
  std::printf("[ kills    ] %s: %u kills, %u after a completed save, %u before any, %zu faults\n", kind.c_str(),
              outcomes.kills, outcomes.changed, outcomes.unchanged, outcomes.faults.size());
  return outcomes;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

const XmlNode* NthSection(const XmlNode* parent, std::size_t& cursor) {
  const std::vector<XmlNode*>& children = parent->Children();
  while (cursor < children.size()) {
    const XmlNode* child = children[cursor++];
    if (child->Kind() == XmlKind::Element && child->Name() == "section") return child;
  }
  return nullptr;
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

const char kWrittenInPlace[] = "saves here are written in place (no replace of an open file), so a kill can cut one";

TEST(ConfigFileKill, ConfigurationFileIsOldOrNewAfterKill) {
  TempDir dir;
  if (!SavesReplaceWhole(dir.Path())) GTEST_SKIP() << kWrittenInPlace;
  std::string path = dir.File("monitor.xml");
  std::uint32_t lastGeneration = 0;
  Check check = [&](bool* changed) -> std::string {
    // Loaded the way a page loads its configuration.
    ConfigurationFile file(nullptr, path.c_str());
    if (!file.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout)) return "the file does not load";
    if (file.GetRoot() == nullptr) return "the file does not parse";
    if (file.IsNew()) return "the file is empty";
    std::uint32_t generation = 0;
    if (!file.GetValueUnsigned(file.GetRoot(), "generation", generation)) return "no generation key";
    if (generation < lastGeneration) return "the generation went back";
    std::size_t cursor = 0;
    for (unsigned s = 0; s < kConfigSections; ++s) {
      const XmlNode* section = NthSection(file.GetRoot(), cursor);
      if (section == nullptr) return "section " + std::to_string(s) + " is missing";
      for (int k = 0; k < 10; ++k) {
        std::string value;
        std::string expected = std::to_string(generation) + "-" + std::to_string(s) + "-" + std::to_string(k);
        if (!file.GetValue(section, ("k" + std::to_string(k)).c_str(), value) || value != expected)
          return "section " + std::to_string(s) + " key " + std::to_string(k) + " holds [" + value + "], not " +
                 expected;
      }
    }
    *changed = generation != lastGeneration;
    lastGeneration = generation;
    return "";
  };
  Outcomes outcomes = KillLoop("config", path, kConfigSections, 6000, 150, check);
  EXPECT_TRUE(outcomes.faults.empty()) << Join(outcomes.faults);
  EXPECT_GT(outcomes.kills, 0u);
}

TEST(ConfigFileKill, PageStatisticsSurviveKill) {
  TempDir dir;
  if (!SavesReplaceWhole(dir.Path())) GTEST_SKIP() << kWrittenInPlace;
  std::string program = dir.File("prov");
  std::string path = program + ".pagestats";
  std::uint64_t lastTotal = 0;
  Check check = [&](bool* changed) -> std::string {
    ConfigurationFile file(nullptr, path.c_str());
    if (!file.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout)) return "the file does not load";
    if (file.GetRoot() == nullptr) return "the file does not parse";
    std::vector<std::string> pages;
    file.GetSectionNames(file.GetRoot(), pages);
    if (pages.size() != kStatsPages) return std::to_string(pages.size()) + " pages";
    std::uint64_t total = 0;
    for (const std::string& name : pages) {
      const XmlNode* page = file.FindSection(file.GetRoot(), name);
      for (const char* verb : {"get", "post"}) {
        const XmlNode* section = file.FindSection(page, verb);
        std::uint32_t n = 0, sum = 0;
        if (!file.GetValueUnsigned(section, "count", n) || !file.GetValueUnsigned(section, "sum", sum))
          return "page " + name + " " + verb + " lacks its numbers";
        total += n;
      }
    }
    // Every request recorded stays recorded.
    if (total < lastTotal) return "the requests went down from " + std::to_string(lastTotal) + " to " + std::to_string(total);
    *changed = total != lastTotal;
    lastTotal = total;
    return "";
  };
  {
    // One save of every page, rather than one request after the other.
    ConfigurationFile seed(nullptr, path.c_str());
    ASSERT_TRUE(seed.LoadForUpdate(ConfigurationFile::kUpdateTimeout));
    for (unsigned i = 0; i < kStatsPages; ++i) {
      XmlNode* page = seed.CreateSection(seed.GetRoot(), ("/p" + std::to_string(i)).c_str());
      for (const char* verb : {"get", "post"}) {
        XmlNode* section = seed.CreateSection(page, verb);
        seed.SetValue(section, "count", 0u);
        seed.SetValue(section, "sum", 0u);
      }
    }
    ASSERT_TRUE(seed.WriteFile());
  }
  Outcomes outcomes = KillLoop("pagestats", program, kStatsPages, 3000, 100, check);
  EXPECT_TRUE(outcomes.faults.empty()) << Join(outcomes.faults);
}

TEST(ConfigFileKill, AsyncArchiveIsOldOrNewAfterKill) {
  TempDir dir;
  if (!SavesReplaceWhole(dir.Path())) GTEST_SKIP() << kWrittenInPlace;
  std::string path = dir.File("archive.xml");
  std::string lastResult;
  Check check = [&](bool* changed) -> std::string {
    // Loaded the way a page's archive loads when its name is set.
    AsyncCookieArchive archive;
    archive.SetArchiveName(path);
    if (archive.Size() != kArchiveRecords) return std::to_string(archive.Size()) + " records";
    std::string status;
    archive.StatusDocument(status);
    std::string first;
    unsigned results = 0;
    for (std::size_t at = status.find("<result>"); at != std::string::npos; at = status.find("<result>", at + 1)) {
      std::size_t end = status.find("</result>", at);
      if (end == std::string::npos) return "a result is not closed";
      std::string result = status.substr(at + 8, end - at - 8);
      if (results++ == 0) first = result;
      if (result != first) return "records of different saves: [" + first + "] and [" + result + "]";
    }
    if (results != kArchiveRecords) return std::to_string(results) + " results";
    *changed = first != lastResult;
    lastResult = first;
    return "";
  };
  Outcomes outcomes = KillLoop("archive", path, kArchiveRecords, 4000, 120, check);
  EXPECT_TRUE(outcomes.faults.empty()) << Join(outcomes.faults);
}

TEST(ConfigFileKill, ProviderStartsAfterKillWhileRecordingStatistics) {
  TempDir dir;
  std::string program = dir.File("inventory-provider");
  testing_support::MakeProgramAlias(testing_support::ProviderBinary(), program);
  testing_support::Environment env =
      testing_support::ProviderEnvironment(dir.Path(), dir.File("none.reg"), testing_support::FreePort());
  const std::vector<std::string> args{"-g", "-z", "-V", "0x440"};
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 4000;
  for (unsigned i = 0; i < 8 && platform::MonotonicMilliseconds() < deadline; ++i) {
    testing_support::ProviderProcess provider(dir.Path(), args, env, true, program);
    ASSERT_TRUE(provider.Started()) << "start " << i << ":\n" << provider.Log();
    // Every request rewrites the page statistics file; two clients keep it busy.
    std::atomic<bool> stop{false};
    std::uint16_t port = provider.Port();
    std::vector<std::thread> clients;
    for (int c = 0; c < 2; ++c)
      clients.emplace_back([&stop, port] {
        while (!stop) testing_support::Exchange(port, "GET /status HTTP/1.1\r\n\r\n", 2000);
      });
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(20000 + Spread(i) * 200000)));
    provider.Process().Kill();
    provider.WaitForExit(20000, nullptr);
    stop = true;
    for (auto& client : clients) client.join();
  }
  // The last start serves, shows the statistics kept so far and exits cleanly.
  testing_support::ProviderProcess provider(dir.Path(), args, env, true, program);
  ASSERT_TRUE(provider.Started()) << provider.Log();
  EXPECT_NE(testing_support::Get(provider.Port(), "/status").find("200 OK"), std::string::npos);
  std::string stats = testing_support::Get(provider.Port(), "/stats");
  EXPECT_NE(stats.find("<page name=\"/status\">"), std::string::npos) << stats;
  testing_support::Exchange(provider.Port(), "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  int code = -1;
  EXPECT_TRUE(provider.WaitForExit(20000, &code));
  EXPECT_EQ(code, 0) << provider.Log();
  ConfigurationFile saved(nullptr, (program + ".stats").c_str());
  ASSERT_TRUE(saved.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout));
  std::uint32_t found = 0;
  EXPECT_TRUE(saved.GetValueUnsigned(saved.GetRoot(), "pagefound", found));
  EXPECT_GE(found, 2u);
}

}  // namespace
