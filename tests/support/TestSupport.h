// Shared helpers of the test suite: paths, temporary folders, child processes.
#pragma once

#include "platform/ChildProcess.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

std::string ProviderBinary();
// Why a child's time zone cannot be chosen through TZ in its environment on
// this build, or null when it can.
const char* ChildTimeZoneFixed();
std::string HelperBinary(const std::string& name);

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

// Makes alias start program, as a symbolic link or, where programs cannot
// be started through one, as a copy; alias then gets program's file
// extension (".exe", say), which starting it by the alias leaves implied.
void MakeProgramAlias(const std::string& program, const std::string& alias);

// Writes a registry export file (.reg) and makes its keys the registry the
// provider reads: the file itself where the registry is one (the caller
// points INVENTORY_PROVIDER_REGISTRY at it), the system's own registry
// elsewhere, whose keys set so are removed again when the test ends.
void WriteRegistryFile(const std::string& path, const std::string& content);
// Removes a key (such as "HKEY_LOCAL_MACHINE\\SOFTWARE\\X") from the
// system's registry; nothing to do where the registry is a file.
void RemoveRegistryKey(const std::string& key);

// The Windows command line whose split gives back these arguments: the
// program quoted when it holds a blank, the others as the C runtime reads them.
std::string CommandLineOf(const std::vector<std::string>& argv);

// Sets an environment variable of this process (and so of the children it
// starts afterwards); a null value removes it. Not for use while other
// threads start children or read the environment.
bool SetEnvironmentValue(const char* name, const char* value);

// The working directory, against which relative file names are opened.
std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

// Polls the condition every stepMs until it holds or ms are up; whether it holds.
bool WaitUntil(const std::function<bool()>& condition, unsigned ms = 20000, unsigned stepMs = 5);

// Handles (descriptors) the process has open, and its running threads.
std::size_t CountOpenHandles();
std::size_t CountThreads();

struct RunResult {
  int exitCode = -1;
  std::string output;
  std::string error;  // a text stream: "\n" line ends
};

// Runs a program to its end (killed after timeoutMs), feeding input.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = std::string(),
              const std::vector<std::pair<std::string, std::string>>& env = {}, int timeoutMs = 30000);

}  // namespace testing_support
