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

}  // namespace

int ProviderMain(int argc, char** argv) {
  platform::WatchSystemShutdown();
  platform::UseSystemLocaleIfClassic();
  std::string moduleDirectory = platform::ModuleFilePath();
  if (!moduleDirectory.empty() && moduleDirectory[0] == '"') moduleDirectory.erase(0, 1);
  while (!moduleDirectory.empty() && !platform::IsPathSeparator(moduleDirectory.back()))
    moduleDirectory.pop_back();
  platform::SetBinaryStandardStreams();
  // Session threads are short and many; 1 MB is a Windows thread's usual
  // stack and ample for the deepest inventory and query accepted.
  platform::SetThreadStackSize(1024 * 1024);
  if (!platform::StartSocketLibrary()) {
    std::fprintf(stderr, "Unable to initialize server\n");
    return 1;
  }

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
  DiagLog(kLogTrace, "App name is [%s]\n", appName.c_str());
  DiagLog(kLogCore, "Verbosity level is %04x\n", g_diagLogMask);
  for (std::size_t i = 0; i < args.size(); ++i) DiagLog(kLogTrace, "Arg:%d,%s\n", static_cast<int>(i), args[i].c_str());
  if (process.logRolloverSize != 0) DiagLog(kLogTrace, "Log rollover at %u\n", process.logRolloverSize);

  // The server lives to the process's end: session threads and pages may
  // still refer to it while the process exits.
  MonitorServer* server = new MonitorServer(options);
  if (!server->IsUsable()) {
    std::fprintf(stderr, "Unable to initialize server\n");
    return 1;
  }
  server->SetModuleDirectory(moduleDirectory);
  server->SetApplicationName(appName);

  MonitorPage* frameworkPages[] = {new IndexPage,         new StatusPage,    new SchedulePage,         new ShutdownPage,
                                   new ExternalAlarmPage, new HeartbeatPage, new CookieMaintenancePage};
  for (std::size_t i = 0; i < sizeof frameworkPages / sizeof frameworkPages[0]; ++i) {
    if (!SetUpFrameworkPage(frameworkPages[i])) {
      for (std::size_t j = i + 1; j < sizeof frameworkPages / sizeof frameworkPages[0]; ++j) delete frameworkPages[j];
      return 1;
    }
  }

  server->SetUniqueName(Cinventory::kUniqueName);
  bool guardHeld = false;
  if (options.uniquenessRequested) {
    if (server->UniqueName().empty()) {
      DiagLog(kLogCore, "Required Provider unique name not set!\n");
      return 1;
    }
    if (!Unicorn::TheOne(server->UniqueName())) return 1;
    guardHeld = true;
  } else {
    DiagLog(kLogWarning, "Uniqueness not requested\n");
  }

  bool applicationPagesRegistered = CreateApplicationPages() == 0;

  if (options.gatherStatistics) {
    PageStats::Instance().SetFileName(args[0]);
    server->SetRequestRecorder(&PageStats::Instance());
    DiagLog(kLogServerFlow, "Stats requested; registering stats page\n");
    if (!SetUpFrameworkPage(new StatsPage(args[0]))) return 1;
  } else {
    DiagLog(kLogServerFlow, "Stats not requested\n");
    std::remove((args[0] + ".stats").c_str());
  }

  server->SetHeartbeatRequested(true);
  server->UpdateHeartbeat();

  int runResult = applicationPagesRegistered ? server->Run() : 0;

  server->DeletePages();
  platform::StopSocketLibrary();
  if (guardHeld) Unicorn::Release();
  DiagLog(kLogCore, "Shutdown...\n");
  return runResult;
}
