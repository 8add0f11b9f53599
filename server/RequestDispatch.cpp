// Dispatching parsed requests to pages, and the access log.
#include "pages/MonitorPage.h"
#include "pages/PageStats.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/HttpRequest.h"
#include "server/HttpResponse.h"
#include "server/IOChannel.h"
#include "server/LogDate.h"
#include "server/MonitorServer.h"

#include "server/TextCompare.h"

unsigned MonitorServer::Request(IOBase& io, const URLParse& request) {
  DiagLog(kLogServerFlow, "MonitorServer::Request\n");
  unsigned verb = 0;
  if (EqualsNoCase(request.Method(), "GET"))
    verb = 1;
  else if (EqualsNoCase(request.Method(), "POST"))
    verb = 2;
  if (verb == 0) {
    DiagLog(kLogWarning, "%s Invalid request type %s\n", io.Name(), request.Method());
    WriteStandardResponse(io, "405 Method Not Allowed", nullptr, 0);
    return 405;
  }
  MonitorPage* page = FindPage(request.Path());
  if (page == nullptr) {
    DiagLog(kLogWarning, "%s path not found %s\n", io.Name(), request.Path());
    WriteStandardResponse(io, "404 Not Found", nullptr, 0);
    return 404;
  }
  bool timed = options_.gatherStatistics && PageStats::Instance().Enabled();
  std::uint64_t before = timed ? platform::MonotonicMilliseconds() : 0;
  unsigned status =
      verb == 1 ? page->Get(&io, request.Path(), request.Query(), request.HeaderNames(), request.HeaderValues(), 1, 1)
                : page->Post(&io, request.Path(), request.Query(), request.HeaderNames(), request.HeaderValues(), 1, 1);
  if (timed)
    PageStats::Instance().Record(request.Path(), verb == 2,
                                 static_cast<std::uint32_t>(platform::MonotonicMilliseconds() - before));
  return status;
}

int MonitorServer::ProcessRequests(IOBase& io, URLParse& request) {
  DiagLog(kLogServerFlow, "MonitorServer::ProcessRequests\n");
  unsigned long number = 0;
  for (;;) {
    unsigned status = Request(io, request);
    ++number;
    if ((g_diagLogMask & kLogServerFlow) != 0) {
      char date[64];
      FormatLogDate(date, sizeof date, 0);
      DiagLog(kLogServerFlow, "%s - - %s \"%s %s\" %u %lu [request#%lu]\n", io.Name(), date, request.Method(),
              request.Path(), status, static_cast<unsigned long>(io.RequestBytesWritten()), number);
    }
    if (io.Kind() != IOBase::kStdio) break;
    SkipUnreadBody(io, request.HeaderNames(), request.HeaderValues());
    if (request.ReadRequest(io) != URLParse::kRequestRead) break;
  }
  return 0;
}
