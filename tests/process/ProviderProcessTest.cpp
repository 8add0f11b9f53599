// The provider binary as a user starts it: options, standard input, one-shot
// mode, the ready signal and the single-instance guard.
#include "HttpClient.h"
#include "ProviderFixture.h"
#include "TestSupport.h"
#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>

namespace {

using testing_support::ProviderBinary;
using testing_support::ReadFile;
using testing_support::ReadTextFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WaitForText;

using Env = std::vector<std::pair<std::string, std::string>>;

// A locale name whose decimal separator is a comma, or null when none is
// installed.
const char* CommaDecimalLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"}) {
    if (std::setlocale(LC_NUMERIC, name) == nullptr) continue;
    bool comma = std::localeconv()->decimal_point[0] == ',';
    std::setlocale(LC_NUMERIC, "C");
    if (comma) return name;
  }
  return nullptr;
}

TEST(ProviderCommandLine, UsageVersionAndErrors) {
  auto help = RunProgram({ProviderBinary(), "-h"});
  const std::string& usage = help.output;
  EXPECT_EQ(usage.rfind("usage: " + ProviderBinary() + " [options]\n  -p [port]     Port for sockets phase\n", 0), 0u);
  EXPECT_NE(usage.find("  -O [cmd]      Single command, stdio mode only, output file\n"), std::string::npos);
  const std::string last = "  -h            This message\n";
  EXPECT_EQ(usage.substr(usage.size() - last.size()), last);
  EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 17);
  auto version = RunProgram({ProviderBinary(), "-v"});
  EXPECT_EQ(version.output.rfind("9.50.0.1\n", 0), 0u);
  EXPECT_EQ(std::count(version.output.begin(), version.output.end(), '\n'), 3);

  const struct {
    std::vector<std::string> args;
    std::string output;
    std::string error;
  } cases[] = {
      {{"-h"}, usage, ""}, {{"-?"}, usage, ""}, {{"-S"}, usage, ""}, {{"-Sx"}, usage, ""}, {{"-x"}, usage, ""},
      {{"-:"}, usage, ""}, {{"/d"}, usage, ""},
      // -d is listed in the usage text yet not accepted.
      {{"-d", "x"}, usage, ""},
      {{"-u", "-b"}, usage, "ERROR: expected an argument after parameter 'b'\n"},
      // A required value never comes from an argument that looks like an option.
      {{"-o", "-c"}, usage, "ERROR: expected an argument after parameter 'o'\n"},
      {{"-v1"}, "186679297\n", ""}, {{"-v", "2"}, "9.50.0.1\n", ""}, {{"-v0"}, "9.50.0f1\n", ""},
      {{"-v29"}, "9.50.0.1\n", ""}, {{"-v7"}, version.output, ""},
      // Options before -v still apply; -v ends the scan.
      {{"-c", "-v1", "-h"}, "186679297\n", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{ProviderBinary()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto run = RunProgram(argv);
    EXPECT_EQ(run.exitCode, 1) << c.args[0];
    EXPECT_EQ(run.output, c.output) << c.args[0];
    EXPECT_EQ(run.error, c.error) << c.args[0];
  }
}

TEST(ProviderStdio, AnswersEachRequestAndNumbersThemAndOneShotAnswersOne) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  auto run = [&env](const std::string& input, const Env& with = Env()) {
    return RunProgram({ProviderBinary(), "-u", "-V", "0x40"}, input, with.empty() ? env : with);
  };
  // The next request starts where a body ends, whether its page read it
  // (external alarms) or left it (a path without a page).
  auto five = run("GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b\n\nPOST /c HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"
                  "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 9\r\n\r\n<alarms/>GET /d HTTP/1.0\r\n\r\n");
  EXPECT_EQ(five.exitCode, 0);
  EXPECT_EQ(five.output.rfind(std::string("HTTP/1.1 404 Not Found\r\n\r\n") + "HTTP/1.1 404 Not Found\r\n\r\n" +
                                  "HTTP/1.1 404 Not Found\r\n\r\n", 0), 0u);
  EXPECT_TRUE(std::regex_search(five.error, std::regex(R"(stdio - - \[\d\d/\w{3}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "GET /a" 404 26 \[request#1\])")))
      << five.error;
  for (const char* line : {"\"GET /b\" 404 26 [request#2]", "\"POST /c\" 404 26 [request#3]", "\"POST /extalarm\" 200 ",
                           "\"GET /d\" 404 26 [request#5]"})
    EXPECT_NE(five.error.find(line), std::string::npos) << line << " in\n" << five.error;

  // The log's time text keeps its "." under a locale whose decimal separator
  // is a comma (the provider takes the system's locale).
  if (const char* comma = CommaDecimalLocale()) {
    auto logged = run("GET /nothing HTTP/1.1\r\n\r\n", {{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}, {"LC_ALL", comma}, {"LANG", comma}});
    EXPECT_TRUE(std::regex_search(logged.error, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d{1,2}\.\d{6}\(\d+\) :)")))
        << logged.error;
    EXPECT_EQ(logged.error.find(','), std::string::npos) << logged.error;
  } else {
    std::printf("[  NOTE    ] no comma-decimal locale (de_DE.UTF-8; scripts/install-deps.sh makes it): "
                "the log under such a locale is not checked\n");
  }

  // A malformed request ends the stdio phase.
  auto bad = RunProgram({ProviderBinary(), "-u"}, "GET /a\r\nno colon\r\n\r\nGET /b\r\n\r\n", env);
  EXPECT_EQ(bad.output, "");
  EXPECT_EQ(bad.exitCode, 0);

  // One-shot mode serves exactly its own request, to standard output or a file.
  auto shot = RunProgram({ProviderBinary(), "-u", "-o", "GET /x"}, "GET /y HTTP/1.1\r\n\r\n", env);
  EXPECT_EQ(shot.exitCode, 0);
  EXPECT_EQ(shot.output, "HTTP/1.1 404 Not Found\r\n\r\n");
  auto toFile = RunProgram({ProviderBinary(), "-u", "-o", "PUT /x", "-O" + dir.File("reply.txt")}, "", env);
  EXPECT_EQ(toFile.exitCode, 0);
  EXPECT_EQ(toFile.output, "");
  EXPECT_EQ(ReadFile(dir.File("reply.txt")), "HTTP/1.1 405 Method Not Allowed\r\n\r\n");
}

// The launcher helper starts the provider and says on its first output line
// whether the ready event was set; it stops the provider when its input closes.
TEST(ProviderReadySignal, PostedForTheBoundPort) {
  TempDir dir;
  const std::string log = dir.File("ready.log");
  const std::string port = std::to_string(testing_support::FreePort());
  platform::ChildProcess launcher;
  platform::ChildProcessOptions options;
  options.input = options.output = platform::ChildProcessOptions::Stream::Pipe;
  options.environment = {{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  ASSERT_TRUE(launcher.Start(testing_support::CommandLineOf({testing_support::HelperBinary("provider-launcher"), port, "30000", ProviderBinary(), "-u",
                              "-c", "-z", "-s", "-V", "0xc0", "-l" + log, "-p", port}),
                             options));
  std::string firstLine;
  char c;
  while (launcher.ReadOutput(&c, 1) == 1 && c != '\n') firstLine += c;
  EXPECT_EQ(firstLine, "ready");
  EXPECT_TRUE(WaitForText(log, "Sync Signal sent"));
  EXPECT_NE(ReadTextFile(log).find("Trying to OpenEvent [corvane.provider.accept.event." + port + "]"), std::string::npos);
  launcher.CloseInput();
  launcher.Wait(-1, nullptr);
}

// One provider per system unless -u, and one per port in any case; a port
// of 0 is the system's choice, and the ready event names it (only with -s).
// Killing the provider releases both.
class ProviderInstances : public testing_support::ProviderFixture {};

TEST_F(ProviderInstances, OneByTheGuardAndOnePerPortUntilKilled) {
  const testing_support::Environment env = Env();
  auto& first = Start({"-s", "-z", "-V", "0x4c8"});
  ASSERT_TRUE(first.Started());
  const std::string port = std::to_string(first.Port());
  EXPECT_TRUE(WaitForText(first.LogFile(), "Trying to OpenEvent [corvane.provider.accept.event." + port + "]"));
  EXPECT_NE(first.Log().find("Unicorn::TheOne acquired unique event"), std::string::npos);

  auto second = RunProgram({ProviderBinary(), "-c", "-p", "-z"}, "", env);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.error.find(
                "Unicorn::TheOne opened unique event; another [Corvane inventory provider] is already running!"),
            std::string::npos)
      << second.error;
  // Without the guard, the port is still the first one's alone.
  auto other = RunProgram({ProviderBinary(), "-u", "-c", "-z", "-V", "0x470", "-p", port}, "", env);
  EXPECT_NE(other.error.find("Uniqueness not requested"), std::string::npos) << other.error;
  EXPECT_NE(other.error.find("Unable to bind to 127.0.0.1:" + port), std::string::npos) << other.error;
  EXPECT_EQ(other.error.find("Listen port bound to"), std::string::npos) << other.error;

  // Starting the next ends the first.
  auto& third = Start({"-z", "-V", "0x4c8"});
  ASSERT_TRUE(third.Started());
  EXPECT_NE(third.Log().find("Unicorn::TheOne acquired unique event"), std::string::npos);
  EXPECT_TRUE(WaitForText(third.LogFile(), "Signal not requested"));  // without -s
}

// Where the guard is a lock file in the lock folder, a file or link that
// someone else put there is never followed and never made more open.
TEST(ProviderSingleInstance, TheLockFileIsNeverFollowedNorOpenedUp) {
  namespace fs = std::filesystem;
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  const std::string lock = dir.File("Corvane inventory provider.lock");
  auto run = [&env] { return RunProgram({ProviderBinary(), "-o", "GET /x"}, "", env); };
  const auto privateMode = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(run().exitCode, 0);
  if (!testing_support::FileExists(lock)) GTEST_SKIP() << "the single-instance guard is no file on this system";

  // An existing lock file keeps its mode.
  fs::permissions(lock, privateMode);
  EXPECT_EQ(run().exitCode, 0);
  EXPECT_EQ(fs::status(lock).permissions(), privateMode);

  // A link planted in its place, to a private file: refused, the file untouched.
  fs::remove(lock);
  const std::string secret = dir.File("secret");
  testing_support::WriteFile(secret, "private");
  fs::permissions(secret, privateMode);
  fs::create_symlink(secret, lock);
  auto linked = run();
  EXPECT_EQ(linked.exitCode, 1);
  EXPECT_NE(linked.error.find("Unicorn::TheOne Failed to create unique event."), std::string::npos) << linked.error;
  EXPECT_EQ(fs::status(secret).permissions(), privateMode);
  EXPECT_EQ(ReadFile(secret), "private");
  // A dangling link is not followed to create its target either.
  fs::remove(lock);
  fs::create_symlink(dir.File("made-through-link"), lock);
  EXPECT_EQ(run().exitCode, 1);
  EXPECT_FALSE(testing_support::FileExists(dir.File("made-through-link")));
}

}  // namespace
