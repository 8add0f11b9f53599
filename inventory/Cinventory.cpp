#include "inventory/Cinventory.h"

#include "config/CIRegKey.h"
#include "config/MonitorMetadata.h"
#include "inventory/InventoryFile.h"
#include "inventory/InventoryInputs.h"
#include "inventory/InventoryNodeText.h"
#include "inventory/XPathProcessor.h"
#include "platform/ChildProcess.h"
#include "platform/FileSearch.h"
#include "platform/Process.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/UrlParsing.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

const char Cinventory::kUniqueName[] = "Corvane inventory provider";

namespace {
const char kClientKey[] = "SOFTWARE\\Corvane\\Fleetwarden\\WinClient";
const std::uint32_t kIdleAfterGet = 300;
const std::uint32_t kIdleAfterScan = 5;
// Paths and names, the registry's "Path" value among them: the system's
// path limit, terminator included.
const std::size_t kPathSize = 260;
// The scanner's command line, terminator included.
const std::size_t kCommandLineSize = 388;
// Room the command line keeps for its own text beside the folder and the
// core name twice: the fixed switches, "/sync" and the terminator.
const std::size_t kCommandLineFixedRoom = 112;

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// The client folder from the registry ("Path"), cut to size - 1 bytes.
std::string ClientFolder(std::size_t size) {
  CIRegKey key;
  if (key.Open(kRegLocalMachine, kClientKey, kRegKeyAllAccess) != kRegSuccess) return std::string();
  std::string buffer(size, '\0');
  std::uint32_t length = static_cast<std::uint32_t>(size);
  if (key.QueryValue(&buffer[0], "Path", &length) != kRegSuccess) return std::string();
  buffer.resize(strnlen(buffer.c_str(), size - 1));
  return buffer;
}

std::uint32_t Unsigned(const std::string& text) {
  return static_cast<std::uint32_t>(std::atol(text.c_str()));
}
}  // namespace

Cinventory::Cinventory() : CMonitorPageUsingConfigFile("/lvl1inventory") {}

int Cinventory::Initialize() { return 0; }

void Cinventory::Cleanup() {}

void Cinventory::TimeToMonitor(unsigned count, const char* const* itemNames) {
  for (unsigned i = 0; i < count; ++i) DiagLog(kLogServerFlow, "Time to monitor item %s\n", itemNames[i]);
}

void Cinventory::ExternalWakeupRecieved(const char* itemId) {
  DiagLog(kLogServerFlow, "Cinventory::ExternalWakeupRecieved itemID is %s\n", itemId);
}

MonitorMetadata& Cinventory::GetMetadata(MonitorMetadata& metadata) { return metadata; }

std::string Cinventory::FindInventoryFile() {
  std::string folder = ClientFolder(kPathSize);
  if (folder.empty()) return std::string();
  std::string pattern = folder + platform::PreferredSeparator() + "inventory*.xml";
  if (pattern.size() > kPathSize - 1) return std::string();
  std::string name = platform::FindFirstFile(pattern);
  // Loaded from the client folder, not from wherever the provider runs.
  return name.empty() ? name : folder + platform::PreferredSeparator() + name;
}

