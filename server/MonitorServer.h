// The one process-wide server: page registry, serving phases, the wait loop,
// session threads, schedules, late initialization and shutdown.
#pragma once

#include "platform/Socket.h"
#include "platform/WaitEvent.h"
#include "process/CommandLine.h"
#include "process/Unicorn.h"
#include "server/HttpRequest.h"
#include "server/ServedPage.h"
#include "server/ServerServices.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class IOBase;

class MonitorServer final : public ServerServices {
 public:
  // Results of InternalSelect.
  enum SelectResult { kAccept = 0, kTimeout = 1, kReconfig = 2, kShutdown = 3, kFailure = 4, kInterrupt = 5,
                      kShutdownSuggested = 6 };
  // A connection's request head, and a body it announces to a page served
  // on the main thread, must be in within this time of its accept; the
  // main thread takes them in side by side with everything else, so a
  // client that stalls holds up no other.
  static constexpr unsigned kRequestHeadTimeoutMs = 5000;
  // A head that has not ended within this many bytes is refused (far above
  // any head of fifteen headers).
  static constexpr std::size_t kRequestHeadLimit = 65536;
  // A body announced to a page served on the main thread above this size
  // is refused unread (far above any real alarm list).
  static constexpr std::size_t kRequestBodyLimit = 1048576;
  // A session thread gives a connection up after this long without a byte,
  // so a stalled client cannot hold a shutdown waiting for its session.
  static constexpr unsigned kSessionReadIdleMs = 30000;
  // A write fails when the client takes no byte of it for this long: a
  // client that stops reading loses its connection and its session ends.
  static constexpr unsigned kWriteProgressMs = 10000;
  // After a failed accept or thread start (out of descriptors or threads,
  // say) the loop waits this long before it goes on.
  static constexpr unsigned kResourcePauseMs = 100;

  // Standard streams the serving phases use and close afterwards.
  struct Streams {
    std::FILE* input = stdin;
    std::FILE* output = stdout;
    std::FILE* error = stderr;  // closed after the stdio phase when the log is a file
  };

  explicit MonitorServer(const ServerOptions& options);
  ~MonitorServer() override;

  // False when the wake-up event could not be made.
  bool IsUsable() const;
  void SetStreams(const Streams& streams) { streams_ = streams; }

  const ServerOptions& Options() const override { return options_; }
  void SetUniqueName(const char* name) override { uniqueName_ = name ? name : ""; }
  const std::string& UniqueName() const { return uniqueName_; }
  void SetModuleDirectory(const std::string& directory) { moduleDirectory_ = directory; }
  const std::string& ModuleDirectory() const { return moduleDirectory_; }
  void SetApplicationName(const std::string& name) { applicationName_ = name; }
  const std::string& ApplicationName() const { return applicationName_; }

  // Registry.
  int AddPage(const char* path, ServedPage* page) override;
  ServedPage* FindPage(const char* path);
  const std::map<std::string, ServedPage*>& Pages() const override { return pages_; }
  // Cleans up and deletes every page, in registry order.
  void DeletePages();

  // Any thread.
  void Signal(int kind) override;

  int Run();

  int LateProviderInitialization();
  bool LateInitDone() const override { return lateInitDone_; }
  void Reconfig() override;
  bool AllMonitorsIdle();
  void OnProvConShutdownBroadcast() override;
  std::uint32_t UpdateSchedulers(std::uint32_t elapsedSeconds);
  std::uint32_t UpdateSchedulersTimeout();

  void SetIdleTimeout(std::uint32_t seconds) override;
  std::uint32_t IdleTimeout() const { return idleTimeout_; }
  bool IdleTimeoutSet() const { return idleTimeoutSet_; }
  std::uint16_t Port() const override { return port_; }

  bool ShutdownSuggested() const override { return shutdownSuggestedEver_; }

  void SetCollectorRequestSeen() override { collectorRequestSeen_ = true; }
  bool CollectorRequestSeen() const override { return collectorRequestSeen_; }

  // A request's page and verb, worked out when its connection was accepted.
  struct RoutedRequest {
    ServedPage* page;
    RequestVerb verb;
  };
  // Dispatches one parsed request to its page (the routed one when given)
  // and returns the status.
  unsigned Request(IOBase& io, const URLParse& request, const RoutedRequest* routed = nullptr);
  // Serves the first request and, on standard input, every following one.
  int ProcessRequests(IOBase& io, URLParse& request, const RoutedRequest* routed = nullptr);

  ProviderCounters& Counters() override { return counters_; }
  void SetRequestRecorder(RequestRecorder* recorder) override { requestRecorder_ = recorder; }

  // Messages to the collector and to the provider's own port.
  bool SendHeartbeatCommand(bool cancel);
  // Asks for heartbeats while some application page's timers want them.
  void UpdateHeartbeat();
  void ReevaluateHeartbeat() override;
  void SetHeartbeatRequested(bool requested) { heartbeatRequested_ = requested; }
  bool HeartbeatRequested() const { return heartbeatRequested_; }
  bool Heartbeating() const { return heartbeating_; }
  void TellCollectorAboutLateInitialization(bool failure);
  // verb "post" or "get"; reply (optional) gets the body of a 200 reply.
  int InternalRequest(const char* verb, const char* target, const char* body, std::string* reply) override;
  void ForwardESWakeup(const char* pagePath, const char* item) override;

