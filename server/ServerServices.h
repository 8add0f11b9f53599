// What a page may ask of the server: its page registry, the idle time-out,
// signals, the port and flags, statistics, and messages to the collector
// and to the provider's own port. MonitorServer gives them; pages know the
// server only through this.
#pragma once

#include "process/CommandLine.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

class ConfigurationFile;
class ServedPage;

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

// Takes the handling time of each request a session or standard input
// serves (statistics gathering, "-g").
class RequestRecorder {
 public:
  virtual ~RequestRecorder() = default;
  virtual void RecordRequest(const char* path, bool isPost, std::uint32_t milliseconds) = 0;
};

class ServerServices {
 public:
  enum SignalKind { kSignalShutdown = 0, kSignalReconfig = 1, kSignalSuggestShutdown = 2 };

  // The process-wide server (the one most recently constructed).
  static ServerServices& Instance();
  static bool HasInstance();

  // The page registry, ordered by path. A page belongs to it once added.
  virtual int AddPage(const char* path, ServedPage* page) = 0;
  virtual const std::map<std::string, ServedPage*>& Pages() const = 0;

  // Any thread.
  virtual void Signal(int kind) = 0;
  virtual void SetIdleTimeout(std::uint32_t seconds) = 0;
  // A shutdown was suggested (and not yet taken up by the loop).
  virtual bool ShutdownSuggested() const = 0;

  virtual const ServerOptions& Options() const = 0;
  virtual void SetUniqueName(const char* name) = 0;
  // The bound listen port (the -p value until bound).
  virtual std::uint16_t Port() const = 0;
  virtual bool LateInitDone() const = 0;
  // Set by the index page when the collector has fetched it.
  virtual void SetCollectorRequestSeen() = 0;
  virtual bool CollectorRequestSeen() const = 0;

  // Sweeps over every page, on the server's thread.
  virtual void Reconfig() = 0;
  virtual void OnProvConShutdownBroadcast() = 0;
  virtual void ForwardESWakeup(const char* pagePath, const char* item) = 0;
  // A page's timers changed: heartbeats are asked for again if wanted.
  virtual void ReevaluateHeartbeat() = 0;

  // Statistics.
  virtual ProviderCounters& Counters() = 0;
  virtual void SetRequestRecorder(RequestRecorder* recorder) = 0;

  // The master configuration: the cached copy when neither flag is set and
  // one is available; else the file, read afresh (for update: the cache is
  // dropped first).
  virtual std::unique_ptr<ConfigurationFile> LoadMasterConfig(bool forUpdate, bool bypassCache) = 0;

  // A request to the provider's own port; verb "post" or "get"; reply
  // (optional) gets the body of a 200 reply.
  virtual int InternalRequest(const char* verb, const char* target, const char* body, std::string* reply) = 0;
  // A POST without body to the collector (10 s body wait); the status, and
  // the reply body when asked for.
  static int PostToCollector(const std::string& target, std::string* replyBody = nullptr);

 protected:
  ServerServices();
  virtual ~ServerServices();
  ServerServices(const ServerServices&) = delete;
  ServerServices& operator=(const ServerServices&) = delete;
};
