#include "server/MonitorServer.h"

#include "platform/Process.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/IOChannel.h"
#include "server/RequestSource.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <system_error>
#include <vector>

namespace {
unsigned ThreadNumber(const std::thread& thread) {
  return static_cast<unsigned>(std::hash<std::thread::id>{}(thread.get_id()));
}

std::string PeerText(const platform::Socket& socket) {
  std::string address;
  std::uint16_t port = 0;
  platform::PeerName(socket, &address, &port);
  return address + ":" + std::to_string(port);
}

// Paths are looked up in a buffer of this many characters.
const std::size_t kPathBufferSize = 260;
// The shutdown looks for ended sessions this often.
const unsigned kSessionWaitPauseMs = 250;

void CloseConnection(platform::Socket& socket) {
  platform::ShutdownSocket(socket);
  socket.Close();
}
}  // namespace

MonitorServer::MonitorServer(const ServerOptions& options)
    : options_(options), port_(options.port), idleTimeout_(options.idleTimeout) {}

MonitorServer::~MonitorServer() {
  JoinLateInitializationNotice();
  ClosePendingConnections();
  for (auto& record : connections_)
    if (record->thread.joinable()) record->thread.join();
  ShutdownListenSocket();
}

bool MonitorServer::IsUsable() const { return wakeupEvent_.IsValid() && sessionEndedEvent_.IsValid(); }

int MonitorServer::AddPage(const char* path, ServedPage* page) {
  DiagLog(kLogInputOutput, "Adding page %s\n", path);
  if (!pages_.emplace(path, page).second) {
    DiagLog(kLogCore, "page %s failed to insert\n", path);
    return 1;
  }
  return 0;
}

ServedPage* MonitorServer::FindPage(const char* path) {
  DiagLog(kLogServerFlow, "MonitorServer::FindPage(%s)\n", path);
  std::string text(path, strnlen(path, kPathBufferSize - 1));
  for (;;) {
    auto it = pages_.find(text);
    if (it != pages_.end() && it->second != nullptr) return it->second;
    std::size_t slash = text.rfind('/');
    if (slash == std::string::npos) return nullptr;
    text.erase(slash);
  }
}

void MonitorServer::DeletePages() {
  for (auto& entry : pages_) {
    DiagLog(kLogInputOutput, "Call Cleaning up for page %s\n", entry.first.c_str());
    entry.second->Cleanup();
    delete entry.second;
  }
  pages_.clear();
}

void MonitorServer::Signal(int kind) {
  switch (kind) {
    case kSignalShutdown:
      DiagLog(kLogServerFlow, "Signal Shutdown\n");
      shutdownRequested_ = true;
      break;
    case kSignalReconfig:
      DiagLog(kLogServerFlow, "Signal Reconfig\n");
      reconfigRequested_ = true;
      break;
    case kSignalSuggestShutdown:
      DiagLog(kLogServerFlow, "Signal SuggestShutdown\n");
      shutdownSuggested_ = true;
      shutdownSuggestedEver_ = true;
      break;
    default:
      return;
  }
  wakeupEvent_.Set();
}

void MonitorServer::SetIdleTimeout(std::uint32_t seconds) {
  idleTimeout_ = seconds;
  idleTimeoutSet_ = true;
}

void MonitorServer::RunOneShotPhase() {
  std::FILE* output = streams_.output;
  std::FILE* file = nullptr;
  if (options_.oneShotOutput) {
    // Binary: the reply carries its own CR LF line ends, which a text stream
    // would double where the system translates line ends.
    file = std::fopen(options_.oneShotOutputPath.c_str(), "wb");
    output = file;  // a file that cannot be opened discards the response
  }
  IOOneShot channel(streams_.input, output, options_.oneShotCommand.c_str());
  DiagLog(kLogServerFlow, "One shot STDIO phase started cmd=[%s] output=[%s]\n", options_.oneShotCommand.c_str(),
          options_.oneShotOutput ? options_.oneShotOutputPath.c_str() : "stdout");
  URLParse request;
  if (request.ReadRequest(channel) == URLParse::kRequestRead) ProcessRequests(channel, request);
  DiagLog(kLogServerFlow, "STDIO phase finished\n");
  if (file != nullptr) std::fclose(file);
}

