// The framework pages through which the collector steers the provider:
// "/status", "/schedule", "/shutdown", "/heartbeat", "/cookiemaintenance".
#pragma once

#include "pages/MonitorPage.h"

class StatusPage : public MonitorPage {
 public:
  StatusPage() : MonitorPage("/status", true) {}
  int Initialize() override;
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  void TimeToMonitor(unsigned count, const char* const* itemNames) override;
  bool TimersTriggerHeartbeat() override { return false; }

  // Tells the collector the provider's process id.
  static void SendPIDMessage();
};

class SchedulePage : public MonitorPage {
 public:
  SchedulePage() : MonitorPage("/schedule", true) {}
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
};

class ShutdownPage : public MonitorPage {
 public:
  ShutdownPage() : MonitorPage("/shutdown", true) {}
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  bool ForkOnRequest(const char*, const char*, const char* const*, const char* const*, unsigned) override {
    return false;
  }
};

class HeartbeatPage : public MonitorPage {
 public:
  HeartbeatPage() : MonitorPage("/heartbeat", true) {}
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
};

class CookieMaintenancePage : public MonitorPage {
 public:
  CookieMaintenancePage() : MonitorPage("/cookiemaintenance", true) {}
  int Initialize() override;
  void TimeToMonitor(unsigned count, const char* const* itemNames) override;
  bool TimersTriggerHeartbeat() override { return false; }
  bool IsIdle() override { return true; }
};
