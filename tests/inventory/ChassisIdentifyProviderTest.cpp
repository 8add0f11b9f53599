// "/chassisIdentify" on the real provider binary, over loopback sockets,
// with the real SNMP tools against an snmpd of the test's own.
#include "HttpClient.h"
#include "ProviderProcess.h"
#include "SnmpAgent.h"
#include "TestSupport.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace {

using testing_support::Environment;
using testing_support::Exchange;
using testing_support::ProviderProcess;
using testing_support::ReadFile;
using testing_support::SnmpAgent;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kLight = "1.3.6.1.4.1.232.6.2.12.3.0";
const std::string kDriveIndex = "1.3.6.1.4.1.232.3.2.5.1.1.2.0.";
const std::string kDrive = "1.3.6.1.4.1.232.3.2.5.1.1.56.0.";
const std::string kController = "1.3.6.1.4.1.232.3.2.2.1.1.22.0";

struct Reply {
  std::string status;
  std::string body;
};

Reply Parse(const std::string& raw) {
  Reply r;
  std::size_t lineEnd = raw.find("\r\n");
  if (lineEnd != std::string::npos && lineEnd > 9) r.status = raw.substr(9, lineEnd - 9);
  std::size_t end = raw.find("\r\n\r\n");
  if (end != std::string::npos) r.body = raw.substr(end + 4);
  return r;
}

class ChassisProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = SnmpAgent::Unavailable()) GTEST_SKIP() << why;
    std::string config = SnmpAgent::OverrideLine(kLight, "integer", "4") +
                         SnmpAgent::OverrideLine(kController, "integer", "4");
    for (int i = 1; i <= 3; ++i) {
      config += SnmpAgent::OverrideLine(kDriveIndex + std::to_string(i), "integer", std::to_string(i));
      config += SnmpAgent::OverrideLine(kDrive + std::to_string(i), "integer", "0");
    }
    ASSERT_TRUE(agent_.Start(config)) << agent_.AgentLog();
    std::filesystem::create_directory(dir_.File("bin"));
    std::filesystem::create_symlink(testing_support::HelperBinary("chassis-snmpset-recorder"),
                                    dir_.File("bin/snmpset"));
  }

  void Start(const std::string& hpsmLine) {
    WriteFile(dir_.File("registry.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient]\r\n"
                                         "\"Path\"=\"" + dir_.Path() + "\"\r\n" + hpsmLine + "\r\n");
    Environment env =
        testing_support::ProviderEnvironment(dir_.Path(), dir_.File("registry.reg"), testing_support::FreePort());
    env.push_back({"PATH", dir_.File("bin") + ":" + platform::EnvironmentValue("PATH", "/usr/bin:/bin")});
    env.push_back({"CHASSIS_SET_RECORD", dir_.File("sets.txt")});
    for (const auto& variable : agent_.ClientEnvironment()) env.push_back(variable);
    provider_.reset(new ProviderProcess(dir_.Path(), {"-u", "-z", "-V", "0x6ff"}, env));
    ASSERT_TRUE(provider_->Started()) << provider_->Log();
  }
  Reply Get(const std::string& path) { return Parse(testing_support::Get(provider_->Port(), path)); }
  Reply Post(const std::string& query) {
    return Parse(Exchange(provider_->Port(),
                          "POST /chassisIdentify?" + query + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
  }
  // The light as the agent holds it, set from outside the provider.
  void SetLight(int value) {
    testing_support::RunResult set = testing_support::RunProgram(
        {"/usr/bin/snmpset", "-v", "1", "-c", "morsend", "-r", "1", "-t", "5", "localhost", kLight, "i",
         std::to_string(value)},
        std::string(), agent_.ClientEnvironment());
    ASSERT_EQ(set.exitCode, 0) << set.output << set.error;
  }

  TempDir dir_;
  SnmpAgent agent_;
  std::unique_ptr<ProviderProcess> provider_;
};

std::string StateBody(const std::string& state) {
  return "<ChassisIdentifies><ChassisIdentify><ChassisState>" + state +
         "</ChassisState></ChassisIdentify></ChassisIdentifies>\n";
}

TEST_F(ChassisProvider, ReportsAndSwitchesTheLight) {
  Start("\"HPSM\"=dword:00000002");
  Reply off = Get("/chassisIdentify");
  EXPECT_EQ(off.status, "200 OK");
  EXPECT_EQ(off.body, StateBody("off"));
  Reply on = Post("cmd=on");
  EXPECT_EQ(on.status, "200 OK");
  EXPECT_EQ(on.body, "");
  EXPECT_EQ(agent_.ReadValue(kLight), "3");
  EXPECT_EQ(Post("cmd=on").status, "304 Not Modified");
  SetLight(5);
  EXPECT_EQ(Get("/chassisIdentify").body, StateBody("blinking"));
  EXPECT_EQ(Post("cmd=blinking").status, "304 Not Modified");
  EXPECT_EQ(Post("").status, "400 Bad Request");
  EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "idle is 5,"));

  // The chassis page comes first among the application pages.
  Reply index = Get("/index");
  std::size_t chassis = index.body.find("<page path=\"/chassisIdentify\"");
  ASSERT_NE(chassis, std::string::npos) << index.body;
  EXPECT_LT(chassis, index.body.find("<page path=\"/lvl1inventory\""));
  EXPECT_EQ(ReadFile(dir_.File("sets.txt")).find(kDrive), std::string::npos);
}

