// The process-wide diagnostic log: one printf-like call with a verbosity bit.
#pragma once

#include "platform/Compiler.h"

#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

// The verbosity bits; every message names exactly one.
constexpr std::uint32_t kLogHardError = 0x0001;       // work that could not be done
constexpr std::uint32_t kLogRequestHandling = 0x0004; // inventory, monitoring set-up, shutdown, heartbeat pages
constexpr std::uint32_t kLogMonitoringSetup = 0x0008; // monitoring on/off, timers, cookies, unique event
constexpr std::uint32_t kLogCore = 0x0010;            // core errors and milestones
constexpr std::uint32_t kLogWarning = 0x0020;         // failed requests, sessions, collector refusals
constexpr std::uint32_t kLogServerFlow = 0x0040;      // signals, phases, access log, dispatch
constexpr std::uint32_t kLogTrace = 0x0080;           // detailed tracing
constexpr std::uint32_t kLogHeartbeat = 0x0100;       // heartbeat and cookie bookkeeping
constexpr std::uint32_t kLogTimers = 0x0200;          // timers, schedules, wait time-outs
constexpr std::uint32_t kLogInputOutput = 0x0400;     // bodies, replies, sockets, page registration
constexpr std::uint32_t kLogWakeUp = 0x0800;          // external wake-ups, scheduler commands, alarms
constexpr std::uint32_t kLogLaunch = 0x2000;          // crash recovery and first start
constexpr std::uint32_t kDefaultLogMask = kLogHardError | 0x0002;

// Verbosity mask of the process; set by the option parser before the log opens.
extern std::uint32_t g_diagLogMask;

// Opens the process-wide log once; later calls do nothing. An empty or null
// name selects standard error. A rollover size of 0 means 100000 bytes.
void OpenDiagLog(const char* fileName, std::uint32_t rolloverSize);

// Writes one message when its bit is in the mask. Formats end in a newline.
void DiagLog(std::uint32_t bit, const char* format, ...) PROVIDER_PRINTF_FORMAT(2, 3);

// Call sites read DiagLog(bit, format, ...) as above, but the mask is
// tested before anything else: a message that is off costs one AND, with
// no call and no evaluation of its arguments (a peer name that takes a
// system call, a string built for the message).
#define DiagLog(bit, ...) ((((bit) & g_diagLogMask) != 0) ? (DiagLog)((bit), __VA_ARGS__) : (void)0)

// Time-of-day text of a log line: hours (not wrapped at 24), minutes and
// seconds with six decimals and no leading zero.
std::string FormatDiagLogTime(std::uint64_t ticksSinceOrigin, std::uint64_t baseTicks,
                              std::uint64_t frequency);

// One log stream with rollover; the process-wide log is one of these.
class DiagnosticLog {
 public:
  DiagnosticLog() = default;
  ~DiagnosticLog();
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  void Open(const char* fileName, std::uint32_t rolloverSize);
  bool IsOpen() const { return opened_; }
  void Write(std::uint32_t mask, std::uint32_t bit, const char* format, va_list args);
  // The file name in use; empty when writing to standard error.
  const std::string& FileName() const { return fileName_; }
  bool WritesToFile() const { return !fileName_.empty(); }

 private:
  std::timed_mutex lock_;
  bool opened_ = false;
  std::FILE* stream_ = nullptr;
  std::string fileName_;
  std::uint32_t rolloverSize_ = 100000;
  std::uint64_t origin_ = 0;
  std::uint64_t frequency_ = 0;
  std::uint64_t baseTicks_ = 0;
};

// The process-wide log, for those that need to know where it goes.
DiagnosticLog& ProcessDiagLog();
