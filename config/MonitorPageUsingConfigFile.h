// A page that monitors something periodically: whether monitoring is on and
// its interval come from the master configuration or a local file, and turn
// into an external wake-up at the collector or an internal timer.
#pragma once

#include "pages/MonitorPage.h"

#include <cstdint>

class CMonitorPageUsingConfigFile : public MonitorPage {
 public:
  explicit CMonitorPageUsingConfigFile(const char* path);

  int Initialize() override;
  void Cleanup() override;
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  // GET on a session thread, POST on the server's own thread.
  bool ForkOnRequest(const char* path, const char* query, const char* const* headerNames,
                     const char* const* headerValues, unsigned verb) override;
  void Reconfig() override;
  void OnProvConShutdown() override;
  void ExternalWakeupRecieved(const char* itemId) override;

  unsigned GetMonitoringParams(bool& enabled, std::uint32_t& interval);
  // 200, 400 (a text missing) or 500 (not stored).
  unsigned SetMonitoringParams(const char* enabled, const char* interval);
  void InitializeMonitoring(bool firstRun, bool crashRecovery, bool cleanUp);

 protected:
  const char* monitorTag;
  const char* configFileName;
  std::uint32_t minimumExternalInterval;
};