TEST_F(ChassisProvider, DriveSequenceWritesInAlternatingOrderWithItsPauses) {
  Start("\"HPSM\"=dword:00000002");
  Reply started = Post("mesw=2");
  EXPECT_EQ(started.status, "200 OK");
  EXPECT_EQ(started.body, "");
  auto written = [this] {
    std::string text = ReadFile(dir_.File("sets.txt"));
    return std::count(text.begin(), text.end(), '\n');
  };
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 90000;
  while (written() < 8 && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(50);
  platform::SleepMilliseconds(1500);  // room for a write too many

  std::istringstream record(ReadFile(dir_.File("sets.txt")));
  std::vector<std::pair<long long, std::string>> sets;
  std::string line;
  while (std::getline(record, line)) {
    std::size_t space = line.find(' ');
    sets.emplace_back(std::stoll(line.substr(0, space)), line.substr(space + 1));
  }
  const char* order[] = {"1", "2", "3", "C", "3", "2", "1", "C"};
  ASSERT_EQ(sets.size(), 8u) << ReadFile(dir_.File("sets.txt"));
  for (std::size_t i = 0; i < sets.size(); ++i) {
    bool controller = *order[i] == 'C';
    std::string target = controller ? kController + " integer 15" : kDrive + order[i] + " integer 12";
    EXPECT_EQ(sets[i].second, "-v 1 -c morsend -r 2 -t 5 localhost " + target) << i;
    // Each write waits its pause after the one before; no upper bound.
    if (i > 0) {
      EXPECT_GE(sets[i].first - sets[i - 1].first, controller ? 1490 : 1090) << i;
    }
  }
  for (const char* drive : {"1", "2", "3"}) EXPECT_EQ(agent_.ReadValue(kDrive + drive), "12");
  EXPECT_EQ(agent_.ReadValue(kController), "15");
  EXPECT_EQ(agent_.ReadValue(kLight), "4");

  // A shutdown ends a sequence that would run for hours, and the process
  // exits cleanly rather than leaving it behind.
  EXPECT_EQ(Post("mesw=100000").status, "200 OK");
  deadline = platform::MonotonicMilliseconds() + 60000;
  while (written() < 9 && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(50);
  ASSERT_EQ(written(), 9);
  Exchange(provider_->Port(), "POST /shutdown HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  int code = -1;
  ASSERT_TRUE(provider_->WaitForExit(60000, &code)) << provider_->Log();
  EXPECT_EQ(code, 0);
  auto count = written();
  platform::SleepMilliseconds(1300);
  EXPECT_EQ(written(), count);
}

TEST_F(ChassisProvider, OtherAgentModesAndNoPage) {
  Start("\"HPSM\"=dword:00000001");
  // The page exists but has nothing to say: the connection closes unanswered.
  EXPECT_EQ(Exchange(provider_->Port(), "GET /chassisIdentify HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(Post("cmd=off").status, "400 Bad Request");
  EXPECT_EQ(agent_.ReadValue(kLight), "4");
  EXPECT_NE(Get("/index").body.find("/chassisIdentify"), std::string::npos);
  provider_.reset();

  Start("");
  Reply index = Get("/index");
  EXPECT_NE(index.body.find("<page path=\"/lvl1inventory\""), std::string::npos) << index.body;
  EXPECT_EQ(index.body.find("<page ", index.body.find("<page ") + 1), std::string::npos) << index.body;
  // No page: the server closes the connection unanswered.
  EXPECT_EQ(Exchange(provider_->Port(), "GET /chassisIdentify HTTP/1.1\r\n\r\n"), "");
  EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "couldn't find page matching /chassisIdentify"));
}

}  // namespace
