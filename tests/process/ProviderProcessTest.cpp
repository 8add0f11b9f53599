// The provider binary as a user starts it: options, standard input, one-shot
// mode, the ready signal and the single-instance guard.
#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/Process.h"
#include "platform/Time.h"

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

// A provider running in the background; killed when the test ends.
std::unique_ptr<platform::ChildProcess> Background(const std::vector<std::string>& args, const Env& env) {
  std::unique_ptr<platform::ChildProcess> child(new platform::ChildProcess);
  platform::ChildProcessOptions options;
  options.input = platform::ChildProcessOptions::Stream::Null;
  options.output = platform::ChildProcessOptions::Stream::Null;
  options.error = platform::ChildProcessOptions::Stream::Null;
  options.environment = env;
  std::vector<std::string> argv{ProviderBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  EXPECT_TRUE(child->Start(testing_support::CommandLineOf(argv), options));
  return child;
}

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
  EXPECT_EQ(help.exitCode, 1);
  EXPECT_EQ(help.output.rfind("usage: " + ProviderBinary() + " [options]\n  -p [port]", 0), 0u);
  EXPECT_EQ(RunProgram({ProviderBinary(), "-d", "x"}).output, help.output);

  auto version = RunProgram({ProviderBinary(), "-v"});
  EXPECT_EQ(version.exitCode, 1);
  EXPECT_EQ(std::count(version.output.begin(), version.output.end(), '\n'), 3);
  EXPECT_EQ(RunProgram({ProviderBinary(), "-v1"}).output, "186679297\n");
  EXPECT_EQ(RunProgram({ProviderBinary(), "-v", "2"}).output, "9.50.0.1\n");

  auto missing = RunProgram({ProviderBinary(), "-u", "-b"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.error, "ERROR: expected an argument after parameter 'b'\n");
  EXPECT_EQ(missing.output, help.output);
}

TEST(ProviderStdio, AnswersEachRequestAndNumbersThem) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  auto one = RunProgram({ProviderBinary(), "-u", "-V", "0x40"}, "GET /nothing HTTP/1.1\r\n\r\n", env);
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(one.output, "HTTP/1.1 404 Not Found\r\n\r\n");
  EXPECT_TRUE(std::regex_search(one.error, std::regex(R"(stdio - - \[\d\d/\w{3}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "GET /nothing" 404 26 \[request#1\])")))
      << one.error;

  auto three = RunProgram({ProviderBinary(), "-u", "-V", "0x40"},
                   "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b\n\nPOST /c HTTP/1.1\r\nContent-Length: 0\r\n\r\n", env);
  EXPECT_EQ(three.output, std::string("HTTP/1.1 404 Not Found\r\n\r\n") + "HTTP/1.1 404 Not Found\r\n\r\n" +
                              "HTTP/1.1 404 Not Found\r\n\r\n");
  EXPECT_NE(three.error.find("\"GET /a\" 404 26 [request#1]"), std::string::npos);
  EXPECT_NE(three.error.find("\"GET /b\" 404 26 [request#2]"), std::string::npos);
  EXPECT_NE(three.error.find("\"POST /c\" 404 26 [request#3]"), std::string::npos);

  // The log's time text keeps its "." under a locale whose decimal separator
  // is a comma (the provider takes the system's locale).
  if (const char* comma = CommaDecimalLocale()) {
    Env german{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}, {"LC_ALL", comma}, {"LANG", comma}};
    auto logged = RunProgram({ProviderBinary(), "-u", "-V", "0x40"}, "GET /nothing HTTP/1.1\r\n\r\n", german);
    EXPECT_TRUE(std::regex_search(logged.error, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d{1,2}\.\d{6}\(\d+\) :)")))
        << logged.error;
    EXPECT_EQ(logged.error.find(','), std::string::npos) << logged.error;
  } else {
    std::printf("[  NOTE    ] no comma-decimal locale (de_DE.UTF-8; scripts/install-deps.sh makes it): "
                "the log under such a locale is not checked\n");
  }

  // The next request starts where a body ends, whether its page read it
  // (external alarms) or left it (a path without a page).
  auto bodies = RunProgram({ProviderBinary(), "-u", "-V", "0x40"},
                           "POST /c HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"
                           "POST /extalarm?alarms=1 HTTP/1.1\r\nContent-Length: 9\r\n\r\n<alarms/>"
                           "GET /d HTTP/1.0\r\n\r\n",
                           env);
  EXPECT_NE(bodies.error.find("\"POST /c\" 404 26 [request#1]"), std::string::npos) << bodies.error;
  EXPECT_NE(bodies.error.find("\"POST /extalarm\" 200 "), std::string::npos);
  EXPECT_NE(bodies.error.find("\"GET /d\" 404 26 [request#3]"), std::string::npos);

  // A malformed request ends the stdio phase.
  auto bad = RunProgram({ProviderBinary(), "-u"}, "GET /a\r\nno colon\r\n\r\nGET /b\r\n\r\n", env);
  EXPECT_EQ(bad.output, "");
  EXPECT_EQ(bad.exitCode, 0);
}

