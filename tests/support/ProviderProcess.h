// The provider binary running in the background for a test, listening on a
// port the system chose; killed when the object goes away.
#pragma once

#include "platform/ChildProcess.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Polls a file until it holds the text.
bool WaitForText(const std::string& file, const std::string& text, unsigned timeoutMs = 20000);

class ProviderProcess {
 public:
  // Starts inventory-provider with "-c -p", the arguments and a log file (-l)
  // in folder, and waits for the port.
  // program, when given, is started instead of the build's binary (a link to
  // it, say, so that files named after the program land elsewhere).
  // launcher, when given, is a program and its arguments that start the
  // provider's command line (prlimit, say, to start it with fewer
  // descriptors); it must leave the provider with its own process id.
  ProviderProcess(const std::string& folder, const std::vector<std::string>& args, const Environment& env,
                  const std::string& program = std::string(),
                  const std::vector<std::string>& launcher = {});
  ~ProviderProcess();

  bool Started() const { return port_ != 0; }
  std::uint16_t Port() const { return port_; }
  const std::string& LogFile() const { return log_; }
  std::string Log() const;
  // Waits for the exit; true with the code when it ended in time.
  bool WaitForExit(unsigned timeoutMs, int* code);
  platform::ChildProcess& Process() { return process_; }

 private:
  platform::ChildProcess process_;
  std::string log_;
  std::uint16_t port_ = 0;
};

}  // namespace testing_support
