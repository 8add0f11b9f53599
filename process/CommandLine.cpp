#include "process/CommandLine.h"

#include <cstdlib>
#include <cstring>

const char kProviderVersion[] = "9.50.0.1";
const unsigned long kProviderBuildNumber = 186679297ul;  // 0x0B208001

namespace {

const std::size_t kMaxLogFileNameOption = 99;

const char* const kUsageLines[] = {
    "  -p [port]     Port for sockets phase",
    "  -c            Skip stdio phase",
    "  -d path       Configuration directory (default is module path)",
    "  -v[#]         Display version information",
    "  -V#           Verbosity mask",
    "  -l [path]     Log file name",
    "  -s            Request ready signal",
    "  -f            First run flag",
    "  -o [cmd]      Single command, stdio mode only",
    "  -O [cmd]      Single command, stdio mode only, output file",
    "  -z            Prevent idle shutdown",
    "  -g            gather provider statistics",
    "  -u            disable unique provider locking",
    "  -r            heartbeat crash recovery option",
    "  -b #          override maximum log size (in kbytes)",
    "  -h            This message",
};

bool IsOptionStart(const std::string& arg) {
  return !arg.empty() && (arg[0] == '-' || arg[0] == '/');
}

enum class ValueKind { None, Optional, Required };

ValueKind ValueKindOf(char letter) {
  switch (letter) {
    case 'p':
    case 'v':
    case 'l':
    case 's':
    case 'S':
      return ValueKind::Optional;
    case 'V':
    case 'o':
    case 'O':
    case 'b':
      return ValueKind::Required;
    default:
      return ValueKind::None;
  }
}

std::uint32_t AutoBase(const std::string& text) {
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

std::string VersionText(const std::string& value) {
  char buffer[64];
  switch (value.empty() ? '\0' : value[0]) {
    case '0':
      return "9.50.0f1\n";
    case '1':
      std::snprintf(buffer, sizeof buffer, "%lu\n", kProviderBuildNumber);
      return buffer;
    case '2':
      return std::string(kProviderVersion) + "\n";
    default:
      return std::string(kProviderVersion) + "\n" +
             "Corvane inventory provider; serves inventory queries to the local collector\n" +
             "Built " __DATE__ " " __TIME__ "\n";
  }
}

CommandLineResult Exit(int code, std::string out, std::string err = std::string()) {
  CommandLineResult result;
  result.proceed = false;
  result.exitCode = code;
  result.standardOutput = std::move(out);
  result.standardError = std::move(err);
  return result;
}

// Applies one option letter and its value; false when the option ends the
// parse, with the result in *exit.
bool ApplyOption(char letter, const std::string& value, bool hasValue, const std::string& usage,
                 ServerOptions& server, ProcessOptions& process, CommandLineResult* exit) {
  switch (letter) {
    case 'p':
      server.portGiven = true;
      server.port = hasValue ? static_cast<std::uint16_t>(AutoBase(value)) : 0;
      break;
    case 'c':
      server.skipStdioPhase = true;
      break;
    case 'v':
      *exit = Exit(1, VersionText(value));
      return false;
    case 'V':
      process.verbosityMask = AutoBase(value);
      break;
    case 'l':
      process.logFileName = hasValue ? value.substr(0, kMaxLogFileNameOption) : std::string();
      break;
    case 's':
      server.readySignalRequested = true;
      break;
    case 'f':
      server.firstRun = true;
      break;
    case 'o':
      server.oneShot = true;
      server.oneShotCommand = value;
      break;
    case 'O':
      server.oneShotOutput = true;
      server.oneShotOutputPath = value;
      break;
    case 'z':
      server.idleTimeout = 0;
      break;
    case 'g':
      server.gatherStatistics = true;
      break;
    case 'u':
      server.uniquenessRequested = false;
      break;
    case 'r':
      server.crashRecovery = true;
      break;
    case 'b':
      process.logRolloverSize =
          static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10)) * 1024u;
      break;
    default:  // -h, -?, -S, -d, ':' and unknown letters
      *exit = Exit(1, usage);
      return false;
  }
  return true;
}
}  // namespace

std::string UsageText(const std::string& programName) {
  std::string text = "usage: " + programName + " [options]\n";
  for (const char* line : kUsageLines) text += std::string(line) + "\n";
  return text;
}

std::string ModuleNameOf(const std::string& argv0) {
  std::size_t cut = argv0.find_last_of("\\/");
  return cut == std::string::npos ? argv0 : argv0.substr(cut + 1);
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& argv, ServerOptions& server,
                                   ProcessOptions& process) {
  server.arguments = argv;
  std::string program = argv.empty() ? std::string() : argv[0];
  server.moduleName = ModuleNameOf(program);
  const std::string usage = UsageText(program);

  for (std::size_t index = 1; index < argv.size(); ++index) {
    const std::string& arg = argv[index];
    if (!IsOptionStart(arg)) break;
    if (arg == "-" || arg == "--") break;
    for (std::size_t pos = 1; pos < arg.size(); ++pos) {
      char letter = arg[pos];
      ValueKind kind = ValueKindOf(letter);
      std::string value;
      bool hasValue = false;
      if (kind != ValueKind::None) {
        if (pos + 1 < arg.size()) {
          value = arg.substr(pos + 1);
          hasValue = true;
        } else if (index + 1 < argv.size() && !IsOptionStart(argv[index + 1])) {
          value = argv[++index];
          hasValue = true;
        } else if (kind == ValueKind::Required) {
          char message[64];
          std::snprintf(message, sizeof message, "ERROR: expected an argument after parameter '%c'\n", letter);
          return Exit(1, usage, message);
        }
        pos = arg.size();  // the value took the rest of the argument
      }
      CommandLineResult exit;
      if (!ApplyOption(letter, value, hasValue, usage, server, process, &exit)) return exit;
    }
  }
  return CommandLineResult();
}