TEST(ProviderOneShot, ServesExactlyOneRequest) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  auto shot = RunProgram({ProviderBinary(), "-u", "-o", "GET /x"}, "GET /y HTTP/1.1\r\n\r\n", env);
  EXPECT_EQ(shot.exitCode, 0);
  EXPECT_EQ(shot.output, "HTTP/1.1 404 Not Found\r\n\r\n");

  std::string file = dir.File("reply.txt");
  auto toFile = RunProgram({ProviderBinary(), "-u", "-o", "PUT /x", "-O" + file}, "", env);
  EXPECT_EQ(toFile.exitCode, 0);
  EXPECT_EQ(toFile.output, "");
  EXPECT_EQ(ReadFile(file), "HTTP/1.1 405 Method Not Allowed\r\n\r\n");
}

// Runs the launcher helper; its first output line says whether the event
// was set. The launcher stops the provider when its input is closed.
struct Launch {
  platform::ChildProcess launcher;
  std::string firstLine;
  Launch(std::uint16_t port, const char* timeoutMs, const std::vector<std::string>& args, const Env& env) {
    platform::ChildProcessOptions options;
    options.input = platform::ChildProcessOptions::Stream::Pipe;
    options.output = platform::ChildProcessOptions::Stream::Pipe;
    options.environment = env;
    std::vector<std::string> argv{testing_support::HelperBinary("provider-launcher"), std::to_string(port), timeoutMs,
                                  ProviderBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_TRUE(launcher.Start(testing_support::CommandLineOf(argv), options));
    char c;
    while (launcher.ReadOutput(&c, 1) == 1 && c != '\n') firstLine += c;
  }
  ~Launch() {
    launcher.CloseInput();
    launcher.Wait(-1, nullptr);
  }
};

TEST(ProviderReadySignal, PostedForTheBoundPortOnlyWhenRequested) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  std::uint16_t port = testing_support::FreePort();
  std::string log = dir.File("ready.log");
  {
    Launch ready(port, "30000", {"-u", "-c", "-z", "-s", "-V", "0xc0", "-l" + log, "-p", std::to_string(port)}, env);
    EXPECT_EQ(ready.firstLine, "ready");
    EXPECT_TRUE(WaitForText(log, "Sync Signal sent"));
    EXPECT_NE(ReadTextFile(log).find("Trying to OpenEvent [corvane.provider.accept.event." + std::to_string(port) + "]"),
              std::string::npos);
  }
  // Without -s the launcher's event is left alone.
  std::string quiet = dir.File("quiet.log");
  port = testing_support::FreePort();
  Launch none(port, "1500", {"-u", "-c", "-z", "-V", "0xc0", "-l" + quiet, "-p", std::to_string(port)}, env);
  EXPECT_EQ(none.firstLine, "timeout");
  EXPECT_TRUE(WaitForText(quiet, "Signal not requested"));
}

TEST(ProviderReadySignal, PortZeroNamesTheSystemChosenPort) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  std::string log = dir.File("zero.log");
  auto provider = Background({"-u", "-p", "-c", "-s", "-z", "-V", "0x4c0", "-l" + log}, env);
  ASSERT_TRUE(WaitForText(log, "Trying to OpenEvent"));
  std::smatch bound;
  std::string text = ReadTextFile(log);
  ASSERT_TRUE(std::regex_search(text, bound, std::regex(R"(Listen port bound to (\d+))")));
  EXPECT_NE(bound[1], "0");
  EXPECT_NE(text.find("[corvane.provider.accept.event." + bound[1].str() + "]"), std::string::npos);
  EXPECT_TRUE(testing_support::WaitForListener(static_cast<std::uint16_t>(std::stoi(bound[1]))));
}

