#include "server/ProviderCon.h"

#include "platform/Process.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {
const unsigned kConnectWaitMs = 200;
const std::size_t kLineLimit = 2048;
const std::size_t kBodyPiece = 65536;
const std::size_t kRequestHeadLimit = 65536;

}  // namespace

CProviderCon::CProviderCon(std::uint32_t port, const char* verb) : port_(port) {
  platform::StartSocketLibrary();
  std::snprintf(verb_, sizeof verb_, "%s", verb ? verb : "post");
}

CProviderCon::~CProviderCon() {
  disconnect(true);
  socket_.Close();
  platform::StopSocketLibrary();
}

std::uint32_t CProviderCon::CollectorPort() {
  std::string configured = platform::EnvironmentValue("INVENTORY_PROVIDER_COLLECTOR_PORT", "");
  if (!configured.empty()) {
    unsigned long port = std::strtoul(configured.c_str(), nullptr, 10);
    if (port > 0 && port < 65536) return static_cast<std::uint32_t>(port);
  }
  return kDefaultCollectorPort;
}

const char* CProviderCon::Header(const char* name) const {
  for (const auto& header : headers_)
    if (EqualsNoCase(header.first.c_str(), name)) return header.second.c_str();
  return nullptr;
}

void CProviderCon::ProviderStartStep() {
  if (platform::SystemShutdownPending()) {
    DiagLog(kLogTrace, "Provider %s start blocked due to pending system shutdown\n", executableName_);
    return;
  }
  DiagLog(kLogInputOutput, "Attempting to start provider: %s (%d)\n", executableName_, static_cast<int>(port_));
  // Connections of this program name no executable: nothing is started.
}

int CProviderCon::connect(bool startIfDown) {
  if (connected_) return 1;
  socket_ = platform::CreateTcpSocket();
  if (!socket_.IsValid()) {
    DiagLog(kLogCore, "Unable to create socket\n");
    return -1;
  }
  for (int tries = 0;;) {
    DiagLog(kLogInputOutput, "Call ::connect\n");
    bool ok = platform::ConnectLoopback(socket_, static_cast<std::uint16_t>(port_), kConnectWaitMs);
    DiagLog(kLogInputOutput, "Return from::connect\n");
    if (ok) {
      connected_ = true;
      DiagLog(kLogInputOutput, "Connected: %d\n", static_cast<int>(port_));
      DiagLog(kLogInputOutput, "Connected: After setsockopt\n");
      return 1;
    }
    int error = platform::LastSocketError();
    DiagLog(kLogInputOutput, "closesocket on failed to connect\n");
    socket_.Close();
    socket_ = platform::CreateTcpSocket();
    if (!socket_.IsValid()) {
      DiagLog(kLogCore, "Unable to create socket\n");
      return -1;
    }
    DiagLog(kLogInputOutput, "Unable to connect %s:%d try %d: (%d) %s\n", executableName_, static_cast<int>(port_), tries, error,
            "");
    if (tries == 3) {
      disconnect(true);
      return 0;
    }
    if (tries != 0) {
      platform::SleepMilliseconds(10);
    } else if (startIfDown) {
      ProviderStartStep();
    } else {
      tries = 2;
    }
    ++tries;
  }
}

void CProviderCon::disconnect(bool abortive) {
  if (!connected_) return;
  if (abortive) platform::SetZeroLinger(socket_);
  DiagLog(kLogInputOutput, "CProviderCon::disconnect calls shutdown(%s)\n", executableName_);
  platform::ShutdownSocket(socket_);
  DiagLog(kLogInputOutput, "CProviderCon::disconnect calls closesocket(%s)\n", executableName_);
  socket_.Close();
  connected_ = false;
}

namespace {
// Milliseconds left until the deadline, 0 when it has passed.
unsigned Left(std::uint64_t deadline) {
  std::uint64_t now = platform::MonotonicMilliseconds();
  return now >= deadline ? 0 : static_cast<unsigned>(std::min<std::uint64_t>(deadline - now, 0xffffffffu));
}
}  // namespace

std::string CProviderCon::ReadReplyLine(std::uint64_t deadline) {
  std::string line;
  while (line.size() < kLineLimit - 1) {
    unsigned left = Left(deadline);
    int ready = left == 0 ? 0 : platform::WaitReadable(socket_, left);
    if (ready == 0) {
      DiagLog(kLogCore, "ERROR(1): timed out [%d] waiting for collector %s to respond\n", static_cast<int>(waitSeconds_),
              executableName_);
      timedOut_ = true;
      return line;
    }
    char c;
    long n = ready < 0 ? -1 : platform::Receive(socket_, &c, 1);
    if (n < 0) return std::string();
    if (n == 0) {
      DiagLog(kLogCore, "ERROR: The other end of the socket closed\n");
      disconnect(true);
      return line;
    }
    if (c == '\n') return line;
    line += c;
  }
  return line;
}

