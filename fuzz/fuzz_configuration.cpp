// Configuration files: the input is a file's content. It is loaded for
// update, every section and key is looked up (also through a read-only
// cached view, which must refuse every change), the master configuration's
// lookups run over it, a few values are changed, the file is written and
// loaded again, and what was written must come back.
#include "config/ConfigurationFile.h"
#include "config/MasterConfig.h"
#include "config/XmlWriter.h"
#include "platform/Process.h"
#include "support/FuzzCheck.h"
#include "support/XmlTreeCheck.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

const char kFileName[] = "fuzz.config.xml";

// A folder of this process's own, removed at exit. FUZZ_SCRATCH_DIR (or
// TMPDIR) says where; a memory file system keeps the runs fast.
const std::string& ScratchDirectory() {
  // Never destroyed: the exit handler still needs it.
  static const std::string* directory = [] {
    std::string base = platform::EnvironmentValue("FUZZ_SCRATCH_DIR", "");
    if (base.empty()) base = std::filesystem::temp_directory_path().string();
    std::filesystem::path path =
        std::filesystem::path(base) / ("provider-fuzz-config-" + std::to_string(platform::CurrentProcessId()));
    std::filesystem::create_directories(path);
    return new std::string(path.string() + "/");
  }();
  static const bool removedAtExit = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*directory, ignored);
    });
    return true;
  }();
  (void)removedAtExit;
  return *directory;
}

struct DecimalModel {
  bool negative = false;
  std::uint64_t magnitude = 0;  // saturates far above 32 bits
};

DecimalModel ReadNumber(const std::string& text) {
  DecimalModel number;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) number.negative = text[i++] == '-';
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    number.magnitude = std::min<std::uint64_t>(number.magnitude * 10 + (text[i] - '0'), std::uint64_t(1) << 40);
  return number;
}

