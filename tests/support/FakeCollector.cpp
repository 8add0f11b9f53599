#include "FakeCollector.h"

#include "TestSupport.h"
#include "platform/Process.h"
#include "platform/Time.h"

#include <algorithm>
#include <cstdlib>

namespace testing_support {

FakeCollector::FakeCollector(std::string reply) : reply_(std::move(reply)) {
  listener_ = platform::CreateTcpSocket();
  platform::SetReuseAddress(listener_);
  platform::BindLoopback(listener_, 0);
  port_ = platform::BoundPort(listener_);
  platform::Listen(listener_);
  thread_ = std::thread(&FakeCollector::Serve, this);
}

FakeCollector::~FakeCollector() {
  stop_ = true;
  thread_.join();
  CloseHeld();
}

void FakeCollector::CloseHeld() {
  std::lock_guard<std::mutex> guard(lock_);
  held_.clear();
}

void FakeCollector::SetMode(Mode mode, unsigned byteMs) {
  std::lock_guard<std::mutex> guard(lock_);
  mode_ = mode;
  byteMs_ = byteMs;
}

void FakeCollector::SetReply(const std::string& reply) {
  std::lock_guard<std::mutex> guard(lock_);
  reply_ = reply;
}

std::vector<FakeCollector::Received> FakeCollector::Requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

bool FakeCollector::WaitForRequests(std::size_t count, unsigned timeoutMs) {
  return WaitUntil([&] { return Requests().size() >= count; }, timeoutMs, 10);
}

void FakeCollector::Serve() {
  while (!stop_) {
    if (platform::WaitReadable(listener_, 50) <= 0) continue;
    platform::Socket client;
    if (platform::Accept(listener_, &client) != platform::AcceptResult::Accepted) continue;
    Received received;
    std::string data;
    char buffer[4096];
    std::size_t headEnd = std::string::npos;
    std::size_t bodyLength = 0;
    // The client ends its lines with LF only; accept CR LF too.
    while (platform::WaitReadable(client, 5000) > 0) {
      long n = platform::Receive(client, buffer, sizeof buffer);
      if (n <= 0) break;
      data.append(buffer, static_cast<std::size_t>(n));
      std::size_t lf = data.find("\n\n"), crlf = data.find("\r\n\r\n");
      headEnd = std::min(lf == std::string::npos ? lf : lf + 2, crlf == std::string::npos ? crlf : crlf + 4);
      std::size_t at = data.find("Content-Length:");
      if (at < headEnd && headEnd != std::string::npos) bodyLength = std::strtoul(data.c_str() + at + 15, nullptr, 10);
      if (headEnd != std::string::npos && data.size() >= headEnd + bodyLength) break;
    }
    if (headEnd != std::string::npos) {
      received.head = data.substr(0, headEnd);
      received.body = data.substr(headEnd, bodyLength);
      std::size_t space = received.head.find(' ');
      std::size_t end = received.head.find_first_of(" \r\n", space + 1);
      if (space != std::string::npos) received.target = received.head.substr(space + 1, end - space - 1);
    }
    std::unique_lock<std::mutex> guard(lock_);
    requests_.push_back(received);
    std::string reply = reply_;
    Mode mode = mode_;
    unsigned byteMs = byteMs_;
    guard.unlock();
    if (mode == Mode::Trickle) {
      for (std::size_t i = 0; i < reply.size() && !stop_; ++i) {
        platform::SleepMilliseconds(byteMs);
        if (platform::Send(client, reply.data() + i, 1) <= 0) break;
      }
    } else {
      platform::Send(client, reply.data(), reply.size());
    }
    if (mode == Mode::Answer) {
      platform::ShutdownSocket(client);
    } else {
      guard.lock();
      held_.push_back(std::move(client));
    }
  }
}

}  // namespace testing_support
