// "/lvl1inventory": XPath queries over the inventory file the scanner leaves
// in the client folder, dropping or switching that file, and starting scans.
#pragma once

#include "config/MonitorPageUsingConfigFile.h"
#include "inventory/XPathIndex.h"

#include <tinyxml.h>

#include <cstdint>
#include <string>

class Cinventory : public CMonitorPageUsingConfigFile {
 public:
  static const char kUniqueName[];  // "Corvane inventory provider"

  Cinventory();

  int Initialize() override;
  void Cleanup() override;
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  void TimeToMonitor(unsigned count, const char* const* itemNames) override;
  void ExternalWakeupRecieved(const char* itemId) override;
  MonitorMetadata& GetMetadata(MonitorMetadata& metadata) override;

  // The first "inventory*.xml" in the client folder (with the folder), or
  // empty when the registry names no folder or nothing matches.
  static std::string FindInventoryFile();
  // Node-set answers as node texts plus "<TotalCount>"; other expressions
  // as their string value. Empty when nothing was found or the expression
  // failed.
  std::string EvaluateQuery(const std::string& expression, std::uint32_t start, std::uint32_t number);
  // The "name" decoding of reconfig POSTs.
  static std::string DecodeName(const std::string& text);

  bool DocumentLoaded() const { return documentLoaded; }

 private:
  enum class Verb { Get, Post };
  unsigned Handle(IOBase* io, const char* query, Verb verb);
  unsigned StartScan(IOBase* io, const std::string& scan, const std::string& core);
  void LoadOnDemand();
  // Loads `name` into `document` and indexes it; false when it did not load.
  bool Load(const std::string& name);
  unsigned Reply(IOBase* io, bool answered, const std::string& result);

  TiXmlDocument document;
  XPath::DocumentIndex index;  // of the document's root element, rebuilt with every load
  std::string replyText;
  const char* const commandQuery = "query";
  const char* const commandReset = "reset";
  const char* const commandReconfig = "reconfig";
  const char* const commandConfiguration = "configuration";
  const std::string quoteChars = "\"";
  bool documentLoaded = false;
};