void MonitorServer::CloseStandardStreams() {
  platform::DetachStandardStream(streams_.input, false);
  platform::DetachStandardStream(streams_.output, true);
  if (ProcessDiagLog().WritesToFile()) platform::DetachStandardStream(streams_.error, true);
}

int MonitorServer::Run() {
  DiagLog(kLogServerFlow, "Server started\n");
  bool portInUse = options_.portGiven;
  int result = 0;
  if (options_.oneShot) {
    RunOneShotPhase();
  } else if (portInUse && SetupListenSocket() != 0) {
    DiagLog(kLogCore, "Unable to initialize TCP/IP communication.  TCP/IP phase will be disabled\n");
    portInUse = false;
  }
  if (!options_.oneShot && !options_.skipStdioPhase) {
    DiagLog(kLogServerFlow, "STDIO phase started\n");
    LateProviderInitialization();
    DiagLog(kLogServerFlow, "LateInitialization complete\n");
    IOStdio channel(streams_.input, streams_.output);
    URLParse request;
    if (request.ReadRequest(channel) == URLParse::kRequestRead) ProcessRequests(channel, request);
    DiagLog(kLogServerFlow, "STDIO phase finished\n");
  } else {
    DiagLog(kLogServerFlow, "STDIO phase skipped\n");
  }
  CloseStandardStreams();
  if (!options_.oneShot && portInUse) {
    DiagLog(kLogServerFlow, "TCP/IP phase started\n");
    if (!options_.firstRun) {
      if (LateProviderInitialization() != 0) lateInitFailed_ = true;
      lateInitDone_ = true;
    }
    if (lateInitFailed_)
      DiagLog(kLogWarning, "A failure occurred in LateProviderInitialization; skipping Process Connections\n");
    else if (ProcessConnections() != 0)
      result = 1;  // the run ends on a failure and must not pass for a success
    DiagLog(kLogServerFlow, "TCP/IP phase finished\n");
  }
  JoinLateInitializationNotice();
  DiagLog(kLogServerFlow, "Server finshed\n");
  return result;
}

int MonitorServer::SetupListenSocket() {
  DiagLog(kLogTrace, "MonitorServer::SetupListenSocket\n");
  platform::Socket socket = platform::CreateTcpSocket();
  if (!socket.IsValid()) {
    DiagLog(kLogCore, "Unable to create listen socket\n");
    return 1;
  }
  if (!platform::SetReuseAddress(socket)) DiagLog(kLogCore, "setsockopt SO_REUSEADDR failed!\n");
  DiagLog(kLogInputOutput, "MonitorServer::SetupListenSocket calls bind\n");
  if (!platform::BindLoopback(socket, port_)) {
    DiagLog(kLogCore, "Unable to bind to 127.0.0.1:%d\n", static_cast<int>(port_));
    return 1;
  }
  port_ = platform::BoundPort(socket);
  DiagLog(kLogInputOutput, "Listen port bound to %d\n", static_cast<int>(port_));
  listenSocket_ = std::move(socket);
  return 0;
}