std::size_t CProviderCon::ReadBodyBytes(char* buffer, std::size_t count, std::uint64_t deadline) {
  std::size_t received = 0;
  while (received < count) {
    // Each receive follows a wait that found bytes, so it does not block.
    unsigned left = Left(deadline);
    int ready = left == 0 ? 0 : platform::WaitReadable(socket_, left);
    if (ready == 0) {
      DiagLog(kLogCore, "ERROR(2): timed out waiting for collector %s to respond\n", executableName_);
      break;
    }
    long n = ready < 0 ? -1 : platform::Receive(socket_, buffer + received, count - received);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  return received;
}

int CProviderCon::requestDocument(const char* target, const char* body, bool startIfDown,
                                  unsigned bodyTimeoutSeconds) {
  status_ = kHttpInternalError;
  headers_.clear();
  body_.clear();
  DiagLog(kLogInputOutput, "requestDocument attempting to connect\n");
  if (connect(startIfDown) != 1) {
    DiagLog(kLogWarning, "requestDocument fails to connect\n");
    return 0;
  }
  DiagLog(kLogInputOutput, "requestDocument successfully connected\n");
  std::size_t bodyLength = body ? std::strlen(body) : 0;
  std::string head = (EqualsNoCase(verb_, "post") ? "POST " : "GET ") + std::string(target ? target : "") +
                     "\nContent-Length: " + std::to_string(bodyLength) + "\n\n";
  if (head.size() > kRequestHeadLimit - 1) head.resize(kRequestHeadLimit - 1);
  DiagLog(kLogInputOutput, "RequestDocument tempbuff is [%s]\n", head.c_str());
  platform::Send(socket_, head.data(), head.size());
  if (bodyLength != 0) {
    long sent = platform::Send(socket_, body, bodyLength);
    DiagLog(kLogInputOutput, "requestDocument() wrote %d bytes of content\n", static_cast<int>(sent));
  }

  // The header block, and then the body, each have the caller's time-out
  // as a whole: a peer that trickles or stalls holds the caller no longer.
  timedOut_ = false;
  waitSeconds_ = bodyTimeoutSeconds;
  const std::uint64_t headerDeadline = platform::MonotonicMilliseconds() + bodyTimeoutSeconds * 1000ull;
  while (connected_ && !timedOut_) {
    std::string line = ReadReplyLine(headerDeadline);
    TrimRight(line);
    if (line.empty()) break;
    if (line.size() >= 8 && StartsWithNoCase(line.c_str(), "HTTP/1.1", 8)) {
      status_ = line.size() > 9 ? std::atoi(line.c_str() + 9) : 0;
      DiagLog(kLogInputOutput, "ProviderCon HTTP STATUS from line(%s)\n", line.c_str());
    } else {
      std::size_t colon = line.find(':');
      if (colon == std::string::npos)
        headers_.emplace_back(Trim(line), std::string());
      else
        headers_.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
  }
  DiagLog(kLogInputOutput, "Gets reads end of headers\n");
  const char* lengthHeader = Header("Content-Length");
  unsigned long length = lengthHeader ? std::strtoul(lengthHeader, nullptr, 10) : 0;
  DiagLog(kLogInputOutput, "Header content length is %u\n", static_cast<unsigned>(length));
  std::string piece;
  const std::uint64_t bodyDeadline = platform::MonotonicMilliseconds() + bodyTimeoutSeconds * 1000ull;
  while (connected_ && !timedOut_) {
    DiagLog(kLogInputOutput, "Expect Body length %u, Have %u so far\n", static_cast<unsigned>(length),
            static_cast<unsigned>(body_.size()));
    if (body_.size() >= length) break;
    std::size_t want = std::min<std::size_t>(length - body_.size(), kBodyPiece);
    DiagLog(kLogInputOutput, "Body read requests %u bytes\n", static_cast<unsigned>(want));
    piece.resize(want);
    std::size_t got = ReadBodyBytes(&piece[0], want, bodyDeadline);
    if (got == 0) break;
    body_.append(piece.data(), got);
  }
  DiagLog(kLogInputOutput, "Gets reads end of body ( %d bytes left )\n", static_cast<int>(length - std::min<std::size_t>(length, body_.size())));
  DiagLog(kLogInputOutput, "Disconnect from provider\n");
  disconnect(true);
  DiagLog(kLogTrace, "ProviderCon HTTP STATUS is (%d)\n", status_);
  return status_;
}
