#include "config/CIRegKey.h"

#include "platform/Registry.h"

namespace {
long ErrorCode(platform::RegistryKey::Status status) {
  switch (status) {
    case platform::RegistryKey::Status::Ok:
      return kRegSuccess;
    case platform::RegistryKey::Status::NotFound:
      return kRegFileNotFound;
    case platform::RegistryKey::Status::MoreData:
      return kRegMoreData;
    case platform::RegistryKey::Status::InvalidHandle:
      return kRegInvalidHandle;
  }
  return kRegInvalidHandle;
}
}  // namespace

std::atomic<long> CIRegKey::openKeys_{0};

CIRegKey::~CIRegKey() { Close(); }

long CIRegKey::Open(RegKeyHandle parent, const char* subKey, std::uint32_t) {
  if (parent != kRegLocalMachine) return kRegInvalidHandle;
  // Opened beside the held key, so that a failure leaves that one in place.
  auto* key = new platform::RegistryKey;
  long result = ErrorCode(key->Open(subKey != nullptr ? subKey : ""));
  if (result != kRegSuccess) {
    delete key;
    return result;
  }
  Close();
  key_ = key;
  ++openKeys_;
  return kRegSuccess;
}

long CIRegKey::QueryValue(void* buffer, const char* valueName, std::uint32_t* size) const {
  if (key_ == nullptr) return kRegInvalidHandle;
  if (size == nullptr && buffer != nullptr) return kRegInvalidParameter;
  return ErrorCode(key_->Query(valueName != nullptr ? valueName : "", nullptr, buffer, size));
}

long CIRegKey::Close() {
  if (key_ == nullptr) return kRegSuccess;
  delete key_;
  key_ = nullptr;
  --openKeys_;
  return kRegSuccess;
}

long CIRegKey::OpenKeyCount() { return openKeys_; }
