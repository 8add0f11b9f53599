// The name this machine goes by on the network.
#pragma once

#include <string>

namespace platform {

// The machine's host name as the system reports it; empty when unknown.
std::string HostName();

}  // namespace platform
