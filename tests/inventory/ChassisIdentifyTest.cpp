// "/chassisIdentify" on the real provider binary over loopback sockets, with
// the real SNMP tools against an snmpd of the test's own; and in this
// process what a provider run cannot reach cheaply: drive sequences on other
// drive arrays, with their pauses.
#include "inventory/ChassisIdentify.h"
#include "InventoryProvider.h"
#include "SnmpAgent.h"
#include "inventory/SnmpTools.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using testing_support::ReadFile;
using testing_support::SnmpAgent;

const std::string kLight = "1.3.6.1.4.1.232.6.2.12.3.0";
const std::string kDriveIndex = "1.3.6.1.4.1.232.3.2.5.1.1.2.0.";
const std::string kDrive = "1.3.6.1.4.1.232.3.2.5.1.1.56.0.";
const std::string kController = "1.3.6.1.4.1.232.3.2.2.1.1.22.0";
const char kMode2[] = "\"HPSM\"=dword:00000002";

// Drive indices 7, 8, 9 (values unlike their identifiers' ends) and their
// writable targets.
std::string DriveArray(const std::string& controllerLine) {
  std::string config;
  for (int i = 1; i <= 3; ++i) {
    config += SnmpAgent::OverrideLine(kDriveIndex + std::to_string(i), "integer", std::to_string(6 + i));
    config += SnmpAgent::OverrideLine(kDrive + std::to_string(6 + i), "integer", "0");
  }
  return config + controllerLine;
}

// The writes the snmpset recorder sees (without their times) for drives
// written in this order, "C" the controller; with the pause before each.
std::vector<std::string> Expected(const std::string& order, bool withPauses) {
  std::vector<std::string> lines;
  for (char c : order) {
    if (withPauses) lines.push_back(c == 'C' ? "pause 1500" : "pause 1100");
    lines.push_back("-v 1 -c morsend -r 2 -t 5 localhost " +
                    (c == 'C' ? kController + " integer 15" : kDrive + c + " integer 12"));
  }
  return lines;
}

class Chassis : public InventoryProviderTest {
 protected:
  void SetUp() override {
    if (const char* why = SnmpAgent::Unavailable()) GTEST_SKIP() << why;
    ASSERT_TRUE(agent_.Start(SnmpAgent::OverrideLine(kLight, "integer", "4") +
                             DriveArray(SnmpAgent::OverrideLine(kController, "integer", "4"))))
        << agent_.AgentLog();
    agent_.SteerThisProcess();
    // snmpset is the recorder, which records into the file and passes on.
    std::filesystem::create_directory(dir_.File("bin"));
    std::filesystem::create_symlink(testing_support::HelperBinary("chassis-snmpset-recorder"),
                                    dir_.File("bin/snmpset"));
  }
  void StartProvider(const std::string& mode) {
    WriteRegistry(dir_.Path(), mode);
    testing_support::Environment env = agent_.ClientEnvironment();
    env.push_back({"PATH", dir_.File("bin") + ":" + platform::EnvironmentValue("PATH", "/usr/bin:/bin")});
    env.push_back({"CHASSIS_SET_RECORD", dir_.File("sets.txt")});
    Start(env);
  }
  Reply Post(const std::string& query) { return Request("POST", "/chassisIdentify?" + query); }
  // The recorded writes without their times, which go to times.
  std::vector<std::string> Record(std::vector<long long>* times = nullptr) {
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(dir_.File("sets.txt")));
    for (std::string line; std::getline(text, line);) {
      std::size_t space = line.find(' ');
      if (times) times->push_back(std::stoll(line.substr(0, space)));
      lines.push_back(line.substr(space + 1));
    }
    return lines;
  }
  bool WaitForWrites(std::size_t count) {
    std::uint64_t deadline = platform::MonotonicMilliseconds() + 90000;
    while (Record().size() < count && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(50);
    return Record().size() >= count;
  }

  SnmpAgent agent_;
};

