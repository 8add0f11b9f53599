// "/stats": what the server counted, saved with the per-page timings next
// to the program, when the provider runs with statistics ("-g").
#pragma once

#include "pages/MonitorPage.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class StatsPage : public MonitorPage {
 public:
  explicit StatsPage(const std::string& programPath);

  int Initialize() override;
  void Cleanup() override;
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  void TimeToMonitor(unsigned count, const char* const* itemNames) override;
  std::uint32_t GetSchedulerTimeout() override;
  bool IsIdle() override { return true; }

  // Loads the counters from the file; saves them with the current time.
  void ReloadStats();
  bool WriteStats();
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  std::int64_t startTime_;
  std::int64_t lastSaveTime_;
  std::string first_;
  std::map<std::string, std::uint32_t> namedCounters_;
  std::mutex saveLock_;
};
