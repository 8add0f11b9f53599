// Stands in for "snmpset" on the search path: appends one line with the
// monotonic time in milliseconds and its arguments to the file named by
// CHASSIS_SET_RECORD, then runs the real tool (CHASSIS_REAL_SNMPSET, else
// /usr/bin/snmpset) with the same arguments and ends with its exit code.
#include "platform/ChildProcess.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include "TestSupport.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::string record = platform::EnvironmentValue("CHASSIS_SET_RECORD", "");
  if (!record.empty()) {
    std::string line = std::to_string(platform::MonotonicMilliseconds());
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    line += "\n";
    if (std::FILE* file = std::fopen(record.c_str(), "a")) {
      std::fwrite(line.data(), 1, line.size(), file);
      std::fclose(file);
    }
  }
  std::vector<std::string> args{platform::EnvironmentValue("CHASSIS_REAL_SNMPSET", "/usr/bin/snmpset")};
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  platform::ChildProcess tool;
  if (!tool.Start(testing_support::CommandLineOf(args), platform::ChildProcessOptions())) return 127;
  int code = 1;
  tool.Wait(-1, &code);
  return code;
}
