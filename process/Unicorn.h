// Single-instance guard and the ready signal to a launching process.
#pragma once

#include "platform/NamedEvent.h"

#include <string>

class Unicorn {
 public:
  // True when this process is now the only one running under the name.
  static bool TheOne(const std::string& uniqueName);
  // Gives the guard up (teardown).
  static void Release();
};

// The launcher's ready event, set once the listen port is open.
class ReadySignal {
 public:
  static std::string EventName(unsigned port);
  // Sets the launcher's event when requested; the event is held afterwards.
  void Send(bool requested, unsigned port);
  bool IsHeld() const { return event_.IsOpen(); }
  void ResetAndClose();

 private:
  platform::NamedEvent event_;
};
