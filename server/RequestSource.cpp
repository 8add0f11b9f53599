#include "server/RequestSource.h"

#include "platform/HostName.h"
#include "platform/AsciiText.h"

#include <string>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsIPv4Literal(const std::string& text) {
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    std::size_t begin = pos;
    unsigned value = 0;
    while (pos < text.size() && IsDigit(text[pos]) && pos - begin < 3) value = value * 10 + (text[pos++] - '0');
    if (pos == begin || value > 255) return false;
  }
  return pos == text.size();
}

// What stands between the brackets of an IPv6 host; no name is written so.
bool IsIPv6Literal(const std::string& text) {
  if (text.find(':') == std::string::npos) return false;
  for (char c : text)
    if (!IsHexDigit(c) && c != ':' && c != '.') return false;
  return true;
}

bool IsPort(const std::string& text) {
  for (char c : text)
    if (!IsDigit(c)) return false;
  return true;
}

bool IsLocalHostValue(const std::string& value) {
  std::string host, rest;
  if (!value.empty() && value[0] == '[') {
    std::size_t close = value.find(']');
    if (close == std::string::npos) return false;
    host = value.substr(1, close - 1);
    rest = value.substr(close + 1);
    if (!IsIPv6Literal(host)) return false;
  } else {
    std::size_t colon = value.find(':');
    host = value.substr(0, colon);
    if (colon != std::string::npos) rest = value.substr(colon);
  }
  if (!rest.empty() && (rest[0] != ':' || !IsPort(rest.substr(1)))) return false;
  if (host.empty() || value[0] == '[' || IsIPv4Literal(host)) return true;
  if (host.back() == '.') host.pop_back();  // the absolute form of a name
  if (EqualsNoCase(host.c_str(), "localhost")) return true;
  std::string own = platform::HostName();
  return !own.empty() && EqualsNoCase(host.c_str(), own.c_str());
}

}  // namespace

const char* ForeignRequestReason(const char* const* names, const char* const* values) {
  if (names == nullptr || values == nullptr) return nullptr;
  for (std::size_t i = 0; names[i] != nullptr && values[i] != nullptr; ++i) {
    if (EqualsNoCase(names[i], "Origin")) return "it carries an Origin header";
    if (EqualsNoCase(names[i], "Host") && !IsLocalHostValue(values[i]))
      return "its Host header names neither an address nor this machine";
  }
  return nullptr;
}
