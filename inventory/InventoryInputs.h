// What the inventory page accepts from a request before acting on it: the
// core server of a scan, which goes into the scanner's command line, and
// the file a reconfig switches to.
#pragma once

#include <string>

// True for a host name or IPv4 address that can stand in the scanner's
// command line as one word: 1 to 255 bytes of ASCII letters, digits, ".",
// "-" and "_". Anything else (spaces, quotes, slashes) could add switches.
bool IsCoreServerName(const std::string& core);

// The file a reconfig name (relative to the working directory) leads to,
// links followed, when that is a regular file inside the client folder or
// the working directory: its resolved path, which is what is loaded, so
// that the name cannot be pointed elsewhere in between. Empty otherwise,
// with the reason logged as a warning. An empty client folder counts as none.
std::string ConfinedReconfigFile(const std::string& name, const std::string& clientFolder);
