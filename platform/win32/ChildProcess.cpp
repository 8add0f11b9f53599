#include "platform/ChildProcess.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <thread>

namespace platform {

namespace {
// Handles made inheritable for one child exist only while this is held, so
// that a child started on another thread at the same moment cannot inherit
// them (and keep a pipe of someone else's open).
std::mutex& InheritanceLock() {
  static std::mutex lock;
  return lock;
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    _close(fd);
    fd = -1;
  }
}

void CloseHandleOnce(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

long ReadFd(int fd, char* buffer, std::size_t size) {
  if (fd < 0) return -1;
  unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
  int n = _read(fd, buffer, chunk);
  // The writer closing its end shows as a broken pipe: that is the end.
  if (n < 0 && GetLastError() == ERROR_BROKEN_PIPE) return 0;
  return n;
}

std::string UpperName(const std::string& entry) {
  // Entries such as "=C:=C:\\dir" keep their leading "=" in the name.
  std::size_t equals = entry.find('=', 1);
  std::string name = entry.substr(0, equals);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// The environment block of the child: this process's variables with the
// additions; names compare without regard to case, as the system's do.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& additions) {
  std::vector<std::string> entries;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) {
      std::string entry = p;
      std::string name = UpperName(entry);
      bool replaced = false;
      for (const auto& add : additions) replaced = replaced || UpperName(add.first + "=") == name;
      if (!replaced) entries.push_back(entry);
    }
    FreeEnvironmentStringsA(block);
  }
  for (const auto& add : additions) entries.push_back(add.first + "=" + add.second);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::string& a, const std::string& b) { return UpperName(a) < UpperName(b); });
  std::string result;
  for (const std::string& entry : entries) {
    result += entry;
    result += '\0';
  }
  if (entries.empty()) result += '\0';
  result += '\0';
  return result;
}

// A pipe whose one end the child inherits; the other end stays here as a C
// runtime descriptor.
bool MakePipe(bool childReads, HANDLE* childEnd, int* ownEnd) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return false;
  HANDLE own = childReads ? write : read;
  *childEnd = childReads ? read : write;
  SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
  *ownEnd = _open_osfhandle(reinterpret_cast<intptr_t>(own), (childReads ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
  if (*ownEnd < 0) {
    CloseHandle(read);
    CloseHandle(write);
    *childEnd = nullptr;
    return false;
  }
  return true;
}

HANDLE NullDevice(bool forWriting) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA("NUL", forWriting ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, OPEN_EXISTING, 0, nullptr);
}

// An inheritable copy of one of this process's standard handles.
HANDLE InheritedStandard(DWORD which) {
  HANDLE own = GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}
// The standard streams of one start: the handles the child inherits, and
// this process's ends of the pipes as C runtime descriptors.
struct ChildStreams {
  HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
  int in = -1, out = -1, err = -1;

  bool Make(const ChildProcessOptions& options) {
    bool ok = Open(options.input, STD_INPUT_HANDLE, &childIn, &in);
    ok = Open(options.output, STD_OUTPUT_HANDLE, &childOut, &out) && ok;
    if (options.mergeErrorIntoOutput)
      childErr = childOut;
    else
      ok = Open(options.error, STD_ERROR_HANDLE, &childErr, &err) && ok;
    return ok;
  }
  void CloseChildEnds() {
    CloseHandleOnce(childIn);
    if (childErr == childOut) childErr = nullptr;
    CloseHandleOnce(childOut);
    CloseHandleOnce(childErr);
  }
  void CloseOwnEnds() {
    CloseFd(in);
    CloseFd(out);
    CloseFd(err);
  }

 private:
  static bool Open(ChildProcessOptions::Stream mode, DWORD which, HANDLE* child, int* own) {
    bool childReads = which == STD_INPUT_HANDLE;
    switch (mode) {
      case ChildProcessOptions::Stream::Pipe: return MakePipe(childReads, child, own);
      case ChildProcessOptions::Stream::Null: *child = NullDevice(!childReads); break;
      case ChildProcessOptions::Stream::Inherit: *child = InheritedStandard(which); break;
    }
    return true;
  }
};
}  // namespace

struct ChildProcess::SystemReference {
  HANDLE process;
};

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() {
  ClosePipes();
  if (system_ != nullptr) {
    // A detached child runs on; the system forgets it once it ends.
    if (!detach_ && !exited_) {
      Kill();
      WaitForSingleObject(system_->process, INFINITE);
    }
    CloseHandle(system_->process);
    system_.reset();
  }
}

