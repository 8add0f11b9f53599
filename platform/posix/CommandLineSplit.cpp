#include "platform/posix/CommandLineSplit.h"

namespace platform {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  const std::size_t end = commandLine.size();
  std::size_t p = 0;
  while (p < end && IsBlank(commandLine[p])) ++p;
  if (p == end) return arguments;

  // The program name: quotes toggle, nothing is escaped.
  std::string program;
  bool inQuotes = false;
  while (p < end && (inQuotes || !IsBlank(commandLine[p]))) {
    if (commandLine[p] == '"')
      inQuotes = !inQuotes;
    else
      program += commandLine[p];
    ++p;
  }
  arguments.push_back(program);

  inQuotes = false;
  for (;;) {
    while (p < end && IsBlank(commandLine[p])) ++p;
    if (p == end) break;
    std::string argument;
    for (;;) {
      std::size_t backslashes = 0;
      while (p < end && commandLine[p] == '\\') {
        ++p;
        ++backslashes;
      }
      bool copy = true;
      if (p < end && commandLine[p] == '"') {
        if (backslashes % 2 == 0) {
          if (inQuotes && p + 1 < end && commandLine[p + 1] == '"') {
            ++p;  // "" inside quotes: one literal quote, still quoted
          } else {
            copy = false;
            inQuotes = !inQuotes;
          }
        }
        backslashes /= 2;
      }
      argument.append(backslashes, '\\');
      if (p == end || (!inQuotes && IsBlank(commandLine[p]))) break;
      if (copy) argument += commandLine[p];
      ++p;
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace platform
