// One SNMP variable binding: object identifier, type word and value text.
#pragma once

#include <string>
#include <vector>

class SnmpVarBind {
 public:
  SnmpVarBind() = default;
  SnmpVarBind(const std::string& oid, const std::string& type, const std::string& value);
  SnmpVarBind(const SnmpVarBind& other) = default;
  SnmpVarBind& operator=(const SnmpVarBind& other) = default;
  // A value to be set: type "integer", the number in decimal.
  SnmpVarBind(const std::string& oid, int value);

  void SetOid(const std::string& oid) { oid_ = oid; }
  void SetType(const std::string& type) { type_ = type; }
  void SetValue(const std::string& value) { value_ = value; }
  const std::string& GetOid() const { return oid_; }
  const std::string& GetType() const { return type_; }
  const std::string& GetValue() const { return value_; }

 private:
  std::string oid_;
  std::string type_;
  std::string value_;
};

// Bindings in the order the agent gave them.
using SnmpVarBindList = std::vector<SnmpVarBind>;
