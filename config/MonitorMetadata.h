// What a page monitors: classes, their sensors and the sensors' thresholds,
// with the string ids and substitutions a console labels them with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Label substitutions: name -> value, in name order.
using LabelSubstitutions = std::map<std::string, std::string>;

struct MonitoredThreshold {
  std::int32_t distanceFromNominal = 0;
  std::string updateId;
  std::string labelStringId;
  LabelSubstitutions labelSubstitutions;
};

struct MonitoredSensor {
  std::string labelStringId;
  std::string unitsId;
  std::string updateQualifier;
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  LabelSubstitutions labelSubstitutions;
  std::string interval;  // may be empty
  std::vector<MonitoredThreshold> thresholds;
};

struct MonitoredClass {
  std::string labelStringId;
  std::string enable;
  std::string disable;
  std::string interval;  // may be empty
  LabelSubstitutions labelSubstitutions;
  std::vector<MonitoredSensor> sensors;
};

class MonitorMetadata {
 public:
  MonitorMetadata() = default;
  virtual ~MonitorMetadata();
  MonitorMetadata(const MonitorMetadata&) = default;
  MonitorMetadata& operator=(const MonitorMetadata&) = default;

  std::vector<MonitoredClass>& Classes() { return classes_; }
  const std::vector<MonitoredClass>& Classes() const { return classes_; }
  bool IsEmpty() const { return classes_.empty(); }

 private:
  std::vector<MonitoredClass> classes_;
};