// The listening port belongs to one process: another one cannot bind it too
// and take the collector's requests.
TEST(ProviderListenPort, AnotherProviderCannotBindTheSamePort) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  std::string log = dir.File("first.log");
  auto first = Background({"-u", "-c", "-p", "-z", "-V", "0x400", "-l" + log}, env);
  ASSERT_TRUE(WaitForText(log, "Listen port bound to"));
  std::smatch bound;
  std::string text = ReadTextFile(log);
  ASSERT_TRUE(std::regex_search(text, bound, std::regex(R"(Listen port bound to (\d+))")));
  ASSERT_TRUE(testing_support::WaitForListener(static_cast<std::uint16_t>(std::stoi(bound[1]))));
  auto second = RunProgram({ProviderBinary(), "-u", "-c", "-z", "-V", "0x410", "-p", bound[1].str()}, "", env);
  EXPECT_NE(second.error.find("Unable to bind to 127.0.0.1:" + bound[1].str()), std::string::npos) << second.error;
  EXPECT_EQ(second.error.find("Listen port bound to"), std::string::npos) << second.error;
}

TEST(ProviderSingleInstance, SecondInstanceRefusedUnlessDisabledAndKillReleases) {
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  std::string firstLog = dir.File("first.log");
  auto first = Background({"-c", "-p", "-z", "-V", "0x448", "-l" + firstLog}, env);
  ASSERT_TRUE(WaitForText(firstLog, "Listen port bound"));
  EXPECT_NE(ReadTextFile(firstLog).find("Unicorn::TheOne acquired unique event"), std::string::npos);

  auto second = RunProgram({ProviderBinary(), "-c", "-p", "-z"}, "", env);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.error.find(
                "Unicorn::TheOne opened unique event; another [Corvane inventory provider] is already running!"),
            std::string::npos)
      << second.error;

  std::string otherLog = dir.File("other.log");
  auto other = Background({"-u", "-c", "-p", "-z", "-V", "0x460", "-l" + otherLog}, env);
  EXPECT_TRUE(WaitForText(otherLog, "Listen port bound"));
  EXPECT_NE(ReadTextFile(otherLog).find("Uniqueness not requested"), std::string::npos);

  first->Kill();
  first->Wait(-1, nullptr);
  std::string thirdLog = dir.File("third.log");
  auto third = Background({"-c", "-p", "-z", "-V", "0x448", "-l" + thirdLog}, env);
  EXPECT_TRUE(WaitForText(thirdLog, "Listen port bound"));
  EXPECT_NE(ReadTextFile(thirdLog).find("Unicorn::TheOne acquired unique event"), std::string::npos);
}

// Where the guard is a lock file in the lock folder, a file or link that
// someone else put there is never followed and never made more open.
TEST(ProviderSingleInstance, TheLockFileIsNeverFollowedNorOpenedUp) {
  namespace fs = std::filesystem;
  TempDir dir;
  Env env{{"INVENTORY_PROVIDER_LOCK_DIR", dir.Path()}};
  const std::string lock = dir.File("Corvane inventory provider.lock");
  auto run = [&env] { return RunProgram({ProviderBinary(), "-o", "GET /x"}, "", env); };
  EXPECT_EQ(run().exitCode, 0);
  if (!testing_support::FileExists(lock)) GTEST_SKIP() << "the single-instance guard is no file on this system";

  // An existing lock file keeps its mode.
  fs::permissions(lock, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(run().exitCode, 0);
  EXPECT_EQ(fs::status(lock).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // A link planted in its place, to a private file: refused, the file untouched.
  fs::remove(lock);
  const std::string secret = dir.File("secret");
  testing_support::WriteFile(secret, "private");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(secret, lock);
  auto linked = run();
  EXPECT_EQ(linked.exitCode, 1);
  EXPECT_NE(linked.error.find("Unicorn::TheOne Failed to create unique event."), std::string::npos) << linked.error;
  EXPECT_EQ(fs::status(secret).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(secret), "private");
  // A dangling link is not followed to create its target either.
  fs::remove(lock);
  fs::create_symlink(dir.File("made-through-link"), lock);
  EXPECT_EQ(run().exitCode, 1);
  EXPECT_FALSE(testing_support::FileExists(dir.File("made-through-link")));
}

}  // namespace
