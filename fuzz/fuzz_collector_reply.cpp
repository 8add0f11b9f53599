// The collector client's reply reading: CProviderCon sends its request to a
// stand-in collector on a loopback port of this process, which answers with
// the input bytes and closes. Status, headers and body must be what a model
// of the reading rules, written here, makes of the same bytes.
#include "platform/Socket.h"
#include "server/ProviderCon.h"
#include "platform/AsciiText.h"
#include "support/FuzzCheck.h"

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Accepts one connection at a time, reads the request head, answers with
// the reply set for it, and closes.
class StandInCollector {
 public:
  StandInCollector() {
    listener_ = platform::CreateTcpSocket();
    FUZZ_CHECK(listener_.IsValid());
    FUZZ_CHECK(platform::BindLoopback(listener_, 0));
    FUZZ_CHECK(platform::Listen(listener_));
    port_ = platform::BoundPort(listener_);
    FUZZ_CHECK(port_ != 0);
    std::thread(&StandInCollector::Serve, this).detach();
  }

  std::uint16_t Port() const { return port_; }

  void SetReply(std::string reply) {
    std::lock_guard<std::mutex> guard(lock_);
    reply_ = std::move(reply);
  }

  // The request head the last connection sent.
  std::string LastHead() {
    std::lock_guard<std::mutex> guard(lock_);
    return head_;
  }

 private:
  void Serve() {
    for (;;) {
      if (platform::WaitReadable(listener_, 1000) <= 0) continue;
      platform::Socket client;
      if (platform::Accept(listener_, &client) != platform::AcceptResult::Accepted) continue;
      std::string head;
      char buffer[4096];
      while (head.find("\n\n") == std::string::npos && platform::WaitReadable(client, 5000) > 0) {
        const long n = platform::Receive(client, buffer, sizeof buffer);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
      }
      std::string reply;
      {
        std::lock_guard<std::mutex> guard(lock_);
        head_ = head;
        reply = reply_;
      }
      for (std::size_t sent = 0; sent < reply.size();) {
        const long n = platform::Send(client, reply.data() + sent, reply.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      platform::ShutdownSocket(client);
      client.Close();
    }
  }

  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::mutex lock_;
  std::string reply_;
  std::string head_;
};

struct ModelReply {
  int status = 500;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Lines end at LF (not kept) or after 2047 bytes; trailing white space is
// cut; an empty line ends the headers; a status line starts with HTTP/1.1
// in any case and has its number from the tenth character; the peer's close
// ends reading after the line it cut short. The body is what follows, up to
// the Content-Length (0 without one).
ModelReply Model(const std::string& reply) {
  ModelReply model;
  std::size_t pos = 0;
  bool open = true;
  while (open) {
    std::string line;
    while (line.size() < 2047) {
      if (pos == reply.size()) {
        open = false;
        break;
      }
      const char c = reply[pos++];
      if (c == '\n') break;
      line += c;
    }
    while (!line.empty() && IsSpace(line.back())) line.pop_back();
    if (line.empty()) break;
    if (line.size() >= 8 && StartsWithNoCase(line.c_str(), "HTTP/1.1", 8)) {
      model.status = line.size() > 9 ? std::atoi(line.c_str() + 9) : 0;
    } else {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos)
        model.headers.emplace_back(Trim(line), std::string());
      else
        model.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
  }
  if (!open) return model;
  unsigned long length = 0;
  for (const auto& header : model.headers)
    if (EqualsNoCase(header.first.c_str(), "Content-Length")) {
      length = std::strtoul(header.second.c_str(), nullptr, 10);
      break;
    }
  model.body = reply.substr(pos, std::min<std::size_t>(length, reply.size() - pos));
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static StandInCollector* collector = new StandInCollector();  // lives as long as the process
  const std::string reply(reinterpret_cast<const char*>(data), size);
  collector->SetReply(reply);

  CProviderCon connection(collector->Port(), "post");
  const int status = connection.requestDocument("/heartbeat/monitor?port=1", nullptr, false, 1);
  const ModelReply model = Model(reply);
  FUZZ_CHECK_DETAIL(status == model.status, "status " + std::to_string(status) + " model " +
                                                std::to_string(model.status));
  FUZZ_CHECK(connection.Status() == status);
  FUZZ_CHECK(connection.Headers() == model.headers);
  FUZZ_CHECK_DETAIL(connection.Body() == model.body, "body " + Printable(connection.Body()) + " model " +
                                                         Printable(model.body));
  FUZZ_CHECK(connection.BodyLength() == model.body.size());
  FUZZ_CHECK(collector->LastHead() == "POST /heartbeat/monitor?port=1\nContent-Length: 0\n\n");
  return 0;
}