int MonitorServer::ProcessConnections() {
  if (!platform::Listen(listenSocket_)) {
    DiagLog(kLogCore, "Unable to listen() %d\n", platform::LastSocketError());
    return 1;
  }
  readySignal_.Send(options_.readySignalRequested, port_);
  std::uint32_t timeout = 0;
  for (;;) {
    std::uint64_t started = platform::MonotonicMilliseconds() / 1000;
    DiagLog(kLogTimers, "Timeout is %u seconds\n", timeout);
    if (!lateInitDone_) {
      timeout = kNothingDue;
      DiagLog(kLogTimers, "Late initialization not done; Timeout changed to %u seconds\n", timeout);
    }
    int r = InternalSelect(timeout);
    if (r == kShutdownSuggested) {
      DiagLog(kLogServerFlow, "Shutdown suggest accepted; idle timeout set to 1\n");
      SetIdleTimeout(1);
    }
    if (r == kShutdown) {
      if (readySignal_.IsHeld()) readySignal_.ResetAndClose();
      ShutDown();
      return 0;
    }
    if (r == kFailure) {
      // No page shutdown, but the pages outlive no session that uses them.
      ClosePendingConnections();
      WaitForSessions();
      return 1;
    }
    if (r == kTimeout) {
      if (IdleExitAfterTimeout(timeout)) return 0;
      continue;
    }
    std::uint64_t elapsedLong = platform::MonotonicMilliseconds() / 1000 - started;
    std::uint32_t elapsed = static_cast<std::uint32_t>(std::min<std::uint64_t>(elapsedLong, 0xffffffffu));
    timeout = timeout > elapsed ? timeout - elapsed : 0;
    if (r == kReconfig) {
      Reconfig();
      idleSeconds_ = 0;
    } else if (r == kAccept) {
      idleSeconds_ = 0;
      if (!AcceptFromListenSocket(elapsed, timeout)) continue;
    } else if (r == kShutdownSuggested) {
      timeout = UpdateSchedulersTimeout();
    }
    if (ServePendingConnections()) {
      // As after an accept: a request served may have changed the pages'
      // schedules and the idle time-out.
      if (r != kAccept) UpdateSchedulers(elapsed);
      timeout = UpdateSchedulersTimeout();
    }
    DiagLog(kLogTimers, "new timeout is %u\n", timeout);
  }
}

void MonitorServer::ShutDown() {
  ClosePendingConnections();
  OnShutdownSequence();
  ShutdownListenSocket();
}

bool MonitorServer::IdleExitAfterTimeout(std::uint32_t& timeout) {
  ServePendingConnections();
  idleSeconds_ += timeout;
  timeout = UpdateSchedulers(timeout);
  std::uint32_t idle = idleTimeout_;
  if (idle == 0) {
    idleSeconds_ = 0;
  } else if (idleSeconds_ >= idle) {
    DiagLog(kLogTrace, "Exit if idle...\n");
    CleanConnectionList();
    if (connections_.empty() && AllMonitorsIdle()) {
      DiagLog(kLogWarning, "Idle exit initiated\n");
      ShutDown();
      return true;
    }
    idleSeconds_ = 0;
  }
  idle = idleTimeout_;
  if (idle != 0 && idle > idleSeconds_) timeout = std::min(timeout, idle - idleSeconds_);
  DiagLog(kLogTimers, "select() timeout %u\n", timeout);
  checkConnectionList();
  return false;
}

bool MonitorServer::AcceptFromListenSocket(std::uint32_t elapsed, std::uint32_t& timeout) {
  platform::Socket accepted;
  platform::AcceptResult result = platform::Accept(listenSocket_, &accepted);
  if (result == platform::AcceptResult::WouldBlock) {
    DiagLog(kLogWarning, "WSAEWOULDBLOCK goto FalseAlarm\n");
    DiagLog(kLogTimers, "new timeout is %u\n", timeout);
    return false;
  }
  if (result == platform::AcceptResult::Failed) {
    // Out of descriptors, say: connections wait in the backlog until
    // some are free again.
    DiagLog(kLogCore, "Unable to accept() TCP connection %d\n", platform::LastSocketError());
    platform::SleepMilliseconds(kResourcePauseMs);
    DiagLog(kLogTimers, "new timeout is %u\n", timeout);
    return false;
  }
  UpdateSchedulers(elapsed);
  AcceptConnection(std::move(accepted));
  timeout = UpdateSchedulersTimeout();
  return true;
}