Cinventory::SnapshotPtr Cinventory::Load(const std::string& name) {
  std::string reason;
  try {
    auto loaded = std::make_shared<Snapshot>();
    if (LoadInventoryFile(loaded->document, name, &reason)) {
      loaded->index.Build(loaded->document.RootElement());
      return loaded;
    }
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  DiagLog(kLogHardError, "Cinventory::Load %s does not load: %s\n", name.c_str(), reason.c_str());
  return nullptr;
}

Cinventory::SnapshotPtr Cinventory::Current() const {
  std::lock_guard<std::mutex> guard(stateLock);
  return snapshot;
}

void Cinventory::Install(SnapshotPtr loaded) {
  SnapshotPtr dropped;  // freed after the lock, when no reader holds it
  std::lock_guard<std::mutex> guard(stateLock);
  dropped = std::move(snapshot);
  snapshot = std::move(loaded);
}

Cinventory::SnapshotPtr Cinventory::LoadOnDemand() {
  if (SnapshotPtr current = Current()) return current;
  std::lock_guard<std::mutex> loading(loadLock);
  if (SnapshotPtr current = Current()) return current;  // loaded meanwhile
  std::string name = FindInventoryFile();
  if (name.empty()) return nullptr;
  SnapshotPtr loaded = Load(name);
  if (loaded != nullptr) Install(loaded);
  return loaded;
}

std::string Cinventory::EvaluateQuery(const Snapshot& loaded, const std::string& expression, std::uint32_t start,
                                      std::uint32_t number) {
  // The evaluator only reads the tree it is given.
  TiXmlElement* root = const_cast<TiXmlElement*>(loaded.document.RootElement());
  XPath::xpath_processor processor(root, expression.c_str(), &loaded.index);
  std::string result;
  if (expression.empty() || expression[0] != '/') {
    result = processor.ComputeString();
    // A failed evaluation is no answer, not the text "false".
    if (processor.GetErrorKind() != XPath::ErrorKind::None) result.clear();
    return result;
  }
  std::uint32_t total = processor.ComputeNodeSet();
  if (total == 0) return result;
  std::uint32_t end = total;
  if (number != 0 && number <= total) end = start + number;
  if (end > total || end < start) end = total;  // never past the node set
  for (std::uint32_t i = start; i < end; ++i) {
    if (const TiXmlNode* node = processor.GetNode(i))
      AppendNodeText(result, node, 0);
    else if (const TiXmlAttribute* attribute = processor.GetAttribute(i))
      AppendAttributeText(result, attribute);
  }
  result += "<TotalCount>" + std::to_string(total) + "</TotalCount>";
  return result;
}

std::string Cinventory::DecodeName(const std::string& text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      int high = i + 1 < text.size() ? hex(text[i + 1]) : -1;
      if (high < 0) break;  // a zero byte: the name ends here
      int low = i + 2 < text.size() ? hex(text[i + 2]) : -1;
      if (low < 0) {
        if (high == 0) break;
        out += static_cast<char>(high);
        i += 1;
      } else {
        if (high * 16 + low == 0) break;
        out += static_cast<char>(high * 16 + low);
        i += 2;
      }
    } else {
      out += c;
    }
  }
  return out;
}

std::string Cinventory::SetReplyText(const char* text) {
  std::lock_guard<std::mutex> guard(stateLock);
  replyText = text;
  return replyText;
}

Cinventory::Answer Cinventory::Reply(bool answered, bool loaded, std::string result) {
  if (answered) return Answer{"200 OK", std::move(result), kHttpOk};
  if (loaded) return Answer{"400 Bad Request", SetReplyText("bad query"), kHttpBadRequest};
  return Answer{"204 No Content", SetReplyText("we have no inventory.xml today"), kHttpNoContent};
}

// Works on the snapshot taken at its start (or the one it installs), so a
// reset or reconfig of another request never changes a document under it;
// the answer is written by the caller, with no lock held.
Cinventory::Answer Cinventory::Handle(const char* query, Verb verb) {
  bool get = verb == Verb::Get;
  SnapshotPtr loaded = LoadOnDemand();
  QueryStringMap pairs(query);
  const std::string& command = pairs.Value("command");
  const std::string& data = pairs.Value("data");
  std::uint32_t start = Unsigned(pairs.Value("start"));
  std::uint32_t number = Unsigned(pairs.Value("number"));
  bool answered = false;
  std::string result;

  if (Contains(command, commandQuery)) {
    std::string expression;
    for (char c : data)
      if (quoteChars.find(c) == std::string::npos) expression += c;
    if (loaded != nullptr && !expression.empty()) {
      DiagLog(kLogRequestHandling, get ? "Level one inventory provider received query:\n%s\n"
                        : "Level one inventory provider recieved query:\n%s\n",
              expression.c_str());
      DiagLog(kLogRequestHandling, "start = %x\t and count = %x\n", start, number);
      result = EvaluateQuery(*loaded, expression, start, number);
      if (!result.empty()) {
        answered = true;
        DiagLog(kLogRequestHandling, "The result for query %s was \n%s\n", expression.c_str(), result.c_str());
      } else {
        DiagLog(kLogHardError, "ERROR: NO DATA\nquery was %s\n", expression.c_str());
      }
    }
  }
  if (Contains(command, commandReset)) {
    answered = true;
    if (get) {
      Install(nullptr);
      loaded = nullptr;
    }
  }
  if (Contains(command, commandReconfig)) {
    std::string name = get ? data : DecodeName(pairs.Value("name"));
    std::uint32_t bit = get ? kLogHardError : kLogRequestHandling;
    std::lock_guard<std::mutex> loading(loadLock);
    Install(nullptr);
    loaded = nullptr;
    if (!name.empty()) {
      DiagLog(bit, get ? "Received reconfig command to new xml file: %s\n"
                       : "Recieved reconfig command to new xml file: %s\n",
              name.c_str());
      std::string file = ConfinedReconfigFile(name, ClientFolder(kPathSize));
      if (!file.empty()) loaded = Load(file);
      if (loaded != nullptr) {
        Install(loaded);
        answered = true;
        DiagLog(bit, "Reconfigured the CVInventory provider with: %s\n", name.c_str());
      } else {
        DiagLog(bit, "ERROR:Reconfiguration failure with: %s\n", name.c_str());
      }
    }
  }
  if (Contains(command, commandConfiguration)) answered = true;
  return Reply(answered, loaded != nullptr, std::move(result));
}

