// The provider binary started for a test on a registry of the test's own,
// and its replies cut into status line and body.
#pragma once

#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

struct Reply {
  std::string status;  // empty when the connection closed unanswered
  std::string body;
};

class InventoryProviderTest : public ::testing::Test {
 protected:
  // The client key with "Path" (left out when folder is empty) and more lines.
  void WriteRegistry(const std::string& folder, const std::string& more = std::string()) {
    std::string quoted;  // a registry file's string: backslashes doubled
    for (char c : folder) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
    testing_support::WriteRegistryFile(dir_.File("registry.reg"),
                                       "Windows Registry Editor Version 5.00\r\n\r\n"
                                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient]\r\n" +
                                           (folder.empty() ? std::string() : "\"Path\"=\"" + quoted + "\"\r\n") + more +
                                           "\r\n");
  }
  void Start(const testing_support::Environment& extra = testing_support::Environment()) {
    testing_support::Environment env =
        testing_support::ProviderEnvironment(dir_.Path(), dir_.File("registry.reg"), testing_support::FreePort());
    env.insert(env.end(), extra.begin(), extra.end());
    // A log that does not roll over (100 MB), so that tests find every line.
    provider_.reset(
        new testing_support::ProviderProcess(dir_.Path(), {"-u", "-z", "-V", "0x6ff", "-b", "102400"}, env));
    ASSERT_TRUE(provider_->Started()) << provider_->Log();
  }
  Reply Request(const std::string& method, const std::string& target) {
    std::string raw =
        testing_support::Exchange(provider_->Port(), method + " " + target + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
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

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::ProviderProcess> provider_;
};