ChildProcessState QueryChildProcess(std::uint32_t id) {
  if (id == 0) return ChildProcessState::Gone;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return ChildProcessState::Gone;
  DWORD r = WaitForSingleObject(process, 0);
  CloseHandle(process);
  return r == WAIT_OBJECT_0 ? ChildProcessState::Ended : ChildProcessState::Running;
}

bool ChildProcess::Start(const std::string& commandLine, const ChildProcessOptions& options) {
  failure_ = StartFailure::Launch;
  if (commandLine.find_first_not_of(" \t") == std::string::npos || id_ > 0) return false;
  detach_ = options.detachOnDestroy;
  std::string environment;
  if (!options.environment.empty()) environment = EnvironmentBlock(options.environment);

  std::lock_guard<std::mutex> guard(InheritanceLock());
  ChildStreams streams;
  if (!streams.Make(options)) {
    failure_ = StartFailure::Pipe;
    streams.CloseChildEnds();
    streams.CloseOwnEnds();
    return false;
  }
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = streams.childIn;
  startup.hStdOutput = streams.childOut;
  startup.hStdError = streams.childErr;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                                CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                                environment.empty() ? nullptr : const_cast<char*>(environment.data()),
                                options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(),
                                &startup, &info);
  // The child holds its own ends now; ours go, so that the ends of the
  // child's streams are seen here.
  streams.CloseChildEnds();
  if (!started) {
    streams.CloseOwnEnds();
    return false;
  }
  CloseHandle(info.hThread);
  system_.reset(new SystemReference{info.hProcess});
  id_ = static_cast<int>(info.dwProcessId);
  exited_ = false;
  input_ = streams.in;
  output_ = streams.out;
  error_ = streams.err;
  failure_ = StartFailure::None;
  return true;
}

long ChildProcess::WriteInput(const char* data, std::size_t length) {
  if (input_ < 0) return -1;
  std::size_t done = 0;
  while (done < length) {
    std::size_t left = length - done;
    unsigned chunk = left > 0x40000000u ? 0x40000000u : static_cast<unsigned>(left);
    int n = _write(input_, data + done, chunk);
    if (n <= 0) return done > 0 ? static_cast<long>(done) : -1;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

void ChildProcess::CloseInput() { CloseFd(input_); }

long ChildProcess::ReadOutput(char* buffer, std::size_t size) { return ReadFd(output_, buffer, size); }

long ChildProcess::ReadError(char* buffer, std::size_t size) { return ReadFd(error_, buffer, size); }

void ChildProcess::ReadAll(std::string* output, std::string* error) {
  // Anonymous pipes cannot be waited for together: one reader each.
  auto drain = [](int& fd, std::string* target) {
    char buffer[4096];
    for (;;) {
      long n = ReadFd(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      if (target != nullptr) target->append(buffer, static_cast<std::size_t>(n));
    }
    CloseFd(fd);
  };
  if (output_ >= 0 && error_ >= 0) {
    std::thread errorReader([&] { drain(error_, error); });
    drain(output_, output);
    errorReader.join();
  } else if (output_ >= 0) {
    drain(output_, output);
  } else if (error_ >= 0) {
    drain(error_, error);
  }
}

bool ChildProcess::Reap(bool block) {
  if (system_ == nullptr) return false;
  if (exited_) return true;
  if (WaitForSingleObject(system_->process, block ? INFINITE : 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(system_->process, &code);
  exited_ = true;
  exitCode_ = static_cast<int>(code);
  return true;
}

bool ChildProcess::Wait(int timeoutMilliseconds, int* exitCode) {
  if (system_ == nullptr) return false;
  if (!exited_) {
    DWORD timeout = timeoutMilliseconds < 0 ? INFINITE : static_cast<DWORD>(timeoutMilliseconds);
    if (WaitForSingleObject(system_->process, timeout) == WAIT_OBJECT_0) Reap(false);
  }
  if (exited_ && exitCode != nullptr) *exitCode = exitCode_;
  return exited_;
}

// Exit codes as a signal would leave them elsewhere: 128 + 9, 128 + 15.
void ChildProcess::Kill() {
  if (system_ != nullptr && !exited_) TerminateProcess(system_->process, 137);
}

void ChildProcess::Terminate() {
  if (system_ != nullptr && !exited_) TerminateProcess(system_->process, 143);
}

void ChildProcess::ClosePipes() {
  CloseFd(input_);
  CloseFd(output_);
  CloseFd(error_);
}

}  // namespace platform
