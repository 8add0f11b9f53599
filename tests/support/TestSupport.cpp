#include "TestSupport.h"

#include "platform/Process.h"
#include "platform/Time.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

std::string ProviderBinary() { return PROVIDER_BINARY; }
std::string HelperBinary(const std::string& name) { return std::string(HELPER_DIR) + "/" + name; }
std::string SourcePath(const std::string& relative) { return std::string(SOURCE_DIR) + "/" + relative; }

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    std::string name = "provider-test-" + std::to_string(platform::CurrentProcessId()) + "-" +
                       std::to_string(counter++) + "-" + std::to_string(platform::HighResolutionCounter() % 100000);
    std::filesystem::path candidate = base / name;
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string ReadStream(std::FILE* stream) {
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return text;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
              const std::vector<std::pair<std::string, std::string>>& env, int timeoutMs) {
  platform::ChildProcess child;
  platform::ChildProcessOptions options;
  options.input = platform::ChildProcessOptions::Stream::Pipe;
  options.output = platform::ChildProcessOptions::Stream::Pipe;
  options.error = platform::ChildProcessOptions::Stream::Pipe;
  options.environment = env;
  RunResult result;
  if (!child.Start(argv, options)) return result;
  std::thread feeder([&] {
    if (!input.empty()) child.WriteInput(input.data(), input.size());
    child.CloseInput();
  });
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    std::uint64_t deadline = platform::MonotonicMilliseconds() + static_cast<std::uint64_t>(timeoutMs);
    while (!done && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(10);
    if (!done) child.Kill();
  });
  child.ReadAll(&result.output, &result.error);
  child.Wait(-1, &result.exitCode);
  done = true;
  watchdog.join();
  feeder.join();
  // Standard error is a text stream wherever line ends are translated.
  std::string text;
  for (std::size_t i = 0; i < result.error.size(); ++i)
    if (result.error[i] != '\r' || i + 1 >= result.error.size() || result.error[i + 1] != '\n')
      text += result.error[i];
  result.error = text;
  return result;
}

}  // namespace testing_support
