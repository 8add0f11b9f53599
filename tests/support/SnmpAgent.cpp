#include "SnmpAgent.h"

#include "platform/Process.h"
#include "platform/Time.h"

#include <atomic>
#include <chrono>
#include <filesystem>

namespace testing_support {

namespace {
// Below the usual range of ephemeral ports, so clients rarely hold one.
unsigned CandidatePort() {
  static std::atomic<unsigned> counter{0};
  std::uint64_t mix = platform::HighResolutionCounter() ^
                      (static_cast<std::uint64_t>(platform::CurrentProcessId()) << 16) ^
                      (static_cast<std::uint64_t>(counter++) * 7919u);
  return 20000u + static_cast<unsigned>(mix % 12000u);
}

std::string AgentProgram() {
  for (const char* path : {"/usr/sbin/snmpd", "/usr/local/sbin/snmpd"})
    if (std::filesystem::exists(path)) return path;
  return "snmpd";  // from the search path
}
}  // namespace

SnmpAgent::~SnmpAgent() { Stop(); }

std::string SnmpAgent::OverrideLine(const std::string& oid, const std::string& type,
                                    const std::string& value, bool writable) {
  return std::string("override ") + (writable ? "-rw " : "") + oid + " " + type + " " + value + "\n";
}

const char* SnmpAgent::Unavailable() {
  static const char reason[] = SNMP_AGENT_UNAVAILABLE;
  return reason[0] != '\0' ? reason : nullptr;
}

bool SnmpAgent::Start(const std::string& extraConfig) {
  Stop();
  dir_.reset(new TempDir);
  for (const char* folder : {"client", "agent-state", "client-state"}) std::filesystem::create_directories(dir_->File(folder));
  WriteFile(dir_->File("snmpd.conf"), "rocommunity kestra 127.0.0.1\nrwcommunity morsend 127.0.0.1\n" + extraConfig + "\n");
  for (int attempt = 0; attempt < 25; ++attempt) {
    Outcome outcome = Launch();
    if (outcome == Outcome::Failed) return false;
    if (outcome == Outcome::Serving) {
      WriteFile(dir_->File("client/snmp.conf"), "defaultPort " + std::to_string(port_) + "\nmibs :\n");
      return true;
    }
  }
  return false;
}

SnmpAgent::Outcome SnmpAgent::Launch() {
  port_ = CandidatePort();
  {
    std::lock_guard<std::mutex> guard(lock_);
    outputEnded_ = false;
    log_ += "-- starting on port " + std::to_string(port_) + "\n";
  }
  platform::ChildProcessOptions options;
  options.input = platform::ChildProcessOptions::Stream::Null;
  options.output = platform::ChildProcessOptions::Stream::Pipe;
  options.mergeErrorIntoOutput = true;
  options.environment = {{"SNMP_PERSISTENT_DIR", dir_->File("agent-state")}};
  // -f foreground, -Lo log to standard output, -C only the given file,
  // -m "" no MIB files (numeric identifiers are all the tests use).
  std::vector<std::string> argv = {AgentProgram(), "-f", "-Lo", "-C", "-m", "", "-c", dir_->File("snmpd.conf"),
                                   "udp:127.0.0.1:" + std::to_string(port_)};
  agent_.reset(new platform::ChildProcess);
  if (!agent_->Start(CommandLineOf(argv), options)) {
    std::lock_guard<std::mutex> guard(lock_);
    log_ += "-- could not run " + argv[0] + "\n";
    agent_.reset();
    return Outcome::Failed;
  }
  drainer_ = std::thread([this] { Drain(); });

  // The agent names its version once its ports are open.
  std::unique_lock<std::mutex> guard(lock_);
  bool ready = changed_.wait_for(guard, std::chrono::seconds(60), [this] {
    return outputEnded_ || log_.find("NET-SNMP version") != std::string::npos;
  });
  bool serving = ready && !outputEnded_;
  bool portTaken = outputEnded_ && log_.find("Error opening specified endpoint") != std::string::npos;
  guard.unlock();
  if (serving) return Outcome::Serving;
  Stop();
  return portTaken ? Outcome::PortTaken : Outcome::Failed;
}

void SnmpAgent::Drain() {
  char buffer[4096];
  for (;;) {
    long n = agent_->ReadOutput(buffer, sizeof buffer);
    std::lock_guard<std::mutex> guard(lock_);
    if (n <= 0) {
      outputEnded_ = true;
      changed_.notify_all();
      return;
    }
    log_.append(buffer, static_cast<std::size_t>(n));
    changed_.notify_all();
  }
}

void SnmpAgent::Stop() {
  if (agent_) {
    agent_->Terminate();
    if (!agent_->Wait(10000, nullptr)) {
      agent_->Kill();
      agent_->Wait(-1, nullptr);
    }
  }
  if (drainer_.joinable()) drainer_.join();
  agent_.reset();
  if (steered_) {
    for (const auto& saved : savedEnvironment_)
      testing_support::SetEnvironmentValue(saved.first.c_str(), saved.second.empty() ? nullptr : saved.second.c_str());
    savedEnvironment_.clear();
    steered_ = false;
  }
}

std::vector<std::pair<std::string, std::string>> SnmpAgent::ClientEnvironment() const {
  if (!dir_) return {};
  return {{"SNMPCONFPATH", dir_->File("client")}, {"SNMP_PERSISTENT_DIR", dir_->File("client-state")}};
}

void SnmpAgent::SteerThisProcess() {
  for (const auto& variable : ClientEnvironment()) {
    if (!steered_) savedEnvironment_.emplace_back(variable.first, platform::EnvironmentValue(variable.first.c_str(), ""));
    testing_support::SetEnvironmentValue(variable.first.c_str(), variable.second.c_str());
  }
  steered_ = true;
}

std::string SnmpAgent::ReadValue(const std::string& oid) const {
  if (!agent_ || !agent_->IsRunning()) return std::string();
  RunResult result = RunProgram({"snmpget", "-v", "1", "-c", "kestra", "-O", "qv", "-r", "1", "-t", "5", "localhost", oid},
                         std::string(), ClientEnvironment());
  std::string value = result.exitCode == 0 ? result.output : std::string();
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

std::string SnmpAgent::AgentLog() const {
  std::lock_guard<std::mutex> guard(lock_);
  return log_;
}

}  // namespace testing_support
