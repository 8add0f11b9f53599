// A program started as a child process from a Windows command line, executed
// directly (no shell), with optional pipes to its standard streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct ChildProcessOptions {
  enum class Stream { Inherit, Null, Pipe };
  Stream input = Stream::Inherit;
  Stream output = Stream::Inherit;
  Stream error = Stream::Inherit;
  // Standard error goes to the same pipe as standard output.
  bool mergeErrorIntoOutput = false;
  // Variables added to, or replacing those of, this process's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  std::string workingDirectory;
  // Left running when this object goes away, and reaped once it exits.
  bool detachOnDestroy = false;
};

// What became of a child process of this process, looked at without
// collecting it: Ended means it has finished but the system still holds its
// entry (it has not been reaped); Gone means it was reaped, or is no child of
// this process.
enum class ChildProcessState { Running, Ended, Gone };
ChildProcessState QueryChildProcess(std::uint32_t id);

class ChildProcess {
 public:
  // Why the last Start failed.
  enum class StartFailure { None, Pipe, Launch };

  ChildProcess();
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The command line is the program, looked up on the search path when it
  // holds no separator, and its arguments, quoted as Windows programs read
  // them; every system hands the child the same arguments.
  bool Start(const std::string& commandLine, const ChildProcessOptions& options);
  bool IsRunning() const { return id_ > 0 && !exited_; }
  std::uint32_t Id() const { return static_cast<std::uint32_t>(id_); }
  StartFailure LastStartFailure() const { return failure_; }

  // Pipe ends; counts as the channels do: >0 bytes, 0 end, <0 error.
  long WriteInput(const char* data, std::size_t length);
  void CloseInput();
  long ReadOutput(char* buffer, std::size_t size);
  long ReadError(char* buffer, std::size_t size);
  // Reads output and error until both end.
  void ReadAll(std::string* output, std::string* error);

  // Waits for the exit; timeout -1 waits forever. True once it has exited,
  // with its exit code (128 + signal number when a signal ended it).
  bool Wait(int timeoutMilliseconds, int* exitCode);
  // Ends the child at once.
  void Kill();
  // Asks the child to end (SIGTERM or its equivalent).
  void Terminate();

 private:
  bool Reap(bool block);
  void ClosePipes();

  int id_ = -1;
  bool exited_ = false;
  int exitCode_ = 0;
  // Pipe ends as C runtime descriptors.
  int input_ = -1, output_ = -1, error_ = -1;
  // What the system needs besides the id to reach the child, if anything.
  struct SystemReference;
  std::unique_ptr<SystemReference> system_;
  bool detach_ = false;
  StartFailure failure_ = StartFailure::None;
};

}  // namespace platform
