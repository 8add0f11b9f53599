// Base class of every page the server hosts.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "pages/Schedule.h"
#include "pages/AsyncCookie.h"
#include "pages/WorkerControl.h"
#include "server/ServedPage.h"

class IOBase;
class XMLAccumulator;
class MonitorMetadata;
class ProviderErrorList;
class ConfigurationFile;

class MonitorPage : public ServedPage {
 public:
  // The path must outlive the page (a literal).
  MonitorPage(const char* path, bool frameworkPage);

  // Virtual operations, in their fixed order.
  ~MonitorPage() override;
  int Register() override;
  int Initialize() override;
  void Cleanup() override;
  unsigned GetEx(IOBase* io, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                 std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) override;
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  int DescribePage(XMLAccumulator& xml, const char* path) override;
  unsigned PostEx(IOBase* io, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                  std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  // 0 inactive, 1 wake me after wakeDelay seconds, 2 stay resident.
  int GetScheduleState(std::uint32_t& wakeDelay) override;
  // verb: a RequestVerb (server/HttpRequest.h). True: serve on a session
  // thread of its own.
  bool ForkOnRequest(const char* path, const char* query, const char* const* headerNames,
                     const char* const* headerValues, unsigned verb) override;
  void Reconfig() override;
  void OnShutdown() override;
  void OnProvConShutdown() override;
  void TimeToMonitor(unsigned count, const char* const* itemNames) override;
  bool TimersTriggerHeartbeat() override;
  void ExternalWakeupRecieved(const char* itemId) override;
  std::uint32_t GetSchedulerTimeout() override;
  bool IsIdle() override;
  void InitializeLock() override;
  void DeleteLock() override;
  MonitorMetadata& GetMetadata(MonitorMetadata& metadata) override;

  const char* Path() const { return path_; }
  bool IsFrameworkPage() const final { return frameworkPage_; }
  bool IsInitialized() const { return initialized_; }
  int InitializeOnce() final;
  void MaintainRecords() final;
  void OnPreShutdown() final;
  void AdvanceSchedule(std::uint32_t elapsedSeconds) final;

  // Schedule of monitored items.
  void AddMonitoredItem(const char* name, const char* description, std::uint32_t interval, bool renews, bool initial,
                        int* result = nullptr);
  bool RemoveMonitoredItem(const char* name, int* found = nullptr);
  bool ModifyMonitoredItem(const char* name, std::uint32_t interval, int* result = nullptr);
  void SetScheduleActive(bool active) { schedule_.SetActive(active); }
  PageSchedule& Schedule() { return schedule_; }

  // External timers kept by the collector: "add", "addrenew", "mod", "del".
  bool SendESCommand(const char* command, const char* item, std::uint32_t interval, int* result = nullptr);
  bool SendESAdd(const char* item, std::uint32_t interval, int* result = nullptr);
  bool SendESAddRenew(const char* item, std::uint32_t interval, int* result = nullptr);
  bool SendESModify(const char* item, std::uint32_t interval, int* result = nullptr);
  bool SendESDelete(const char* item, int* result = nullptr);

  // The schedule as the timer XML document, and as "monitorexport" table.
  void WriteTimerXml(XMLAccumulator& xml);
  std::string ExportTimerXml();
  std::string ExportTimerTable();
  void ImportTimerTable(const std::string& text, bool dueNow);
  unsigned ReplyWithTimerStatus(IOBase* io);

  // The page element of the index; empty or null texts are left out.
  static void WritePageElement(XMLAccumulator& xml, const char* path, const char* description, bool metadata,
                               const char* linkID, const char* iconID, const char* provider);

  static bool IsTimerStatusRequest(const char* query);
  static bool IsAsyncStatusRequest(const char* query);
  static bool IsWorkerStatusRequest(const char* query);

  // Workers: a prepared worker that the caller starts with Start.
  static bool isWorkerMessage(const char* query);
  std::shared_ptr<WorkerControlObject> CreateWorkerFunction(WorkerFunction function, const char* description,
                                                            const char* parameters, const char* cookieId,
                                                            std::uint32_t userValue);
  void workersMaintenance();
  unsigned ReplyWithWorkerStatus(IOBase* io);
  WorkerList& Workers() { return workers_; }

  // Asynchronous operation records, kept in the page's archive.
  void StartAsyncOperation(const std::string& outside, std::int32_t holdTime, std::uint32_t expiryDelay,
                           std::string& asyncId, std::string& replyText);
  bool SetAsyncProgress(const std::string& asyncId, std::int32_t progress, const std::string& result);
  bool CompleteAsyncWithXml(const std::string& asyncId, const ProviderErrorList& errors, const XMLAccumulator& xml);
  bool SetAsyncProgressWithXml(const std::string& asyncId, std::int32_t progress, const ProviderErrorList& errors,
                               const XMLAccumulator& xml);
  void AgeAsyncCookies();
  void SetAsyncArchiveName(const std::string& fileName);
  unsigned ReplyWithAsyncStatus(IOBase* io);
  // True when the query asked for status, matches or a result (answered).
  bool HandleAsyncRequest(const char* query, IOBase* io);
  AsyncCookieArchive& AsyncCookies() { return asyncCookies_; }

  // The master configuration, from the server's cache or the file (null
  // when there is none).
  std::unique_ptr<ConfigurationFile> LoadMasterConfig(bool forUpdate, bool bypassCache = false);

  // Services of the server, for pages.
  static void SetIdleTimeout(std::uint32_t seconds);
  static void SignalShutdown();
  static void SignalSuggestShutdown();
  static bool FirstRun();
  static bool CrashRecovery();
  static void SetProviderUniqueName(const char* name);
  static int StandardResponse(IOBase* io, const char* status, const char* body, std::size_t length,
                              const char* const* headerNames = nullptr, const char* const* headerValues = nullptr);
  // Requests to the provider's own port; reply gets the body of a 200.
  static int InternalRequestPost(const char* target, const char* body, std::string* reply = nullptr);
  static int InternalRequestGet(const char* target, std::string* reply = nullptr);
  static int XmlResponse(IOBase* io, const char* status, const ProviderErrorList* errors, const XMLAccumulator* xml,
                         const char* const* headerNames = nullptr, const char* const* headerValues = nullptr);
  static bool ReadRequestBody(IOBase* io, const char* const* headerNames, const char* const* headerValues,
                              std::string& body);

 protected:
  // Subclasses that share state between requests take this.
  std::recursive_mutex& PageLock() { return *pageLock_; }

 private:
  const char* path_;
  std::unique_ptr<std::recursive_mutex> pageLock_;
  PageSchedule schedule_;
  bool frameworkPage_;
  bool initialized_ = false;
  WorkerList workers_;
  AsyncCookieArchive asyncCookies_;
};
