// Read access to configuration values under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class RegistryKey {
 public:
  enum class Status { Ok, NotFound, MoreData, InvalidHandle };
  enum class Type { String, Dword, Binary };

  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens a key below HKEY_LOCAL_MACHINE, such as "SOFTWARE\\Vendor\\App".
  Status Open(const std::string& subKey);
  bool IsOpen() const { return handle_ != nullptr; }
  void Close();

  // Copies a value into data, as the Windows call does: strings with their
  // terminating NUL, numbers as four little-endian bytes. On entry size is the
  // room in data, on return the size of the value; MoreData when it does not
  // fit. data may be null to ask for the size only.
  Status Query(const std::string& name, Type* type, void* data, std::uint32_t* size) const;

 private:
  void* handle_ = nullptr;
};

// Set-up (tests, installation): applies a registry export file (.reg) to the
// registry, so that RegistryKey finds what the file holds from now on, in
// every process. Each key the file names is replaced whole by the file's
// values; a key written "[-KEY]" is removed. Where the registry is itself an
// export file (INVENTORY_PROVIDER_REGISTRY names it) there is nothing to
// apply: pointing the variable at the file does the same.
bool ApplyRegistryFile(const std::string& path);

}  // namespace platform
