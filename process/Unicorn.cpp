#include "process/Unicorn.h"

#include "platform/SingleInstance.h"
#include "process/DiagLog.h"

#include <cstdio>

namespace {
platform::SingleInstanceGuard& Guard() {
  static platform::SingleInstanceGuard guard;
  return guard;
}
}  // namespace

bool Unicorn::TheOne(const std::string& uniqueName) {
  switch (Guard().Acquire(uniqueName)) {
    case platform::SingleInstanceGuard::Result::Acquired:
      DiagLog(kLogMonitoringSetup, "Unicorn::TheOne acquired unique event\n");
      return true;
    case platform::SingleInstanceGuard::Result::HeldByAnother:
      DiagLog(kLogHardError, "Unicorn::TheOne opened unique event; another [%s] is already running!\n",
              uniqueName.c_str());
      return false;
    case platform::SingleInstanceGuard::Result::AccessDenied:
      DiagLog(kLogHardError, "Unicorn::TheOne unique event access denied; another [%s] is already running!\n",
              uniqueName.c_str());
      return false;
    case platform::SingleInstanceGuard::Result::CreateFailed:
      break;
  }
  DiagLog(kLogHardError, "Unicorn::TheOne Failed to create unique event.\n");
  return false;
}

void Unicorn::Release() { Guard().Release(); }

std::string ReadySignal::EventName(unsigned port) {
  char name[260];
  std::snprintf(name, sizeof name, "corvane.provider.accept.event.%u", port);
  return name;
}

void ReadySignal::Send(bool requested, unsigned port) {
  if (!requested) {
    DiagLog(kLogTrace, "Signal not requested\n");
    return;
  }
  DiagLog(kLogTrace, "Signal requested\n");
  std::string name = EventName(port);
  DiagLog(kLogTrace, "Trying to OpenEvent [%s]\n", name.c_str());
  if (event_.OpenExisting(name)) {
    event_.Set();
    DiagLog(kLogServerFlow, "Sync Signal sent\n");
  }
}

void ReadySignal::ResetAndClose() {
  event_.Reset();
  event_.Close();
}
