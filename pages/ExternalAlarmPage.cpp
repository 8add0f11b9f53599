#include "pages/ExternalAlarmPage.h"

#include "config/XmlNode.h"
#include "config/XmlParser.h"
#include "pages/QueryStringInterpretter.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/ServerServices.h"
#include "server/UrlParsing.h"

#include <cstdlib>
#include <cstring>

namespace {
const char kReloadItem[] = "ExternalAlarmPage::ReloadConfig";
}

unsigned ExternalAlarmPage::Get(IOBase*, const char*, const char*, const char* const*, const char* const*, unsigned,
                                unsigned) {
  DiagLog(kLogServerFlow, "ExternalAlarmPage::Get\n");
  return kHttpBadRequest;
}

void ExternalAlarmPage::Forward(const char* page, const char* cookie) {
  ServerServices& server = ServerServices::Instance();
  server.ForwardESWakeup(page, cookie);
  ++server.Counters().externalwakeups;
}

unsigned ExternalAlarmPage::Post(IOBase* io, const char*, const char* query, const char* const* headerNames,
                                 const char* const* headerValues, unsigned, unsigned) {
  QueryStringMap pairs(query);
  DiagLog(kLogWakeUp, "ExternalAlarmPage::Post(%s)\n", query ? query : "");
  if (pairs.Has("masterreconfig")) {
    if (std::atoi(pairs.Value("masterreconfig").c_str()) != 0) {
      AddMonitoredItem(kReloadItem, kReloadItem, 1, false, false);
      DiagLog(kLogTrace, "ExternalAlarmPage::Post matches master reconfig\n");
    }
  } else if (pairs.Has("alarms")) {
    std::string body;
    XmlNode* document = nullptr;
    if (ReadRequestBody(io, headerNames, headerValues, body) && !body.empty() &&
        ParseXml(body, &document, nullptr, nullptr) == 0) {
      const XmlNode* root = nullptr;
      for (const XmlNode* child : document->Children())
        if (child->Kind() == XmlKind::Element) {
          root = child;
          break;
        }
      for (const XmlNode* alarm : root ? root->Children() : std::vector<XmlNode*>()) {
        if (alarm->Kind() != XmlKind::Element || !XmlNamesEqual(alarm->Name(), "alarm")) continue;
        const XmlNode* page = FindAttribute(alarm, "page");
        const XmlNode* cookie = FindAttribute(alarm, "cookie");
        if (page == nullptr || cookie == nullptr) continue;
        DiagLog(kLogWakeUp, "ExternalAlarmPage::Post finds XML Alarm w/page %s, cookie %s\n", page->Value().c_str(),
                cookie->Value().c_str());
        Forward(page->Value().c_str(), cookie->Value().c_str());
      }
    }
    delete document;
  } else {
    ExternalAlarmCommand command;
    if (command.MatchQuery(pairs)) {
      DiagLog(kLogWakeUp, "ExternalAlarmPage::Post matches command w/page %s, cookie %s\n", command.Page(),
              command.Cookie());
      Forward(command.Page(), command.Cookie());
    } else {
      DiagLog(kLogWakeUp, "ExternalAlarmPage::Post did not match\n");
    }
  }
  StandardResponse(io, "200 OK", "", 0);
  return kHttpOk;
}

void ExternalAlarmPage::TimeToMonitor(unsigned count, const char* const* itemNames) {
  for (unsigned i = 0; i < count; ++i)
    if (std::strcmp(itemNames[i], kReloadItem) == 0) ServerServices::Instance().Reconfig();
}
