// One HTTP exchange with a port on 127.0.0.1: the collector, or the
// provider's own listen port.
#pragma once

#include "platform/Socket.h"
#include "server/HttpResponse.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CProviderCon {
 public:
  explicit CProviderCon(std::uint32_t port, const char* verb = "post");
  ~CProviderCon();
  CProviderCon(const CProviderCon&) = delete;
  CProviderCon& operator=(const CProviderCon&) = delete;

  static constexpr std::uint32_t kDefaultCollectorPort = 21584;
  // The collector's port: kDefaultCollectorPort, or
  // INVENTORY_PROVIDER_COLLECTOR_PORT.
  static std::uint32_t CollectorPort();

  // 1 connected, 0 gave up, -1 no socket could be created.
  int connect(bool startIfDown);
  // The reply's status, or 0 when no connection could be made.
  int requestDocument(const char* target, const char* body, bool startIfDown, unsigned bodyTimeoutSeconds);
  // The reply body wait of the server's own messages.
  static constexpr unsigned kMessageBodyTimeoutSeconds = 10;
  void disconnect(bool abortive);

  int Status() const { return status_; }
  const std::string& Body() const { return body_; }
  std::size_t BodyLength() const { return body_.size(); }
  const std::vector<std::pair<std::string, std::string>>& Headers() const { return headers_; }
  // Reply header value by name, without regard to case; null when absent.
  const char* Header(const char* name) const;

 private:
  // Both read until the deadline (monotonic milliseconds) at the latest.
  std::string ReadReplyLine(std::uint64_t deadline);
  std::size_t ReadBodyBytes(char* buffer, std::size_t count, std::uint64_t deadline);
  void ProviderStartStep();

  std::uint32_t port_;
  std::int32_t status_ = kHttpInternalError;
  platform::Socket socket_;
  bool connected_ = false;
  bool timedOut_ = false;  // the header block did not arrive in time
  unsigned waitSeconds_ = 0;
  char executableName_[260] = "";
  char verb_[20] = "";
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string body_;
};