int MonitorServer::InternalSelect(std::uint32_t timeoutSeconds) {
  DiagLog(kLogInputOutput, "Enter InternalSelect\n");
  DiagLog(kLogInputOutput, "WindowsInternalSelect\n");
  platform::WaitEvent* events[] = {&wakeupEvent_, &sessionEndedEvent_};
  std::size_t running = 0;
  for (const auto& record : connections_)
    if (!record->completed) ++running;
  // Connections still sending their requests are waited for too, and the
  // wait ends in time for the first of their deadlines.
  std::uint64_t waitMs = static_cast<std::uint64_t>(timeoutSeconds) * 1000u;
  const std::uint64_t fullWaitMs = waitMs;
  std::vector<const platform::Socket*> watched;
  if (!pending_.empty()) {
    std::uint64_t now = platform::MonotonicMilliseconds();
    for (const auto& connection : pending_) {
      watched.push_back(&connection->socket);
      waitMs = std::min<std::uint64_t>(waitMs, connection->deadline > now ? connection->deadline - now : 0);
    }
  }
  DiagLog(kLogInputOutput, "WindowsInternalSelect calls WSAWaitForMultipleEvents (%ld items)\n",
          static_cast<long>(2 + running + watched.size()));
  platform::WaitOutcome outcome = platform::WaitForEventsOrConnection(
      events, 2, listenSocket_, watched.data(), watched.size(),
      static_cast<unsigned>(std::min<std::uint64_t>(waitMs, 0xffffffffu)));
  long rv = outcome.kind == platform::WaitOutcome::Event ? (outcome.eventIndex == 0 ? 0 : 2)
            : outcome.kind == platform::WaitOutcome::Connection ? 1
                                                                 : -1;
  DiagLog(kLogInputOutput, "WFMO gets rv %ld\n", rv);
  int result = kFailure;
  switch (outcome.kind) {
    case platform::WaitOutcome::Timeout:
      if (waitMs < fullWaitMs) {
        // A waiting connection's deadline, not the loop's time-out.
        result = kInterrupt;
        break;
      }
      DiagLog(kLogTrace, "Select returns TIMEOUT\n");
      result = kTimeout;
      break;
    case platform::WaitOutcome::Readable:
      DiagLog(kLogInputOutput, "Select returns data on a waiting connection\n");
      result = kInterrupt;
      break;
    case platform::WaitOutcome::Connection:
      DiagLog(kLogTrace, "Select returns ACCEPT SOCKET CONNECTION\n");
      result = kAccept;
      break;
    case platform::WaitOutcome::Event:
      if (outcome.eventIndex == 0) {
        DiagLog(kLogTrace, "Got Event+1\n");
        if (shutdownRequested_) {
          DiagLog(kLogTrace, "Got Event+1 (shutdown)\n");
          result = kShutdown;
        } else if (reconfigRequested_) {
          DiagLog(kLogTrace, "Got Event+1 (reconfig)\n");
          result = kReconfig;
        } else if (shutdownSuggested_) {
          DiagLog(kLogTrace, "Got Event+1 (suggestshutdown)\n");
          shutdownSuggested_ = false;
          result = kShutdownSuggested;
        } else {
          result = kInterrupt;
        }
      } else {
        DiagLog(kLogTrace, "Got Event0+1 (thread completion), return INTERRUPT\n");
        checkConnectionList();
        result = kInterrupt;
      }
      break;
    case platform::WaitOutcome::Failure:
      DiagLog(kLogTrace, "return FAILURE\n");
      result = kFailure;
      break;
  }
  DiagLog(kLogInputOutput, "Exit InternalSelect\n");
  return result;
}

