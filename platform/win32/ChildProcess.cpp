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

HANDLE Process(void* handle) { return static_cast<HANDLE>(handle); }

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

// One argument as the C runtime of the child splits it back.
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

std::string CommandLine(const std::vector<std::string>& argv) {
  // The program name ends at the first blank outside quotes and has no
  // escapes of its own.
  std::string line;
  const std::string& program = argv[0];
  if (program.empty() || program.find_first_of(" \t") != std::string::npos)
    line = "\"" + program + "\"";
  else
    line = program;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    line += ' ';
    AppendQuoted(line, argv[i]);
  }
  return line;
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
}  // namespace

ChildProcess::~ChildProcess() {
  ClosePipes();
  if (process_ != nullptr) {
    // A detached child runs on; the system forgets it once it ends.
    if (!detach_ && !exited_) {
      Kill();
      WaitForSingleObject(Process(process_), INFINITE);
    }
    CloseHandle(Process(process_));
    process_ = nullptr;
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

bool ChildProcess::Start(const std::vector<std::string>& argv, const ChildProcessOptions& options) {
  failure_ = StartFailure::Launch;
  if (argv.empty() || id_ > 0) return false;
  detach_ = options.detachOnDestroy;

  std::string commandLine = CommandLine(argv);
  std::string environment;
  if (!options.environment.empty()) environment = EnvironmentBlock(options.environment);

  std::lock_guard<std::mutex> guard(InheritanceLock());
  HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
  int in = -1, out = -1, err = -1;
  auto cleanUp = [&] {
    CloseHandleOnce(childIn);
    if (childErr == childOut) childErr = nullptr;
    CloseHandleOnce(childOut);
    CloseHandleOnce(childErr);
  };
  bool ok = true;
  using Stream = ChildProcessOptions::Stream;
  switch (options.input) {
    case Stream::Pipe: ok = ok && MakePipe(true, &childIn, &in); break;
    case Stream::Null: childIn = NullDevice(false); break;
    case Stream::Inherit: childIn = InheritedStandard(STD_INPUT_HANDLE); break;
  }
  switch (options.output) {
    case Stream::Pipe: ok = ok && MakePipe(false, &childOut, &out); break;
    case Stream::Null: childOut = NullDevice(true); break;
    case Stream::Inherit: childOut = InheritedStandard(STD_OUTPUT_HANDLE); break;
  }
  if (options.mergeErrorIntoOutput) {
    childErr = childOut;
  } else {
    switch (options.error) {
      case Stream::Pipe: ok = ok && MakePipe(false, &childErr, &err); break;
      case Stream::Null: childErr = NullDevice(true); break;
      case Stream::Inherit: childErr = InheritedStandard(STD_ERROR_HANDLE); break;
    }
  }
  if (!ok) {
    failure_ = StartFailure::Pipe;
    cleanUp();
    CloseFd(in);
    CloseFd(out);
    CloseFd(err);
    return false;
  }

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = childErr;
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
  cleanUp();
  if (!started) {
    CloseFd(in);
    CloseFd(out);
    CloseFd(err);
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = static_cast<int>(info.dwProcessId);
  exited_ = false;
  input_ = in;
  output_ = out;
  error_ = err;
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
  if (process_ == nullptr) return false;
  if (exited_) return true;
  if (WaitForSingleObject(Process(process_), block ? INFINITE : 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(Process(process_), &code);
  exited_ = true;
  exitCode_ = static_cast<int>(code);
  return true;
}

bool ChildProcess::Wait(int timeoutMilliseconds, int* exitCode) {
  if (process_ == nullptr) return false;
  if (!exited_) {
    DWORD timeout = timeoutMilliseconds < 0 ? INFINITE : static_cast<DWORD>(timeoutMilliseconds);
    if (WaitForSingleObject(Process(process_), timeout) == WAIT_OBJECT_0) Reap(false);
  }
  if (exited_ && exitCode != nullptr) *exitCode = exitCode_;
  return exited_;
}

// Exit codes as a signal would leave them elsewhere: 128 + 9, 128 + 15.
void ChildProcess::Kill() {
  if (process_ != nullptr && !exited_) TerminateProcess(Process(process_), 137);
}

void ChildProcess::Terminate() {
  if (process_ != nullptr && !exited_) TerminateProcess(Process(process_), 143);
}

void ChildProcess::ClosePipes() {
  CloseFd(input_);
  CloseFd(output_);
  CloseFd(error_);
}

}  // namespace platform
