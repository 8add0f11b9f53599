#include "pages/WorkerControl.h"

#include "PageTestLog.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

using page_tests::CountOf;

// A gate the test opens; workers block on it.
struct Gate {
  std::atomic<bool> open{false};
  void Wait() const {
    while (!open) platform::SleepMilliseconds(2);
  }
};

// Runs until asked to exit.
std::uint32_t Obedient(WorkerControlObject& worker) {
  worker.WorkerBegins();
  while (!worker.isExitRequested()) platform::SleepMilliseconds(5);
  return 0;
}

std::shared_ptr<WorkerControlObject> Make(WorkerFunction function, const char* description = "w") {
  auto worker = std::make_shared<WorkerControlObject>("/page", std::move(function), description, nullptr, nullptr, 7);
  worker->Prepare();
  return worker;
}

bool WaitUntil(const std::function<bool()>& condition, unsigned ms = 20000) {
  std::uint64_t deadline = platform::MonotonicMilliseconds() + ms;
  while (!condition()) {
    if (platform::MonotonicMilliseconds() > deadline) return false;
    platform::SleepMilliseconds(5);
  }
  return true;
}

TEST(WorkerControl, FreshObjectIsExitedAndIgnoresExitRequestsUntilStarted) {
  std::int64_t before = platform::CurrentEpochSeconds();
  WorkerControlObject plain("/p", nullptr, nullptr, nullptr, nullptr, 3);
  EXPECT_EQ(plain.Description(), "{default}");
  EXPECT_EQ(plain.Parameters(), "");
  EXPECT_EQ(plain.CookieId(), "");
  EXPECT_EQ(plain.UserValue(), 3u);
  EXPECT_EQ(plain.ExitTimeout(), 10u);
  plain.Prepare();
  EXPECT_GE(plain.Created(), static_cast<std::uint32_t>(before));
  EXPECT_LE(plain.Created(), static_cast<std::uint32_t>(platform::CurrentEpochSeconds()));
  EXPECT_TRUE(plain.Exited());
  EXPECT_TRUE(plain.ExitRequestedFlag());
  plain.setExitRequested();
  EXPECT_FALSE(plain.ExitSignaled());  // still "requested" from construction
  EXPECT_TRUE(plain.hasExited());
  EXPECT_TRUE(plain.waitForExit(0));
  EXPECT_TRUE(plain.waitForExit(WorkerControlObject::kWaitForever));
  // Not shared: no thread can keep it alive, so it is never started.
  EXPECT_FALSE(plain.Start());
  EXPECT_TRUE(plain.Exited());
}

TEST(WorkerControl, StartRequestExitAndWaitForever) {
  std::atomic<std::uint32_t> seenThread{0};
  std::atomic<std::uint32_t> seenUser{0};
  auto worker = Make([&](WorkerControlObject& w) {
    seenThread = platform::CurrentThreadId();
    seenUser = w.UserValue();
    return Obedient(w);
  });
  ASSERT_TRUE(worker->Start());
  EXPECT_FALSE(worker->Exited());
  EXPECT_FALSE(worker->ExitRequestedFlag());
  EXPECT_NE(worker->ThreadId(), 0u);
  EXPECT_FALSE(worker->Start());  // one thread per object
  EXPECT_FALSE(worker->Exited());

  EXPECT_FALSE(worker->waitForExit(0));
  EXPECT_FALSE(worker->hasExited());
  // It cannot end before it is asked to, so the bounded wait runs out.
  EXPECT_FALSE(worker->waitForExit(1));
  EXPECT_FALSE(worker->Exited());

  worker->setExitRequested();
  EXPECT_TRUE(worker->ExitSignaled());
  EXPECT_TRUE(worker->ExitRequestedFlag());
  EXPECT_TRUE(worker->waitForExit(WorkerControlObject::kWaitForever));
  EXPECT_TRUE(worker->Exited());
  EXPECT_TRUE(worker->hasExited());
  EXPECT_EQ(seenThread.load(), worker->ThreadId());
  EXPECT_EQ(seenUser.load(), 7u);

  // Ended: it may run again, with a fresh exit signal.
  ASSERT_TRUE(worker->Start());
  EXPECT_FALSE(worker->ExitSignaled());
  worker->setExitRequested();
  EXPECT_TRUE(worker->waitForExit(WorkerControlObject::kWaitForever));
}

