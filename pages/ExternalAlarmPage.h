// "/extalarm": the collector's external wake-ups, one in the query or many
// in an XML body, and its request to reload the master configuration.
#pragma once

#include "pages/MonitorPage.h"

class ExternalAlarmPage : public MonitorPage {
 public:
  ExternalAlarmPage() : MonitorPage("/extalarm", true) {}

  int Initialize() override { return 0; }
  void Cleanup() override {}
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  bool ForkOnRequest(const char*, const char*, const char* const*, const char* const*, unsigned) override {
    return false;
  }
  void TimeToMonitor(unsigned count, const char* const* itemNames) override;

 private:
  void Forward(const char* page, const char* cookie);
};
