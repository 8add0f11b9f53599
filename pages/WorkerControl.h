// Worker threads of a page: what each one is for, starting it, asking it to
// exit and waiting for it, its progress posts back to the page, and the
// page's list of workers with its maintenance and shutdown wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class IOBase;
class XMLAccumulator;
class WorkerControlObject;

// The worker's body; the exit code is not read by the framework.
using WorkerFunction = std::function<std::uint32_t(WorkerControlObject& worker)>;

// Always owned through shared_ptr: the running thread holds a reference of
// its own, so a worker abandoned by its page keeps a live object until its
// thread ends.
class WorkerControlObject : public std::enable_shared_from_this<WorkerControlObject> {
 public:
  static constexpr std::uint32_t kWaitForever = 0xffffffffu;
  static constexpr std::uint32_t kDefaultExitTimeout = 10;

  // Null texts: description "{default}", parameters and cookie id empty.
  WorkerControlObject(const char* parentPath, WorkerFunction function, const char* description,
                      const char* parameters, const char* cookieId, std::uint32_t userValue);
  ~WorkerControlObject();
  WorkerControlObject(const WorkerControlObject&) = delete;
  WorkerControlObject& operator=(const WorkerControlObject&) = delete;

  // Clears the exit signal and stamps the creation time.
  void Prepare();
  // False when the thread cannot be made, one is still running, or the
  // page's list has already discarded this object (a worker created and not
  // started counts as ended there).
  bool Start();

  // Called by the worker itself.
  void WorkerBegins();
  bool isExitRequested();
  // Refuses once an exit was requested; true only for a 200 reply. reply
  // gets the body of that reply (emptied first).
  bool postToParent(const std::string& body, std::string& reply);

  // Called by the page's side.
  void setExitRequested();
  bool hasExited();
  // 0: a test without waiting; kWaitForever: no limit; else seconds.
  bool waitForExit(std::uint32_t seconds);
  // The forced end: the thread is let go and ends with the process at the
  // latest; it is asked to exit first, so it makes no further posts.
  void Terminate();

  // Element "helper" with the worker's state.
  void WriteXml(XMLAccumulator& xml);

  const std::string& ParentPath() const { return parentPath_; }
  const std::string& Description() const { return description_; }
  const std::string& Parameters() const { return parameters_; }
  const std::string& CookieId() const { return cookieId_; }
  std::uint32_t UserValue() const { return userValue_; }
  std::uint32_t Created() const { return created_; }
  std::uint32_t ThreadId() const { return threadId_; }
  std::uint32_t ExitTimeout() const { return exitTimeout_; }
  void SetExitTimeout(std::uint32_t seconds) { exitTimeout_ = seconds; }
  // The flags as last seen by the page's side (no test of the thread).
  bool Exited() const { return exited_; }
  bool ExitRequestedFlag() const { return exitRequested_; }
  bool ExitSignaled();
  // Set by the list that drops the object.
  void MarkDiscarded() { discarded_ = true; }

 private:
  void Run();
  // Joins a finished thread; the caller holds no lock.
  void Reap();

  const std::string parentPath_;
  const std::string description_;
  const std::string parameters_;
  const std::string cookieId_;
  const std::uint32_t userValue_;
  std::atomic<bool> exited_{true};
  std::atomic<bool> exitRequested_{true};
  std::atomic<std::uint32_t> exitTimeout_{kDefaultExitTimeout};
  std::atomic<bool> discarded_{false};
  WorkerFunction function_;
  std::atomic<std::uint32_t> threadId_{0};
  std::thread thread_;
  std::mutex threadLock_;  // serializes the page side's start, join and detach

  std::mutex lock_;  // guards the fields below
  std::condition_variable changed_;
  bool exitSignaled_ = false;
  bool threadRunning_ = false;  // set by Start, cleared by the thread's last step
  bool threadIdKnown_ = false;

  std::uint32_t created_ = 0;
};

// True for the exact query of a worker's update to its page.
bool IsWorkerMessageQuery(const char* query);

// A page's workers, in creation order. The page's request threads and the
// server thread reach it, so it has a lock of its own.
class WorkerList {
 public:
  WorkerList() = default;
  // Asks every worker still running to exit; their threads keep their own
  // objects alive.
  ~WorkerList();
  WorkerList(const WorkerList&) = delete;
  WorkerList& operator=(const WorkerList&) = delete;

  // Runs maintenance, adds a prepared (not started) worker and returns it.
  std::shared_ptr<WorkerControlObject> Create(const char* parentPath, WorkerFunction function,
                                              const char* description, const char* parameters,
                                              const char* cookieId, std::uint32_t userValue);
  // Drops every worker whose thread has ended.
  void Maintenance();
  void RequestExitAll();
  // Waits for every worker, one pass a second; a worker still running when
  // the seconds waited reach its exit time-out is terminated.
  void WaitForAll();

  bool Empty();
  std::size_t Size();
  std::vector<std::shared_ptr<WorkerControlObject>> Snapshot();

  // Element "worker-status" holding each worker's XML.
  void WriteStatusXml(XMLAccumulator& xml);
  // That element, rendered, as a "200 OK" reply; returns 200.
  unsigned ReplyWithStatus(IOBase* io);

 private:
  std::mutex lock_;
  std::list<std::shared_ptr<WorkerControlObject>> workers_;
};
