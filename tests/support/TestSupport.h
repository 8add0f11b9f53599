// Shared helpers of the test suite: paths, temporary folders, child processes.
#pragma once

#include "platform/ChildProcess.h"

#include <cstdio>

#include <string>
#include <vector>

namespace testing_support {

std::string ProviderBinary();
std::string HelperBinary(const std::string& name);
std::string SourcePath(const std::string& relative);

// A fresh folder below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// A text file (the diagnostic log, say) as a text stream reads it: with "\n"
// line ends where the system writes another line end.
std::string ReadTextFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Everything in a stream, from its start.
std::string ReadStream(std::FILE* stream);

struct RunResult {
  int exitCode = -1;
  std::string output;
  std::string error;  // a text stream: "\n" line ends
};

// Runs a program to its end (killed after timeoutMs), feeding input.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = std::string(),
              const std::vector<std::pair<std::string, std::string>>& env = {}, int timeoutMs = 30000);

}  // namespace testing_support
