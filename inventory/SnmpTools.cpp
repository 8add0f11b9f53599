#include "inventory/SnmpTools.h"

#include "inventory/CaptureOutput.h"
#include "platform/AsciiText.h"

namespace {
// Longest walk line and STRING value looked at; longer ones are cut.
const std::size_t kMaxWalkLine = 1023;
const std::size_t kMaxQuotedValue = 511;


std::string WithoutQuotes(std::string value) {
  if (value.size() > kMaxQuotedValue) value.resize(kMaxQuotedValue);
  if (!value.empty() && value.front() == '"') value.erase(0, 1);
  if (!value.empty() && value.back() == '"') value.pop_back();
  return value;
}
}  // namespace

std::string SnmpWalkCommandLine(const std::string& oid) {
  return "snmpwalk -v 1 -c kestra -O n -r 2 -t 5 localhost " + oid;
}

std::string SnmpSetCommandLine(const std::string& oid, const std::string& type, const std::string& value) {
  return "snmpset -v 1 -c morsend -r 2 -t 5 localhost " + oid + " " + type + " " + value;
}

bool ParseSnmpWalkLine(const std::string& line, SnmpVarBind& binding) {
  std::string text = line.substr(0, kMaxWalkLine);
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  std::string rest = Trim(text.substr(equals + 1));
  std::size_t colon = rest.find(':');
  if (colon == std::string::npos) return false;
  std::string type = Trim(rest.substr(0, colon));
  std::string value = Trim(rest.substr(colon + 1));
  if (type == "STRING") value = WithoutQuotes(value);
  binding = SnmpVarBind(Trim(text.substr(0, equals)), type, value);
  return true;
}

bool SnmpWalk(const std::string& oid, SnmpVarBindList& result) {
  std::vector<std::string> lines;
  CaptureOutput(SnmpWalkCommandLine(oid), lines, 0);
  bool any = false;
  for (const std::string& line : lines) {
    SnmpVarBind binding;
    if (!ParseSnmpWalkLine(line, binding)) continue;
    result.push_back(binding);
    any = true;
  }
  return any;
}

bool FindBindings(const std::string& text, const SnmpVarBindList& list, SnmpVarBindList& result) {
  bool any = false;
  for (const SnmpVarBind& binding : list) {
    if (binding.GetOid().find(text) == std::string::npos) continue;
    result.push_back(binding);
    any = true;
  }
  return any;
}

bool SnmpSet(const std::string& oid, const std::string& type, const std::string& value) {
  std::vector<std::string> ignored;
  CaptureOutput(SnmpSetCommandLine(oid, type, value), ignored, 0);
  return true;
}

bool SnmpSet(const SnmpVarBind& binding) {
  return SnmpSet(binding.GetOid(), binding.GetType(), binding.GetValue());
}

bool SnmpSetInteger(const std::string& oid, int value) { return SnmpSet(SnmpVarBind(oid, value)); }
