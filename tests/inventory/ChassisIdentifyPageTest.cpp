// The chassis identify page in this process, against an snmpd of the test's
// own: states, replies, the registry switch, and the drive sequence with its
// order, pauses and stop.
#include "inventory/ChassisIdentify.h"

#include "ProviderProcess.h"
#include "SnmpAgent.h"
#include "TestSupport.h"
#include "inventory/SnmpTools.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "server/IOChannel.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace {

using testing_support::ReadFile;
using testing_support::SnmpAgent;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kLight = "1.3.6.1.4.1.232.6.2.12.3.0";
const std::string kDriveIndex = "1.3.6.1.4.1.232.3.2.5.1.1.2.0.";
const std::string kDrive = "1.3.6.1.4.1.232.3.2.5.1.1.56.0.";
const std::string kController = "1.3.6.1.4.1.232.3.2.2.1.1.22.0";
const std::string kSetPrefix = "-v 1 -c morsend -r 2 -t 5 localhost ";

// Sets a variable of this process for the test's lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value)
      : name_(name), had_(platform::EnvironmentValue(name, "\x01") != "\x01"),
        old_(platform::EnvironmentValue(name, "")) {
    testing_support::SetEnvironmentValue(name, value.c_str());
  }
  ~ScopedVariable() { testing_support::SetEnvironmentValue(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

std::string RegistryText(const std::string& hpsmLine) {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient]\r\n"
         "\"Path\"=\".\"\r\n" +
         hpsmLine + "\r\n";
}

// Drive indices 7, 8, 9 (values unlike their identifiers' ends) and their
// writable targets.
std::string DriveArrayConfig(const std::string& controllerLine) {
  std::string config;
  for (int i = 1; i <= 3; ++i) {
    config += SnmpAgent::OverrideLine(kDriveIndex + std::to_string(i), "integer", std::to_string(6 + i));
    config += SnmpAgent::OverrideLine(kDrive + std::to_string(6 + i), "integer", "0");
  }
  return config + controllerLine;
}

class ChassisPage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = SnmpAgent::Unavailable()) GTEST_SKIP() << why;
    SetRegistry("\"HPSM\"=dword:00000002");
    ASSERT_TRUE(agent_.Start(SnmpAgent::OverrideLine(kLight, "integer", "4") +
                             DriveArrayConfig(SnmpAgent::OverrideLine(kController, "integer", "4"))))
        << agent_.AgentLog();
    agent_.SteerThisProcess();
    // snmpset is the recorder, which records into the file and passes on.
    std::filesystem::create_directory(dir_.File("bin"));
    std::filesystem::create_symlink(testing_support::HelperBinary("chassis-snmpset-recorder"),
                                    dir_.File("bin/snmpset"));
    path_.reset(new ScopedVariable("PATH", dir_.File("bin") + ":" + platform::EnvironmentValue("PATH", "")));
    record_.reset(new ScopedVariable("CHASSIS_SET_RECORD", dir_.File("sets.txt")));
  }
  void TearDown() override { server_.DeletePages(); }

  void SetRegistry(const std::string& hpsmLine) { WriteFile(dir_.File("registry.reg"), RegistryText(hpsmLine)); }

  // Runs one request on the page and returns what it wrote.
  std::string Call(bool post, const char* query, unsigned* status = nullptr) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    IOStdio io(in, out);
    server_.SetIdleTimeout(90);
    unsigned s = post ? page_->Post(&io, "/chassisIdentify", query, nullptr, nullptr, 1, 1)
                      : page_->Get(&io, "/chassisIdentify", query, nullptr, nullptr, 1, 1);
    EXPECT_EQ(server_.IdleTimeout(), 5u) << query;
    if (status) *status = s;
    std::rewind(out);
    std::string written;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) written.append(buffer, n);
    std::fclose(in);
    std::fclose(out);
    return written;
  }

  // The recorded set arguments (and pauses), without the times.
  std::vector<std::string> Record() {
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(dir_.File("sets.txt")));
    std::string line;
    while (std::getline(text, line)) {
      std::size_t space = line.find(' ');
      lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    return lines;
  }
  void Note(const std::string& text) {
    std::string file = ReadFile(dir_.File("sets.txt"));
    WriteFile(dir_.File("sets.txt"), file + "0 " + text + "\n");
  }

  TempDir dir_;
  ScopedVariable registry_{"INVENTORY_PROVIDER_REGISTRY", dir_.File("registry.reg")};
  SnmpAgent agent_;
  std::unique_ptr<ScopedVariable> path_, record_;
  MonitorServer server_{ServerOptions()};
  ChassisIdentify* page_ = [this] {
    auto* page = new ChassisIdentify;
    page->Register();
    return page;
  }();
};

