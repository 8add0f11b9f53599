#include "ProviderProcess.h"

#include "TestSupport.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <atomic>
#include <regex>

namespace testing_support {

bool WaitForText(const std::string& file, const std::string& text, unsigned timeoutMs) {
  return WaitUntil([&] { return ReadTextFile(file).find(text) != std::string::npos; }, timeoutMs, 20);
}

ProviderProcess::ProviderProcess(const std::string& folder, const std::vector<std::string>& args,
                                 const Environment& env, const std::string& program,
                                 const std::vector<std::string>& launcher) {
  static std::atomic<int> counter{0};
  log_ = folder + "/provider-" + std::to_string(counter++) + ".log";
  std::vector<std::string> argv(launcher);
  argv.push_back(program.empty() ? ProviderBinary() : program);
  argv.insert(argv.end(), {"-c", "-p"});
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("-l" + log_);
  platform::ChildProcessOptions options;
  options.input = options.output = options.error = platform::ChildProcessOptions::Stream::Null;
  options.environment = env;
  options.workingDirectory = folder;
  if (!process_.Start(CommandLineOf(argv), options)) return;
  // The bound port is logged at 0x400; the caller's -V must include it.
  std::uint64_t deadline = platform::MonotonicMilliseconds() + 20000;
  std::regex bound(R"(Listen port bound to (\d+))");
  std::smatch match;
  std::string text;
  while (platform::MonotonicMilliseconds() < deadline && process_.IsRunning()) {
    if (std::regex_search(text = ReadTextFile(log_), match, bound))
      port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
    if (port_ != 0 || process_.Wait(0, nullptr)) break;
    platform::SleepMilliseconds(10);
  }
}

ProviderProcess::~ProviderProcess() {
  process_.Kill();
  process_.Wait(-1, nullptr);
}

std::string ProviderProcess::Log() const { return ReadTextFile(log_); }

bool ProviderProcess::WaitForExit(unsigned timeoutMs, int* code) {
  return process_.Wait(static_cast<int>(timeoutMs), code);
}

}  // namespace testing_support