void MonitorServer::AcceptConnection(platform::Socket socket) {
  DiagLog(kLogServerFlow, "MonitorServer::AcceptConnection\n");
  std::unique_ptr<PendingConnection> connection(new PendingConnection);
  connection->socket = std::move(socket);
  connection->deadline = platform::MonotonicMilliseconds() + kRequestHeadTimeoutMs;
  if (!ServePendingConnection(*connection, platform::MonotonicMilliseconds()))
    pending_.push_back(std::move(connection));
}

bool MonitorServer::ServePendingConnections() {
  bool any = false;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (ServePendingConnection(**it, platform::MonotonicMilliseconds())) {
      it = pending_.erase(it);
      any = true;
    } else {
      ++it;
    }
  }
  return any;
}

namespace {
// Walks the head's lines as ReadRequest reads them (pieces of at most one
// line buffer, each ending at a line feed when there is one) until the line
// that ends the head; true once it is in.
bool HeadIsIn(std::string& received, std::size_t& scanned, bool& requestLineSeen) {
  const std::size_t piece = URLParse::kLineSize - 1;
  while (scanned < received.size()) {
    std::size_t available = received.size() - scanned;
    const char* from = received.data() + scanned;
    const void* lineFeed = std::memchr(from, '\n', std::min(available, piece));
    std::size_t length = lineFeed != nullptr ? static_cast<const char*>(lineFeed) - from + 1 : piece;
    if (lineFeed == nullptr && available < piece) return false;
    bool ends = requestLineSeen && (from[0] == '\r' || from[0] == '\n');
    requestLineSeen = true;
    scanned += length;
    if (ends) return true;
  }
  return false;
}
}  // namespace

bool MonitorServer::ServePendingConnection(PendingConnection& connection, std::uint64_t now) {
  if (platform::WaitReadable(connection.socket, 0) > 0) {
    // While the head comes in, take what is there; for a body, no more
    // than it.
    char buffer[16384];
    std::size_t room = sizeof buffer;
    if (connection.request)
      room = std::min(room, connection.headLength + connection.bodyLength - connection.received.size());
    long got = platform::Receive(connection.socket, buffer, room);
    if (got <= 0) {
      if (connection.request)
        DiagLog(kLogWarning, "Accept connection lost %s before its body was in (%u of %u bytes); closed without a reply\n",
                PeerText(connection.socket).c_str(),
                static_cast<unsigned>(connection.received.size() - connection.headLength),
                static_cast<unsigned>(connection.bodyLength));
      else
        DiagLog(kLogWarning, "Accept connection failed to parse URI\n");
      CloseConnection(connection.socket);
      return true;
    }
    connection.received.append(buffer, static_cast<std::size_t>(got));
  }
  if (!connection.request) {
    if (!connection.headComplete)
      connection.headComplete = HeadIsIn(connection.received, connection.scanned, connection.requestLineSeen);
    if (connection.headComplete) return TakeRequest(connection);
    if (connection.received.size() > kRequestHeadLimit) {
      DiagLog(kLogWarning, "Accept connection refused a request head of more than %u bytes from %s\n",
              static_cast<unsigned>(kRequestHeadLimit), PeerText(connection.socket).c_str());
      DiagLog(kLogWarning, "Accept connection failed to parse URI\n");
      CloseConnection(connection.socket);
      return true;
    }
    if (now < connection.deadline) return false;
    DiagLog(kLogWarning, "Accept connection timed out reading the request from %s\n", PeerText(connection.socket).c_str());
    DiagLog(kLogWarning, "Accept connection failed to parse URI\n");
    CloseConnection(connection.socket);
    return true;
  }
  if (connection.received.size() >= connection.headLength + connection.bodyLength) {
    ServeOnMainThread(connection);
    return true;
  }
  if (now < connection.deadline) return false;
  // A body that is not in full is not processed.
  DiagLog(kLogWarning, "Accept connection timed out reading the body from %s (%u of %u bytes); closed without a reply\n",
          PeerText(connection.socket).c_str(),
          static_cast<unsigned>(connection.received.size() - connection.headLength),
          static_cast<unsigned>(connection.bodyLength));
  CloseConnection(connection.socket);
  return true;
}

