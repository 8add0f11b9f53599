#include "platform/Process.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {
volatile sig_atomic_t g_systemShutdownPending = 0;

void OnTerminate(int signal) {
  g_systemShutdownPending = 1;
  // Not handled: the default action ends the process.
  std::signal(signal, SIG_DFL);
  raise(signal);
}
}  // namespace

std::string ModuleFilePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

bool IsPathSeparator(char c) { return c == '/'; }

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

std::string EnvironmentValue(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback ? fallback : "";
  return value;
}

void WatchSystemShutdown() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
}

bool SystemShutdownPending() { return g_systemShutdownPending != 0; }

void UseSystemLocaleIfClassic() {
  const char* current = std::setlocale(LC_ALL, nullptr);
  if (current != nullptr && std::strcmp(current, "C") == 0) std::setlocale(LC_ALL, "");
}

void SetBinaryStandardStreams() {}  // no newline translation exists here

bool StartSocketLibrary() {
  // A peer that closes early must give a write error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

void StopSocketLibrary() {}

void SetThreadStackSize(std::size_t bytes) {
  pthread_attr_t attributes;
  if (pthread_getattr_default_np(&attributes) != 0) return;
  if (pthread_attr_setstacksize(&attributes, bytes) == 0) pthread_setattr_default_np(&attributes);
  pthread_attr_destroy(&attributes);
}

void DetachStandardStream(std::FILE* stream, bool forWriting) {
  if (stream != nullptr) std::freopen("/dev/null", forWriting ? "w" : "r", stream);
}

void SleepMilliseconds(unsigned milliseconds) {
  timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

std::FILE* OpenForAppendNotInherited(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "a");
  if (stream == nullptr) close(fd);
  return stream;
}

}  // namespace platform
