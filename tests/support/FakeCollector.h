// A stand-in for the collector: accepts connections on a free loopback port,
// records each request (head and body) and answers with a fixed reply, or
// misbehaves as told.
#pragma once

#include "platform/Socket.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class FakeCollector {
 public:
  struct Received {
    std::string head;  // request line and headers as sent
    std::string target;
    std::string body;
  };

  explicit FakeCollector(std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  ~FakeCollector();

  enum class Mode {
    Answer,    // sends the reply and closes (a cut reply closes early)
    HoldOpen,  // sends the reply and keeps the connection open
    Trickle,   // sends the reply a byte at a time, then keeps it open
  };

  std::uint16_t Port() const { return port_; }
  void SetReply(const std::string& reply);
  // byteMs: the pause before each byte of a trickled reply.
  void SetMode(Mode mode, unsigned byteMs = 100);
  std::vector<Received> Requests();
  // Closes the connections kept open so far.
  void CloseHeld();
  // Waits until at least count requests came in.
  bool WaitForRequests(std::size_t count, unsigned timeoutMs = 20000);

 private:
  void Serve();

  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::string reply_;
  Mode mode_ = Mode::Answer;
  unsigned byteMs_ = 100;
  std::vector<Received> requests_;
  std::vector<platform::Socket> held_;  // under lock_
  std::thread thread_;
};

}  // namespace testing_support
