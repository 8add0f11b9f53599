// Splits a Windows command line into the arguments a Windows program sees, so
// that a child started here from one command-line text gets the program and
// arguments it would get there.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The first argument (the program) ends at the first space or tab outside
// double quotes; its quotes are dropped and backslashes are plain characters.
// The other arguments follow the C runtime's rules: space and tab separate
// them outside quotes; 2n backslashes before a double quote give n
// backslashes and the quote opens or closes quoting; 2n+1 backslashes before
// a quote give n backslashes and a literal quote; other backslashes are
// plain; two quotes inside quoting give one literal quote. Leading white
// space is skipped; an empty or blank line gives no arguments.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace platform
