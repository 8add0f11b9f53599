// A plain client for tests: one connection, one request, the whole reply.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

// Sends the text and reads until the server closes. Empty when no
// connection could be made within the time.
std::string Exchange(std::uint16_t port, const std::string& request, unsigned timeoutMs = 20000);

// "GET path HTTP/1.1" with a Host header.
std::string Get(std::uint16_t port, const std::string& target);
// "POST target HTTP/1.1" with the body and its Content-Length.
std::string Post(std::uint16_t port, const std::string& target, const std::string& body = std::string());

// A port nothing listens on right now (bound once, then released).
std::uint16_t FreePort();

}  // namespace testing_support
