#include "process/ProviderMain.h"

#include "platform/Process.h"
#include "process/CommandLine.h"
#include "process/DiagLog.h"
#include "process/Unicorn.h"
#include "inventory/ApplicationPages.h"
#include "inventory/Cinventory.h"
#include "pages/ExternalAlarmPage.h"
#include "pages/IndexPage.h"
#include "pages/PageStats.h"
#include "pages/StatsPage.h"
#include "pages/StandardPages.h"
#include "server/MonitorServer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {
// Framework pages are initialized at once, then registered.
bool SetUpFrameworkPage(MonitorPage* page) {
  if (page->InitializeOnce() != 0) {
    delete page;
    return false;
  }
  if (page->Register() != 0) {
    page->Cleanup();
    delete page;
    return false;
  }
  return true;
}

// The process's own set-up before the command line: console control
// handler, locale, binary standard streams, thread stacks, socket library.
// False when the socket library cannot start.
bool PrepareProcess(std::string& moduleDirectory) {
  platform::WatchSystemShutdown();
  platform::UseSystemLocaleIfClassic();
  moduleDirectory = platform::ModuleFilePath();
  if (!moduleDirectory.empty() && moduleDirectory[0] == '"') moduleDirectory.erase(0, 1);
  while (!moduleDirectory.empty() && !platform::IsPathSeparator(moduleDirectory.back()))
    moduleDirectory.pop_back();
  platform::SetBinaryStandardStreams();
  // Session threads are short and many; 1 MB is a Windows thread's usual
  // stack and ample for the deepest inventory and query accepted.
  platform::SetThreadStackSize(1024 * 1024);
  if (!platform::StartSocketLibrary()) {
    std::fprintf(stderr, "Unable to initialize server\n");
    return false;
  }
  return true;
}

void LogStart(const std::vector<std::string>& args, const std::string& appName, const ProcessOptions& process) {
  DiagLog(kLogTrace, "App name is [%s]\n", appName.c_str());
  DiagLog(kLogCore, "Verbosity level is %04x\n", g_diagLogMask);
  for (std::size_t i = 0; i < args.size(); ++i) DiagLog(kLogTrace, "Arg:%d,%s\n", static_cast<int>(i), args[i].c_str());
  if (process.logRolloverSize != 0) DiagLog(kLogTrace, "Log rollover at %u\n", process.logRolloverSize);
}

// The framework pages in their order; false (the rest deleted) at the
// first that fails.
bool SetUpFrameworkPages() {
  MonitorPage* frameworkPages[] = {new IndexPage,         new StatusPage,    new SchedulePage,         new ShutdownPage,
                                   new ExternalAlarmPage, new HeartbeatPage, new CookieMaintenancePage};
  const std::size_t count = sizeof frameworkPages / sizeof frameworkPages[0];
  for (std::size_t i = 0; i < count; ++i) {
    if (!SetUpFrameworkPage(frameworkPages[i])) {
      for (std::size_t j = i + 1; j < count; ++j) delete frameworkPages[j];
      return false;
    }
  }
  return true;
}

// The single-instance guard, unless "-u"; false when start-up must stop.
bool TakeSingleInstanceGuard(const MonitorServer& server, const ServerOptions& options, bool& guardHeld) {
  guardHeld = false;
  if (!options.uniquenessRequested) {
    DiagLog(kLogWarning, "Uniqueness not requested\n");
    return true;
  }
  if (server.UniqueName().empty()) {
    DiagLog(kLogCore, "Required Provider unique name not set!\n");
    return false;
  }
  if (!Unicorn::TheOne(server.UniqueName())) return false;
  guardHeld = true;
  return true;
}

// With "-g" the request timings and the statistics page; without, the
// provider statistics file goes. False when the page cannot be set up.
bool SetUpStatistics(MonitorServer& server, const ServerOptions& options, const std::string& programPath) {
  if (!options.gatherStatistics) {
    DiagLog(kLogServerFlow, "Stats not requested\n");
    std::remove((programPath + ".stats").c_str());
    return true;
  }
  PageStats::Instance().SetFileName(programPath);
  server.SetRequestRecorder(&PageStats::Instance());
  DiagLog(kLogServerFlow, "Stats requested; registering stats page\n");
  return SetUpFrameworkPage(new StatsPage(programPath));
}

}  // namespace

int ProviderMain(int argc, char** argv) {
  std::string moduleDirectory;
  if (!PrepareProcess(moduleDirectory)) return 1;

  ServerOptions options;
  ProcessOptions process;
  std::vector<std::string> args(argv, argv + argc);
  CommandLineResult parsed = ParseCommandLine(args, options, process);
  if (!parsed.proceed) {
    std::fputs(parsed.standardError.c_str(), stderr);
    std::fputs(parsed.standardOutput.c_str(), stdout);
    return parsed.exitCode;
  }
  g_diagLogMask = process.verbosityMask;
  OpenDiagLog(process.logFileName.c_str(), process.logRolloverSize);
  std::string appName = args.empty() || args[0].empty() ? "UNKNOWN" : ModuleNameOf(args[0]);
  LogStart(args, appName, process);

  // The server lives to the process's end: session threads and pages may
  // still refer to it while the process exits.
  MonitorServer* server = new MonitorServer(options);
  if (!server->IsUsable()) {
    std::fprintf(stderr, "Unable to initialize server\n");
    return 1;
  }
  server->SetModuleDirectory(moduleDirectory);
  server->SetApplicationName(appName);
  if (!SetUpFrameworkPages()) return 1;

  server->SetUniqueName(Cinventory::kUniqueName);
  bool guardHeld = false;
  if (!TakeSingleInstanceGuard(*server, options, guardHeld)) return 1;

  bool applicationPagesRegistered = CreateApplicationPages() == 0;
  if (!SetUpStatistics(*server, options, args[0])) return 1;

  server->SetHeartbeatRequested(true);
  server->UpdateHeartbeat();

  int runResult = applicationPagesRegistered ? server->Run() : 0;

  server->DeletePages();
  platform::StopSocketLibrary();
  if (guardHeld) Unicorn::Release();
  DiagLog(kLogCore, "Shutdown...\n");
  return runResult;
}
