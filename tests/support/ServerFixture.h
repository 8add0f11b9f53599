// A test that runs the monitor server in this process, on a loopback port the
// system chose, with its standard streams on temporary files; the pages a
// test registers are deleted with the server. And a page for such tests.
#pragma once

#include "ProcessLog.h"
#include "TestSupport.h"
#include "platform/Process.h"
#include "pages/MonitorPage.h"
#include "platform/Time.h"
#include "server/MonitorServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// What pages were called for, in order; shared by the pages of a test.
struct Journal {
  std::mutex lock;
  std::vector<std::string> entries;
  void Add(const std::string& entry) {
    std::lock_guard<std::mutex> guard(lock);
    entries.push_back(entry);
  }
  // The entries that begin with prefix.
  std::vector<std::string> Entries(const std::string& prefix = std::string()) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> found;
    for (const std::string& entry : entries)
      if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
    return found;
  }
};

// Notes its initialization, shutdown, timers, wake-ups and posts (with
// whether a worker sent them); answers a GET with what it was asked and on
// which thread, a POST with "posted " and the body.
class RecordingPage : public MonitorPage {
 public:
  RecordingPage(const char* path, Journal& journal, bool fork = true, int initResult = 0)
      : MonitorPage(path, false), journal_(journal), fork_(fork), initResult_(initResult) {}
  int Initialize() override {
    journal_.Add(std::string("init ") + Path());
    if (idleTimeout != 0) SetIdleTimeout(idleTimeout);
    return initResult_;
  }
  bool ForkOnRequest(const char*, const char*, const char* const*, const char* const*, unsigned) override {
    return fork_;
  }
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const*, const char* const*, unsigned,
               unsigned onSession) override {
    entered = true;
    if (delayMs != 0) platform::SleepMilliseconds(delayMs);
    std::string body = std::string("get ") + path + " " + (query ? query : "(none)") + " session=" +
                       std::to_string(onSession);
    StandardResponse(io, "200 OK", body.data(), body.size());
    return 200;
  }
  unsigned Post(IOBase* io, const char*, const char* query, const char* const* names, const char* const* values,
                unsigned, unsigned) override {
    std::string body;
    ReadRequestBody(io, names, values, body);
    journal_.Add("post " + std::string(query ? query : "") + "|" + body + (isWorkerMessage(query) ? "|worker" : ""));
    body = "posted " + body;
    StandardResponse(io, "200 OK", body.data(), body.size());
    return 200;
  }
  void OnShutdown() override {
    journal_.Add(std::string("shutdown ") + Path());
    MonitorPage::OnShutdown();
  }
  void TimeToMonitor(unsigned count, const char* const* names) override {
    for (unsigned i = 0; i < count; ++i) journal_.Add(std::string("monitor ") + names[i]);
  }
  void ExternalWakeupRecieved(const char* item) override { journal_.Add(std::string("wake ") + item); }

  std::uint32_t idleTimeout = 0;
  unsigned delayMs = 0;
  std::atomic<bool> entered{false};

 private:
  Journal& journal_;
  bool fork_;
  int initResult_;
};

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
    WaitUntil([this] { return server_->Port() != 0 || finished_; });
    return server_->Port();
  }
  // Waits for the run to end by itself.
  bool WaitFinished(unsigned ms) {
    WaitUntil([this] { return finished_.load(); }, ms);
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
