#include "platform/Registry.h"

#include "platform/ChildProcess.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace platform {

namespace {
HKEY Key(void* handle) { return static_cast<HKEY>(handle); }

RegistryKey::Status StatusOf(LONG error) {
  switch (error) {
    case ERROR_SUCCESS:
      return RegistryKey::Status::Ok;
    case ERROR_MORE_DATA:
      return RegistryKey::Status::MoreData;
    case ERROR_INVALID_HANDLE:
      return RegistryKey::Status::InvalidHandle;
    default:
      return RegistryKey::Status::NotFound;
  }
}

const char kLocalMachine[] = "HKEY_LOCAL_MACHINE\\";

// The key names of an export file, in order; removals keep their "-".
std::vector<std::string> KeyNames(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream raw;
  raw << file.rdbuf();
  std::string content = raw.str();
  // regedit writes UTF-16LE; key names of interest are plain ASCII.
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
      static_cast<unsigned char>(content[1]) == 0xFE) {
    std::string narrow;
    for (std::size_t i = 2; i + 1 < content.size(); i += 2) narrow += content[i];
    content = narrow;
  }
  std::vector<std::string> keys;
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t begin = line.find_first_not_of(" \t");
    std::size_t close = line.rfind(']');
    if (begin == std::string::npos || line[begin] != '[' || close == std::string::npos || close <= begin) continue;
    keys.push_back(line.substr(begin + 1, close - begin - 1));
  }
  return keys;
}
}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::Status RegistryKey::Open(const std::string& subKey) {
  Close();
  HKEY key = nullptr;
  LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return StatusOf(error) == Status::Ok ? Status::NotFound : StatusOf(error);
  handle_ = key;
  return Status::Ok;
}

void RegistryKey::Close() {
  if (handle_ != nullptr) {
    RegCloseKey(Key(handle_));
    handle_ = nullptr;
  }
}

RegistryKey::Status RegistryKey::Query(const std::string& name, Type* type, void* data,
                                       std::uint32_t* size) const {
  if (handle_ == nullptr) return Status::InvalidHandle;
  if (size == nullptr && data != nullptr) return Status::InvalidHandle;
  DWORD kind = REG_NONE;
  DWORD room = size != nullptr ? *size : 0;
  LONG error = RegQueryValueExA(Key(handle_), name.c_str(), nullptr, &kind, static_cast<BYTE*>(data),
                                size != nullptr ? &room : nullptr);
  if (size != nullptr && (error == ERROR_SUCCESS || error == ERROR_MORE_DATA)) *size = room;
  if (type != nullptr && (error == ERROR_SUCCESS || error == ERROR_MORE_DATA))
    *type = kind == REG_SZ || kind == REG_EXPAND_SZ ? Type::String : kind == REG_DWORD ? Type::Dword : Type::Binary;
  return StatusOf(error);
}

bool ApplyRegistryFile(const std::string& path) {
  std::vector<std::string> keys = KeyNames(path);
  if (keys.empty()) return false;
  // Each key the file sets is replaced whole, as it would be read from the
  // file alone; the import then adds the file's values and removals.
  for (const std::string& key : keys) {
    if (key.compare(0, sizeof kLocalMachine - 1, kLocalMachine) != 0) continue;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str() + sizeof kLocalMachine - 1);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str() + sizeof kLocalMachine - 1);
  }
  ChildProcess reg;
  ChildProcessOptions options;
  options.input = ChildProcessOptions::Stream::Null;
  options.output = ChildProcessOptions::Stream::Null;
  options.error = ChildProcessOptions::Stream::Null;
  int code = -1;
  return reg.Start("reg import \"" + path + "\"", options) && reg.Wait(-1, &code) && code == 0;
}

}  // namespace platform
