#include "pages/WorkerControl.h"

#include "config/XMLAccumulator.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/ServerServices.h"

#include <chrono>
#include <exception>

namespace {
const char kWorkerMessageQuery[] = "fw_workerupdate=1";
// The shutdown looks at its workers once a second.
const unsigned kWorkerWaitStepMs = 1000;

std::uint32_t NowSeconds() { return static_cast<std::uint32_t>(platform::CurrentEpochSeconds()); }
}  // namespace

WorkerControlObject::WorkerControlObject(const char* parentPath, WorkerFunction function, const char* description,
                                         const char* parameters, const char* cookieId, std::uint32_t userValue)
    : parentPath_(parentPath ? parentPath : ""),
      description_(description ? description : "{default}"),
      parameters_(parameters ? parameters : ""),
      cookieId_(cookieId ? cookieId : ""),
      userValue_(userValue),
      function_(std::move(function)) {}

WorkerControlObject::~WorkerControlObject() {
  // The last reference can be the thread's own, dropped as it ends.
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void WorkerControlObject::Prepare() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    exitSignaled_ = false;
  }
  created_ = NowSeconds();
}

bool WorkerControlObject::Start() {
  std::lock_guard<std::mutex> threadGuard(threadLock_);
  bool running;
  {
    std::lock_guard<std::mutex> guard(lock_);
    running = threadRunning_;
  }
  std::shared_ptr<WorkerControlObject> self = weak_from_this().lock();
  if (running || self == nullptr || discarded_) {
    // A second thread on one object, an object nobody shares, or one its
    // page no longer waits for: refused.
    DiagLog(kLogHardError, "WorkerControlObject::Start Unable to create worker thread\n");
    if (!running) exited_ = true;
    return false;
  }
  if (thread_.joinable()) thread_.join();  // an earlier run that has ended

  exitRequested_ = false;
  DiagLog(kLogTrace, "WorkerControlObject::Start\n");
  {
    std::lock_guard<std::mutex> guard(lock_);
    exitSignaled_ = false;
    threadRunning_ = true;
    threadIdKnown_ = false;
  }
  try {
    thread_ = std::thread([self] { self->Run(); });
  } catch (const std::exception&) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      threadRunning_ = false;
    }
    DiagLog(kLogHardError, "WorkerControlObject::Start Unable to create worker thread\n");
    exited_ = true;
    return false;
  }
  {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return threadIdKnown_; });
  }
  DiagLog(kLogTrace, "Created worker function in thread %u\n", threadId_.load());
  exited_ = false;
  return true;
}

void WorkerControlObject::Run() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    threadId_ = platform::CurrentThreadId();
    threadIdKnown_ = true;
  }
  changed_.notify_all();
  if (function_) {
    try {
      function_(*this);
    } catch (...) {
      DiagLog(kLogHardError, "WorkerControlObject(%s) worker function ended with an exception\n", description_.c_str());
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    threadRunning_ = false;
  }
  changed_.notify_all();
}

