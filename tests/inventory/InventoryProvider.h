// The provider binary of a test, as the inventory pages' tests start it, and
// its replies cut into status line and body, and a variable of this process
// set for a while.
#pragma once

#include "ProviderFixture.h"
#include "TestSupport.h"
#include "platform/Process.h"

#include <string>

struct Reply {
  std::string status;  // empty when the connection closed unanswered
  std::string body;
  std::string Whole() const { return status + " | " + body; }  // to compare in one go
};

// Sets a variable of this process for the object's lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value)
      : name_(name), old_(platform::EnvironmentValue(name, "\x01")) {
    testing_support::SetEnvironmentValue(name, value.c_str());
  }
  ~ScopedVariable() { testing_support::SetEnvironmentValue(name_, old_ == "\x01" ? nullptr : old_.c_str()); }

 private:
  const char* name_;
  std::string old_;  // "\x01" when it was not set
};

class InventoryProviderTest : public testing_support::ProviderFixture {
 protected:
  // The client key with "Path" (left out when folder is empty) and one more line.
  void WriteRegistry(const std::string& folder, const std::string& line = std::string()) {
    WriteClientRegistry(folder, line + "\r\n");
  }
  // A log that does not roll over (100 MB), so that tests find every line.
  void Start(const testing_support::Environment& extra = testing_support::Environment()) {
    ProviderFixture::Start({"-u", "-z", "-V", "0x6ff", "-b", "102400"}, extra);
    ASSERT_TRUE(provider_->Started());
  }
  Reply Request(const std::string& method, const std::string& target) {
    std::string raw =
        testing_support::Exchange(Port(), method + " " + target + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    Reply r;
    std::size_t lineEnd = raw.find("\r\n"), end = raw.find("\r\n\r\n");
    if (lineEnd != std::string::npos && lineEnd > 9) r.status = raw.substr(9, lineEnd - 9);
    if (end != std::string::npos) r.body = raw.substr(end + 4);
    return r;
  }
  bool StillRunning() {
    int code = 0;
    return !provider_->WaitForExit(0, &code);
  }
};
