// Puts load on a provider: many connections at once, one request each (the
// provider answers one request per connection and closes it), and every
// answer checked.
//
//   load-client <port> <requests> <connections> <target> [<target> ...]
//
// Request i is "GET <target i mod n> HTTP/1.1". An answer passes when it is
// "HTTP/1.1 200 OK", its header lines are "name:value", its Content-Length
// header gives the exact length of the body that follows up to the close,
// and its body is the same as the first answer's for that target. Prints
// "requests", "answered", "failures", "seconds" and "per-second" lines and
// up to ten failures; exit code 0 when every request passed, 1 otherwise,
// 3 for a usage error.
#include "platform/Process.h"
#include "platform/Socket.h"
#include "platform/Time.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const unsigned kConnectTimeoutMs = 10000;
const unsigned kAnswerTimeoutMs = 30000;

struct Shared {
  std::uint16_t port = 0;
  unsigned total = 0;
  std::vector<std::string> targets;
  std::atomic<unsigned> next{0};
  std::atomic<unsigned> answered{0};
  std::atomic<unsigned> failures{0};
  std::mutex lock;
  std::vector<std::string> bodies;  // the first answer's body per target
  std::vector<bool> haveBody;
  std::vector<std::string> samples;
};

void Fail(Shared& shared, unsigned request, const std::string& what, const std::string& answer) {
  shared.failures++;
  std::lock_guard<std::mutex> guard(shared.lock);
  if (shared.samples.size() >= 10) return;
  std::string shown = answer.substr(0, 300);
  for (char& c : shown)
    if (c == '\r' || c == '\n') c = ' ';
  shared.samples.push_back("request " + std::to_string(request) + " (" +
                           shared.targets[request % shared.targets.size()] + "): " + what + " [" + shown + "]");
}

// What is wrong with the answer, or empty.
std::string Check(Shared& shared, std::size_t target, const std::string& answer) {
  static const std::string kStatus = "HTTP/1.1 200 OK\r\n";
  if (answer.compare(0, kStatus.size(), kStatus) != 0) return "not a 200 OK status line";
  std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) return "the header block does not end";
  long length = -1;
  for (std::size_t at = kStatus.size(); at < end + 2;) {
    std::size_t eol = answer.find("\r\n", at);
    std::string line = answer.substr(at, eol - at);
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return "a header line without a name: " + line;
    std::string name = line.substr(0, colon);
    if (name == "Content-Length") {
      std::string value = line.substr(colon + 1);
      char* rest = nullptr;
      length = std::strtol(value.c_str(), &rest, 10);
      if (value.empty() || *rest != '\0' || length < 0) return "a bad Content-Length: " + value;
    }
    at = eol + 2;
  }
  if (length < 0) return "no Content-Length";
  std::string body = answer.substr(end + 4);
  if (static_cast<long>(body.size()) != length)
    return "Content-Length " + std::to_string(length) + " but " + std::to_string(body.size()) + " body bytes";
  std::lock_guard<std::mutex> guard(shared.lock);
  if (!shared.haveBody[target]) {
    shared.haveBody[target] = true;
    shared.bodies[target] = body;
  } else if (body != shared.bodies[target]) {
    return "a body unlike the first answer's";
  }
  return std::string();
}

void Client(Shared& shared) {
  std::string request, answer;
  char buffer[16384];
  for (;;) {
    unsigned i = shared.next++;
    if (i >= shared.total) return;
    std::size_t target = i % shared.targets.size();
    request = "GET " + shared.targets[target] + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    platform::Socket socket = platform::CreateTcpSocket();
    if (!socket.IsValid()) {
      Fail(shared, i, "no socket (error " + std::to_string(platform::LastSocketError()) + ")", "");
      continue;
    }
    if (!platform::ConnectLoopback(socket, shared.port, kConnectTimeoutMs)) {
      Fail(shared, i, "no connection (error " + std::to_string(platform::LastSocketError()) + ")", "");
      socket.Close();
      continue;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
      long n = platform::Send(socket, request.data() + sent, request.size() - sent);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    if (sent < request.size()) {
      Fail(shared, i, "the request could not be sent", "");
      socket.Close();
      continue;
    }
    answer.clear();
    bool timedOut = false, broken = false;
    std::uint64_t deadline = platform::MonotonicMilliseconds() + kAnswerTimeoutMs;
    for (;;) {
      std::uint64_t now = platform::MonotonicMilliseconds();
      if (now >= deadline || platform::WaitReadable(socket, static_cast<unsigned>(deadline - now)) <= 0) {
        timedOut = true;
        break;
      }
      long n = platform::Receive(socket, buffer, sizeof buffer);
      if (n == 0) break;
      if (n < 0) {
        broken = true;
        break;
      }
      answer.append(buffer, static_cast<std::size_t>(n));
    }
    socket.Close();
    if (timedOut) {
      Fail(shared, i, "no end of the answer in time", answer);
      continue;
    }
    if (broken) {
      Fail(shared, i, "the connection broke", answer);
      continue;
    }
    std::string fault = Check(shared, target, answer);
    if (!fault.empty()) {
      Fail(shared, i, fault, answer);
      continue;
    }
    shared.answered++;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: load-client port requests connections target [target ...]\n");
    return 3;
  }
  Shared shared;
  shared.port = static_cast<std::uint16_t>(std::strtoul(argv[1], nullptr, 10));
  shared.total = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  unsigned connections = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  for (int i = 4; i < argc; ++i) shared.targets.push_back(argv[i]);
  if (shared.port == 0 || connections == 0) {
    std::fprintf(stderr, "usage: load-client port requests connections target [target ...]\n");
    return 3;
  }
  shared.bodies.resize(shared.targets.size());
  shared.haveBody.resize(shared.targets.size(), false);
  platform::StartSocketLibrary();

  std::uint64_t start = platform::MonotonicMilliseconds();
  std::vector<std::thread> clients;
  for (unsigned c = 0; c < connections; ++c) clients.emplace_back(Client, std::ref(shared));
  for (std::thread& client : clients) client.join();
  double seconds = static_cast<double>(platform::MonotonicMilliseconds() - start) / 1000.0;
  if (seconds <= 0) seconds = 0.001;

  std::printf("requests %u\n", shared.total);
  std::printf("answered %u\n", shared.answered.load());
  std::printf("failures %u\n", shared.failures.load());
  std::printf("seconds %.2f\n", seconds);
  std::printf("per-second %.0f\n", shared.answered.load() / seconds);
  for (const std::string& sample : shared.samples) std::printf("failure: %s\n", sample.c_str());
  platform::StopSocketLibrary();
  return shared.failures == 0 && shared.answered == shared.total ? 0 : 1;
}