// strtoul with a 32-bit unsigned long: out of range gives the largest
// value, a minus sign negates modulo 2^32.
std::uint32_t ModelUnsigned(const std::string& text) {
  const DecimalModel n = ReadNumber(text);
  if (n.magnitude > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<std::uint32_t>::max();
  const std::uint32_t m = static_cast<std::uint32_t>(n.magnitude);
  return n.negative ? 0u - m : m;
}

// strtol with a 32-bit long: out of range is held at the limits.
std::int32_t ModelSigned(const std::string& text) {
  const DecimalModel n = ReadNumber(text);
  if (n.negative) return n.magnitude >= (std::uint64_t(1) << 31) ? std::numeric_limits<std::int32_t>::min()
                                                                 : -static_cast<std::int32_t>(n.magnitude);
  return n.magnitude > 0x7fffffffu ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(n.magnitude);
}

struct FoundKey {
  XmlNode* parent;
  std::string name;
  bool hasValue;
};

// Looks up every section and key below parent, depth first.
void Walk(const Configuration& configuration, const Configuration& view, std::vector<FoundKey>& keys) {
  std::vector<std::pair<XmlNode*, int>> pending{{configuration.GetRoot(), 0}};
  std::size_t visited = 0;
  while (!pending.empty() && visited < 2000) {
    auto [parent, depth] = pending.back();
    pending.pop_back();
    ++visited;
    std::vector<std::string> sections, viewSections;
    configuration.GetSectionNames(parent, sections);
    view.GetSectionNames(parent, viewSections);
    FUZZ_CHECK(sections == viewSections);
    for (const std::string& name : sections) {
      XmlNode* section = configuration.FindSection(parent, name);
      FUZZ_CHECK(section != nullptr && section->Kind() == XmlKind::Element && section->Name() == "section");
      FUZZ_CHECK(section->Parent() == parent);
      const XmlNode* attribute = FindAttribute(section, "name");
      FUZZ_CHECK(attribute != nullptr && attribute->Value() == name);
      FUZZ_CHECK(view.FindSection(parent, name) == section);
      if (depth < 64) pending.emplace_back(section, depth + 1);
    }
    std::vector<std::string> keyNames;
    configuration.GetKeyNames(parent, keyNames);
    for (const std::string& name : keyNames) {
      XmlNode* key = configuration.FindKey(parent, name);
      FUZZ_CHECK(key != nullptr && key->Name() == "key" && key->Parent() == parent);
      FUZZ_CHECK(view.FindKey(parent, name) == key);
      const XmlNode* valueAttribute = FindAttribute(key, "value");
      std::string value = "untouched";
      const bool found = configuration.GetValue(parent, name, value);
      FUZZ_CHECK(found == (valueAttribute != nullptr));
      keys.push_back({parent, name, found});
      if (!found) {
        FUZZ_CHECK(value == "untouched");
        continue;
      }
      FUZZ_CHECK(value == valueAttribute->Value());
      std::uint32_t u = 0;
      std::int32_t s = 0;
      FUZZ_CHECK(configuration.GetValueUnsigned(parent, name, u));
      FUZZ_CHECK(configuration.GetValueSigned(parent, name, s));
      FUZZ_CHECK_DETAIL(u == ModelUnsigned(value), "unsigned of " + Printable(value) + " = " + std::to_string(u));
      FUZZ_CHECK_DETAIL(s == ModelSigned(value), "signed of " + Printable(value) + " = " + std::to_string(s));
    }
  }
}

void MasterLookups(const Configuration& configuration) {
  std::string text;
  std::uint32_t number = 0;
  bool flag = false;
  MasterConfig::GetName(&configuration, text);
  MasterConfig::GetDisplayName(&configuration, text);
  MasterConfig::GetTime(&configuration, text);
  MasterConfig::GetStatic(&configuration, number);
  FUZZ_CHECK(MasterConfig::GetModified(&configuration, flag) == (MasterConfig::GetIdentity(&configuration) != nullptr));
  std::vector<std::string> classes;
  configuration.GetSectionNames(MasterConfig::GetMonitoringClasses(&configuration), classes);
  for (const std::string& name : classes) {
    FUZZ_CHECK(MasterConfig::GetMonitoringClass(&configuration, name) != nullptr);
    MasterConfig::GetEnabled(&configuration, name, flag);
    MasterConfig::GetInterval(&configuration, name, number);
    MasterConfig::GetWarningThreshold(&configuration, name, number);
    MasterConfig::GetCriticalThreshold(&configuration, name, number);
    for (int index = -1; index < 3; ++index) {
      MasterConfig::GetServiceName(&configuration, name, index, text);
      MasterConfig::GetOsLogFilter(&configuration, name, index, text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& directory = ScratchDirectory();
  {
    std::ofstream file(directory + kFileName, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(file.good());
  }

  ConfigurationFile configuration(directory.c_str(), kFileName);
  FUZZ_CHECK(configuration.LoadForUpdate(0));
  FUZZ_CHECK(configuration.IsForUpdate() && !configuration.IsReadOnly());
  FUZZ_CHECK(configuration.IsNew() == (size == 0));
  XmlNode* root = configuration.GetRoot();
  if (size == 0) FUZZ_CHECK(root != nullptr && root->Children().empty());

  std::vector<FoundKey> keys;
  {
    CachedConfigurationFile view(configuration);
    FUZZ_CHECK(view.GetRoot() == root && view.IsReadOnly() && !view.IsForUpdate());
    Walk(configuration, view, keys);
    MasterLookups(view);
    // The view refuses every change and leaves the document alone.
    const std::string before = SerializeXml(root, -1);
    FUZZ_CHECK(view.CreateSection(root, "x") == nullptr);
    FUZZ_CHECK(view.FindOrCreateSection(root, "y") == view.FindSection(root, "y"));
    FUZZ_CHECK(view.CreateKey(root, "k", "v") == nullptr);
    FUZZ_CHECK(!view.SetValue(root, "k", "v"));
    for (const FoundKey& key : keys) {
      FUZZ_CHECK(!view.SetValue(key.parent, key.name, std::uint32_t{1}));
      FUZZ_CHECK(!view.DeleteKey(key.parent, key.name));
    }
    FUZZ_CHECK(!MasterConfig::SetModified(&view));
    FUZZ_CHECK(!view.WriteFile() && !view.WriteFileFormatted() && !view.LoadReadOnly(0) && !view.LoadForUpdate(0));
    FUZZ_CHECK(SerializeXml(root, -1) == before);
  }
  MasterLookups(configuration);

  // Changes, written and read back.
  // No CR: escaping turns CR and CR LF into one line feed.
  const std::string text = "line\nbreak <&>\"'\ttab\x01";
  XmlNode* section = configuration.FindOrCreateSection(root, "fuzz");
  FUZZ_CHECK((section != nullptr) == (root != nullptr));
  if (section != nullptr) {
    FUZZ_CHECK(configuration.SetValue(section, "text", text) == (configuration.FindKey(section, "text") == nullptr ||
                                                                 FindAttribute(configuration.FindKey(section, "text"),
                                                                               "value") != nullptr));
    configuration.SetValue(section, "unsigned", std::uint32_t{4000000000u});
    configuration.SetValue(section, "signed", std::int32_t{-7});
  }
  if (!keys.empty()) {
    FUZZ_CHECK(configuration.SetValue(keys[0].parent, keys[0].name, "changed") == keys[0].hasValue);
    if (keys.size() > 1) FUZZ_CHECK(configuration.DeleteKey(keys.back().parent, keys.back().name));
  }
  MasterConfig::SetModified(&configuration);
  const bool roundTrips = CompactFormRoundTrips(root);
  FUZZ_CHECK(configuration.WriteFile());
  FUZZ_CHECK(!configuration.IsForUpdate());
  FUZZ_CHECK(!configuration.WriteFile());

  ConfigurationFile again(directory.c_str(), kFileName);
  FUZZ_CHECK(again.LoadReadOnly(0));
  if (!roundTrips) return 0;
  FUZZ_CHECK(again.IsNew() == (root == nullptr || root->Children().empty()));
  if (root == nullptr) return 0;
  std::string why;
  FUZZ_CHECK_DETAIL(SameXmlTree(root, again.GetRoot(), &why), why);
  // The values set above, read from the file.
  XmlNode* reread = again.FindSection(again.GetRoot(), "fuzz");
  FUZZ_CHECK(reread != nullptr);
  std::string expected, got;
  if (configuration.GetValue(section, "text", expected))
    FUZZ_CHECK(again.GetValue(reread, "text", got) && got == expected);
  std::uint32_t u = 0, v = 0;
  if (configuration.GetValueUnsigned(section, "unsigned", u))
    FUZZ_CHECK(again.GetValueUnsigned(reread, "unsigned", v) && v == u);
  std::int32_t s = 0, t = 0;
  if (configuration.GetValueSigned(section, "signed", s))
    FUZZ_CHECK(again.GetValueSigned(reread, "signed", t) && t == s);
  return 0;
}
