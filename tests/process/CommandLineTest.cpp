#include "process/CommandLine.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const char kProgram[] = "C:\\Program Files\\prov\\provider.exe";

struct Parsed {
  ServerOptions server;
  ProcessOptions process;
  CommandLineResult result;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  args.insert(args.begin(), kProgram);
  p.result = ParseCommandLine(args, p.server, p.process);
  return p;
}

TEST(CommandLine, OptionsThatProceed) {
  const struct {
    std::vector<std::string> args;
    std::function<bool(const Parsed&)> holds;
  } cases[] = {
      // A port option without value binds port 0; flags combine.
      {{"-p", "-c"}, [](const Parsed& p) { return p.server.portGiven && p.server.port == 0 && p.server.skipStdioPhase; }},
      {{"-cz"}, [](const Parsed& p) { return p.server.skipStdioPhase && p.server.idleTimeout == 0; }},
      {{"-p5000", "/u"}, [](const Parsed& p) { return p.server.port == 5000 && !p.server.uniquenessRequested; }},
      // Values use automatic base and are cut to 16 bits.
      {{"-p", "0x10"}, [](const Parsed& p) { return p.server.port == 16; }},
      {{"-p", "010"}, [](const Parsed& p) { return p.server.port == 8; }},
      {{"-p", "65537"}, [](const Parsed& p) { return p.server.port == 1; }},
      // A flag letter after a value-taking letter is part of its value.
      {{"-p80c"}, [](const Parsed& p) { return p.server.port == 80 && !p.server.skipStdioPhase; }},
      {{"-V", "0x10"}, [](const Parsed& p) { return p.process.verbosityMask == 0x10u; }},
      {{"-V", "16"}, [](const Parsed& p) { return p.process.verbosityMask == 0x10u; }},
      {{"-V", "020"}, [](const Parsed& p) { return p.process.verbosityMask == 0x10u; }},
      {{"-V0xffff"}, [](const Parsed& p) { return p.process.verbosityMask == 0xffffu; }},
      {{}, [](const Parsed& p) { return p.process.verbosityMask == 0x0003u && p.server.idleTimeout == 90u; }},
      {{"-b", "2"}, [](const Parsed& p) { return p.process.logRolloverSize == 2048u; }},
      {{"-o", "GET /status", "-O", "out.txt"},
       [](const Parsed& p) { return p.server.oneShotCommand == "GET /status" && p.server.oneShotOutputPath == "out.txt"; }},
      // Optional values: the next argument is taken only when it is no option.
      {{"-l", "-c"}, [](const Parsed& p) { return p.process.logFileName.empty() && p.server.skipStdioPhase; }},
      {{"-l", "prov.log"}, [](const Parsed& p) { return p.process.logFileName == "prov.log"; }},
      {{"-l", std::string(150, 'x')}, [](const Parsed& p) { return p.process.logFileName.size() == 99u; }},
      {{"-s", "anything", "-f"}, [](const Parsed& p) { return p.server.readySignalRequested && p.server.firstRun; }},
      // Scanning stops at words and dashes.
      {{"-c", "word", "-z"}, [](const Parsed& p) { return p.server.skipStdioPhase && p.server.idleTimeout == 90u; }},
      {{"--", "-z"}, [](const Parsed& p) { return p.server.idleTimeout == 90u; }},
      // Every argument is kept, the module name is the last path part.
      {{"-", "-z"},
       [](const Parsed& p) { return p.server.idleTimeout == 90u && p.server.arguments.size() == 3u && p.server.moduleName == "provider.exe"; }},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.args);
    std::string args;
    for (const std::string& a : c.args) args += a + " ";
    EXPECT_TRUE(p.result.proceed) << args;
    EXPECT_TRUE(c.holds(p)) << args;
  }
}

}  // namespace
