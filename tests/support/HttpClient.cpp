#include "HttpClient.h"

#include "platform/Process.h"
#include "platform/Socket.h"
#include "platform/Time.h"

namespace testing_support {

std::string Exchange(std::uint16_t port, const std::string& request, unsigned timeoutMs) {
  std::uint64_t deadline = platform::MonotonicMilliseconds() + timeoutMs;
  platform::Socket socket;
  while (platform::MonotonicMilliseconds() < deadline) {
    socket = platform::CreateTcpSocket();
    if (platform::ConnectLoopback(socket, port, 1000)) break;
    socket.Close();
    platform::SleepMilliseconds(20);
  }
  if (!socket.IsValid()) return std::string();
  // Bounded: a server that stops reading (or closes) must not hold the test.
  platform::SendAll(socket, request.data(), request.size(), timeoutMs);
  std::string reply;
  char buffer[8192];
  while (platform::MonotonicMilliseconds() < deadline) {
    std::uint64_t now = platform::MonotonicMilliseconds();
    if (platform::WaitReadable(socket, static_cast<unsigned>(deadline - now)) <= 0) break;
    long n = platform::Receive(socket, buffer, sizeof buffer);
    if (n <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  return reply;
}

std::string Get(std::uint16_t port, const std::string& target) {
  return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

std::string Post(std::uint16_t port, const std::string& target, const std::string& body) {
  return Exchange(port, "POST " + target + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::uint16_t FreePort() {
  platform::Socket socket = platform::CreateTcpSocket();
  platform::BindLoopback(socket, 0);
  return platform::BoundPort(socket);
}

}  // namespace testing_support