std::string StateBody(const std::string& state) {
  return "<ChassisIdentifies><ChassisIdentify><ChassisState>" + state +
         "</ChassisState></ChassisIdentify></ChassisIdentifies>\n";
}

TEST_F(Chassis, RepliesFollowTheAgentsLight) {
  StartProvider(kMode2);
  const struct {
    int light;  // set from outside first, when not 0
    const char* method;
    const char* query;
    const char* status;
    const char* state;  // the GET body's state
    const char* after;  // the light as the agent holds it afterwards
  } steps[] = {
      {0, "POST", "cmd=off", "304 Not Modified", nullptr, "4"},
      {0, "GET", "", "200 OK", "off", "4"},
      {0, "POST", "cmd=on", "200 OK", nullptr, "3"},
      {0, "POST", "cmd=blinking", "304 Not Modified", nullptr, "3"},
      {0, "GET", "cmd=off", "200 OK", "on", "3"},  // a GET reads no query
      // 5 is "blinking" and counts as on.
      {5, "GET", "", "200 OK", "blinking", "5"},
      {0, "POST", "cmd=on", "304 Not Modified", nullptr, "5"},
      {0, "POST", "cmd=off", "200 OK", nullptr, "4"},
      {7, "GET", "", "200 OK", "unsupported", "7"},
      // Any other word asks for 2, which makes the light unavailable: a GET
      // is then closed unanswered, "cmd" falls through to "mesw".
      {0, "POST", "cmd=dim", "200 OK", nullptr, "2"},
      {0, "GET", "", "", nullptr, "2"},
      {0, "POST", "cmd=on", "400 Bad Request", nullptr, "2"},
      {0, "POST", "mesw=0", "400 Bad Request", nullptr, "2"},
      {0, "POST", "mesw=-1", "200 OK", nullptr, "2"},
  };
  for (const auto& s : steps) {
    if (s.light != 0) SnmpSetInteger(kLight, s.light);
    EXPECT_EQ(Request(s.method, std::string("/chassisIdentify?") + s.query).Whole(),
              s.status + std::string(" | ") + (s.state ? StateBody(s.state) : ""))
        << s.method << " " << s.query;
    EXPECT_EQ(agent_.ReadValue(kLight), s.after) << s.method << " " << s.query;
    // The second request's accept logs the idle time-out that the first, a
    // POST, set (GETs are seen below).
    if (&s == steps + 1) {
      EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "idle is 5,"));
    }
  }
  // The chassis page comes first among the application pages.
  Reply index = Request("GET", "/index");
  std::size_t chassis = index.body.find("<page path=\"/chassisIdentify\"");
  ASSERT_NE(chassis, std::string::npos) << index.body;
  EXPECT_LT(chassis, index.body.find("<page path=\"/lvl1inventory\""));
  // Neither mesw=-1 nor anything else wrote to the drives.
  for (const std::string& line : Record()) EXPECT_EQ(line.find(kDrive), std::string::npos) << line;
}

TEST_F(Chassis, DriveSequenceWritesInAlternatingOrderWithItsPauses) {
  StartProvider(kMode2);
  EXPECT_EQ(Post("mesw=2").Whole(), "200 OK | ");
  ASSERT_TRUE(WaitForWrites(8));
  platform::SleepMilliseconds(1500);  // room for a write too many
  std::vector<long long> times;
  EXPECT_EQ(Record(&times), Expected("789C987C", false));
  // Each write waits its pause after the one before; no upper bound.
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], i % 4 == 3 ? 1490 : 1090) << i;
  for (const char* drive : {"7", "8", "9"}) EXPECT_EQ(agent_.ReadValue(kDrive + drive), "12");
  EXPECT_EQ(agent_.ReadValue(kController), "15");
  EXPECT_EQ(agent_.ReadValue(kLight), "4");

  // A shutdown ends a sequence that would run for hours, and the process
  // exits cleanly rather than leaving it behind.
  EXPECT_EQ(Post("mesw=100000").status, "200 OK");
  ASSERT_TRUE(WaitForWrites(9));
  Request("POST", "/shutdown");
  int code = -1;
  ASSERT_TRUE(provider_->WaitForExit(60000, &code)) << provider_->Log();
  EXPECT_EQ(code, 0);
  std::size_t count = Record().size();
  platform::SleepMilliseconds(1300);
  EXPECT_EQ(Record().size(), count);
}

