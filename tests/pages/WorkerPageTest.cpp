// The worker facility every page offers: idle and shutdown paths, the status
// reply, and posts from a worker to its page through the server.
#include "pages/MonitorPage.h"

#include "MemoryChannel.h"
#include "ProcessLog.h"
#include "ServerFixture.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using CaptureChannel = testing_support::MemoryChannel;
using testing_support::CountOf;

bool WaitUntil(const std::function<bool()>& condition, unsigned ms = 20000) {
  std::uint64_t deadline = platform::MonotonicMilliseconds() + ms;
  while (!condition()) {
    if (platform::MonotonicMilliseconds() > deadline) return false;
    platform::SleepMilliseconds(5);
  }
  return true;
}

std::uint32_t Obedient(WorkerControlObject& worker) {
  while (!worker.isExitRequested()) platform::SleepMilliseconds(5);
  return 0;
}

// Keeps what its workers post.
class WorkerPage : public MonitorPage {
 public:
  struct Posted {
    std::string query;
    std::string body;
    bool workerMessage;
  };

  explicit WorkerPage(const char* path) : MonitorPage(path, false) {}
  unsigned Post(IOBase* io, const char*, const char* query, const char* const* names, const char* const* values,
                unsigned, unsigned) override {
    std::string body;
    ReadRequestBody(io, names, values, body);
    {
      std::lock_guard<std::mutex> guard(lock_);
      posts_.push_back({query ? query : "", body, isWorkerMessage(query)});
    }
    std::string reply = "ack " + body;
    StandardResponse(io, "200 OK", reply.data(), reply.size());
    return 200;
  }
  std::vector<Posted> Posts() {
    std::lock_guard<std::mutex> guard(lock_);
    return posts_;
  }

 private:
  std::mutex lock_;
  std::vector<Posted> posts_;
};

TEST(WorkerPage, WorkerMessagesAreTheExactQueryOnly) {
  EXPECT_TRUE(MonitorPage::isWorkerMessage("fw_workerupdate=1"));
  for (const char* query : std::initializer_list<const char*>{"fw_workerupdate=1&more=2", "FW_WORKERUPDATE=1", "fw_workerupdate=10", "", nullptr})
    EXPECT_FALSE(MonitorPage::isWorkerMessage(query)) << (query ? query : "(none)");
}

TEST(WorkerPage, IdleOnlyWithoutRunningWorkers) {
  WorkerPage page("/idle");
  EXPECT_TRUE(page.IsIdle());
  // Created and never started: ended, so dropped by the idle check.
  page.CreateWorkerFunction(Obedient, "never", nullptr, nullptr, 0);
  EXPECT_EQ(page.Workers().Size(), 1u);
  EXPECT_TRUE(page.IsIdle());
  EXPECT_TRUE(page.Workers().Empty());

  std::atomic<bool> release{false};
  auto worker = page.CreateWorkerFunction(
      [&](WorkerControlObject&) {
        while (!release) platform::SleepMilliseconds(2);
        return 0u;
      },
      "busy", nullptr, nullptr, 0);
  EXPECT_EQ(worker->ParentPath(), "/idle");
  EXPECT_EQ(worker->ExitTimeout(), 10u);
  ASSERT_TRUE(worker->Start());
  EXPECT_FALSE(worker->Start());  // one thread per object
  EXPECT_FALSE(worker->waitForExit(0));
  EXPECT_FALSE(page.IsIdle());
  EXPECT_EQ(page.Workers().Size(), 1u);
  release = true;
  EXPECT_TRUE(worker->waitForExit(WorkerControlObject::kWaitForever));
  EXPECT_TRUE(worker->hasExited());
  EXPECT_TRUE(page.IsIdle());
  EXPECT_TRUE(page.Workers().Empty());
}

