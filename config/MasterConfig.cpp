#include "config/MasterConfig.h"

const char kMasterConfigFileName[] = "masterconfig.ruleset.monitor.xml";

namespace {

bool IdentityText(const Configuration* configuration, const char* key, std::string& value) {
  XmlNode* identity = MasterConfig::GetIdentity(configuration);
  return identity != nullptr && configuration->GetValue(identity, key, value);
}

bool ClassUnsigned(const Configuration* configuration, const std::string& className, const char* key,
                   std::uint32_t& value) {
  XmlNode* monitoringClass = MasterConfig::GetMonitoringClass(configuration, className);
  return monitoringClass != nullptr && configuration->GetValueUnsigned(monitoringClass, key, value);
}

bool ClassIndexedText(const Configuration* configuration, const std::string& className, const char* prefix,
                      int index, std::string& value) {
  XmlNode* monitoringClass = MasterConfig::GetMonitoringClass(configuration, className);
  return monitoringClass != nullptr &&
         configuration->GetValue(monitoringClass, prefix + std::to_string(index), value);
}

}  // namespace

MasterConfig::~MasterConfig() = default;

std::unique_ptr<ConfigurationFile> MasterConfig::LoadMasterConfigFile(const char* directory, const char* fileName,
                                                                      bool forUpdate) {
  std::unique_ptr<ConfigurationFile> file(new ConfigurationFile(directory, fileName));
  if (forUpdate)
    file->LoadForUpdate(ConfigurationFile::kUpdateTimeout);
  else
    file->LoadReadOnly(ConfigurationFile::kReadOnlyTimeout);
  return file;
}

XmlNode* MasterConfig::GetMonitoringClasses(const Configuration* configuration) {
  if (configuration == nullptr) return nullptr;
  return configuration->FindSection(configuration->GetRoot(), "monitoring-classes");
}

XmlNode* MasterConfig::GetIdentity(const Configuration* configuration) {
  if (configuration == nullptr) return nullptr;
  return configuration->FindSection(configuration->GetRoot(), "identity");
}

XmlNode* MasterConfig::GetMonitoringClass(const Configuration* configuration, const std::string& className) {
  XmlNode* classes = GetMonitoringClasses(configuration);
  return classes == nullptr ? nullptr : configuration->FindSection(classes, className);
}

bool MasterConfig::GetName(const Configuration* configuration, std::string& name) {
  return IdentityText(configuration, "name", name);
}

bool MasterConfig::GetDisplayName(const Configuration* configuration, std::string& displayName) {
  return IdentityText(configuration, "displayName", displayName);
}

bool MasterConfig::GetTime(const Configuration* configuration, std::string& time) {
  return IdentityText(configuration, "time", time);
}

bool MasterConfig::GetStatic(const Configuration* configuration, std::uint32_t& value) {
  XmlNode* identity = GetIdentity(configuration);
  return identity != nullptr && configuration->GetValueUnsigned(identity, "static", value);
}

bool MasterConfig::GetModified(const Configuration* configuration, bool& modified) {
  XmlNode* identity = GetIdentity(configuration);
  if (identity == nullptr) return false;
  std::int32_t value = 0;
  modified = configuration->GetValueSigned(identity, "modified", value) && value != 0;
  return true;
}

bool MasterConfig::SetModified(Configuration* configuration) {
  XmlNode* identity = GetIdentity(configuration);
  return identity != nullptr && configuration->SetValue(identity, "modified", "1");
}

bool MasterConfig::GetEnabled(const Configuration* configuration, const std::string& className, bool& enabled) {
  XmlNode* monitoringClass = GetMonitoringClass(configuration, className);
  std::int32_t value = 0;
  if (monitoringClass == nullptr || !configuration->GetValueSigned(monitoringClass, "enabled", value)) return false;
  enabled = value != 0;
  return true;
}

bool MasterConfig::GetInterval(const Configuration* configuration, const std::string& className,
                               std::uint32_t& value) {
  return ClassUnsigned(configuration, className, "interval", value);
}

bool MasterConfig::GetWarningThreshold(const Configuration* configuration, const std::string& className,
                                       std::uint32_t& value) {
  return ClassUnsigned(configuration, className, "warningThreshold", value);
}

bool MasterConfig::GetCriticalThreshold(const Configuration* configuration, const std::string& className,
                                        std::uint32_t& value) {
  return ClassUnsigned(configuration, className, "criticalThreshold", value);
}

bool MasterConfig::GetServiceName(const Configuration* configuration, const std::string& className, int index,
                                  std::string& value) {
  return ClassIndexedText(configuration, className, "serviceName", index, value);
}

bool MasterConfig::GetOsLogFilter(const Configuration* configuration, const std::string& className, int index,
                                  std::string& value) {
  return ClassIndexedText(configuration, className, "os-log-filter", index, value);
}