// "HPSM" must be a four-byte number above 0 for the page to exist; only 2
// makes the light available, and it is read again for every request.
TEST_F(Chassis, TheRegistryValueDecidesThePageAndTheLight) {
  const struct {
    const char* line;
    bool exists;
  } cases[] = {{"", false}, {"\"HPSM\"=dword:00000000", false}, {"\"HPSM\"=\"2\"", false},
               {"\"HPSM\"=dword:00000001", true}, {"\"HPSM\"=dword:ffffffff", true}};
  for (const auto& c : cases) {
    StartProvider(c.line);
    Reply index = Request("GET", "/index");
    EXPECT_NE(index.body.find("<page path=\"/lvl1inventory\""), std::string::npos) << index.body;
    EXPECT_EQ(index.body.find("<page path=\"/chassisIdentify\"") != std::string::npos, c.exists) << c.line;
    // No page, or no light: the connection closes unanswered.
    EXPECT_EQ(Request("GET", "/chassisIdentify").status, "");
    if (!c.exists) {
      EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "couldn't find page matching /chassisIdentify"));
      continue;
    }
    EXPECT_EQ(Post("cmd=off").status, "400 Bad Request");
    EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "idle is 5,"));  // set by the GET
    EXPECT_EQ(agent_.ReadValue(kLight), "4");
  }
  WriteRegistry(dir_.Path(), kMode2);
  EXPECT_EQ(Request("GET", "/chassisIdentify").body, StateBody("off"));
}

// Drive arrays without a usable controller or without drives, counts that
// ask for nothing and a stop: in this process, with the pauses recorded.
TEST_F(Chassis, DriveSequencesOnOtherArrays) {
  ScopedVariable path("PATH", dir_.File("bin") + ":" + platform::EnvironmentValue("PATH", ""));
  ScopedVariable record("CHASSIS_SET_RECORD", dir_.File("sets.txt"));
  auto pause = [this](unsigned ms) {
    testing_support::WriteFile(dir_.File("sets.txt"),
                               ReadFile(dir_.File("sets.txt")) + "0 pause " + std::to_string(ms) + "\n");
    return true;
  };
  const struct {
    std::string config;
    int count;
    const char* order;
    bool stop = false;  // every pause asks the sequence to stop
  } cases[] = {
      {"", 1, "789C"},  // this fixture's agent
      // A drive whose index text would add arguments to the command line is
      // left out; a controller of 4294967295 is not written.
      {DriveArray(SnmpAgent::OverrideLine(kController, "uinteger", "4294967295")) +
           SnmpAgent::OverrideLine(kDriveIndex + "4", "octet_str", "\"3 -c public\""),
       2, "789987"},
      {DriveArray(""), 1, ""}, {SnmpAgent::OverrideLine(kController, "integer", "4"), 1, ""},
      {"", 0, ""}, {"", -3, ""}, {"", 5, "", true},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir_.File("sets.txt"));
    SnmpAgent other;
    if (!c.config.empty()) {
      ASSERT_TRUE(other.Start(c.config)) << other.AgentLog();
      other.SteerThisProcess();
    }
    EXPECT_EQ(RunDriveSequence(c.count, c.stop ? DriveSequencePause([](unsigned) { return false; }) : pause), 0);
    EXPECT_EQ(Record(), Expected(c.order, true)) << c.order << " " << c.count;
  }
  // A running sequence keeps the provider from its idle exit; Cleanup ends it.
  ChassisIdentify page;
  ASSERT_TRUE(page.Sequences().Start(5));
  EXPECT_FALSE(page.IsIdle());
  page.Cleanup();
  EXPECT_TRUE(page.IsIdle());
}

}  // namespace