bool MonitorServer::TakeRequest(PendingConnection& connection) {
  platform::Socket& socket = connection.socket;
  std::unique_ptr<URLParse> request(new URLParse);
  std::string unread;
  {
    // The whole head is in: it is read from memory, the socket untouched.
    IOSocket io(std::move(socket));
    io.Preload(std::move(connection.received));
    int parsed = request->ReadRequest(io);
    unread = io.TakeUnread();
    socket = io.ReleaseSocket();
    if (parsed != URLParse::kRequestRead) {
      DiagLog(kLogWarning, "Accept connection failed to parse URI\n");
      CloseConnection(socket);
      return true;
    }
  }
  if (const char* reason = ForeignRequestReason(request->HeaderNames(), request->HeaderValues())) {
    DiagLog(kLogWarning, "Accept connection refused a request from %s: %s\n", PeerText(socket).c_str(), reason);
    CloseConnection(socket);
    return true;
  }
  ServedPage* page = FindPage(request->Path());
  if (page == nullptr) {
    DiagLog(kLogWarning, "Accept connection couldn't find page matching %s\n", request->Path());
    ++counters_.pagenotfound;
    CloseConnection(socket);
    return true;
  }
  DiagLog(kLogInputOutput, "Accept connection found page; calling forkOnRequest\n");
  RequestVerb verb = VerbOf(request->Method());
  bool fork =
      page->ForkOnRequest(request->Path(), request->Query(), request->HeaderNames(), request->HeaderValues(), verb);
  ++counters_.pagefound;
  DiagLog(kLogInputOutput, "ForkOnRequest returns %s\n", fork ? "true" : "false");

  if (fork) {
    DiagLog(kLogTrace, "Accept connection fork for page %s(request:%s)\n", request->Path(), request->Method());
    ++counters_.forked;
    StartSession(std::move(socket), *request, RoutedRequest{page, verb}, std::move(unread));
    return true;
  }

  // Served here: a body it announces is taken in first, side by side with
  // the other connections, within the connection's time and a size limit.
  connection.headLength = 0;
  connection.bodyLength = 0;
  if (verb == kVerbPost) {
    const char* header = FindHeader(request->HeaderNames(), request->HeaderValues(), "Content-Length");
    long long announced = header != nullptr ? std::strtoll(header, nullptr, 10) : 0;
    if (announced > static_cast<long long>(kRequestBodyLimit)) {
      DiagLog(kLogWarning, "Accept connection refused a body of %s bytes from %s (limit %u); closed without a reply\n",
              header, PeerText(socket).c_str(), static_cast<unsigned>(kRequestBodyLimit));
      CloseConnection(socket);
      return true;
    }
    if (announced > 0) connection.bodyLength = static_cast<std::size_t>(announced);
  }
  connection.received = std::move(unread);
  connection.request = std::move(request);
  connection.page = page;
  connection.verb = verb;
  if (connection.received.size() < connection.bodyLength) return false;
  ServeOnMainThread(connection);
  return true;
}

void MonitorServer::StartSession(platform::Socket socket, const URLParse& request, RoutedRequest routed,
                                 std::string unread) {
  std::unique_ptr<SessionRecord> record(new SessionRecord);
  record->socketNumber = socket.LogNumber();
  record->socket = std::move(socket);
  record->request = request;
  record->page = routed.page;
  record->verb = routed.verb;
  record->unread = std::move(unread);
  SessionRecord* raw = record.get();
  try {
    record->thread = std::thread(&MonitorServer::Session, this, raw);
  } catch (const std::system_error&) {
    DiagLog(kLogCore, "Unable to create session thread for connection %s\n", PeerText(record->socket).c_str());
    CloseConnection(record->socket);
    // Out of threads, say: give the system a moment.
    platform::SleepMilliseconds(kResourcePauseMs);
    return;
  }
  record->threadId = ThreadNumber(record->thread);
  DiagLog(kLogTrace, "Created thread with id %u\n", record->threadId);
  CleanConnectionList();
  connections_.push_back(std::move(record));
}

