// A machine-wide event known by name, shared between a launching process
// and the process it launched.
#pragma once

#include <string>

namespace platform {

class NamedEvent {
 public:
  NamedEvent() = default;
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Creates the event, not signalled (launcher side). Replaces a stale one.
  bool Create(const std::string& name);
  // Opens an event another process created, for setting it.
  bool OpenExisting(const std::string& name);
  bool IsOpen() const { return handle_ != nullptr; }

  bool Set();
  void Reset();
  // Waits until the event is set or the time runs out; true when set.
  bool Wait(unsigned timeoutMilliseconds);
  // Closes the handle; the creator also removes the name.
  void Close();

 private:
  void* handle_ = nullptr;
  std::string name_;
  bool created_ = false;
};

}  // namespace platform
