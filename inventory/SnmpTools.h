// Reading and writing values of the local SNMP agent through the net-snmp
// command-line tools "snmpwalk" and "snmpset" found on the search path.
#pragma once

#include "inventory/SnmpVarBind.h"

#include <string>
#include <vector>

// Walks the subtree below `oid` (read community) and appends one binding per
// output line of the form "name = TYPE: value". True when any was appended.
bool SnmpWalk(const std::string& oid, SnmpVarBindList& result);

// Copies every binding whose identifier contains `text`, in list order.
bool FindBindings(const std::string& text, const SnmpVarBindList& list, SnmpVarBindList& result);

// Sets one value (write community). The tool's answer is not judged: true.
bool SnmpSet(const std::string& oid, const std::string& type, const std::string& value);
bool SnmpSet(const SnmpVarBind& binding);
bool SnmpSetInteger(const std::string& oid, int value);

// Command lines of the tools.
std::string SnmpWalkCommandLine(const std::string& oid);
std::string SnmpSetCommandLine(const std::string& oid, const std::string& type, const std::string& value);

// Parses one walk output line; false for a line that is not a binding.
// Lines are looked at up to 1023 bytes, STRING values up to 511 bytes;
// the rest is cut.
bool ParseSnmpWalkLine(const std::string& line, SnmpVarBind& binding);
