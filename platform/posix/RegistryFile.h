// Reader of Windows registry export files (.reg), which stand in for the
// registry on this platform.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {

struct RegistryValue {
  enum class Kind { String, Dword, Binary } kind = Kind::String;
  std::string text;
  std::uint32_t number = 0;
  std::vector<unsigned char> bytes;
};

class RegistryFile {
 public:
  // Parses the text of an export; false when the header is not one of a
  // registry export. UTF-16LE and UTF-8 byte-order marks are understood.
  bool Parse(const std::string& content);
  bool Load(const std::string& path);

  // Full key name such as "HKEY_LOCAL_MACHINE\\SOFTWARE\\X"; names of keys
  // and values compare case-insensitively.
  bool HasKey(const std::string& key) const;
  const RegistryValue* Find(const std::string& key, const std::string& name) const;

 private:
  using Values = std::map<std::string, RegistryValue>;
  std::map<std::string, Values> keys_;
};

std::string RegistryFoldCase(const std::string& text);

}  // namespace platform
