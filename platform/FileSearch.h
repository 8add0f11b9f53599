// Searching a folder for file names that match a wildcard pattern.
#pragma once

#include <string>

namespace platform {

// The separator this system prefers when a path is joined.
char PreferredSeparator();

// The first entry the system yields for a pattern such as
// "C:\\Client\\inventory*.xml" or "/var/client/inventory*.xml" ("*" and "?"
// in the last part only; either separator). The bare name, or empty when
// nothing matches. No ordering is applied.
std::string FindFirstFile(const std::string& pattern);

}  // namespace platform