unsigned Cinventory::Get(IOBase* io, const char*, const char* query, const char* const*, const char* const*, unsigned,
                         unsigned) {
  Answer answer = Handle(query, Verb::Get);
  StandardResponse(io, answer.status, answer.body.data(), answer.body.size());
  SetIdleTimeout(kIdleAfterGet);
  return answer.result;
}

unsigned Cinventory::Post(IOBase* io, const char*, const char* query, const char* const*, const char* const*,
                          unsigned, unsigned) {
  DiagLog(kLogRequestHandling, "ProcessPage processing 'post' command\n");
  DiagLog(kLogRequestHandling, "Querystring %s\n", query ? query : "");
  QueryStringMap pairs(query);
  const std::string& scan = pairs.Value("scan");
  if (!scan.empty()) return StartScan(io, scan, pairs.Value("core"));
  Answer answer = Handle(query, Verb::Post);
  StandardResponse(io, answer.status, answer.body.data(), answer.body.size());
  return answer.result;
}

// Never waits for a query: it touches no document.
unsigned Cinventory::StartScan(IOBase* io, const std::string& scan, const std::string& core) {
  std::string body;
  const char* status;
  unsigned result;
  // A core name that could carry switches is refused like an unknown type.
  if ((scan != "default" && scan != "full") || !IsCoreServerName(core)) {
    body = SetReplyText("Bad scan request");
    status = "400 Bad Request";
    result = kHttpBadRequest;
  } else {
    bool full = scan == "full";
    std::string folder = ClientFolder(kPathSize);
    if (!folder.empty() && !platform::IsPathSeparator(folder.back())) folder += platform::PreferredSeparator();
    bool started = false;
    // No client folder, no scan: never a scanner found on the search path.
    if (!folder.empty() && folder.size() + 2 * core.size() + kCommandLineFixedRoom < kCommandLineSize) {
      char line[kCommandLineSize];
      std::snprintf(line, sizeof line,
                    "\"%scviscn32.exe\" /NOUI /NTT=%s:5007 /RSS /F- /S=CORE /o=inventory.out "
                    "/I=HTTP://%s/cvlogon/cvappl3.cvz /v /g %s",
                    folder.c_str(), core.c_str(), core.c_str(), full ? "/sync" : "");
      DiagLog(kLogRequestHandling, "Cinventory::StartScan %s\n", line);
      platform::ChildProcess scanner;
      platform::ChildProcessOptions options;
      options.input = platform::ChildProcessOptions::Stream::Null;
      options.output = platform::ChildProcessOptions::Stream::Null;
      options.error = platform::ChildProcessOptions::Stream::Null;
      options.detachOnDestroy = true;  // never waited for, but reaped
      started = scanner.Start(line, options);
    }
    if (started) {
      body = SetReplyText(full ? "Full scan initiated" : "Delta (default) scan initiated");
      status = "200 OK";
      result = kHttpOk;
    } else {
      body = SetReplyText("Could not start child process");
      status = "417 Expectation Failed";
      result = kHttpExpectationFailed;
    }
  }
  SetIdleTimeout(kIdleAfterScan);
  StandardResponse(io, status, body.data(), body.size());
  return result;
}
