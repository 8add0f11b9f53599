#include "config/MonitorPageUsingConfigFile.h"

#include "config/ConfigurationFile.h"
#include "config/MasterConfig.h"
#include "config/XMLAccumulator.h"
#include "process/DiagLog.h"
#include "server/HttpRequest.h"
#include "server/HttpResponse.h"
#include "platform/AsciiText.h"
#include "server/UrlParsing.h"

#include <cstdlib>
#include <memory>

namespace {
const std::uint32_t kMonitoringIdleTimeout = 15;
}

CMonitorPageUsingConfigFile::CMonitorPageUsingConfigFile(const char* path)
    : MonitorPage(path, false),
      monitorTag("DefaultMonitorTag"),
      configFileName("DefaultConfigFile"),
      minimumExternalInterval(30) {}

int CMonitorPageUsingConfigFile::Initialize() {
  DiagLog(kLogRequestHandling, "CMonitorPageUsingConfigFile: First time run\n");
  SetIdleTimeout(kMonitoringIdleTimeout);
  InitializeMonitoring(FirstRun(), CrashRecovery(), false);
  return 0;
}

void CMonitorPageUsingConfigFile::Cleanup() {}

bool CMonitorPageUsingConfigFile::ForkOnRequest(const char*, const char*, const char* const*, const char* const*,
                                                unsigned verb) {
  return verb == kVerbGet;
}

void CMonitorPageUsingConfigFile::Reconfig() { InitializeMonitoring(false, false, true); }

void CMonitorPageUsingConfigFile::OnProvConShutdown() { SendESDelete(monitorTag); }

void CMonitorPageUsingConfigFile::ExternalWakeupRecieved(const char* itemId) {
  if (itemId != nullptr && EqualsNoCase(itemId, monitorTag)) TimeToMonitor(0, nullptr);
}

unsigned CMonitorPageUsingConfigFile::GetMonitoringParams(bool& enabled, std::uint32_t& interval) {
  enabled = false;
  interval = 0;
  std::unique_ptr<Configuration> master(LoadMasterConfig(false));
  if (master && MasterConfig::GetMonitoringClass(master.get(), monitorTag) != nullptr) {
    bool on = false;
    MasterConfig::GetEnabled(master.get(), monitorTag, on);
    enabled = on;
    if (enabled) MasterConfig::GetInterval(master.get(), monitorTag, interval);
    return kHttpOk;
  }
  master.reset();
  ConfigurationFile local(".", configFileName);
  if (!local.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout)) {
    DiagLog(kLogCore, "CMonitorPageUsingConfigFile::GetMonitoringParams(): ERROR: ConfigurationFile::LoadReadOnly() failed.\n");
    return kHttpOk;
  }
  XmlNode* section = local.FindSection(local.GetRoot(), monitorTag);
  if (section != nullptr) {
    std::string on, seconds;
    local.GetValue(section, "EnableMonitoring", on);
    local.GetValue(section, "PollingInterval", seconds);
    enabled = std::atoi(on.c_str()) != 0;
    // A negative interval is skipped like 0, not read as a huge one.
    int parsed = std::atoi(seconds.c_str());
    interval = parsed > 0 ? static_cast<std::uint32_t>(parsed) : 0;
  }
  return kHttpOk;
}

unsigned CMonitorPageUsingConfigFile::SetMonitoringParams(const char* enabled, const char* interval) {
  if (enabled == nullptr || interval == nullptr) return kHttpBadRequest;
  bool done = false;
  {
    std::unique_ptr<Configuration> master(LoadMasterConfig(true));
    XmlNode* monitoringClass = master ? MasterConfig::GetMonitoringClass(master.get(), monitorTag) : nullptr;
    if (monitoringClass != nullptr) {
      DiagLog(kLogCore, "CMonitorPageUsingConfigFile::SetMonitoringParams(): Setting monitoring info in master config.\n");
      master->SetValue(monitoringClass, "enabled", enabled);
      master->SetValue(monitoringClass, "interval", interval);
      XmlNode* identity = MasterConfig::GetIdentity(master.get());
      if (identity != nullptr) master->SetValue(identity, "modified", "1");
      ConfigurationFile* file = dynamic_cast<ConfigurationFile*>(master.get());
      done = file != nullptr && file->WriteFile();
    }
  }
  if (!done) {
    DiagLog(kLogCore, "CMonitorPageUsingConfigFile::SetMonitoringParams(): Setting monitoring info in local config.\n");
    ConfigurationFile local(".", configFileName);
    if (!local.LoadForUpdate(ConfigurationFile::kUpdateTimeout)) {
      DiagLog(kLogCore, "CMonitorPageUsingConfigFile::SetMonitoringParams(): ERROR: ConfigurationFile::LoadForUpdate() failed.\n");
    } else {
      XmlNode* section = local.FindOrCreateSection(local.GetRoot(), monitorTag);
      local.SetValue(section, "EnableMonitoring", enabled);
      local.SetValue(section, "PollingInterval", interval);
      if (local.WriteFile()) {
        DiagLog(kLogCore, "CMonitorPageUsingConfigFile::SetMonitoringParams(): Thresholds set successfully.\n");
        done = true;
      } else {
        DiagLog(kLogCore, "CMonitorPageUsingConfigFile::SetMonitoringParams(): ERROR: ConfigurationFile::WriteFile() failed.\n");
      }
    }
  }
  return done ? kHttpOk : kHttpInternalError;
}

