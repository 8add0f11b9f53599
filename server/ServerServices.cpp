#include "server/ServerServices.h"

#include "server/ProviderCon.h"

namespace {
ServerServices* g_instance = nullptr;
}  // namespace

ServerServices::ServerServices() { g_instance = this; }

ServerServices::~ServerServices() {
  if (g_instance == this) g_instance = nullptr;
}

ServerServices& ServerServices::Instance() { return *g_instance; }

bool ServerServices::HasInstance() { return g_instance != nullptr; }

int ServerServices::PostToCollector(const std::string& target, std::string* replyBody) {
  CProviderCon connection(CProviderCon::CollectorPort(), "post");
  int status = connection.requestDocument(target.c_str(), nullptr, true, CProviderCon::kMessageBodyTimeoutSeconds);
  if (replyBody != nullptr) *replyBody = connection.Body();
  return status;
}
