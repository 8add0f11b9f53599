// An SNMP agent (net-snmp's snmpd) of a test's own, on a free UDP port of
// 127.0.0.1, with the communities the provider uses: "kestra" read-only and
// "morsend" read-write. The provider's command lines name "localhost"
// without a port; the net-snmp tools are steered to this agent by a client
// snmp.conf naming its port as the default, found through SNMPCONFPATH.
#pragma once

#include "TestSupport.h"

#include "platform/ChildProcess.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

class SnmpAgent {
 public:
  SnmpAgent() = default;
  ~SnmpAgent();
  SnmpAgent(const SnmpAgent&) = delete;
  SnmpAgent& operator=(const SnmpAgent&) = delete;

  // Why no agent can run for this build's tests, or null when one can.
  static const char* Unavailable();

  // Starts the agent and waits until it serves. extraConfig is added to its
  // snmpd.conf after the community lines, for example OverrideLine(...).
  // False (see AgentLog) when it could not be started.
  bool Start(const std::string& extraConfig = std::string());
  // Stops the agent and undoes SteerThisProcess.
  void Stop();
  unsigned Port() const { return port_; }

  // Environment that sends the tools to this agent; for child processes.
  std::vector<std::pair<std::string, std::string>> ClientEnvironment() const;
  // Puts ClientEnvironment into this process's own environment (so that
  // every child it starts reaches the agent), until Stop.
  void SteerThisProcess();

  // The agent's current value of oid as snmpget prints it alone (strings
  // in double quotes); empty when it has none or does not answer. Reads
  // with the "kestra" community, without touching this process's environment.
  std::string ReadValue(const std::string& oid) const;

  // Everything the agent has printed so far.
  std::string AgentLog() const;

  // An snmpd.conf line that serves oid with a fixed value of type
  // "integer", "uinteger", "octet_str", "object_id", "counter" or "null";
  // writable lines keep what a set writes.
  static std::string OverrideLine(const std::string& oid, const std::string& type,
                                  const std::string& value, bool writable = true);

 private:
  enum class Outcome { Serving, PortTaken, Failed };
  Outcome Launch();
  void Drain();

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<platform::ChildProcess> agent_;
  std::thread drainer_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::string log_;
  bool outputEnded_ = false;
  unsigned port_ = 0;
  bool steered_ = false;
  std::vector<std::pair<std::string, std::string>> savedEnvironment_;
};

}  // namespace testing_support
