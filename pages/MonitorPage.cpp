#include "pages/MonitorPage.h"

#include "config/ConfigurationFile.h"
#include "config/HtmlTable.h"
#include "config/ProviderError.h"
#include "config/XMLAccumulator.h"
#include "process/DiagLog.h"
#include "server/HttpRequest.h"
#include "server/HttpResponse.h"
#include "server/ServerServices.h"
#include "server/ProviderCon.h"
#include "server/UrlParsing.h"
#include "platform/AsciiText.h"


namespace {
// The page path and the item of an external schedule command are cut to
// this many characters once encoded.
const std::size_t kEncodedValueLimit = 1023;

bool QueryStartsWith(const char* query, const char* key, std::size_t length) {
  return query != nullptr && StartsWithNoCase(query, key, length);
}
}  // namespace

MonitorPage::MonitorPage(const char* path, bool frameworkPage) : path_(path), frameworkPage_(frameworkPage) {
  InitializeLock();
}

MonitorPage::~MonitorPage() {
  asyncCookies_.Term();
  DeleteLock();
}

int MonitorPage::Register() { return ServerServices::Instance().AddPage(path_, this); }

int MonitorPage::Initialize() { return 0; }

void MonitorPage::Cleanup() {}

unsigned MonitorPage::GetEx(IOBase*, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                            std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {
  return kHttpInternalError;
}

unsigned MonitorPage::Get(IOBase* io, const char* path, const char*, const char* const*, const char* const*,
                          unsigned, unsigned) {
  DiagLog(kLogTrace, "MonitorPage::Get default function called with path %s\n", path);
  StandardResponse(io, "200 OK", "", 0);
  return kHttpOk;
}

int MonitorPage::DescribePage(XMLAccumulator& xml, const char* path) {
  WritePageElement(xml, path, nullptr, false, nullptr, nullptr, nullptr);
  return 0;
}

void MonitorPage::WritePageElement(XMLAccumulator& xml, const char* path, const char* description, bool metadata,
                                   const char* linkID, const char* iconID, const char* provider) {
  xml.OpenElement("page");
  xml.AddAttribute("path", path);
  auto optional = [&xml](const char* name, const char* value) {
    if (value != nullptr && *value != '\0') xml.AddAttribute(name, value);
  };
  optional("description", description);
  optional("provider", provider);
  optional("linkID", linkID);
  optional("iconID", iconID);
  xml.AddAttribute("metadata", metadata ? "y" : "n");
  xml.CloseElement();
}

void MonitorPage::WriteTimerXml(XMLAccumulator& xml) {
  xml.OpenElement("TIMERS");
  xml.AddAttribute("secondspassed", schedule_.SecondsPassed());
  for (const MonitoredItem& item : schedule_.Items()) {
    xml.OpenElement("TIMER", item.description);
    xml.AddAttribute("ID", item.ID);
    xml.AddAttribute("interval", item.interval);
    xml.AddAttribute("remains", item.remains);
    xml.AddAttribute("renews", item.renews ? "1" : "0");
    xml.AddAttribute("initial", item.initial ? "1" : "0");
    xml.CloseElement();
  }
  xml.CloseElement();
}

std::string MonitorPage::ExportTimerXml() {
  XMLAccumulator xml;
  WriteTimerXml(xml);
  std::string text;
  xml.GetXml(text, 0);
  return text;
}

std::string MonitorPage::ExportTimerTable() {
  HtmlTable table;
  table.BeginTable("monitorexport");
  for (const MonitoredItem& item : schedule_.Items()) {
    table.BeginRow();
    table.AddCell(item.ID);
    table.AddCell(item.description);
    table.AddCell(item.interval);
    table.AddCell(item.remains);
    table.EndRow();
  }
  table.EndTable();
  return table.GetText();
}

void MonitorPage::ImportTimerTable(const std::string& text, bool dueNow) {
  schedule_.Import(ReadHtmlTable(text, "tr", "td"), dueNow);
}

unsigned MonitorPage::ReplyWithTimerStatus(IOBase* io) {
  DiagLog(kLogTimers, "MonitorPage::ReplyWithTimerStatus\n");
  XMLAccumulator xml;
  WriteTimerXml(xml);
  ProviderErrorList noErrors;
  XmlResponse(io, "200 OK", &noErrors, &xml);
  return kHttpOk;
}

unsigned MonitorPage::PostEx(IOBase*, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                             std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {
  return kHttpInternalError;
}

unsigned MonitorPage::Post(IOBase* io, const char* path, const char*, const char* const*, const char* const*,
                           unsigned, unsigned) {
  DiagLog(kLogTrace, "MonitorPage::Post default function called with path %s\n", path);
  StandardResponse(io, "405 Method Not Allowed", "", 0);
  return kHttpMethodNotAllowed;
}

int MonitorPage::GetScheduleState(std::uint32_t&) { return 0; }

bool MonitorPage::ForkOnRequest(const char*, const char*, const char* const*, const char* const*, unsigned) {
  DiagLog(kLogTrace, "Default ForkOnRequest returns true\n");
  return true;
}

void MonitorPage::Reconfig() {}

void MonitorPage::OnShutdown() { workers_.WaitForAll(); }

void MonitorPage::OnProvConShutdown() {}

void MonitorPage::TimeToMonitor(unsigned count, const char* const* itemNames) {
  for (unsigned i = 0; i < count; ++i) DiagLog(kLogTimers, "Time to monitor item %s\n", itemNames[i]);
}

bool MonitorPage::TimersTriggerHeartbeat() { return !schedule_.IsEmpty(); }

void MonitorPage::ExternalWakeupRecieved(const char* itemId) {
  DiagLog(kLogWakeUp, "MonitorPage::ExternalWakeupRecieved itemID is %s\n", itemId);
}

std::uint32_t MonitorPage::GetSchedulerTimeout() { return schedule_.NextTimeout(); }

bool MonitorPage::IsIdle() {
  if (!schedule_.IsIdle()) return false;
  if (workers_.Empty()) return true;
  workersMaintenance();
  return workers_.Empty();
}

void MonitorPage::InitializeLock() { pageLock_.reset(new std::recursive_mutex); }

void MonitorPage::DeleteLock() { pageLock_.reset(); }

MonitorMetadata& MonitorPage::GetMetadata(MonitorMetadata& metadata) { return metadata; }

int MonitorPage::InitializeOnce() {
  if (initialized_) return 0;
  initialized_ = true;
  return Initialize();
}

void MonitorPage::MaintainRecords() {
  asyncCookies_.AgeCookies();
  workersMaintenance();
}

void MonitorPage::OnPreShutdown() {
  DiagLog(kLogTrace, "MonitorPage::OnPreShutdown requesting worker functions to finish\n");
  workers_.RequestExitAll();
}

bool MonitorPage::isWorkerMessage(const char* query) { return IsWorkerMessageQuery(query); }

std::shared_ptr<WorkerControlObject> MonitorPage::CreateWorkerFunction(WorkerFunction function,
                                                                       const char* description,
                                                                       const char* parameters, const char* cookieId,
                                                                       std::uint32_t userValue) {
  return workers_.Create(path_, std::move(function), description, parameters, cookieId, userValue);
}

void MonitorPage::workersMaintenance() { workers_.Maintenance(); }

unsigned MonitorPage::ReplyWithWorkerStatus(IOBase* io) { return workers_.ReplyWithStatus(io); }

void MonitorPage::StartAsyncOperation(const std::string& outside, std::int32_t holdTime, std::uint32_t expiryDelay,
                                      std::string& asyncId, std::string& replyText) {
  asyncCookies_.StartOperation(outside, holdTime, expiryDelay, asyncId, replyText);
}

bool MonitorPage::SetAsyncProgress(const std::string& asyncId, std::int32_t progress, const std::string& result) {
  return asyncCookies_.SetCookieResult(asyncId, result, progress);
}

bool MonitorPage::CompleteAsyncWithXml(const std::string& asyncId, const ProviderErrorList& errors,
                                       const XMLAccumulator& xml) {
  return asyncCookies_.SetResultWithXml(asyncId, kProgressComplete, errors, xml);
}

bool MonitorPage::SetAsyncProgressWithXml(const std::string& asyncId, std::int32_t progress,
                                          const ProviderErrorList& errors, const XMLAccumulator& xml) {
  return asyncCookies_.SetResultWithXml(asyncId, progress, errors, xml);
}

void MonitorPage::AgeAsyncCookies() { asyncCookies_.AgeCookies(); }

void MonitorPage::SetAsyncArchiveName(const std::string& fileName) { asyncCookies_.SetArchiveName(fileName); }

unsigned MonitorPage::ReplyWithAsyncStatus(IOBase* io) { return asyncCookies_.ReplyWithStatus(io); }

bool MonitorPage::HandleAsyncRequest(const char* query, IOBase* io) { return asyncCookies_.HandleRequest(query, io); }

namespace {
void ReevaluateHeartbeat() { ServerServices::Instance().ReevaluateHeartbeat(); }
}  // namespace

void MonitorPage::AdvanceSchedule(std::uint32_t elapsedSeconds) {
  std::vector<MonitoredItem> due = schedule_.Settle(elapsedSeconds);
  if (due.empty()) return;
  std::vector<const char*> names;
  for (const auto& item : due) names.push_back(item.ID.c_str());
  TimeToMonitor(static_cast<unsigned>(names.size()), names.data());
  ServerServices::Instance().Counters().timerserviced += names.size();
  if (schedule_.IsEmpty()) ReevaluateHeartbeat();
}

void MonitorPage::AddMonitoredItem(const char* name, const char* description, std::uint32_t interval, bool renews,
                                   bool initial, int* result) {
  DiagLog(kLogTimers, "MonitorPage::AddMonitoredItem [%s,%u]\n", name, interval);
  bool wasEmpty = schedule_.IsEmpty();
  int r = schedule_.Add(name, description ? description : "", interval, renews, initial);
  if (result != nullptr) *result = r;
  if (wasEmpty) ReevaluateHeartbeat();
}

bool MonitorPage::RemoveMonitoredItem(const char* name, int* found) {
  int r = schedule_.Remove(name);
  if (found != nullptr) *found = r;
  if (r != 0 && schedule_.IsEmpty()) ReevaluateHeartbeat();
  return r != 0;
}

bool MonitorPage::ModifyMonitoredItem(const char* name, std::uint32_t interval, int* result) {
  bool wasEmpty = schedule_.IsEmpty();
  int r = schedule_.Modify(name, interval);
  if (result != nullptr) *result = r;
  if (wasEmpty) ReevaluateHeartbeat();
  return r == kScheduleModified;
}

bool MonitorPage::SendESCommand(const char* command, const char* item, std::uint32_t interval, int* result) {
  DiagLog(kLogWakeUp, "MonitorPage::SendESCommand command %s cookie %s interval %u\n", command, item, interval);
  std::string target = std::string("/extschedule?cmd=") + command + "&page=" + UrlEncode(path_, kEncodedValueLimit) +
                       "&cookie=" + UrlEncode(item ? item : "", kEncodedValueLimit) + "&delay=" + std::to_string(interval);
  DiagLog(kLogWakeUp, "MonitorPage::SendESCommand Requesting document: %s\n", target.c_str());
  std::string body;
  int status = ServerServices::PostToCollector(target, &body);
  if (status != kHttpOk) {
    DiagLog(kLogWakeUp, "MonitorPage::SendESCommand  gets collector response %d (not ok)\n", status);
    return false;
  }
  DiagLog(kLogWakeUp, "MonitorPage::SendESCommand  gets collector response HTTP_OK\n");
  if (result != nullptr) {
    *result = kScheduleCommError;
    if (!body.empty()) {
      DiagLog(kLogWakeUp, "MonitorPage::SendESCommand reply body %s\n", body.c_str());
      *result = ScheduleResultFromName(body);
    }
  }
  return true;
}

bool MonitorPage::SendESAdd(const char* item, std::uint32_t interval, int* result) {
  return SendESCommand("add", item, interval, result);
}
bool MonitorPage::SendESAddRenew(const char* item, std::uint32_t interval, int* result) {
  return SendESCommand("addrenew", item, interval, result);
}
bool MonitorPage::SendESModify(const char* item, std::uint32_t interval, int* result) {
  return SendESCommand("mod", item, interval, result);
}
bool MonitorPage::SendESDelete(const char* item, int* result) { return SendESCommand("del", item, 0, result); }

std::unique_ptr<ConfigurationFile> MonitorPage::LoadMasterConfig(bool forUpdate, bool bypassCache) {
  return ServerServices::Instance().LoadMasterConfig(forUpdate, bypassCache);
}

int MonitorPage::InternalRequestPost(const char* target, const char* body, std::string* reply) {
  return ServerServices::Instance().InternalRequest("post", target, body, reply);
}

int MonitorPage::InternalRequestGet(const char* target, std::string* reply) {
  return ServerServices::Instance().InternalRequest("get", target, nullptr, reply);
}

bool MonitorPage::IsTimerStatusRequest(const char* query) {
  DiagLog(kLogTimers, "MonitorPage::IsTimerStatusRequest\n");
  bool yes = QueryStartsWith(query, "timerstatus=", 12);
  DiagLog(kLogTimers, yes ? "MonitorPage::IsTimerStatusRequest returns true\n"
                     : "MonitorPage::IsTimerStatusRequest returns false\n");
  return yes;
}

bool MonitorPage::IsAsyncStatusRequest(const char* query) {
  DiagLog(kLogHeartbeat, "MonitorPage::IsAsyncStatusRequest\n");
  bool yes = QueryStartsWith(query, "asyncstatus=", 12);
  DiagLog(kLogHeartbeat, yes ? "MonitorPage::IsAsyncStatusRequest returns true\n"
                     : "MonitorPage::IsAsyncStatusRequest returns false\n");
  return yes;
}

bool MonitorPage::IsWorkerStatusRequest(const char* query) {
  bool yes = QueryStartsWith(query, "workerstatus=", 13);
  DiagLog(kLogHeartbeat, yes ? "MonitorPage::IsWorkerStatusRequest returns true\n"
                     : "MonitorPage::IsWorkerStatusRequest returns false\n");
  return yes;
}

void MonitorPage::SetIdleTimeout(std::uint32_t seconds) { ServerServices::Instance().SetIdleTimeout(seconds); }

void MonitorPage::SignalShutdown() { ServerServices::Instance().Signal(ServerServices::kSignalShutdown); }

void MonitorPage::SignalSuggestShutdown() {
  ServerServices::Instance().Signal(ServerServices::kSignalSuggestShutdown);
}

bool MonitorPage::FirstRun() { return ServerServices::Instance().Options().firstRun; }

bool MonitorPage::CrashRecovery() { return ServerServices::Instance().Options().crashRecovery; }

void MonitorPage::SetProviderUniqueName(const char* name) { ServerServices::Instance().SetUniqueName(name); }

int MonitorPage::StandardResponse(IOBase* io, const char* status, const char* body, std::size_t length,
                                  const char* const* headerNames, const char* const* headerValues) {
  return WriteStandardResponse(*io, status, body, length, headerNames, headerValues);
}

int MonitorPage::XmlResponse(IOBase* io, const char* status, const ProviderErrorList* errors,
                             const XMLAccumulator* xml, const char* const* headerNames,
                             const char* const* headerValues) {
  return WriteXmlResponse(*io, status, errors, xml, headerNames, headerValues);
}

bool MonitorPage::ReadRequestBody(IOBase* io, const char* const* headerNames, const char* const* headerValues,
                                  std::string& body) {
  return ReadBody(*io, headerNames, headerValues, body);
}
