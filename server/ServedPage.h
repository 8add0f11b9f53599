// A page as the server sees it: the page base's virtual operations, in
// their fixed order, and the few steps the server drives on every page.
// The pages (pages/MonitorPage.h) implement it; the server knows no more
// of them than this.
#pragma once

#include <cstdint>

class IOBase;
class MonitorMetadata;
class XMLAccumulator;

// Seconds a schedule answers when nothing is due.
constexpr std::uint32_t kNothingDue = 10000;

// Arguments of Get and Post: the request origin the server gives every
// request, and whether a session (a thread of its own, or standard input)
// or the server's own thread serves it.
constexpr unsigned kOriginServer = 1;
constexpr unsigned kOnSession = 1;
constexpr unsigned kOnServerThread = 0;

class ServedPage {
 public:
  virtual ~ServedPage() = default;
  virtual int Register() = 0;
  virtual int Initialize() = 0;
  virtual void Cleanup() = 0;
  virtual unsigned GetEx(IOBase* io, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                         std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) = 0;
  virtual unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                       const char* const* headerValues, unsigned origin, unsigned onSession) = 0;
  virtual int DescribePage(XMLAccumulator& xml, const char* path) = 0;
  virtual unsigned PostEx(IOBase* io, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                          std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) = 0;
  virtual unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                        const char* const* headerValues, unsigned origin, unsigned onSession) = 0;
  // 0 inactive, 1 wake me after wakeDelay seconds, 2 stay resident.
  virtual int GetScheduleState(std::uint32_t& wakeDelay) = 0;
  // True: serve on a session thread of its own.
  virtual bool ForkOnRequest(const char* path, const char* query, const char* const* headerNames,
                             const char* const* headerValues, unsigned verb) = 0;
  virtual void Reconfig() = 0;
  virtual void OnShutdown() = 0;
  virtual void OnProvConShutdown() = 0;
  virtual void TimeToMonitor(unsigned count, const char* const* itemNames) = 0;
  virtual bool TimersTriggerHeartbeat() = 0;
  virtual void ExternalWakeupRecieved(const char* itemId) = 0;
  virtual std::uint32_t GetSchedulerTimeout() = 0;
  virtual bool IsIdle() = 0;
  virtual void InitializeLock() = 0;
  virtual void DeleteLock() = 0;
  virtual MonitorMetadata& GetMetadata(MonitorMetadata& metadata) = 0;

  // Steps every page takes the same way (the page base gives them).
  virtual bool IsFrameworkPage() const = 0;
  // Runs Initialize the first time only; later calls succeed at once.
  virtual int InitializeOnce() = 0;
  // Called on every page before any page's OnShutdown.
  virtual void OnPreShutdown() = 0;
  // Settles elapsed seconds into the page's schedule.
  virtual void AdvanceSchedule(std::uint32_t elapsedSeconds) = 0;
  // Ages the page's asynchronous records and drops finished workers.
  virtual void MaintainRecords() = 0;
};
