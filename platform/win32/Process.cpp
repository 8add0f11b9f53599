#include "platform/Process.h"

#include <winsock2.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <vector>

namespace platform {

namespace {
volatile LONG g_systemShutdownPending = 0;

BOOL WINAPI OnConsoleControl(DWORD controlType) {
  if (controlType == CTRL_SHUTDOWN_EVENT) InterlockedExchange(&g_systemShutdownPending, 1);
  // Not handled: the default handling ends the process.
  return FALSE;
}
}  // namespace

std::string ModuleFilePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(GetCurrentThreadId()); }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

std::string EnvironmentValue(const char* name, const char* fallback) {
  // The process environment block, not the C runtime's copy: children
  // started through CreateProcess see the same.
  std::vector<char> buffer(256);
  for (;;) {
    DWORD length = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return fallback ? fallback : "";
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

void WatchSystemShutdown() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool SystemShutdownPending() { return g_systemShutdownPending != 0; }

void UseSystemLocaleIfClassic() {
  const char* current = std::setlocale(LC_ALL, nullptr);
  if (current != nullptr && std::strcmp(current, "C") == 0) std::setlocale(LC_ALL, ".ACP");
}

void SetBinaryStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
}

bool StartSocketLibrary() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void StopSocketLibrary() { WSACleanup(); }

// Every thread gets the executable's stack reservation, committed page by
// page as it is used: there is no mapping to save.
void SetThreadStackSize(std::size_t) {}

void DetachStandardStream(std::FILE* stream, bool forWriting) {
  if (stream == nullptr) return;
  std::freopen("NUL", forWriting ? "w" : "r", stream);
  // The process's own standard handle goes with it, so that children do not
  // inherit the old pipe end either.
  DWORD which = stream == stdin ? STD_INPUT_HANDLE : stream == stdout ? STD_OUTPUT_HANDLE
                                                                      : STD_ERROR_HANDLE;
  if (stream == stdin || stream == stdout || stream == stderr)
    SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

std::FILE* OpenForAppendNotInherited(const std::string& path) {
  int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_TEXT | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* stream = _fdopen(fd, "a");
  if (stream == nullptr) _close(fd);
  return stream;
}

}  // namespace platform