TEST(WorkerPage, WorkerStatusReply) {
  WorkerPage page("/status-of-workers");
  CaptureChannel empty;
  EXPECT_EQ(page.ReplyWithWorkerStatus(&empty), 200u);
  EXPECT_EQ(empty.written, "HTTP/1.1 200 OK\r\nContent-Length:17\r\n\r\n<worker-status/>\n");

  auto running = page.CreateWorkerFunction(Obedient, "scan <all>", "depth=2", "op!0000000001", 5);
  ASSERT_TRUE(running->Start());
  auto idle = page.CreateWorkerFunction(Obedient, nullptr, nullptr, nullptr, 0);
  std::string created1 = std::to_string(running->Created());
  std::string created2 = std::to_string(idle->Created());
  std::string body =
      "<worker-status>\n"
      "\t<helper created=\"" + created1 + "\">\n"
      "\t\t<desc>scan &lt;all&gt;</desc>\n"
      "\t\t<parameters>depth=2</parameters>\n"
      "\t\t<cookie-id>op!0000000001</cookie-id>\n"
      "\t\t<exited>0</exited>\n"
      "\t\t<exit-requested>0</exit-requested>\n"
      "\t\t<exit-signaled>0</exit-signaled>\n"
      "\t</helper>\n"
      "\t<helper created=\"" + created2 + "\">\n"
      "\t\t<desc>{default}</desc>\n"
      "\t\t<parameters/>\n"
      "\t\t<cookie-id/>\n"
      "\t\t<exited>1</exited>\n"
      "\t\t<exit-requested>1</exit-requested>\n"
      "\t\t<exit-signaled>0</exit-signaled>\n"
      "\t</helper>\n"
      "</worker-status>\n";
  CaptureChannel two;
  EXPECT_EQ(page.ReplyWithWorkerStatus(&two), 200u);
  EXPECT_EQ(two.written, "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(body.size()) + "\r\n\r\n" + body);

  page.OnPreShutdown();
  page.OnShutdown();
  EXPECT_TRUE(page.Workers().Empty());
}

TEST(WorkerPage, PreShutdownAsksAndShutdownWaitsThenAbandons) {
  std::size_t start = testing_support::ProcessLogSize();
  std::atomic<bool> release{false};
  std::atomic<bool> abandoned{false};
  std::atomic<bool> sawRequestAfterAbandon{false};
  std::weak_ptr<WorkerControlObject> stubbornRef;
  {
    WorkerPage page("/stopping");
    auto obedient = page.CreateWorkerFunction(Obedient, "obedient", nullptr, nullptr, 0);
    ASSERT_TRUE(obedient->Start());
    auto stubborn = page.CreateWorkerFunction(
        [&](WorkerControlObject& w) {
          while (!release) {
            // Keeps using its object after the page has let it go.
            if (abandoned && w.isExitRequested()) sawRequestAfterAbandon = true;
            platform::SleepMilliseconds(5);
          }
          return 0u;
        },
        "stubborn", nullptr, nullptr, 0);
    stubborn->SetExitTimeout(1);
    ASSERT_TRUE(stubborn->Start());
    stubbornRef = stubborn;
    page.OnPreShutdown();
    EXPECT_TRUE(obedient->ExitSignaled());
    EXPECT_TRUE(stubborn->ExitSignaled());
    stubborn.reset();
    page.OnShutdown();
    abandoned = true;
    EXPECT_TRUE(page.Workers().Empty());
    EXPECT_TRUE(obedient->Exited());
    EXPECT_TRUE(page.IsIdle());
  }
  // The page is gone; the thread still holds its object and uses it.
  EXPECT_NE(stubbornRef.lock(), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return sawRequestAfterAbandon.load(); }));
  release = true;
  EXPECT_TRUE(WaitUntil([&] { return stubbornRef.expired(); }));
  std::string log = testing_support::ProcessLogSince(start);
  std::size_t pre = log.find("MonitorPage::OnPreShutdown requesting worker functions to finish\n");
  std::size_t asked = log.find("WorkerControlObject(stubborn)::setExitRequested\n");
  std::size_t terminated = log.find("Worker thread (stubborn) did not respond to exit request; terminating it\n");
  std::size_t done = log.find("MonitorPage::OnShutdown Waiting for worker function to finish now completed\n");
  ASSERT_NE(done, std::string::npos);
  EXPECT_LT(pre, asked);
  EXPECT_LT(asked, terminated);
  EXPECT_LT(terminated, done);
  EXPECT_EQ(CountOf(log, "did not respond to exit request"), 1u);
}

class WorkerServer : public testing_support::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    Make();
  }
};

TEST_F(WorkerServer, PostToParentReachesThePageThroughThePort) {
  WorkerPage* page = Add(new WorkerPage("/parent"));
  MonitorPage* plain = Add(new MonitorPage("/plain", false));  // its POST answers 405
  ASSERT_NE(Start(), 0);

  struct Outcome {
    bool posted = false;
    std::string reply = "stale";
    bool refused = true;
    std::string refusedReply = "stale";
    bool cancelled = true;
  };
  Outcome outcome;
  std::atomic<bool> postedOnce{false};
  auto worker = page->CreateWorkerFunction(
      [&](WorkerControlObject& w) {
        outcome.posted = w.postToParent("progress 50", outcome.reply);
        postedOnce = true;
        while (!w.isExitRequested()) platform::SleepMilliseconds(5);
        outcome.cancelled = w.postToParent("too late", outcome.refusedReply);
        return 0u;
      },
      "poster", nullptr, nullptr, 0);
  ASSERT_TRUE(worker->Start());
  ASSERT_TRUE(WaitUntil([&] { return postedOnce.load(); }));
  EXPECT_TRUE(outcome.posted);
  EXPECT_EQ(outcome.reply, "ack progress 50");

  std::atomic<bool> plainDone{false};
  auto toPlain = plain->CreateWorkerFunction(
      [&](WorkerControlObject& w) {
        outcome.refused = w.postToParent("x", outcome.refusedReply);
        plainDone = true;
        return 0u;
      },
      "plain poster", nullptr, nullptr, 0);
  ASSERT_TRUE(toPlain->Start());
  ASSERT_TRUE(toPlain->waitForExit(WorkerControlObject::kWaitForever));
  EXPECT_FALSE(outcome.refused);
  EXPECT_EQ(outcome.refusedReply, "");

  std::size_t start = testing_support::ProcessLogSize();
  // The server's shutdown asks the worker to exit and waits for it.
  Stop();
  EXPECT_TRUE(worker->Exited());
  EXPECT_TRUE(page->Workers().Empty());
  EXPECT_FALSE(outcome.cancelled);
  std::vector<WorkerPage::Posted> posts = page->Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].query, "fw_workerupdate=1");
  EXPECT_EQ(posts[0].body, "progress 50");
  EXPECT_TRUE(posts[0].workerMessage);
  std::string log = testing_support::ProcessLogSince(start);
  EXPECT_NE(log.find("WorkerControlObject(poster)::postToParent cancelled due to pending exit request\n"),
            std::string::npos);
  EXPECT_LT(log.find("MonitorPage::OnShutdown Waiting for worker function to finish now completed\n"),
            log.find("Shutdown request handled by default MonitorServer handler"));
}

}  // namespace
