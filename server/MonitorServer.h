// The one process-wide server: page registry, serving phases, the wait loop,
// session threads, schedules, late initialization and shutdown.
#pragma once

#include "platform/Socket.h"
#include "platform/WaitEvent.h"
#include "process/CommandLine.h"
#include "process/Unicorn.h"
#include "server/HttpRequest.h"

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
class MonitorPage;

// Process-wide counters: how requests found their pages, timers serviced.
struct ProviderCounters {
  std::atomic<std::uint64_t> forwarded{0};
  std::atomic<std::uint64_t> pagenotfound{0};
  std::atomic<std::uint64_t> pagefound{0};
  std::atomic<std::uint64_t> forked{0};
  std::atomic<std::uint64_t> unforked{0};
  std::atomic<std::uint64_t> timerserviced{0};
  std::atomic<std::uint64_t> externalwakeups{0};
  std::atomic<std::uint64_t> totalresidenttime{0};
};

class MonitorServer {
 public:
  enum SignalKind { kSignalShutdown = 0, kSignalReconfig = 1, kSignalSuggestShutdown = 2 };
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
  ~MonitorServer();
  MonitorServer(const MonitorServer&) = delete;
  MonitorServer& operator=(const MonitorServer&) = delete;

  // The process-wide server (the one most recently constructed).
  static MonitorServer& Instance();
  static bool HasInstance();

  // False when the wake-up event could not be made.
  bool IsUsable() const;
  void SetStreams(const Streams& streams) { streams_ = streams; }

  const ServerOptions& Options() const { return options_; }
  void SetUniqueName(const char* name) { uniqueName_ = name ? name : ""; }
  const std::string& UniqueName() const { return uniqueName_; }
  void SetModuleDirectory(const std::string& directory) { moduleDirectory_ = directory; }
  const std::string& ModuleDirectory() const { return moduleDirectory_; }
  void SetApplicationName(const std::string& name) { applicationName_ = name; }
  const std::string& ApplicationName() const { return applicationName_; }

  // Registry.
  int AddPage(const char* path, MonitorPage* page);
  MonitorPage* FindPage(const char* path);
  const std::map<std::string, MonitorPage*>& Pages() const { return pages_; }
  // Cleans up and deletes every page, in registry order.
  void DeletePages();

  // Any thread.
  void Signal(int kind);

  int Run();

  int LateProviderInitialization();
  bool LateInitDone() const { return lateInitDone_; }
  void Reconfig();
  bool AllMonitorsIdle();
  void OnProvConShutdownBroadcast();
  std::uint32_t UpdateSchedulers(std::uint32_t elapsedSeconds);
  std::uint32_t UpdateSchedulersTimeout();

  void SetIdleTimeout(std::uint32_t seconds);
  std::uint32_t IdleTimeout() const { return idleTimeout_; }
  bool IdleTimeoutSet() const { return idleTimeoutSet_; }
  // The bound listen port (the -p value until bound).
  std::uint16_t Port() const { return port_; }

  // Set by the index page when the collector has fetched it.
  // A shutdown was suggested (and not yet taken up by the loop).
  bool ShutdownSuggested() const { return shutdownSuggestedEver_; }

  void SetCollectorRequestSeen() { collectorRequestSeen_ = true; }
  bool CollectorRequestSeen() const { return collectorRequestSeen_; }

  // Dispatches one parsed request to its page and returns the status.
  unsigned Request(IOBase& io, const URLParse& request);
  // Serves the first request and, on standard input, every following one.
  int ProcessRequests(IOBase& io, URLParse& request);

  ProviderCounters& Counters() { return counters_; }

  // Messages to the collector and to the provider's own port.
  // A POST without body to the collector (10 s body wait); the status, and
  // the reply body when asked for.
  static int PostToCollector(const std::string& target, std::string* replyBody = nullptr);
  bool SendHeartbeatCommand(bool cancel);
  // Asks for heartbeats while some application page's timers want them.
  void UpdateHeartbeat();
  void SetHeartbeatRequested(bool requested) { heartbeatRequested_ = requested; }
  bool HeartbeatRequested() const { return heartbeatRequested_; }
  bool Heartbeating() const { return heartbeating_; }
  void TellCollectorAboutLateInitialization(bool failure);
  // verb "post" or "get"; reply (optional) gets the body of a 200 reply.
  int InternalRequest(const char* verb, const char* target, const char* body, std::string* reply);
  void ForwardESWakeup(const char* pagePath, const char* item);

 private:
  struct SessionRecord {
    platform::Socket socket;
    long socketNumber = -1;  // for the log, once the session has the socket
    URLParse request;
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
    MonitorPage* page = nullptr;
    std::size_t headLength = 0;
    std::size_t bodyLength = 0;
  };

  int SetupListenSocket();
  int ProcessConnections();
  int InternalSelect(std::uint32_t timeoutSeconds);
  void AcceptConnection(platform::Socket socket);
  // Takes in what the waiting connections have sent and deals with those
  // whose request is in or whose time is up; true when some left the list.
  bool ServePendingConnections();
  // True when the connection is dealt with and leaves the waiting list.
  bool ServePendingConnection(PendingConnection& connection, std::uint64_t now);
  bool TakeRequest(PendingConnection& connection);
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
  std::map<std::string, MonitorPage*> pages_;

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
  // sweep), or null outside a sweep. The caller deletes it.
  class ConfigurationFile* GetCachedMasterConfig();
  // The cached copy when neither flag is set and one is available; else the
  // file, read afresh (for update: the cache is dropped first). The caller
  // deletes what it gets.
  class ConfigurationFile* LoadMasterConfig(bool forUpdate, bool bypassCache);
  void LoadMasterConfigCache();
  void ReleaseMasterConfigCache();
  // Sharing on at the start of a sweep; off (and the cache released) at its end.
  void SetMasterConfigSharing(bool on);
  bool masterConfigCacheAllowed = false;

 private:
  // Views handed out keep the copy alive; a shared pointer also needs no
  // full type here.
  std::shared_ptr<class ConfigurationFile> masterConfigCache_;
};
