#include "ProviderFixture.h"

namespace testing_support {

void ProviderFixture::WriteClientRegistry(const std::string& folder, const std::string& extraLines) {
  std::string quoted;  // a registry file's string: backslashes doubled
  for (char c : folder) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
  WriteRegistryFile(dir_.File("registry.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient]\r\n" +
                                                   (folder.empty() ? std::string() : "\"Path\"=\"" + quoted + "\"\r\n") +
                                                   extraLines);
}

Environment ProviderFixture::Env(const Environment& extra) const {
  // The lock folder, registry and collector a test's own, so that tests run side by side.
  Environment env = {{"INVENTORY_PROVIDER_LOCK_DIR", dir_.Path()},
                     {"INVENTORY_PROVIDER_REGISTRY", dir_.File("registry.reg")},
                     {"INVENTORY_PROVIDER_COLLECTOR_PORT", std::to_string(collector_.Port())}};
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

ProviderProcess& ProviderFixture::Start(const std::vector<std::string>& args, const Environment& extra,
                                        const std::vector<std::string>& launcher, const std::string& program) {
  provider_.reset();
  provider_.reset(new ProviderProcess(dir_.Path(), args, Env(extra), program, launcher));
  EXPECT_TRUE(provider_->Started()) << provider_->Log();
  return *provider_;
}

}  // namespace testing_support
