#include "inventory/SnmpVarBind.h"

#include <cstdio>

SnmpVarBind::SnmpVarBind(const std::string& oid, const std::string& type, const std::string& value)
    : oid_(oid), type_(type), value_(value) {}

SnmpVarBind::SnmpVarBind(const std::string& oid, int value) : oid_(oid), type_("integer") {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  value_ = text;
}
