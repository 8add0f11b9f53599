// The worker facility every page offers: idle and shutdown paths, the status
// reply, and posts from a worker to its page through the server.
#include "pages/MonitorPage.h"

#include "MemoryChannel.h"
#include "ServerFixture.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using testing_support::WaitUntil;

std::uint32_t Obedient(WorkerControlObject& worker) {
  while (!worker.isExitRequested()) platform::SleepMilliseconds(5);
  return 0;
}

// Notes what its workers post, and whether it was a worker's.
struct WorkerPage : testing_support::RecordingPage {
  explicit WorkerPage(const char* path) : RecordingPage(path, journal) {}
  testing_support::Journal journal;
};

// A worker never started counts as ended: the idle check drops it.
TEST(WorkerPage, StatusReplyAndIdleCheck) {
  for (const char* query : {"fw_workerupdate=1&more=2", "FW_WORKERUPDATE=1", "fw_workerupdate=10", ""})
    EXPECT_FALSE(MonitorPage::isWorkerMessage(query)) << query;
  WorkerPage page("/status-of-workers");
  testing_support::MemoryChannel empty;
  EXPECT_EQ(page.ReplyWithWorkerStatus(&empty), 200u);
  EXPECT_EQ(empty.written, "HTTP/1.1 200 OK\r\nContent-Length:17\r\n\r\n<worker-status/>\n");
  auto running = page.CreateWorkerFunction(Obedient, "scan <all>", "depth=2", "op!0000000001", 5);
  ASSERT_TRUE(running->Start());
  EXPECT_FALSE(running->Start());  // one thread per object
  page.CreateWorkerFunction(Obedient, nullptr, nullptr, nullptr, 0);
  std::string body = "<worker-status>\n\t<helper created=\"" + std::to_string(running->Created()) +
                     "\">\n\t\t<desc>scan &lt;all&gt;</desc>\n\t\t<parameters>depth=2</parameters>\n"
                     "\t\t<cookie-id>op!0000000001</cookie-id>\n\t\t<exited>0</exited>\n"
                     "\t\t<exit-requested>0</exit-requested>\n\t\t<exit-signaled>0</exit-signaled>\n\t</helper>\n";
  testing_support::MemoryChannel two;
  EXPECT_EQ(page.ReplyWithWorkerStatus(&two), 200u);
  EXPECT_NE(two.written.find(body), std::string::npos) << two.written;
  EXPECT_NE(two.written.find("<desc>{default}</desc>\n\t\t<parameters/>\n\t\t<cookie-id/>\n\t\t<exited>1</exited>"),
            std::string::npos);
  EXPECT_FALSE(page.IsIdle());
  running->setExitRequested();
  EXPECT_TRUE(running->waitForExit(WorkerControlObject::kWaitForever));
  EXPECT_TRUE(page.IsIdle());
  EXPECT_TRUE(page.Workers().Empty());
}

// A worker that ignores the exit request is let go after its exit time-out;
// it keeps using its object after the page is gone.
TEST(WorkerPage, PreShutdownAsksAndShutdownWaitsThenAbandons) {
  std::size_t start = testing_support::ProcessLogSize();
  std::atomic<bool> release{false}, abandoned{false}, sawRequestAfterAbandon{false};
  std::weak_ptr<WorkerControlObject> stubbornRef;
  {
    WorkerPage page("/stopping");
    auto obedient = page.CreateWorkerFunction(Obedient, "obedient", nullptr, nullptr, 0);
    ASSERT_TRUE(obedient->Start());
    auto stubborn = page.CreateWorkerFunction(
        [&](WorkerControlObject& w) {
          while (!release) {
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
    EXPECT_TRUE(stubborn->ExitSignaled());
    stubborn.reset();
    page.OnShutdown();
    abandoned = true;
    EXPECT_TRUE(obedient->Exited());
    EXPECT_TRUE(page.IsIdle());
  }
  EXPECT_NE(stubbornRef.lock(), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return sawRequestAfterAbandon.load(); }));
  release = true;
  EXPECT_TRUE(WaitUntil([&] { return stubbornRef.expired(); }));
  EXPECT_EQ(testing_support::CountOf(testing_support::ProcessLogSince(start),
                                     "Worker thread (stubborn) did not respond to exit request; terminating it\n"),
            1u);
}

using WorkerServer = testing_support::ServerFixture;

TEST_F(WorkerServer, PostToParentReachesThePageThroughThePort) {
  Make();
  WorkerPage* page = Add(new WorkerPage("/parent"));
  MonitorPage* plain = Add(new MonitorPage("/plain", false));  // its POST answers 405
  ASSERT_NE(Start(), 0);
  std::string reply = "stale", refusedReply = "stale";
  std::atomic<bool> posted{false}, postedOnce{false}, refused{true}, cancelled{true};
  auto worker = page->CreateWorkerFunction(
      [&](WorkerControlObject& w) {
        posted = w.postToParent("progress 50", reply);
        postedOnce = true;
        while (!w.isExitRequested()) platform::SleepMilliseconds(5);
        cancelled = w.postToParent("too late", refusedReply);
        return 0u;
      },
      "poster", nullptr, nullptr, 0);
  ASSERT_TRUE(worker->Start());
  ASSERT_TRUE(WaitUntil([&] { return postedOnce.load(); }));
  EXPECT_TRUE(posted);
  EXPECT_EQ(reply, "posted progress 50");
  auto toPlain = plain->CreateWorkerFunction(
      [&](WorkerControlObject& w) {
        refused = w.postToParent("x", refusedReply);
        return 0u;
      },
      "plain poster", nullptr, nullptr, 0);
  ASSERT_TRUE(toPlain->Start());
  ASSERT_TRUE(toPlain->waitForExit(WorkerControlObject::kWaitForever));
  EXPECT_FALSE(refused);
  EXPECT_EQ(refusedReply, "");
  // The server's shutdown asks the worker to exit and waits for it.
  Stop();
  EXPECT_TRUE(worker->Exited());
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(page->journal.Entries("post"), (std::vector<std::string>{"post fw_workerupdate=1|progress 50|worker"}));
}

}  // namespace
