// A test that runs the monitor server in this process, on a loopback port the
// system chose, with its standard streams on temporary files; the pages a
// test registers are deleted with the server.
#pragma once

#include "ProcessLog.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

namespace testing_support {

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override { logStart_ = ProcessLogSize(); }
  void TearDown() override {
    Stop();
    if (server_) server_->DeletePages();
    server_.reset();
    for (std::FILE* f : {in_, out_})
      if (f) std::fclose(f);
  }

  MonitorServer& Make(ServerOptions options = ServerOptions()) {
    options.skipStdioPhase = true;
    options.portGiven = true;
    options.port = 0;
    server_.reset(new MonitorServer(options));
    in_ = std::tmpfile();
    out_ = std::tmpfile();
    MonitorServer::Streams streams;
    streams.input = in_;
    streams.output = out_;
    streams.error = nullptr;
    server_->SetStreams(streams);
    return *server_;
  }
  template <class Page>
  Page* Add(Page* page) {
    EXPECT_EQ(page->Register(), 0);
    return page;
  }
  // Runs the server on a thread of its own; the port, or 0 when it never bound.
  std::uint16_t Start() {
    finished_ = false;
    runner_ = std::thread([this] {
      server_->Run();
      finished_ = true;
    });
    std::uint64_t deadline = platform::MonotonicMilliseconds() + 20000;
    while (server_->Port() == 0 && !finished_ && platform::MonotonicMilliseconds() < deadline)
      platform::SleepMilliseconds(5);
    return server_->Port();
  }
  // Waits for the run to end by itself.
  bool WaitFinished(unsigned ms) {
    std::uint64_t deadline = platform::MonotonicMilliseconds() + ms;
    while (!finished_ && platform::MonotonicMilliseconds() < deadline) platform::SleepMilliseconds(10);
    if (finished_ && runner_.joinable()) runner_.join();
    return finished_;
  }
  void Stop() {
    if (runner_.joinable()) {
      server_->Signal(MonitorServer::kSignalShutdown);
      runner_.join();
    }
  }
  // What the process log gained since the test began.
  std::string Log() const { return ProcessLogSince(logStart_); }

  std::unique_ptr<MonitorServer> server_;
  std::thread runner_;
  std::atomic<bool> finished_{false};
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  std::size_t logStart_ = 0;
};

}  // namespace testing_support
