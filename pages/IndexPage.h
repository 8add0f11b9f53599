// "/index": the application pages, the interface version, and whether late
// initialization is done. The collector's first index request starts the
// deferred late initialization.
#pragma once

#include "pages/MonitorPage.h"

#include <map>
#include <string>

class IndexPage : public MonitorPage {
 public:
  IndexPage();

  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  bool ForkOnRequest(const char* path, const char* query, const char* const* headerNames,
                     const char* const* headerValues, unsigned verb) override;

  // Process-wide attributes of the index table, ordered by name.
  static std::map<std::string, std::string>& Attributes();
};
