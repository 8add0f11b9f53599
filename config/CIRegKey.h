// Owner of one open registry key: opened, read and closed exactly once, also
// when the owner goes out of scope. Results are the Windows error codes, on
// every system.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {
class RegistryKey;
}

// A key handle as callers pass it: a predefined root.
using RegKeyHandle = std::uintptr_t;
constexpr RegKeyHandle kRegLocalMachine = 0x80000002u;  // HKEY_LOCAL_MACHINE

constexpr std::uint32_t kRegKeyAllAccess = 0xF003F;  // KEY_ALL_ACCESS

// The platform's error codes.
constexpr long kRegSuccess = 0;             // ERROR_SUCCESS
constexpr long kRegFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
constexpr long kRegInvalidHandle = 6;       // ERROR_INVALID_HANDLE
constexpr long kRegInvalidParameter = 87;   // ERROR_INVALID_PARAMETER
constexpr long kRegMoreData = 234;          // ERROR_MORE_DATA

class CIRegKey {
 public:
  CIRegKey() = default;
  // Virtual operations, in their fixed order.
  virtual ~CIRegKey();  // closes a key still open
  // Opens subKey below parent (the local-machine root; other parents are
  // invalid handles here). On success a key held before is closed and the
  // new one kept; on failure the object keeps what it had.
  virtual long Open(RegKeyHandle parent, const char* subKey, std::uint32_t access);

  CIRegKey(const CIRegKey&) = delete;
  CIRegKey& operator=(const CIRegKey&) = delete;

  // Reads a value's raw bytes (strings with their NUL); the type is not
  // checked. On entry *size is the room in buffer, on return the value's
  // size; kRegMoreData when it does not fit. Without an open key
  // kRegInvalidHandle, the buffer untouched.
  long QueryValue(void* buffer, const char* valueName, std::uint32_t* size) const;

  // Closes the held key; 0, also when none was open.
  long Close();

  bool IsOpen() const { return key_ != nullptr; }

  // Keys held open by all CIRegKey objects of the process, for leak checks.
  static long OpenKeyCount();

 private:
  platform::RegistryKey* key_ = nullptr;
  static std::atomic<long> openKeys_;
};