std::string Reply200(const std::string& state) {
  std::string body =
      "<ChassisIdentifies><ChassisIdentify><ChassisState>" + state + "</ChassisState></ChassisIdentify></ChassisIdentifies>\n";
  return "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const char kEmpty200[] = "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n";
const char kEmpty304[] = "HTTP/1.1 304 Not Modified\r\nContent-Length:0\r\n\r\n";
const char kEmpty400[] = "HTTP/1.1 400 Bad Request\r\nContent-Length:0\r\n\r\n";

TEST_F(ChassisPage, RepliesFollowTheAgentsLight) {
  unsigned status = 0;
  EXPECT_EQ(Call(false, "", &status), Reply200("off"));
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(page_->ChassisState(), 4);
  EXPECT_EQ(Call(true, "cmd=off", &status), kEmpty304);
  EXPECT_EQ(status, 304u);
  EXPECT_EQ(Call(true, "cmd=on", &status), kEmpty200);
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(agent_.ReadValue(kLight), "3");
  EXPECT_EQ(page_->ChassisState(), 4);  // not until the next read
  EXPECT_EQ(Call(true, "cmd=blinking", &status), kEmpty304);
  EXPECT_EQ(page_->ChassisState(), 3);
  EXPECT_EQ(Call(false, "cmd=off"), Reply200("on"));  // GET reads no query

  SnmpSetInteger(kLight, 5);
  EXPECT_EQ(Call(false, ""), Reply200("blinking"));
  EXPECT_EQ(page_->ChassisState(), 3);
  EXPECT_EQ(Call(true, "cmd=on", &status), kEmpty304);
  EXPECT_EQ(Call(true, "cmd=off"), kEmpty200);
  EXPECT_EQ(agent_.ReadValue(kLight), "4");

  SnmpSetInteger(kLight, 7);
  EXPECT_EQ(Call(false, ""), Reply200("unsupported"));
  EXPECT_EQ(page_->ChassisState(), 7);
  // Any other command word asks for 2, which makes the light unavailable.
  EXPECT_EQ(Call(true, "cmd=dim"), kEmpty200);
  EXPECT_EQ(agent_.ReadValue(kLight), "2");
  EXPECT_EQ(Call(false, "", &status), "");
  EXPECT_EQ(status, 400u);
  // Unavailable: "cmd" falls through to "mesw", absent here.
  EXPECT_EQ(Call(true, "cmd=on", &status), kEmpty400);
  EXPECT_EQ(status, 400u);
  EXPECT_EQ(Call(true, "mesw=0"), kEmpty400);
  EXPECT_EQ(agent_.ReadValue(kLight), "2");
  // No set went to the drives.
  for (const std::string& line : Record()) EXPECT_EQ(line.find(kDrive), std::string::npos) << line;
}

TEST_F(ChassisPage, TheRegistryValueDecides) {
  struct Case {
    const char* line;
    bool supported;
  } cases[] = {{"", false},
               {"\"HPSM\"=dword:00000000", false},
               {"\"HPSM\"=dword:00000001", true},
               {"\"HPSM\"=dword:00000002", true},
               {"\"HPSM\"=dword:ffffffff", true},
               // Not a four-byte number.
               {"\"HPSM\"=\"2\"", false}};
  for (const Case& c : cases) {
    SetRegistry(c.line);
    EXPECT_EQ(ChassisIdentify::IsChassisIdentifySupported(), c.supported) << c.line;
  }
  ScopedVariable missing("INVENTORY_PROVIDER_REGISTRY", dir_.File("none.reg"));
  EXPECT_FALSE(ChassisIdentify::IsChassisIdentifySupported());

  // Re-read on every state read: only 2 asks the agent.
  std::string text;
  SetRegistry("\"HPSM\"=dword:00000001");
  EXPECT_FALSE(page_->GetChassisState(text));
  EXPECT_EQ(text, "Unavailable");
  EXPECT_EQ(page_->ChassisState(), 2);
  ScopedVariable present("INVENTORY_PROVIDER_REGISTRY", dir_.File("registry.reg"));
  EXPECT_FALSE(page_->GetChassisState(text));
  unsigned status = 0;
  EXPECT_EQ(Call(false, "", &status), "");
  EXPECT_EQ(status, 400u);
  EXPECT_EQ(Call(true, "cmd=on"), kEmpty400);
  SetRegistry("\"HPSM\"=dword:00000002");
  EXPECT_TRUE(page_->GetChassisState(text));
  EXPECT_EQ(text, "off");
  // No tools to be found.
  std::filesystem::create_directory(dir_.File("empty"));
  ScopedVariable noTools("PATH", dir_.File("empty"));
  EXPECT_FALSE(page_->GetChassisState(text));
  EXPECT_EQ(text, "Unavailable");
}

TEST_F(ChassisPage, DriveSequenceOrderAndPauses) {
  auto pause = [this](unsigned ms) {
    Note("pause " + std::to_string(ms));
    return true;
  };
  EXPECT_EQ(RunDriveSequence(2, pause), 0);
  std::vector<std::string> expected;
  for (const char* drive : {"7", "8", "9", "C", "9", "8", "7", "C"}) {
    if (*drive == 'C') {
      expected.push_back("pause 1500");
      expected.push_back(kSetPrefix + kController + " integer 15");
    } else {
      expected.push_back("pause 1100");
      expected.push_back(kSetPrefix + kDrive + drive + " integer 12");
    }
  }
  EXPECT_EQ(Record(), expected);
  for (const char* drive : {"7", "8", "9"}) EXPECT_EQ(agent_.ReadValue(kDrive + drive), "12");
  EXPECT_EQ(agent_.ReadValue(kController), "15");

  std::filesystem::remove(dir_.File("sets.txt"));
  EXPECT_EQ(RunDriveSequence(0, pause), 0);
  EXPECT_EQ(RunDriveSequence(-3, pause), 0);
  EXPECT_TRUE(Record().empty());
  // A stop during the first pause writes nothing.
  EXPECT_EQ(RunDriveSequence(5, [](unsigned) { return false; }), 0);
  EXPECT_TRUE(Record().empty());
}

TEST_F(ChassisPage, DriveSequenceWithoutControllerOrDrives) {
  auto pause = [this](unsigned ms) {
    Note("pause " + std::to_string(ms));
    return true;
  };
  SnmpAgent noController;
  // A drive whose index text would add arguments to the command line is left out.
  ASSERT_TRUE(noController.Start(
      DriveArrayConfig(SnmpAgent::OverrideLine(kController, "uinteger", "4294967295")) +
      SnmpAgent::OverrideLine(kDriveIndex + "4", "octet_str", "\"3 -c public\"")))
      << noController.AgentLog();
  noController.SteerThisProcess();
  RunDriveSequence(2, pause);
  std::vector<std::string> expected;
  for (const char* drive : {"7", "8", "9", "9", "8", "7"}) {
    expected.push_back("pause 1100");
    expected.push_back(kSetPrefix + kDrive + drive + " integer 12");
  }
  EXPECT_EQ(Record(), expected);
  EXPECT_EQ(noController.ReadValue(kController), "4294967295");

  // Without a controller binding, or without drives, nothing is written.
  std::filesystem::remove(dir_.File("sets.txt"));
  SnmpAgent drivesOnly, controllerOnly;
  ASSERT_TRUE(drivesOnly.Start(DriveArrayConfig(""))) << drivesOnly.AgentLog();
  drivesOnly.SteerThisProcess();
  RunDriveSequence(1, pause);
  ASSERT_TRUE(controllerOnly.Start(SnmpAgent::OverrideLine(kController, "integer", "4")))
      << controllerOnly.AgentLog();
  controllerOnly.SteerThisProcess();
  RunDriveSequence(1, pause);
  EXPECT_TRUE(Record().empty());
}

TEST_F(ChassisPage, BackgroundSequencesRunOnTheirOwnAndStopWithThePage) {
  // Instant pauses: the sequence runs to its end on its own thread.
  page_->Sequences().SetPause([](unsigned) { return true; });
  unsigned status = 0;
  EXPECT_EQ(Call(true, "mesw=1", &status), kEmpty200);
  EXPECT_EQ(status, 200u);
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 60000;
  while (!page_->IsIdle() && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(20);
  EXPECT_TRUE(page_->IsIdle());
  EXPECT_EQ(Record().size(), 4u);

  // Real pauses and a count that would run for hours: the page is busy, and
  // Cleanup ends the sequence within one tool run rather than waiting for it.
  std::filesystem::remove(dir_.File("sets.txt"));
  page_->Sequences().SetPause(nullptr);
  EXPECT_EQ(Call(true, "mesw=100000&cmd="), kEmpty200);
  EXPECT_FALSE(page_->IsIdle());
  ASSERT_TRUE(testing_support::WaitForText(dir_.File("sets.txt"), "integer 12"));
  std::uint64_t before = platform::MonotonicMilliseconds();
  page_->Cleanup();
  EXPECT_LT(platform::MonotonicMilliseconds() - before, 20000u);
  EXPECT_TRUE(page_->IsIdle());
  std::size_t written = Record().size();
  platform::SleepMilliseconds(1300);
  EXPECT_EQ(Record().size(), written);

  // A page going away while a sequence pauses takes the sequence with it.
  EXPECT_EQ(Call(true, "mesw=3"), kEmpty200);
  EXPECT_EQ(Call(true, "mesw=-1"), kEmpty200);
  server_.DeletePages();
  EXPECT_EQ(Record().size(), written);
}

}  // namespace
