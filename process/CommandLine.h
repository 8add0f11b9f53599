// The provider's command line: options, usage text and version output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "process/DiagLog.h"

// What the command line sets for the server (the server keeps a copy).
struct ServerOptions {
  bool skipStdioPhase = false;
  bool portGiven = false;
  std::uint16_t port = 0;
  bool oneShot = false;
  std::string oneShotCommand;
  bool oneShotOutput = false;
  std::string oneShotOutputPath;
  bool firstRun = false;
  bool crashRecovery = false;
  std::uint32_t idleTimeout = 90;
  bool readySignalRequested = false;
  bool gatherStatistics = false;
  bool uniquenessRequested = true;
  std::vector<std::string> arguments;
  std::string moduleName;
};

// What the command line sets for the process itself.
struct ProcessOptions {
  std::string logFileName;          // at most 99 characters; empty = standard error
  std::uint32_t logRolloverSize = 0;  // bytes; 0 = the log's default
  std::uint32_t verbosityMask = kDefaultLogMask;
};

struct CommandLineResult {
  bool proceed = true;  // false: exit now with exitCode
  int exitCode = 0;
  std::string standardOutput;  // text to print before exiting
  std::string standardError;
};

extern const char kProviderVersion[];       // "9.50.0.1"
extern const unsigned long kProviderBuildNumber;

// Scans the arguments (argv[0] first). Options begin with "-" or "/".
CommandLineResult ParseCommandLine(const std::vector<std::string>& argv, ServerOptions& server,
                                   ProcessOptions& process);

std::string UsageText(const std::string& programName);

// Text after the last path separator of argv[0].
std::string ModuleNameOf(const std::string& argv0);
