// Rewrites one of the provider's saved files in a tight loop, the way the
// provider writes it, so that a test can kill it in the middle of a save.
//
//   file-rewriter config <file> <sections> <passes>
//     Each pass loads the configuration file for update and sets key
//     "generation" at its root and keys k0..k9 of sections s0..s<n-1> to
//     "<generation>-<section>-<key>", then writes it. The generation is the
//     one read from the file plus 1.
//   file-rewriter archive <file> <records> <passes>
//     Loads the asynchronous record archive, creates records (one day of
//     expiry) until it holds <records>, then each pass sets the result of
//     every record to "generation <g>" and saves the archive.
//
// Before each save it prints "saving". <passes> 0 runs until killed. Exit codes: 0 done, 1 a save failed, 3 usage.
#include "config/ConfigurationFile.h"
#include "config/XMLAccumulator.h"
#include "pages/AsyncCookie.h"
#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kKeysPerSection = 10;

// Tells the test that a save begins, so that it can aim its kill.
void AnnounceSave() {
  std::fputs("saving\n", stdout);
  std::fflush(stdout);
}

bool ConfigPass(const char* path, unsigned sections) {
  ConfigurationFile file(nullptr, path);
  if (!file.LoadForUpdate(ConfigurationFile::kUpdateTimeout) || file.GetRoot() == nullptr) return false;
  XmlNode* root = file.GetRoot();
  std::uint32_t generation = 0;
  file.GetValueUnsigned(root, "generation", generation);
  ++generation;
  file.SetValue(root, "generation", generation);
  // Sections are looked up by position rather than by name: the files are
  // large and a name search per section would make every pass quadratic.
  std::vector<XmlNode*> found;
  for (XmlNode* child : root->Children())
    if (child->Kind() == XmlKind::Element && child->Name() == "section") found.push_back(child);
  for (unsigned i = 0; i < sections; ++i) {
    std::string name = "s" + std::to_string(i);
    XmlNode* section = i < found.size() ? found[i] : file.CreateSection(root, name.c_str());
    for (int k = 0; k < kKeysPerSection; ++k) {
      std::string key = "k" + std::to_string(k);
      std::string value = std::to_string(generation) + "-" + std::to_string(i) + "-" + std::to_string(k);
      file.SetValue(section, key.c_str(), value.c_str());
    }
  }
  AnnounceSave();
  return file.WriteFile();
}

bool ArchivePass(AsyncCookieArchive& archive, const std::vector<std::string>& ids, unsigned generation) {
  std::string result = "generation " + std::to_string(generation);
  for (const std::string& id : ids) archive.SetCookieResult(id, result, 50);
  AnnounceSave();
  archive.Term();
  return !archive.IsDirty();
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetBinaryStandardStreams();  // lines end in "\n" alone
  if (argc < 5) {
    std::fprintf(stderr, "usage: file-rewriter config|archive path count passes\n");
    return 3;
  }
  std::string kind = argv[1];
  const char* path = argv[2];
  unsigned count = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  unsigned passes = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));

  if (kind == "config") {
    for (unsigned pass = 0; passes == 0 || pass < passes; ++pass)
      if (!ConfigPass(path, count)) return 1;
    return 0;
  }
  if (kind == "archive") {
    AsyncCookieArchive archive;
    archive.SetArchiveName(path);
    for (std::size_t i = archive.Size(); i < count; ++i) archive.CreateCookie("rewriter", 30, 86400);
    XMLAccumulator matches;
    archive.ListMatches("rewriter", matches);
    std::string text;
    matches.GetXml(text, -1);
    std::vector<std::string> ids;
    const std::string open = "<async-cookie>", close = "</async-cookie>";
    for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
      std::size_t end = text.find(close, at);
      if (end == std::string::npos) break;
      ids.push_back(text.substr(at + open.size(), end - at - open.size()));
    }
    for (unsigned pass = 0; passes == 0 || pass < passes; ++pass)
      if (!ArchivePass(archive, ids, pass + 1)) return 1;
    return 0;
  }
  std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
  return 3;
}
