#include "inventory/InventoryFile.h"
#include "inventory/InventoryNodeText.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <string>
#include <utility>

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

std::string Text(const TiXmlDocument& document) {
  std::string text;
  AppendNodeText(text, &document, 0);
  return text;
}

// The same file through TinyXML's own loader and through ours.
void ExpectSameLoad(const std::string& path) {
  TiXmlDocument theirs;
  TiXmlDocument ours;
  bool theirsLoaded = theirs.LoadFile(path.c_str());
  EXPECT_EQ(LoadInventoryFile(ours, path), theirsLoaded) << path;
  EXPECT_EQ(ours.Error(), theirs.Error()) << path;
  EXPECT_EQ(ours.ErrorId(), theirs.ErrorId()) << path;
  EXPECT_STREQ(ours.Value(), theirs.Value()) << path;
  EXPECT_EQ(Text(ours), Text(theirs)) << path;
}

TEST(InventoryFile, LoadsWhatTinyXmlLoads) {
  TempDir dir;
  WriteFile(dir.File("lf.xml"), "<?xml version=\"1.0\"?>\n<inv a=\"1\">\n  <x>one\ntwo</x><!-- c -->\n</inv>\n");
  WriteFile(dir.File("crlf.xml"), "<inv>\r\n<x>one\r\ntwo\rthree\r\r\n</x>\r\n<y v=\"a\rb\"/></inv>\r");
  WriteFile(dir.File("empty.xml"), "");
  WriteFile(dir.File("broken.xml"), "<inv><x></inv>");
  // Not "nul.xml": on Windows that names the null device.
  WriteFile(dir.File("embedded-zero.xml"), std::string("<inv><x/></inv>\0<y>\r\n</y>", 26));
  for (const char* name : {"lf.xml", "crlf.xml", "empty.xml", "broken.xml", "embedded-zero.xml", "missing.xml"})
    ExpectSameLoad(dir.File(name));

  TiXmlDocument document;
  ASSERT_TRUE(LoadInventoryFile(document, dir.File("crlf.xml")));
  EXPECT_EQ(Text(document), "<inv>\n    <x>one two three</x>\n    <y v=\"a&#x0A;b\" />\n</inv>\n");
}

TEST(InventoryFile, ReplacesTheEarlierTree) {
  TempDir dir;
  WriteFile(dir.File("a.xml"), "<a><b/></a>");
  WriteFile(dir.File("c.xml"), "<c/>");
  TiXmlDocument document;
  ASSERT_TRUE(LoadInventoryFile(document, dir.File("a.xml")));
  ASSERT_TRUE(LoadInventoryFile(document, dir.File("c.xml")));
  EXPECT_EQ(Text(document), "<c />\n");
  EXPECT_FALSE(LoadInventoryFile(document, dir.File("broken.xml")));
  EXPECT_TRUE(document.Error());

  // Refused before parsing, with the reason: what is not a regular file,
  // and a file (sparse here) one byte over the size limit.
  WriteFile(dir.File("big.xml"), "<a/>");
  std::filesystem::resize_file(dir.File("big.xml"), kInventorySizeLimit + 1);
  const std::pair<std::string, std::string> refused[] = {
      {dir.Path(), "not a regular file"},
      {dir.File("big.xml"), "larger than " + std::to_string(kInventorySizeLimit) + " bytes"}};
  for (const auto& [path, expected] : refused) {
    ASSERT_TRUE(LoadInventoryFile(document, dir.File("a.xml")));
    std::string reason;
    EXPECT_FALSE(LoadInventoryFile(document, path, &reason)) << path;
    EXPECT_EQ(reason, expected);
    EXPECT_TRUE(document.Error()) << path;
    EXPECT_EQ(document.FirstChild(), nullptr) << path;
  }
}

std::string Nested(unsigned depth, const std::string& open, const std::string& close) {
  std::string text;
  for (unsigned i = 0; i < depth; ++i) text += open;
  for (unsigned i = 0; i < depth; ++i) text += close;
  return text;
}

// Parsing and freeing recurse once a level: a file nested deeper than the
// limit is refused before it can overflow a stack, and nothing that only
// looks like nesting counts.
TEST(InventoryFile, RefusesNestingBeyondTheLimit) {
  TempDir dir;
  const unsigned limit = kInventoryNestingLimit;
  WriteFile(dir.File("at.xml"), "<?xml version=\"1.0\"?>\n<!DOCTYPE a>" + Nested(limit, "<a x='1'>", "</a>"));
  WriteFile(dir.File("past.xml"), Nested(limit + 1, "<a>", "</a>"));
  WriteFile(dir.File("far.xml"), Nested(200000, "<a>", "</a>"));
  // A value holding "/>" or ">" does not end or close the start tag.
  WriteFile(dir.File("quoted.xml"), Nested(limit + 1, "<a v=\"/>\" w='>'>", "</a>"));
  // Nor do a declaration or processing instructions hide what follows them.
  WriteFile(dir.File("declared.xml"), "<?xml version=\"1.0\"?>\n<?pi >" + Nested(limit + 1, "<a>", "</a>") + "?>");
  // Siblings, closed empty elements, comments and CDATA add no depth.
  std::string flat = "<r>";
  for (unsigned i = 0; i < 3 * limit; ++i) flat += "<f n='" + std::to_string(i) + "'/><g></g>";
  flat += "<!--" + Nested(limit + 1, "<c>", "") + "--><![CDATA[" + Nested(limit + 1, "<d>", "") + "]]></r>";
  WriteFile(dir.File("flat.xml"), flat);

  TiXmlDocument document;
  EXPECT_TRUE(LoadInventoryFile(document, dir.File("at.xml")));
  EXPECT_TRUE(LoadInventoryFile(document, dir.File("flat.xml")));
  EXPECT_FALSE(document.Error());
  for (const char* name : {"past.xml", "far.xml", "quoted.xml", "declared.xml"}) {
    EXPECT_FALSE(LoadInventoryFile(document, dir.File(name))) << name;
    EXPECT_TRUE(document.Error()) << name;
    EXPECT_EQ(document.FirstChild(), nullptr) << name;
  }
}

}  // namespace
