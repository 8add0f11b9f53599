#include "pages/StandardPages.h"

#include "config/HtmlTable.h"
#include "platform/Process.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/ServerServices.h"
#include "server/UrlParsing.h"

#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace {
const int kCookieMaintenanceSeconds = 60;

unsigned ReplyWithTable(IOBase* io, const HtmlTable& table) {
  MonitorPage::StandardResponse(io, "200 OK", table.GetText().data(), table.GetLength());
  return kHttpOk;
}
}  // namespace

int StatusPage::Initialize() {
  SetScheduleActive(true);
  AddMonitoredItem("pid_timer", "pid_timer", 1, false, true);
  return 0;
}

unsigned StatusPage::Get(IOBase* io, const char*, const char*, const char* const*, const char* const*, unsigned,
                         unsigned) {
  HtmlTable table;
  table.BeginTable("status");
  table.BeginRow();
  table.BeginCell();
  table.AddCellAttribute("port", std::to_string(ServerServices::Instance().Port()));
  table.EndCell();
  table.EndRow();
  table.EndTable();
  return ReplyWithTable(io, table);
}

unsigned StatusPage::Post(IOBase* io, const char*, const char*, const char* const*, const char* const*, unsigned,
                          unsigned) {
  StandardResponse(io, "405 Method Not Allowed", "", 0);
  return kHttpMethodNotAllowed;
}

void StatusPage::TimeToMonitor(unsigned count, const char* const* itemNames) {
  for (unsigned i = 0; i < count; ++i) {
    if (std::strcmp(itemNames[i], "pid_timer") != 0) continue;
    try {
      std::thread(&StatusPage::SendPIDMessage).detach();
    } catch (const std::system_error&) {
      DiagLog(kLogHardError, "Unable to create %s thread\n", "SendPIDMessage");
    }
  }
}

void StatusPage::SendPIDMessage() {
  DiagLog(kLogTrace, "StatusPage::SendPIDMessage\n");
  std::string target = "/inventory?file=" + ServerServices::Instance().Options().moduleName +
                       "&pid=" + std::to_string(platform::CurrentProcessId());
  DiagLog(kLogTrace, "StatusPage::SendPIDMessage Requesting document: %s\n", target.c_str());
  int status = ServerServices::PostToCollector(target);
  if (status == kHttpOk)
    DiagLog(kLogTrace, "SendPIDMessage gets collector response HTTP_OK\n");
  else
    DiagLog(kLogTrace, "SendPIDMessage gets collector response %d (not ok)\n", status);
}

unsigned SchedulePage::Get(IOBase* io, const char*, const char*, const char* const*, const char* const*, unsigned,
                           unsigned) {
  int state = 0;
  std::uint32_t delay = 0;
  for (const auto& entry : ServerServices::Instance().Pages()) {
    std::uint32_t pageDelay = 0;
    int answer = entry.second->GetScheduleState(pageDelay);
    if (answer > state) state = answer;
    if (state == 1 && pageDelay > delay) delay = pageDelay;
  }
  HtmlTable table;
  table.BeginTable("schedule");
  table.BeginRow();
  table.AddCell(state == 1 ? "wakeme" : state == 2 ? "resident" : "inactive");
  table.AddCell(static_cast<unsigned>(delay));
  table.EndRow();
  table.EndTable();
  return ReplyWithTable(io, table);
}

unsigned ShutdownPage::Post(IOBase* io, const char*, const char* query, const char* const* headerNames,
                            const char* const* headerValues, unsigned, unsigned) {
  // The collector puts "provcon" in the query; a body given as a query
  // string is understood too.
  std::string text = query != nullptr ? query : "";
  if (query == nullptr) ReadRequestBody(io, headerNames, headerValues, text);
  DiagLog(kLogRequestHandling, "ShutdownPage::Post %s.\n", text.c_str());
  QueryStringMap pairs(text.c_str());
  if (std::atoi(pairs.Value("provcon").c_str()) > 0) ServerServices::Instance().OnProvConShutdownBroadcast();
  SignalShutdown();
  StandardResponse(io, "200 OK", "", 0);
  return kHttpOk;
}

unsigned HeartbeatPage::Get(IOBase* io, const char*, const char*, const char* const*, const char* const*, unsigned,
                            unsigned) {
  DiagLog(kLogRequestHandling, "HeartbeatPage::Get\n");
  StandardResponse(io, "200 OK", "", 0);
  DiagLog(kLogMonitoringSetup, "Heartbeat acknowledged\n");
  return kHttpOk;
}

int CookieMaintenancePage::Initialize() {
  DiagLog(kLogHeartbeat, "Cookie maintenance internal timer set for %d seconds\n", kCookieMaintenanceSeconds);
  AddMonitoredItem("cookie-maintenance", "cookie-maintenance", kCookieMaintenanceSeconds, true, false);
  return 0;
}

void CookieMaintenancePage::TimeToMonitor(unsigned count, const char* const* itemNames) {
  for (unsigned i = 0; i < count; ++i) {
    if (std::strcmp(itemNames[i], "cookie-maintenance") != 0) continue;
    DiagLog(kLogHeartbeat, "DoCookieMaintenance\n");
    for (const auto& entry : ServerServices::Instance().Pages()) entry.second->MaintainRecords();
  }
}