TEST(WorkerControl, BoundedWaitAndTestSeeTheEndOfAWorker) {
  Gate gate;
  auto worker = Make([&](WorkerControlObject&) {
    gate.Wait();
    return 0u;
  });
  ASSERT_TRUE(worker->Start());
  EXPECT_FALSE(worker->waitForExit(0));
  gate.open = true;
  EXPECT_TRUE(worker->waitForExit(20));
  EXPECT_TRUE(worker->Exited());

  Gate second;
  auto polled = Make([&](WorkerControlObject&) {
    second.Wait();
    return 0u;
  });
  ASSERT_TRUE(polled->Start());
  EXPECT_FALSE(polled->hasExited());
  second.open = true;
  EXPECT_TRUE(WaitUntil([&] { return polled->hasExited(); }));
  EXPECT_TRUE(polled->waitForExit(0));
}

TEST(WorkerList, MaintenanceDropsEndedWorkersOnly) {
  std::size_t start = page_tests::LogSize();
  WorkerList list;
  Gate gate;
  auto blocked = [&](WorkerControlObject&) {
    gate.Wait();
    return 0u;
  };
  // A worker that is never started counts as ended: the next creation drops
  // it, and it can no longer start (its page would not wait for it).
  auto unstarted = list.Create("/p", blocked, "unstarted", nullptr, nullptr, 0);
  std::vector<std::shared_ptr<WorkerControlObject>> running;
  for (const char* name : {"one", "two", "three"}) {
    running.push_back(list.Create("/p", blocked, name, nullptr, nullptr, 0));
    ASSERT_TRUE(running.back()->Start());
  }
  EXPECT_EQ(list.Size(), 3u);
  EXPECT_FALSE(unstarted->Start());
  EXPECT_TRUE(unstarted->Exited());
  list.Maintenance();
  EXPECT_EQ(list.Size(), 3u);
  auto hanging = list.Create("/p", [](WorkerControlObject& w) { return Obedient(w); }, "obedient", nullptr, nullptr, 0);
  ASSERT_TRUE(hanging->Start());
  gate.open = true;
  for (auto& worker : running) ASSERT_TRUE(worker->waitForExit(WorkerControlObject::kWaitForever));
  list.Maintenance();
  ASSERT_EQ(list.Size(), 1u);
  EXPECT_EQ(list.Snapshot()[0]->Description(), "obedient");
  std::string log = page_tests::LogSince(start);
  EXPECT_EQ(CountOf(log, "MonitorPage::CreateWorkerFunction calls workersMaintenance\n"), 5u);
  std::size_t unstartedAt = log.find("MonitorPage::workersMaintenance discards worker control for [unstarted]\n");
  std::size_t one = log.find("MonitorPage::workersMaintenance discards worker control for [one]\n");
  std::size_t two = log.find("MonitorPage::workersMaintenance discards worker control for [two]\n");
  std::size_t three = log.find("MonitorPage::workersMaintenance discards worker control for [three]\n");
  ASSERT_NE(three, std::string::npos);
  EXPECT_LT(unstartedAt, one);
  EXPECT_LT(one, two);
  EXPECT_LT(two, three);
  list.RequestExitAll();
  list.WaitForAll();
  EXPECT_TRUE(list.Empty());
}

TEST(WorkerList, ShutdownWaitWithAZeroTimeOutAbandonsAtOnceAndAnEmptyListReturns) {
  WorkerList list;
  std::size_t emptyStart = page_tests::LogSize();
  list.WaitForAll();
  std::string emptyLog = page_tests::LogSince(emptyStart);
  EXPECT_EQ(CountOf(emptyLog, "Waiting for worker function to finish\n"), 0u);
  EXPECT_NE(emptyLog.find("Waiting for worker function to finish now completed\n"), std::string::npos);
  std::atomic<bool> release{false};
  auto stubborn = list.Create(
      "/p",
      [&](WorkerControlObject&) {
        while (!release) platform::SleepMilliseconds(5);
        return 0u;
      },
      "zero", nullptr, nullptr, 0);
  stubborn->SetExitTimeout(0);
  ASSERT_TRUE(stubborn->Start());
  std::weak_ptr<WorkerControlObject> ref = stubborn;
  stubborn.reset();
  std::size_t start = page_tests::LogSize();
  list.WaitForAll();
  EXPECT_TRUE(list.Empty());
  // One walk, no second waited.
  EXPECT_EQ(CountOf(page_tests::LogSince(start), "MonitorPage::OnShutdown Waiting for worker function to finish\n"), 1u);
  release = true;
  EXPECT_TRUE(WaitUntil([&] { return ref.expired(); }));
}

}  // namespace
