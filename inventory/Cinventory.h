// "/lvl1inventory": XPath queries over the inventory file the scanner leaves
// in the client folder, dropping or switching that file, and starting scans.
#pragma once

#include "config/MonitorPageUsingConfigFile.h"
#include "inventory/XPathIndex.h"

#include <tinyxml.h>

#include <cstdint>
#include <memory>
#include <mutex>
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
  // A loaded inventory: the document and the index of its root element.
  // Never changed once installed, so any number of queries read it at the
  // same time without a lock; it is freed when the page has dropped it and
  // its last reader is done.
  struct Snapshot {
    TiXmlDocument document;
    XPath::DocumentIndex index;
  };
  using SnapshotPtr = std::shared_ptr<const Snapshot>;

  // Node-set answers as node texts plus "<TotalCount>"; other expressions
  // as their string value. Empty when nothing was found or the expression
  // failed.
  static std::string EvaluateQuery(const Snapshot& snapshot, const std::string& expression, std::uint32_t start,
                                   std::uint32_t number);
  // The "name" decoding of reconfig POSTs.
  static std::string DecodeName(const std::string& text);

  bool DocumentLoaded() const { return Current() != nullptr; }

 private:
  enum class Verb { Get, Post };
  struct Answer {
    const char* status;
    std::string body;
    unsigned result;
  };
  Answer Handle(const char* query, Verb verb);
  unsigned StartScan(IOBase* io, const std::string& scan, const std::string& core);
  // The installed snapshot, loading the inventory file first when none is.
  SnapshotPtr LoadOnDemand();
  // The file loaded and indexed, or null (the reason logged) when it does
  // not load.
  static SnapshotPtr Load(const std::string& name);
  SnapshotPtr Current() const;
  void Install(SnapshotPtr snapshot);
  Answer Reply(bool answered, bool loaded, std::string result);
  std::string SetReplyText(const char* text);

  // Guards `snapshot` and `replyText`, and only while they are read or set.
  mutable std::mutex stateLock;
  // Loads and reconfigurations take turns, so that concurrent requests that
  // find nothing loaded read the file once.
  std::mutex loadLock;
  SnapshotPtr snapshot;  // null while no document is loaded
  std::string replyText;
  const char* const commandQuery = "query";
  const char* const commandReset = "reset";
  const char* const commandReconfig = "reconfig";
  const char* const commandConfiguration = "configuration";
  const std::string quoteChars = "\"";
};
