#include "pages/PageStats.h"

#include "config/ConfigurationFile.h"
#include "config/XMLAccumulator.h"

namespace {
void ReadVerb(const ConfigurationFile& file, const XmlNode* page, const char* verb, std::uint32_t& count,
              std::uint32_t& sum) {
  const XmlNode* section = file.FindSection(page, verb);
  if (section == nullptr) return;
  file.GetValueUnsigned(section, "count", count);
  file.GetValueUnsigned(section, "sum", sum);
}

void ReadEntries(const ConfigurationFile& file, std::map<std::string, PageStats::Entry>& entries) {
  std::vector<std::string> paths;
  file.GetSectionNames(file.GetRoot(), paths);
  for (const std::string& path : paths) {
    const XmlNode* page = file.FindSection(file.GetRoot(), path);
    PageStats::Entry& entry = entries[path];
    ReadVerb(file, page, "get", entry.getCount, entry.getSum);
    ReadVerb(file, page, "post", entry.postCount, entry.postSum);
  }
}

void WriteVerb(XMLAccumulator& xml, const char* verb, std::uint32_t count, std::uint32_t sum) {
  xml.OpenElement(verb);
  xml.AddElement("count", count);
  xml.AddElement("sum", sum);
  xml.AddElement("avg", count == 0 ? 0u : sum / count);
  xml.CloseElement();
}
}  // namespace

PageStats& PageStats::Instance() {
  static PageStats stats;
  return stats;
}

void PageStats::SetFileName(const std::string& programPath) { fileName_ = programPath + ".pagestats"; }

bool PageStats::Record(const std::string& path, bool isPost, std::uint32_t milliseconds) {
  if (fileName_.empty()) return false;
  ConfigurationFile file(nullptr, fileName_.c_str());
  if (!file.LoadForUpdate(ConfigurationFile::kUpdateTimeout) || file.GetRoot() == nullptr) return false;
  std::map<std::string, Entry> entries;
  ReadEntries(file, entries);
  Entry& entry = entries[path];
  (isPost ? entry.postCount : entry.getCount) += 1;
  (isPost ? entry.postSum : entry.getSum) += milliseconds;
  XmlNode* root = file.GetRoot();
  for (const auto& item : entries) {
    XmlNode* page = file.FindOrCreateSection(root, item.first);
    XmlNode* get = file.FindOrCreateSection(page, "get");
    file.SetValue(get, "count", item.second.getCount);
    file.SetValue(get, "sum", item.second.getSum);
    XmlNode* post = file.FindOrCreateSection(page, "post");
    file.SetValue(post, "count", item.second.postCount);
    file.SetValue(post, "sum", item.second.postSum);
  }
  return file.WriteFile();
}

bool PageStats::Load(std::map<std::string, Entry>& entries) const {
  if (fileName_.empty()) return false;
  ConfigurationFile file(nullptr, fileName_.c_str());
  if (!file.LoadReadOnly(ConfigurationFile::kReadOnlyTimeout) || file.GetRoot() == nullptr) return false;
  ReadEntries(file, entries);
  return true;
}

void PageStats::WritePageElements(XMLAccumulator& xml) const {
  std::map<std::string, Entry> entries;
  if (!Load(entries)) return;
  for (const auto& item : entries) {
    xml.OpenElement("page");
    xml.AddAttribute("name", item.first);
    WriteVerb(xml, "get", item.second.getCount, item.second.getSum);
    WriteVerb(xml, "post", item.second.postCount, item.second.postSum);
    xml.CloseElement();
  }
}
