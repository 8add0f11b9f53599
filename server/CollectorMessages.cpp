// The server's own messages: heartbeat registration, the late-initialization
// notice, internal requests and forwarded wake-ups.
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/MonitorServer.h"
#include "server/ProviderCon.h"

#include <string>

bool MonitorServer::SendHeartbeatCommand(bool cancel) {
  DiagLog(kLogHeartbeat, "MonitorServer::SendHeartbeatCommand\n");
  std::string target = "/heartbeat/monitor?port=" + std::to_string(static_cast<unsigned>(port_));
  if (cancel) target += "&cancel=1";
  DiagLog(kLogHeartbeat, "MonitorServer::SendHeartbeatCommand Requesting document: %s\n", target.c_str());
  int status = PostToCollector(target);
  if (status == kHttpOk) {
    DiagLog(kLogHeartbeat, "MonitorServer::SendHeartbeatCommand gets collector response HTTP_OK\n");
    return true;
  }
  DiagLog(kLogWarning, "MonitorServer::SendHeartbeatCommand gets collector response %d (not ok)\n", status);
  return false;
}

void MonitorServer::UpdateHeartbeat() {
  // Evaluations from different threads each see the state the last one left.
  std::lock_guard<std::mutex> guard(heartbeatLock_);
  DiagLog(kLogHeartbeat, "MonitorServer::UpdateHeartbeat\n");
  bool wanted = false;
  for (auto& entry : pages_) {
    if (entry.second->IsFrameworkPage()) continue;
    if (entry.second->TimersTriggerHeartbeat()) {
      DiagLog(kLogHeartbeat, "timers on page %s trigger heartbeating\n", entry.first.c_str());
      wanted = true;
      break;
    }
  }
  if (wanted == heartbeating_) return;
  SendHeartbeatCommand(!wanted);
  heartbeating_ = wanted;
}

void MonitorServer::ReevaluateHeartbeat() {
  if (heartbeatRequested_) UpdateHeartbeat();
}

void MonitorServer::TellCollectorAboutLateInitialization(bool failure) {
  DiagLog(kLogServerFlow, "MonitorServer::TellCollectorAboutLateInitialization zeroSuccessCode %d\n", failure ? 1 : 0);
  std::string target = "/inventory?file=" + applicationName_ + "&provstatus=" + (failure ? "0" : "1");
  DiagLog(kLogTrace, "MonitorServer::TellCollectorAboutLateInitialization Requesting document: %s\n", target.c_str());
  int status = PostToCollector(target);
  if (status == kHttpOk)
    DiagLog(kLogTrace, "TellCollectorAboutLateInitialization gets collector response HTTP_OK\n");
  else
    DiagLog(kLogTrace, "TellCollectorAboutLateInitialization gets collector response %d (not ok)\n", status);
}

int MonitorServer::InternalRequest(const char* verb, const char* target, const char* body, std::string* reply) {
  DiagLog(kLogServerFlow, "MonitorServer::InternalRequest Requesting document: %s %s.\n", verb, target);
  CProviderCon connection(port_, verb);
  int status = connection.requestDocument(target, body, true, CProviderCon::kMessageBodyTimeoutSeconds);
  if (reply != nullptr && status == kHttpOk && connection.BodyLength() != 0) *reply = connection.Body();
  return status;
}

void MonitorServer::ForwardESWakeup(const char* pagePath, const char* item) {
  DiagLog(kLogServerFlow, "MonitorServer::ForwardESWakeup (%s,%s)\n", pagePath, item);
  ServedPage* page = FindPage(pagePath);
  if (page == nullptr) {
    DiagLog(kLogWarning, "MonitorServer::ForwardESWakeup can't find page (%s)\n", pagePath);
    return;
  }
  DiagLog(kLogTrace, "MonitorServer::ForwardESWakeup found matching page, forwarding\n");
  page->ExternalWakeupRecieved(item);
}