void MonitorServer::ServeOnMainThread(PendingConnection& connection) {
  URLParse& request = *connection.request;
  ServedPage* page = connection.page;
  IOSocket io(std::move(connection.socket));
  io.SetWriteTimeout(kWriteProgressMs);
  io.Preload(connection.received.substr(connection.headLength));
  DiagLog(kLogServerFlow, "Accept connection executes in master process/thread for page %s\n", request.Path());
  ++counters_.unforked;
  if (connection.verb == kVerbGet)
    page->Get(&io, request.Path(), request.Query(), request.HeaderNames(), request.HeaderValues(), kOriginServer,
              kOnServerThread);
  else if (connection.verb == kVerbPost)
    page->Post(&io, request.Path(), request.Query(), request.HeaderNames(), request.HeaderValues(), kOriginServer,
               kOnServerThread);
  else
    DiagLog(kLogWarning, "Accept connection unknown request type %s\n", request.Method());
  if (!lateInitDone_ && collectorRequestSeen_) {
    if (LateProviderInitialization() != 0) lateInitFailed_ = true;
    lateInitDone_ = true;
  }
}

void MonitorServer::ClosePendingConnections() {
  for (auto& connection : pending_) CloseConnection(connection->socket);
  pending_.clear();
}

void MonitorServer::Session(SessionRecord* record) {
  DiagLog(kLogServerFlow, "MonitorServer::Session\n");
  {
    IOSocket io(std::move(record->socket));
    io.SetReadLimits(0, kSessionReadIdleMs);
    io.SetWriteTimeout(kWriteProgressMs);
    io.Preload(std::move(record->unread));
    DiagLog(kLogWarning, "HTTP Session started for peer %s (pcon %p, socket %d)\n", io.Name(), static_cast<void*>(record),
            static_cast<int>(record->socketNumber));
    RoutedRequest routed{record->page, record->verb};
    ProcessRequests(io, record->request, &routed);
    DiagLog(kLogWarning, "HTTP Session finished for %s\n", io.Name());
    io.CloseSocket();
  }
  record->threadEnded = true;
  sessionEndedEvent_.Set();
}