void CMonitorPageUsingConfigFile::InitializeMonitoring(bool firstRun, bool crashRecovery, bool cleanUp) {
  DiagLog(kLogRequestHandling, "CMonitorPageUsingConfigFile: Initialize Monitoring\n");
  bool enabled = false;
  std::uint32_t interval = 0;
  GetMonitoringParams(enabled, interval);
  if (cleanUp) {
    DiagLog(kLogMonitoringSetup, "CMonitorPageUsingConfigFile: cleaning up old external and internal timers\n");
    SendESDelete(monitorTag);
    RemoveMonitoredItem(monitorTag);
  }
  if (!enabled) {
    DiagLog(kLogMonitoringSetup, "CMonitorPageUsingConfigFile: Monitoring is off\n");
  } else if (interval == 0) {
    // A renewing timer of 0 seconds would be due on every pass of the server
    // loop: such an interval (also a missing or non-numeric one) is skipped.
    DiagLog(kLogWarning, "CMonitorPageUsingConfigFile: polling interval 0; monitoring not set up\n");
  } else {
    DiagLog(kLogMonitoringSetup, "CMonitorPageUsingConfigFile: Monitoring is on\n");
    bool external = false;
    bool refused = false;
    if (interval >= minimumExternalInterval && (firstRun || cleanUp)) {
      DiagLog(kLogMonitoringSetup, "CMonitorPageUsingConfigFile: creating external wakeup call\n");
      external = SendESAddRenew(monitorTag, interval);
      refused = !external;
      if (external) TimeToMonitor(0, nullptr);
    }
    // A wake-up from an earlier run is relied on only when none was just
    // deleted or refused: monitoring must never end up with neither.
    if (!firstRun && !crashRecovery && !refused) external = true;
    if (refused)
      DiagLog(kLogWarning, "CMonitorPageUsingConfigFile: external wakeup call refused; using an internal timer\n");
    if (!(interval >= minimumExternalInterval && external)) {
      SetScheduleActive(true);
      DiagLog(kLogMonitoringSetup, "CMonitorPageUsingConfigFile: creating internal timer\n");
      AddMonitoredItem(monitorTag, "", interval, true, true);
    }
  }
  SetIdleTimeout(kMonitoringIdleTimeout);
}

unsigned CMonitorPageUsingConfigFile::Get(IOBase* io, const char*, const char* query, const char* const*,
                                          const char* const*, unsigned, unsigned) {
  DiagLog(kLogCore, "+CMonitorPageUsingConfigFile::Get()\n");
  if (IsTimerStatusRequest(query)) return ReplyWithTimerStatus(io);
  bool enabled = false;
  std::uint32_t interval = 0;
  GetMonitoringParams(enabled, interval);
  XMLAccumulator xml;
  xml.OpenElement(monitorTag);
  xml.AddElement("EnableMonitoring", enabled ? "1" : "0");
  xml.AddElement("PollingInterval", interval);
  xml.CloseElement();
  std::string text;
  xml.GetXml(text, 0);
  StandardResponse(io, "200 OK", text.data(), text.size());
  DiagLog(kLogCore, "-CMonitorPageUsingConfigFile::Get()\n");
  return kHttpOk;
}

unsigned CMonitorPageUsingConfigFile::Post(IOBase* io, const char*, const char* query, const char* const* headerNames,
                                           const char* const* headerValues, unsigned, unsigned) {
  DiagLog(kLogCore, "+CMonitorPageUsingConfigFile::Post() - querystring: %s\n", query ? query : "");
  unsigned status = kHttpBadRequest;
  std::string fieldText;
  bool haveFields = false;
  if (query != nullptr) {
    fieldText = query;
    haveFields = true;
  } else if (ReadRequestBody(io, headerNames, headerValues, fieldText) && !fieldText.empty()) {
    haveFields = true;
  }
  if (haveFields) {
    QueryStringMap fields(fieldText.c_str());
    const std::string& pollingInterval = fields.Value("PollingInterval");
    const std::string& enableMonitoring = fields.Value("EnableMonitoring");
    const std::string& thresholdsChanged = fields.Value("ThresholdsHaveChanged");
    if (!enableMonitoring.empty() && !pollingInterval.empty()) {
      DiagLog(kLogCore, "Enabled = %s, PollingInterval = %s\n", enableMonitoring.c_str(), pollingInterval.c_str());
      status = SetMonitoringParams(enableMonitoring.c_str(), pollingInterval.c_str());
    }
    InitializeMonitoring(false, false, true);
    if (!thresholdsChanged.empty()) {
      DiagLog(kLogCore, "MonitorAddRemove: Post() Thresholds have changed calling MonitorNow: %s\n",
              thresholdsChanged.c_str());
      TimeToMonitor(0, nullptr);
    }
    DiagLog(kLogCore, "-CMonitorPageUsingConfigFile::Post()\n");
  }
  StandardResponse(io, status == kHttpOk ? "200 OK" : "400 Bad Request", "", 0);
  return status;
}