 private:
  struct SessionRecord {
    platform::Socket socket;
    long socketNumber = -1;  // for the log, once the session has the socket
    URLParse request;
    ServedPage* page = nullptr;
    RequestVerb verb = kVerbOther;
    std::string unread;  // bytes after the head, taken in with it
    std::thread thread;
    std::uint32_t threadId = 0;
    std::atomic<bool> threadEnded{false};
    bool completed = false;
  };

  // An accepted connection whose request (head, and a body for the main
  // thread) is still coming in.
  struct PendingConnection {
    platform::Socket socket;
    std::uint64_t deadline = 0;  // monotonic milliseconds
    std::string received;
    std::size_t scanned = 0;  // start of the first line piece not yet complete
    bool requestLineSeen = false;
    bool headComplete = false;
    // Set once the head is parsed and the request waits for its body.
    std::unique_ptr<URLParse> request;
    ServedPage* page = nullptr;
    RequestVerb verb = kVerbOther;
    std::size_t headLength = 0;
    std::size_t bodyLength = 0;
  };

  int SetupListenSocket();
  int ProcessConnections();
  // The loop's time-out has passed: schedules, and the idle exit (true
  // when the provider ends); timeout becomes the next wait.
  bool IdleExitAfterTimeout(std::uint32_t& timeout);
  // False when no connection was taken (the loop waits again at once).
  bool AcceptFromListenSocket(std::uint32_t elapsed, std::uint32_t& timeout);
  // The orderly end: waiting connections closed, the pages' shutdown, the
  // listen socket closed.
  void ShutDown();
  int InternalSelect(std::uint32_t timeoutSeconds);
  void AcceptConnection(platform::Socket socket);
  // Takes in what the waiting connections have sent and deals with those
  // whose request is in or whose time is up; true when some left the list.
  bool ServePendingConnections();
  // True when the connection is dealt with and leaves the waiting list.
  bool ServePendingConnection(PendingConnection& connection, std::uint64_t now);
  bool TakeRequest(PendingConnection& connection);
  // A session thread serves the request; the connection is closed when
  // none can be started.
  void StartSession(platform::Socket socket, const URLParse& request, RoutedRequest routed, std::string unread);
  void ServeOnMainThread(PendingConnection& connection);
  void ClosePendingConnections();
  void WaitForSessions();
  void JoinLateInitializationNotice();
  void Session(SessionRecord* record);
  void CleanConnectionList();
  void checkConnectionList();
  void OnShutdownSequence();
  void ShutdownListenSocket();
  void RunOneShotPhase();
  void CloseStandardStreams();

  ServerOptions options_;
  Streams streams_;
  std::string uniqueName_;
  std::string moduleDirectory_;
  std::string applicationName_;
  std::atomic<std::uint16_t> port_{0};

  std::atomic<bool> shutdownRequested_{false};
  std::atomic<bool> reconfigRequested_{false};
  std::atomic<bool> shutdownSuggested_{false};
  std::atomic<bool> shutdownSuggestedEver_{false};
  bool lateInitFailed_ = false;
  bool lateInitDone_ = false;
  std::atomic<bool> collectorRequestSeen_{false};

  platform::WaitEvent wakeupEvent_;
  platform::WaitEvent sessionEndedEvent_;
  ReadySignal readySignal_;
  platform::Socket listenSocket_;
  std::list<std::unique_ptr<SessionRecord>> connections_;
  std::list<std::unique_ptr<PendingConnection>> pending_;
  std::thread noticeThread_;  // the late-initialization notice
  std::map<std::string, ServedPage*> pages_;
  std::atomic<RequestRecorder*> requestRecorder_{nullptr};

  std::atomic<std::uint32_t> idleTimeout_;
  std::atomic<bool> idleTimeoutSet_{false};
  std::uint32_t idleSeconds_ = 0;

  ProviderCounters counters_;

  std::atomic<bool> heartbeatRequested_{false};
  bool heartbeating_ = false;
  std::mutex heartbeatLock_;

  // Master configuration cache, shared by the pages during a sweep
  // (server/MasterConfigCache.cpp). Server thread only.
 public:
  // A read-only view of the cached copy (loaded on the first request of a
  // sweep), or null outside a sweep.
  std::unique_ptr<ConfigurationFile> GetCachedMasterConfig();
  std::unique_ptr<ConfigurationFile> LoadMasterConfig(bool forUpdate, bool bypassCache) override;
  void LoadMasterConfigCache();
  void ReleaseMasterConfigCache();
  // Sharing on at the start of a sweep; off (and the cache released) at its end.
  void SetMasterConfigSharing(bool on);
  bool masterConfigCacheAllowed = false;

 private:
  // Views handed out keep the copy alive; a shared pointer also needs no
  // full type here.
  std::shared_ptr<ConfigurationFile> masterConfigCache_;
};
