// The server's cache of the master configuration, used while a sweep calls
// every page, so that the pages read one state without relocking the file.
#include "server/MonitorServer.h"

#include "config/ConfigurationFile.h"
#include "config/MasterConfig.h"
#include "process/DiagLog.h"

std::unique_ptr<ConfigurationFile> MonitorServer::GetCachedMasterConfig() {
  if (masterConfigCacheAllowed && masterConfigCache_ == nullptr) LoadMasterConfigCache();
  if (masterConfigCache_ != nullptr) {
    std::unique_ptr<ConfigurationFile> view(
        new CachedConfigurationFile(std::shared_ptr<const ConfigurationFile>(masterConfigCache_)));
    DiagLog(kLogTrace, "MonitorServer::GetCachedMasterConfig Returning copy of MasterConfig Cache\n");
    return view;
  }
  DiagLog(kLogTrace, "MonitorServer::GetCachedMasterConfig; no cached copy available\n");
  return nullptr;
}

std::unique_ptr<ConfigurationFile> MonitorServer::LoadMasterConfig(bool forUpdate, bool bypassCache) {
  DiagLog(kLogServerFlow, "MonitorPage::LoadMasterConfig called\n");
  if (!forUpdate && !bypassCache) {
    std::unique_ptr<ConfigurationFile> shared = GetCachedMasterConfig();
    if (shared != nullptr) {
      DiagLog(kLogTrace, "MonitorPage::LoadMasterConfig Returning shared copy of master configuration "
                    "TEST-MASTERCONFIGSHARED\n");
      return shared;
    }
  }
  if (forUpdate) {
    DiagLog(kLogTrace, "MonitorPage::LoadMasterConfig (forupdate) called; releasing master config cache if any\n");
    ReleaseMasterConfigCache();
  }
  DiagLog(kLogTrace, "MonitorPage::LoadMasterConfig Reading master configuration TEST-MASTERCONFIGNOTSHARED\n");
  return MasterConfig::LoadMasterConfigFile(ModuleDirectory().c_str(), kMasterConfigFileName, forUpdate);
}

void MonitorServer::LoadMasterConfigCache() {
  DiagLog(kLogTrace, "Loading MasterConfig Cache\n");
  masterConfigCache_.reset();
  masterConfigCache_ = MasterConfig::LoadMasterConfigFile(ModuleDirectory().c_str(), kMasterConfigFileName, false);
}

void MonitorServer::ReleaseMasterConfigCache() {
  DiagLog(kLogTrace, "Releasing MasterConfig Cache\n");
  masterConfigCache_.reset();
}

void MonitorServer::SetMasterConfigSharing(bool on) {
  masterConfigCacheAllowed = on;
  if (!on) ReleaseMasterConfigCache();
}
