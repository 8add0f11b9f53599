// The master configuration: one section/key file describing the machine's
// monitoring, an "identity" section and one section per monitoring class
// inside "monitoring-classes".
#pragma once

#include "config/Configuration.h"
#include "config/ConfigurationFile.h"

#include <cstdint>
#include <memory>
#include <string>

// Its file name, in the module directory.
extern const char kMasterConfigFileName[];

// Lookups over a loaded configuration. A null configuration, or one without
// a document, finds nothing.
class MasterConfig {
 public:
  virtual ~MasterConfig();

  // A new object, loaded for update (20 seconds' wait) or read-only (5
  // seconds); returned also when the load failed, without a document then.
  static std::unique_ptr<ConfigurationFile> LoadMasterConfigFile(const char* directory, const char* fileName, bool forUpdate);

  static XmlNode* GetMonitoringClasses(const Configuration* configuration);
  static XmlNode* GetIdentity(const Configuration* configuration);
  static XmlNode* GetMonitoringClass(const Configuration* configuration, const std::string& className);

  // Identity keys; false when the section or the key is missing.
  static bool GetName(const Configuration* configuration, std::string& name);
  static bool GetDisplayName(const Configuration* configuration, std::string& displayName);
  static bool GetTime(const Configuration* configuration, std::string& time);
  static bool GetStatic(const Configuration* configuration, std::uint32_t& value);
  // False only without an identity section; a missing key is "not modified".
  static bool GetModified(const Configuration* configuration, bool& modified);
  // Sets "modified" to "1"; false without an identity section.
  static bool SetModified(Configuration* configuration);

  // Keys of a monitoring class; false (output untouched) when the class or
  // the key is missing.
  static bool GetEnabled(const Configuration* configuration, const std::string& className, bool& enabled);
  static bool GetInterval(const Configuration* configuration, const std::string& className, std::uint32_t& value);
  static bool GetWarningThreshold(const Configuration* configuration, const std::string& className,
                                  std::uint32_t& value);
  static bool GetCriticalThreshold(const Configuration* configuration, const std::string& className,
                                   std::uint32_t& value);
  // "serviceName" / "os-log-filter" followed by the decimal index.
  static bool GetServiceName(const Configuration* configuration, const std::string& className, int index,
                             std::string& value);
  static bool GetOsLogFilter(const Configuration* configuration, const std::string& className, int index,
                             std::string& value);
};
