#include "process/DiagLog.h"

#include "platform/Process.h"
#include "platform/Time.h"

#include <chrono>
#include <cstdarg>

std::uint32_t g_diagLogMask = kDefaultLogMask;

namespace {
const std::size_t kMaxLogFileName = 259;
}

DiagnosticLog& ProcessDiagLog() {
  static DiagnosticLog* log = new DiagnosticLog;  // left to the process's end
  return *log;
}

void OpenDiagLog(const char* fileName, std::uint32_t rolloverSize) {
  ProcessDiagLog().Open(fileName, rolloverSize);
}

void(DiagLog)(std::uint32_t bit, const char* format, ...) {
  std::uint32_t mask = g_diagLogMask;
  if ((bit & mask) == 0) return;
  va_list args;
  va_start(args, format);
  ProcessDiagLog().Write(mask, bit, format, args);
  va_end(args);
}

std::string FormatDiagLogTime(std::uint64_t ticksSinceOrigin, std::uint64_t baseTicks,
                              std::uint64_t frequency) {
  if (frequency == 0) return std::string();
  std::uint64_t ticks = ticksSinceOrigin + baseTicks;
  std::uint64_t seconds = ticks / frequency;
  std::uint64_t hours = seconds / 3600;
  std::uint64_t minutes = (seconds - hours * 3600) / 60;
  std::uint64_t wholeSeconds = seconds - hours * 3600 - minutes * 60;
  // Microseconds in integers, rounded as "%f" rounds: a floating-point
  // conversion would print the locale's decimal separator (a comma, say).
  std::uint64_t micro = ((ticks % frequency) * 2000000 / frequency + 1) / 2;
  if (micro >= 1000000) {
    micro -= 1000000;
    ++wholeSeconds;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%d.%06d", static_cast<int>(hours), static_cast<int>(minutes),
                static_cast<int>(wholeSeconds), static_cast<int>(micro));
  return text;
}

DiagnosticLog::~DiagnosticLog() {
  if (stream_ != nullptr && stream_ != stderr) std::fclose(stream_);
}

void DiagnosticLog::Open(const char* fileName, std::uint32_t rolloverSize) {
  if (opened_) return;
  opened_ = true;
  rolloverSize_ = rolloverSize != 0 ? rolloverSize : 100000;
  stream_ = stderr;
  if (fileName != nullptr && *fileName != '\0') {
    fileName_.assign(fileName).resize(std::min(fileName_.size(), kMaxLogFileName));
    // Not inherited: the scanner and the SNMP tools must not hold the log.
    std::FILE* file = platform::OpenForAppendNotInherited(fileName_);
    if (file != nullptr) {
      stream_ = file;
    } else {
      fileName_.clear();
    }
  }
  origin_ = platform::HighResolutionCounter();
  frequency_ = platform::HighResolutionFrequency();
  platform::CalendarTime now = platform::UtcNow();
  baseTicks_ = static_cast<std::uint64_t>(now.hour * 3600 + now.minute * 60 + now.second) * frequency_;
}

void DiagnosticLog::Write(std::uint32_t mask, std::uint32_t bit, const char* format, va_list args) {
  if ((bit & mask) == 0 || !opened_) return;
  platform::CalendarTime today = platform::UtcNow();
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", today.year % 10000, today.month, today.day);
  std::string time = FormatDiagLogTime(platform::HighResolutionCounter() - origin_, baseTicks_, frequency_);

  // A deadline on the system clock: the library waits for a steady-clock one
  // through a call that ThreadSanitizer does not know, which would make the
  // log's lock invisible to it.
  if (!lock_.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(5000))) return;
  std::fprintf(stream_, "%s %s(%d) %s:", date, time.c_str(),
               static_cast<int>(platform::CurrentThreadId()), "");
  std::vfprintf(stream_, format, args);
  std::fflush(stream_);
  if (!fileName_.empty()) {
    long position = std::ftell(stream_);
    if (position > static_cast<long>(rolloverSize_) && position > 0) {
      std::fclose(stream_);
      std::string old = fileName_ + ".old";
      std::remove(old.c_str());
      std::rename(fileName_.c_str(), old.c_str());
      std::FILE* file = platform::OpenForAppendNotInherited(fileName_);
      if (file != nullptr) {
        stream_ = file;
      } else {
        fileName_.clear();
        stream_ = stderr;
      }
    }
  }
  lock_.unlock();
}