void WorkerControlObject::Reap() {
  std::lock_guard<std::mutex> threadGuard(threadLock_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void WorkerControlObject::WorkerBegins() {
  DiagLog(kLogTrace, "WorkerControlObject(%s)::WorkerBegins\n", description_.c_str());
}

bool WorkerControlObject::isExitRequested() {
  DiagLog(kLogTrace, "WorkerControlObject(%s)::isExitRequested\n", description_.c_str());
  std::lock_guard<std::mutex> guard(lock_);
  return exitSignaled_;
}

bool WorkerControlObject::ExitSignaled() {
  std::lock_guard<std::mutex> guard(lock_);
  return exitSignaled_;
}

void WorkerControlObject::setExitRequested() {
  DiagLog(kLogTrace, "WorkerControlObject(%s)::setExitRequested\n", description_.c_str());
  if (exitRequested_) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    exitSignaled_ = true;
  }
  exitRequested_ = true;
}

bool WorkerControlObject::hasExited() {
  DiagLog(kLogTrace, "WorkerControlObject(%s)::hasExited(test)\n", description_.c_str());
  if (!exited_) {
    bool running;
    {
      std::lock_guard<std::mutex> guard(lock_);
      running = threadRunning_;
    }
    if (!running) {
      Reap();
      exited_ = true;
    }
  }
  return exited_;
}

bool WorkerControlObject::waitForExit(std::uint32_t seconds) {
  DiagLog(kLogTrace, "WorkerControlObject(%s)::waitForExit\n", description_.c_str());
  if (exited_) return true;
  if (seconds == 0) return hasExited();
  {
    std::unique_lock<std::mutex> guard(lock_);
    auto ended = [this] { return !threadRunning_; };
    if (seconds == kWaitForever)
      changed_.wait(guard, ended);
    else if (!changed_.wait_for(guard, std::chrono::seconds(seconds), ended))
      return false;
  }
  Reap();
  exited_ = true;
  return true;
}

void WorkerControlObject::Terminate() {
  DiagLog(kLogWarning, "Worker thread (%s) did not respond to exit request; terminating it\n", description_.c_str());
  setExitRequested();
  // A thread cannot be killed safely here: it is let go instead, and its
  // own reference keeps this object alive for as long as it runs.
  std::lock_guard<std::mutex> threadGuard(threadLock_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.detach();
}

bool WorkerControlObject::postToParent(const std::string& body, std::string& reply) {
  DiagLog(kLogTrace, "WorkerControlObject(%s)::postToParent\n", description_.c_str());
  reply.clear();
  if (isExitRequested()) {
    DiagLog(kLogWarning, "WorkerControlObject(%s)::postToParent cancelled due to pending exit request\n",
            description_.c_str());
    return false;
  }
  if (!ServerServices::HasInstance()) return false;
  std::string target = parentPath_ + "?" + kWorkerMessageQuery;
  return ServerServices::Instance().InternalRequest("post", target.c_str(), body.c_str(), &reply) == kHttpOk;
}

void WorkerControlObject::WriteXml(XMLAccumulator& xml) {
  xml.OpenElement("helper");
  xml.AddAttribute("created", created_);
  xml.AddElement("desc", description_);
  xml.AddElement("parameters", parameters_);
  xml.AddElement("cookie-id", cookieId_);
  xml.AddElement("exited", exited_ ? "1" : "0");
  xml.AddElement("exit-requested", exitRequested_ ? "1" : "0");
  xml.AddElement("exit-signaled", ExitSignaled() ? "1" : "0");
  xml.CloseElement();
}

WorkerList::~WorkerList() { RequestExitAll(); }

std::shared_ptr<WorkerControlObject> WorkerList::Create(const char* parentPath, WorkerFunction function,
                                                        const char* description, const char* parameters,
                                                        const char* cookieId, std::uint32_t userValue) {
  DiagLog(kLogMonitoringSetup, "MonitorPage::CreateWorkerFunction calls workersMaintenance\n");
  Maintenance();
  auto worker = std::make_shared<WorkerControlObject>(parentPath, std::move(function), description, parameters,
                                                      cookieId, userValue);
  std::lock_guard<std::mutex> guard(lock_);
  workers_.push_back(worker);
  worker->Prepare();
  return worker;
}

void WorkerList::Maintenance() {
  std::lock_guard<std::mutex> guard(lock_);
  bool removed = true;
  while (removed) {
    removed = false;
    for (auto it = workers_.begin(); it != workers_.end(); ++it) {
      if ((*it)->hasExited()) {
        DiagLog(kLogTrace, "MonitorPage::workersMaintenance discards worker control for [%s]\n",
                (*it)->Description().c_str());
        (*it)->MarkDiscarded();
        workers_.erase(it);
        removed = true;
        break;
      }
    }
  }
}

void WorkerList::RequestExitAll() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& worker : workers_) worker->setExitRequested();
}

void WorkerList::WaitForAll() {
  std::uint32_t waited = 0;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (workers_.empty()) break;
    }
    DiagLog(kLogTrace, "MonitorPage::OnShutdown Waiting for worker function to finish\n");
    bool removed = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto it = workers_.begin(); it != workers_.end(); ++it) {
        if ((*it)->hasExited()) {
          (*it)->MarkDiscarded();
          workers_.erase(it);
          removed = true;
          break;
        }
        if (waited >= (*it)->ExitTimeout()) {
          (*it)->Terminate();
          (*it)->MarkDiscarded();
          workers_.erase(it);
          removed = true;
          break;
        }
      }
    }
    if (!removed && !Empty()) {
      platform::SleepMilliseconds(kWorkerWaitStepMs);
      ++waited;  // seconds
    }
  }
  DiagLog(kLogTrace, "MonitorPage::OnShutdown Waiting for worker function to finish now completed\n");
}

bool WorkerList::Empty() {
  std::lock_guard<std::mutex> guard(lock_);
  return workers_.empty();
}

std::size_t WorkerList::Size() {
  std::lock_guard<std::mutex> guard(lock_);
  return workers_.size();
}

std::vector<std::shared_ptr<WorkerControlObject>> WorkerList::Snapshot() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::vector<std::shared_ptr<WorkerControlObject>>(workers_.begin(), workers_.end());
}

void WorkerList::WriteStatusXml(XMLAccumulator& xml) {
  xml.OpenElement("worker-status");
  for (auto& worker : Snapshot()) worker->WriteXml(xml);
  xml.CloseElement();
}

unsigned WorkerList::ReplyWithStatus(IOBase* io) {
  DiagLog(kLogHeartbeat, "MonitorPage::ReplyWithWorkerStatus\n");
  XMLAccumulator xml;
  WriteStatusXml(xml);
  std::string text;
  xml.GetXml(text, 0);
  WriteStandardResponse(*io, "200 OK", text.data(), text.size());
  return kHttpOk;
}

bool IsWorkerMessageQuery(const char* query) {
  DiagLog(kLogTrace, "MonitorPage::isWorkerMessage\n");
  return query != nullptr && std::string(query) == kWorkerMessageQuery;
}