void MonitorServer::CleanConnectionList() {
  DiagLog(kLogInputOutput, "CleanConnectionList\n");
  DiagLog(kLogInputOutput, "CleanConnectionList size %u\n", static_cast<unsigned>(connections_.size()));
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->completed) {
      DiagLog(kLogInputOutput, "CleanConnectionList::Cleaning up connection %d\n", static_cast<int>((*it)->socketNumber));
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void MonitorServer::checkConnectionList() {
  DiagLog(kLogInputOutput, "checkConnectionList\n");
  CleanConnectionList();
  for (auto& record : connections_) {
    if (record->completed) continue;
    if (record->threadEnded) {
      DiagLog(kLogInputOutput, "checkConnectionList: connection thread completed; mark for deletion\n");
      record->completed = true;
    } else {
      DiagLog(kLogInputOutput, "Thread not complete %u\n", record->threadId);
    }
  }
}

std::uint32_t MonitorServer::UpdateSchedulers(std::uint32_t elapsedSeconds) {
  DiagLog(kLogTimers, "MonitorServer::UpdateSchedulers %u elapsed\n", elapsedSeconds);
  std::uint32_t smallest = kNothingDue;
  for (auto& entry : pages_) {
    entry.second->AdvanceSchedule(elapsedSeconds);
    smallest = std::min(smallest, entry.second->GetSchedulerTimeout());
  }
  return smallest;
}

std::uint32_t MonitorServer::UpdateSchedulersTimeout() {
  std::uint32_t smallest = kNothingDue;
  for (auto& entry : pages_) {
    std::uint32_t t = entry.second->GetSchedulerTimeout();
    if (t != kNothingDue) DiagLog(kLogTimers, "MonitorServer::UpdateSchedulersTimeout %s returns %u\n", entry.first.c_str(), t);
    smallest = std::min(smallest, t);
  }
  if (smallest == kNothingDue) smallest = idleTimeout_;
  DiagLog(kLogTimers, "MonitorServer::UpdateSchedulersTimeout returns %u (idle is %u,%u)\n", smallest,
          static_cast<unsigned>(idleTimeout_), static_cast<unsigned>(kNothingDue));
  return smallest;
}

int MonitorServer::LateProviderInitialization() {
  DiagLog(kLogServerFlow, "MonitorServer::LateProviderInitialization\n");
  SetMasterConfigSharing(true);
  bool failed = false;
  for (auto& entry : pages_) {
    int rv = entry.second->InitializeOnce();
    DiagLog(kLogTrace, "LateInitialization page %s rv %d\n", entry.first.c_str(), rv);
    if (rv != 0) {
      failed = true;
      break;
    }
  }
  SetMasterConfigSharing(false);
  if (options_.firstRun) {
    // On a thread of its own: a collector that stalls must not hold the
    // clients of the main thread. The run waits for it before it ends.
    JoinLateInitializationNotice();
    try {
      noticeThread_ = std::thread(&MonitorServer::TellCollectorAboutLateInitialization, this, failed);
    } catch (const std::system_error&) {
      TellCollectorAboutLateInitialization(failed);
    }
  }
  return failed ? 1 : 0;
}

void MonitorServer::JoinLateInitializationNotice() {
  if (noticeThread_.joinable()) noticeThread_.join();
}

void MonitorServer::Reconfig() {
  DiagLog(kLogWarning, "Reconfig request\n");
  SetMasterConfigSharing(true);
  for (auto& entry : pages_) {
    DiagLog(kLogServerFlow, "Reconfig for page %s\n", entry.first.c_str());
    entry.second->Reconfig();
  }
  SetMasterConfigSharing(false);
  reconfigRequested_ = false;
}

bool MonitorServer::AllMonitorsIdle() {
  DiagLog(kLogServerFlow, "MonitorServer::AllMonitorsIdle\n");
  for (auto& entry : pages_)
    if (!entry.second->IsIdle()) return false;
  DiagLog(kLogServerFlow, "MonitorServer::AllMonitorsIdle returns true\n");
  return true;
}

void MonitorServer::OnProvConShutdownBroadcast() {
  for (auto& entry : pages_) {
    DiagLog(kLogServerFlow, "Sending OnProvConShutdown to page %s\n", entry.first.c_str());
    entry.second->OnProvConShutdown();
  }
}

void MonitorServer::OnShutdownSequence() {
  for (auto& entry : pages_) {
    DiagLog(kLogServerFlow, "Call OnShutdown for page %s\n", entry.first.c_str());
    entry.second->OnPreShutdown();
  }
  for (auto& entry : pages_) {
    DiagLog(kLogServerFlow, "Call OnShutdown for page %s\n", entry.first.c_str());
    entry.second->OnShutdown();
  }
  WaitForSessions();
  DiagLog(kLogWarning, "Shutdown request handled by default MonitorServer handler\n");
}

void MonitorServer::WaitForSessions() {
  while (!connections_.empty()) {
    DiagLog(kLogServerFlow, "Waiting for processes to end\n");
    checkConnectionList();
    if (!connections_.empty()) platform::SleepMilliseconds(kSessionWaitPauseMs);
  }
}

void MonitorServer::ShutdownListenSocket() {
  DiagLog(kLogServerFlow, "MonitorServer::ShutdownListenSocket\n");
  if (listenSocket_.IsValid()) {
    platform::ShutdownSocket(listenSocket_);
    listenSocket_.Close();
    DiagLog(kLogInputOutput, "listen socket closed\n");
  }
}
