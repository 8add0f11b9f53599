#include "pages/IndexPage.h"

#include "config/XMLAccumulator.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/ServerServices.h"

#include <cstring>

std::map<std::string, std::string>& IndexPage::Attributes() {
  static std::map<std::string, std::string> attributes;
  return attributes;
}

IndexPage::IndexPage() : MonitorPage("/index", true) {
  if (Attributes().empty()) {
    Attributes()["version"] = "1.2.0.1";
    Attributes()["date"] = "9 Feb 2007";
  }
}

bool IndexPage::ForkOnRequest(const char*, const char*, const char* const*, const char* const*, unsigned) {
  return false;
}

unsigned IndexPage::Get(IOBase* io, const char*, const char* query, const char* const*, const char* const*, unsigned,
                        unsigned) {
  ServerServices& server = ServerServices::Instance();
  if (query != nullptr && std::strcmp(query, "collectorrequest=1") == 0 && !server.CollectorRequestSeen()) {
    DiagLog(kLogWarning, "IndexPage::Initial index page request from collector\n");
    server.SetCollectorRequestSeen();
  }
  DiagLog(kLogServerFlow, "IndexPage::Get index page requested\n");
  XMLAccumulator xml;
  XmlAttributeMap attributes(Attributes().begin(), Attributes().end());
  xml.OpenElement("table", nullptr, &attributes);
  if (server.LateInitDone()) xml.AddAttribute("lateinitdone", "1");
  for (const auto& entry : server.Pages())
    if (!entry.second->IsFrameworkPage()) entry.second->DescribePage(xml, entry.first.c_str());
  xml.CloseElement();
  std::string text;
  xml.GetXml(text, 0);
  StandardResponse(io, "200 OK", text.data(), text.size());
  return kHttpOk;
}
