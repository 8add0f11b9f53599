// A machine-wide marker that only one process of a given name may hold.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class SingleInstanceGuard {
 public:
  enum class Result { Acquired, HeldByAnother, AccessDenied, CreateFailed };

  SingleInstanceGuard() = default;
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  // Takes the marker for the name; checking and taking are one atomic step.
  // The marker goes away with the process, however it ends.
  Result Acquire(const std::string& uniqueName);
  bool IsHeld() const { return handle_ >= 0; }
  void Release();

 private:
  std::intptr_t handle_ = -1;  // a descriptor or a system handle
};

}  // namespace platform
