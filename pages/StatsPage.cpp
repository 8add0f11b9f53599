#include "pages/StatsPage.h"

#include "config/ConfigurationFile.h"
#include "config/XMLAccumulator.h"
#include "pages/PageStats.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/LogDate.h"
#include "server/ServerServices.h"

#include <cstring>

namespace {
const char kSaveItem[] = "saveprovstats";
const std::uint32_t kSaveIntervalSeconds = 600;

std::string LogDateNow() {
  char text[64];
  FormatLogDate(text, sizeof text, 0);
  return text;
}

struct CounterName {
  const char* name;
  std::atomic<std::uint64_t> ProviderCounters::*field;
};
const CounterName kCounters[] = {
    {"forwarded", &ProviderCounters::forwarded},
    {"pagenotfound", &ProviderCounters::pagenotfound},
    {"pagefound", &ProviderCounters::pagefound},
    {"forked", &ProviderCounters::forked},
    {"unforked", &ProviderCounters::unforked},
    {"timerserviced", &ProviderCounters::timerserviced},
    {"total-resident-time", &ProviderCounters::totalresidenttime},
    {"external-wakeups", &ProviderCounters::externalwakeups},
};

std::uint32_t Value32(const std::atomic<std::uint64_t>& counter) {
  return static_cast<std::uint32_t>(counter.load());
}
}  // namespace

StatsPage::StatsPage(const std::string& programPath)
    : MonitorPage("/stats", true),
      fileName_(programPath + ".stats"),
      startTime_(platform::CurrentEpochSeconds()),
      lastSaveTime_(startTime_),
      first_(LogDateNow()) {}

int StatsPage::Initialize() {
  ReloadStats();
  AddMonitoredItem(kSaveItem, "provider statistics save", kSaveIntervalSeconds, true, false);
  return 0;
}

void StatsPage::Cleanup() { WriteStats(); }

void StatsPage::ReloadStats() {
  DiagLog(kLogServerFlow, "StatsPage::reloadStats from %s\n", fileName_.c_str());
  ConfigurationFile file(nullptr, fileName_.c_str());
  if (!file.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout) || file.GetRoot() == nullptr) return;
  ProviderCounters& counters = ServerServices::Instance().Counters();
  for (const CounterName& counter : kCounters) {
    std::uint32_t value = 0;
    if (file.GetValueUnsigned(file.GetRoot(), counter.name, value)) (counters.*counter.field) = value;
  }
  XmlNode* named = file.FindSection(file.GetRoot(), "providerstats");
  std::vector<std::string> names;
  file.GetKeyNames(named, names);
  for (const std::string& name : names) {
    std::uint32_t value = 0;
    if (file.GetValueUnsigned(named, name, value)) namedCounters_[name] = value;
  }
}

bool StatsPage::WriteStats() {
  std::lock_guard<std::mutex> guard(saveLock_);
  DiagLog(kLogServerFlow, "StatsPage::writeStats to %s\n", fileName_.c_str());
  std::int64_t now = platform::CurrentEpochSeconds();
  ProviderCounters& counters = ServerServices::Instance().Counters();
  counters.totalresidenttime += static_cast<std::uint64_t>(now - lastSaveTime_);
  ConfigurationFile file(nullptr, fileName_.c_str());
  if (!file.LoadForUpdate(ConfigurationFile::kUpdateTimeout) || file.GetRoot() == nullptr) {
    // Not saved: the same seconds are added again at the next save.
    counters.totalresidenttime -= static_cast<std::uint64_t>(now - lastSaveTime_);
    return false;
  }
  XmlNode* root = file.GetRoot();
  file.SetValue(root, "first", first_);
  file.SetValue(root, "as-of", LogDateNow());
  for (const CounterName& counter : kCounters) file.SetValue(root, counter.name, Value32(counters.*counter.field));
  file.SetValue(root, "current-resident-time", static_cast<std::uint32_t>(now - startTime_));
  XmlNode* named = file.FindOrCreateSection(root, "providerstats");
  for (const auto& entry : namedCounters_) file.SetValue(named, entry.first, entry.second);
  if (!file.WriteFile()) {
    counters.totalresidenttime -= static_cast<std::uint64_t>(now - lastSaveTime_);
    return false;
  }
  lastSaveTime_ = now;
  return true;
}

void StatsPage::TimeToMonitor(unsigned count, const char* const* itemNames) {
  for (unsigned i = 0; i < count; ++i)
    if (std::strcmp(itemNames[i], kSaveItem) == 0) WriteStats();
}

std::uint32_t StatsPage::GetSchedulerTimeout() {
  if (ServerServices::Instance().ShutdownSuggested()) return kNothingDue;
  return MonitorPage::GetSchedulerTimeout();
}

unsigned StatsPage::Get(IOBase* io, const char*, const char*, const char* const*, const char* const*, unsigned,
                        unsigned) {
  DiagLog(kLogServerFlow, "StatsPage::Get\n");
  ProviderCounters& counters = ServerServices::Instance().Counters();
  XMLAccumulator xml;
  for (const CounterName& counter : kCounters) xml.AddElement(counter.name, Value32(counters.*counter.field));
  xml.AddElement("current-resident-time",
                 static_cast<std::uint32_t>(platform::CurrentEpochSeconds() - startTime_));
  xml.OpenElement("providerstats");
  for (const auto& entry : namedCounters_) xml.AddElement(entry.first, entry.second);
  xml.CloseElement();
  PageStats::Instance().WritePageElements(xml);
  std::string text;
  xml.GetXml(text, 0);
  StandardResponse(io, "200 OK", text.data(), text.size());
  return kHttpOk;
}

unsigned StatsPage::Post(IOBase*, const char*, const char*, const char* const*, const char* const*, unsigned,
                         unsigned) {
  return kHttpBadRequest;
}
