// Dispatching parsed requests to pages, and the access log.
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/HttpRequest.h"
#include "server/HttpResponse.h"
#include "server/IOChannel.h"
#include "server/LogDate.h"
#include "server/MonitorServer.h"

unsigned MonitorServer::Request(IOBase& io, const URLParse& request, const RoutedRequest* routed) {
  DiagLog(kLogServerFlow, "MonitorServer::Request\n");
  RequestVerb verb = routed != nullptr ? routed->verb : VerbOf(request.Method());
  if (verb == kVerbOther) {
    DiagLog(kLogWarning, "%s Invalid request type %s\n", io.Name(), request.Method());
    WriteStandardResponse(io, "405 Method Not Allowed", nullptr, 0);
    return kHttpMethodNotAllowed;
  }
  ServedPage* page = nullptr;
  if (routed != nullptr) {
    // Found when the connection was accepted; the log tells the lookup as
    // for every other request.
    DiagLog(kLogServerFlow, "MonitorServer::FindPage(%s)\n", request.Path());
    page = routed->page;
  } else {
    page = FindPage(request.Path());
  }
  if (page == nullptr) {
    DiagLog(kLogWarning, "%s path not found %s\n", io.Name(), request.Path());
    WriteStandardResponse(io, "404 Not Found", nullptr, 0);
    return kHttpNotFound;
  }
  RequestRecorder* recorder = requestRecorder_;
  std::uint64_t before = recorder != nullptr ? platform::MonotonicMilliseconds() : 0;
  unsigned status = verb == kVerbGet ? page->Get(&io, request.Path(), request.Query(), request.HeaderNames(),
                                                 request.HeaderValues(), kOriginServer, kOnSession)
                                     : page->Post(&io, request.Path(), request.Query(), request.HeaderNames(),
                                                  request.HeaderValues(), kOriginServer, kOnSession);
  if (recorder != nullptr)
    recorder->RecordRequest(request.Path(), verb == kVerbPost,
                            static_cast<std::uint32_t>(platform::MonotonicMilliseconds() - before));
  return status;
}

int MonitorServer::ProcessRequests(IOBase& io, URLParse& request, const RoutedRequest* routed) {
  DiagLog(kLogServerFlow, "MonitorServer::ProcessRequests\n");
  unsigned long number = 0;
  for (;;) {
    unsigned status = Request(io, request, routed);
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
    routed = nullptr;  // only the first request can have been routed
  }
  return 0;
}
