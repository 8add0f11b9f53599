// A test that starts the real provider: a fresh folder (its lock folder and
// log), a registry file in it, a collector stand-in, and the process, all
// taken down when the test ends.
#pragma once

#include "FakeCollector.h"
#include "HttpClient.h"
#include "ProviderProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class ProviderFixture : public ::testing::Test {
 protected:
  // The registry names folder as the client's "Path" (none when empty), then
  // the extra lines under the same key.
  void WriteClientRegistry(const std::string& folder, const std::string& extraLines = std::string());
  // What a provider of this test is given; extra comes after it.
  Environment Env(const Environment& extra = Environment()) const;
  // Starts the provider (ending one started before) and waits for its port.
  ProviderProcess& Start(const std::vector<std::string>& args, const Environment& extra = Environment(),
                         const std::vector<std::string>& launcher = {}, const std::string& program = std::string());
  void TearDown() override { provider_.reset(); }

  std::uint16_t Port() const { return provider_->Port(); }

  TempDir dir_;
  FakeCollector collector_;
  std::unique_ptr<ProviderProcess> provider_;
};

}  // namespace testing_support
