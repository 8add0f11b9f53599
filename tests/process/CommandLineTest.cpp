#include "process/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
  ServerOptions server;
  ProcessOptions process;
  CommandLineResult result;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  args.insert(args.begin(), "C:\\Program Files\\prov\\provider.exe");
  p.result = ParseCommandLine(args, p.server, p.process);
  return p;
}

TEST(CommandLine, PortWithoutValueBindsZeroAndFlagsCombine) {
  Parsed p = Parse({"-p", "-c"});
  EXPECT_TRUE(p.result.proceed);
  EXPECT_TRUE(p.server.portGiven);
  EXPECT_EQ(p.server.port, 0);
  EXPECT_TRUE(p.server.skipStdioPhase);

  p = Parse({"-cz"});
  EXPECT_TRUE(p.server.skipStdioPhase);
  EXPECT_EQ(p.server.idleTimeout, 0u);

  p = Parse({"-p5000", "/u"});
  EXPECT_EQ(p.server.port, 5000);
  EXPECT_FALSE(p.server.uniquenessRequested);

  // Values use automatic base and are cut to 16 bits.
  EXPECT_EQ(Parse({"-p", "0x10"}).server.port, 16);
  EXPECT_EQ(Parse({"-p", "010"}).server.port, 8);
  EXPECT_EQ(Parse({"-p", "65537"}).server.port, 1);
  // A flag letter after a value-taking letter is part of its value.
  p = Parse({"-p80c"});
  EXPECT_EQ(p.server.port, 80);
  EXPECT_FALSE(p.server.skipStdioPhase);
}

TEST(CommandLine, VerbosityMaskInEveryBase) {
  EXPECT_EQ(Parse({"-V", "0x10"}).process.verbosityMask, 0x10u);
  EXPECT_EQ(Parse({"-V", "16"}).process.verbosityMask, 0x10u);
  EXPECT_EQ(Parse({"-V", "020"}).process.verbosityMask, 0x10u);
  EXPECT_EQ(Parse({"-V0xffff"}).process.verbosityMask, 0xffffu);
  EXPECT_EQ(Parse({}).process.verbosityMask, 0x0003u);
}

TEST(CommandLine, ValuesAttachedSeparateAndMissing) {
  Parsed p = Parse({"-b", "2"});
  EXPECT_EQ(p.process.logRolloverSize, 2048u);

  p = Parse({"-b"});
  EXPECT_FALSE(p.result.proceed);
  EXPECT_EQ(p.result.exitCode, 1);
  EXPECT_EQ(p.result.standardError, "ERROR: expected an argument after parameter 'b'\n");
  EXPECT_EQ(p.result.standardOutput.rfind("usage: ", 0), 0u);

  // A required value never comes from an argument that looks like an option.
  p = Parse({"-o", "-c"});
  EXPECT_FALSE(p.result.proceed);
  EXPECT_EQ(p.result.standardError, "ERROR: expected an argument after parameter 'o'\n");

  p = Parse({"-o", "GET /status", "-O", "out.txt"});
  EXPECT_TRUE(p.server.oneShot);
  EXPECT_EQ(p.server.oneShotCommand, "GET /status");
  EXPECT_TRUE(p.server.oneShotOutput);
  EXPECT_EQ(p.server.oneShotOutputPath, "out.txt");

  // Optional values: the next argument is taken only when it is no option.
  p = Parse({"-l", "-c"});
  EXPECT_EQ(p.process.logFileName, "");
  EXPECT_TRUE(p.server.skipStdioPhase);
  p = Parse({"-l", "prov.log"});
  EXPECT_EQ(p.process.logFileName, "prov.log");
  p = Parse({"-l", std::string(150, 'x')});
  EXPECT_EQ(p.process.logFileName.size(), 99u);
  p = Parse({"-s", "anything", "-f"});
  EXPECT_TRUE(p.server.readySignalRequested);
  EXPECT_TRUE(p.server.firstRun);
}

TEST(CommandLine, ScanningStopsAtWordsAndDashes) {
  Parsed p = Parse({"-c", "word", "-z"});
  EXPECT_TRUE(p.result.proceed);
  EXPECT_TRUE(p.server.skipStdioPhase);
  EXPECT_EQ(p.server.idleTimeout, 90u);

  p = Parse({"--", "-z"});
  EXPECT_EQ(p.server.idleTimeout, 90u);
  p = Parse({"-", "-z"});
  EXPECT_EQ(p.server.idleTimeout, 90u);

  // Every argument is kept, the module name is the last path part.
  EXPECT_EQ(p.server.arguments.size(), 3u);
  EXPECT_EQ(p.server.moduleName, "provider.exe");
}

TEST(CommandLine, UsageAndVersionAnswers) {
  for (const char* arg : {"-h", "-?", "-S", "-Sx", "-x", "-:", "/d"}) {
    Parsed p = Parse({arg});
    EXPECT_FALSE(p.result.proceed) << arg;
    EXPECT_EQ(p.result.exitCode, 1) << arg;
    EXPECT_EQ(p.result.standardOutput, UsageText("C:\\Program Files\\prov\\provider.exe")) << arg;
    EXPECT_EQ(p.result.standardError, "") << arg;
  }
  // -d is listed in the usage text yet not accepted.
  Parsed d = Parse({"-d", "x"});
  EXPECT_EQ(d.result.standardOutput.substr(0, 7), "usage: ");

  EXPECT_EQ(Parse({"-v1"}).result.standardOutput, "186679297\n");
  EXPECT_EQ(Parse({"-v", "2"}).result.standardOutput, "9.50.0.1\n");
  EXPECT_EQ(Parse({"-v0"}).result.standardOutput, "9.50.0f1\n");
  EXPECT_EQ(Parse({"-v29"}).result.standardOutput, "9.50.0.1\n");
  Parsed full = Parse({"-v"});
  EXPECT_EQ(full.result.exitCode, 1);
  const std::string& text = full.result.standardOutput;
  EXPECT_EQ(text.rfind("9.50.0.1\n", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  EXPECT_EQ(Parse({"-v7"}).result.standardOutput, text);
  // Options before -v still apply; -v ends the scan.
  EXPECT_EQ(Parse({"-c", "-v1", "-h"}).result.standardOutput, "186679297\n");
}

TEST(CommandLine, UsageTextIsExact) {
  std::string usage = UsageText("prov");
  EXPECT_EQ(usage.rfind("usage: prov [options]\n  -p [port]     Port for sockets phase\n", 0), 0u);
  EXPECT_NE(usage.find("  -O [cmd]      Single command, stdio mode only, output file\n"), std::string::npos);
  const std::string last = "  -h            This message\n";
  EXPECT_EQ(usage.substr(usage.size() - last.size()), last);
  EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 17);
}

}  // namespace
