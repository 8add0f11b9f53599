#include "platform/Registry.h"

#include "platform/Process.h"
#include "platform/posix/RegistryFile.h"

#include <cstring>

namespace platform {

namespace {
const char kLocalMachine[] = "HKEY_LOCAL_MACHINE\\";

struct OpenKey {
  RegistryFile file;
  std::string key;
};

OpenKey* Key(void* handle) { return static_cast<OpenKey*>(handle); }
}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::Status RegistryKey::Open(const std::string& subKey) {
  Close();
  auto* key = new OpenKey;
  std::string path =
      EnvironmentValue("INVENTORY_PROVIDER_REGISTRY", "/etc/inventory-provider/registry.reg");
  key->key = kLocalMachine + subKey;
  if (!key->file.Load(path) || !key->file.HasKey(key->key)) {
    delete key;
    return Status::NotFound;
  }
  handle_ = key;
  return Status::Ok;
}

void RegistryKey::Close() {
  delete Key(handle_);
  handle_ = nullptr;
}

RegistryKey::Status RegistryKey::Query(const std::string& name, Type* type, void* data,
                                       std::uint32_t* size) const {
  if (handle_ == nullptr) return Status::InvalidHandle;
  const RegistryValue* value = Key(handle_)->file.Find(Key(handle_)->key, name);
  if (value == nullptr) return Status::NotFound;
  std::string bytes;
  Type kind = Type::String;
  switch (value->kind) {
    case RegistryValue::Kind::String:
      bytes = value->text;
      bytes.push_back('\0');
      break;
    case RegistryValue::Kind::Dword:
      kind = Type::Dword;
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value->number >> (8 * i)) & 0xFF));
      break;
    case RegistryValue::Kind::Binary:
      kind = Type::Binary;
      bytes.assign(value->bytes.begin(), value->bytes.end());
      break;
  }
  if (type != nullptr) *type = kind;
  if (size == nullptr) return data == nullptr ? Status::Ok : Status::InvalidHandle;
  std::uint32_t room = *size;
  *size = static_cast<std::uint32_t>(bytes.size());
  if (data == nullptr) return Status::Ok;
  if (room < bytes.size()) return Status::MoreData;
  std::memcpy(data, bytes.data(), bytes.size());
  return Status::Ok;
}

// The registry is the file the variable names.
bool ApplyRegistryFile(const std::string&) { return true; }

}  // namespace platform
