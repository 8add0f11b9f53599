#include "TestSupport.h"

#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/Time.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

std::string ProviderBinary() { return PROVIDER_BINARY; }
const char* ChildTimeZoneFixed() {
  static const char reason[] = CHILD_TIME_ZONE_FIXED;
  return reason[0] != '\0' ? reason : nullptr;
}
std::string HelperBinary(const std::string& name) { return std::string(HELPER_DIR) + "/" + name + EXECUTABLE_SUFFIX; }

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

static std::string Slurp(const std::string& path, std::ios::openmode mode) {
  std::stringstream content;
  content << std::ifstream(path, mode).rdbuf();
  return content.str();
}
std::string ReadFile(const std::string& path) { return Slurp(path, std::ios::in | std::ios::binary); }
std::string ReadTextFile(const std::string& path) { return Slurp(path, std::ios::in); }

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string CurrentDirectory() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}
bool ChangeDirectory(const std::string& path) {
  std::error_code error;
  std::filesystem::current_path(path, error);
  return !error;
}

void MakeProgramAlias(const std::string& program, const std::string& alias) {
  std::error_code error;
  std::filesystem::create_symlink(program, alias, error);
  if (!error) return;
  std::filesystem::copy_file(program, alias + std::filesystem::path(program).extension().string(),
                             std::filesystem::copy_options::overwrite_existing);
}

namespace {
// Keys a test put into the system's registry, removed when it ends.
struct RegistryCleaner : ::testing::EmptyTestEventListener {
  std::set<std::string> keys;
  static RegistryCleaner& Instance() {
    static RegistryCleaner* cleaner = new RegistryCleaner;  // owned by the listener list
    static bool appended = (::testing::UnitTest::GetInstance()->listeners().Append(cleaner), true);
    (void)appended;
    return *cleaner;
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    for (const std::string& key : keys) RemoveRegistryKey(key);
    keys.clear();
  }
};
}  // namespace

void WriteRegistryFile(const std::string& path, const std::string& content) {
  WriteFile(path, content);
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t close = line.rfind(']');
    if (line.size() > 1 && line[0] == '[' && line[1] != '-' && close != std::string::npos)
      RegistryCleaner::Instance().keys.insert(line.substr(1, close - 1));
  }
  EXPECT_TRUE(platform::ApplyRegistryFile(path)) << path;
}

void RemoveRegistryKey(const std::string& key) {
  TempDir dir;
  std::string file = dir.File("remove.reg");
  WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n[-" + key + "]\r\n");
  platform::ApplyRegistryFile(file);
}

namespace {
void AppendQuoted(std::string& line, const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}
}  // namespace

std::string CommandLineOf(const std::vector<std::string>& argv) {
  if (argv.empty()) return std::string();
  // The program name ends at the first blank outside quotes and has no
  // escapes of its own.
  const std::string& program = argv[0];
  std::string line = program.empty() || program.find_first_of(" \t") != std::string::npos
                         ? "\"" + program + "\""
                         : program;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    line += ' ';
    AppendQuoted(line, argv[i]);
  }
  return line;
}

bool WaitUntil(const std::function<bool()>& condition, unsigned ms, unsigned stepMs) {
  std::uint64_t deadline = platform::MonotonicMilliseconds() + ms;
  while (!condition() && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(stepMs);
  return condition();
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
  if (!child.Start(CommandLineOf(argv), options)) return result;
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
  for (std::size_t at = result.error.find("\r\n"); at != std::string::npos; at = result.error.find("\r\n", at))
    result.error.erase(at, 1);
  return result;
}

}  // namespace testing_support
