#include "config/XmlFile.h"
#include "config/XmlParser.h"
#include "config/XmlWriter.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kMark = "\xEF\xBB\xBF";

std::unique_ptr<XmlNode> Load(const std::string& path) {
  XmlNode* document = nullptr;
  std::string error;
  EXPECT_EQ(LoadXmlFile(path, &document, &error), 0) << error;
  return std::unique_ptr<XmlNode>(document);
}

TEST(XmlFile, SaveAndLoadWithoutByteOrderMarkKeepBytes) {
  TempDir dir;
  const std::string path = dir.File("plain.xml");
  // CR LF, bytes above 0x7F and references stay exactly as they were.
  const std::string content = "<a v='\xC3\xA9\r\n&amp;'>x\r\ny<b/></a><!-- c -->";
  WriteFile(path, content);
  auto document = Load(path);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->Value(), "");
  EXPECT_EQ(document->Children()[0]->Attributes()[0]->Value(), "\xC3\xA9\r\n&");

  ASSERT_EQ(SaveXmlFile(document.get(), path, -1, false), 0);
  EXPECT_EQ(ReadFile(path), "<a v=\"\xC3\xA9\r\n&amp;\"><b/>x\r\ny</a><!-- c -->");
  ASSERT_EQ(SaveXmlFile(document.get(), path, 1, false), 0);
  EXPECT_EQ(ReadFile(path), "\t<a v=\"\xC3\xA9\r\n&amp;\"><b/>x\r\ny</a>\n\t<!-- c -->\n");
  ASSERT_EQ(SaveXmlFile(document.get(), path, -1, true), 0);
  EXPECT_EQ(ReadFile(path).substr(0, 5), kMark + "<a");

  const std::string empty = dir.File("empty.xml");
  WriteFile(empty, "");
  auto nothing = Load(empty);
  ASSERT_NE(nothing, nullptr);
  EXPECT_TRUE(nothing->Children().empty());
}

TEST(XmlFile, ByteOrderMarkIsKeptThroughLoadAndSave) {
  TempDir dir;
  const std::string path = dir.File("marked.xml");
  WriteFile(path, kMark + "\n<section name=\"s\"><key name=\"k\" value=\"v\"/></section>\n");
  auto document = Load(path);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->Value(), kMark);
  ASSERT_EQ(document->Children().size(), 1u);
  EXPECT_EQ(document->Children()[0]->Name(), "section");

  ASSERT_EQ(SaveXmlFile(document.get(), path, -1, false), 0);
  EXPECT_EQ(ReadFile(path), kMark + "<section name=\"s\"><key name=\"k\" value=\"v\"/></section>");
  auto again = Load(path);
  EXPECT_EQ(again->Value(), kMark);

  // Only a whole mark is one.
  WriteFile(path, "\xEF\xBB<a/>");
  XmlNode* partial = nullptr;
  EXPECT_EQ(LoadXmlFile(path, &partial, nullptr), 0);
  EXPECT_EQ(partial->Value(), "\xEF\xBB");  // character data of the document
  delete partial;
}

TEST(XmlFile, Failures) {
  TempDir dir;
  XmlNode placeholder(XmlKind::Document);
  XmlNode* document = &placeholder;  // replaced by null, not deleted
  std::string error;
  EXPECT_EQ(LoadXmlFile(dir.File("missing.xml"), &document, &error), 1);
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(error, "No such file or directory");

  // A parse error reports its offset in the file, mark included.
  const std::string bad = dir.File("bad.xml");
  WriteFile(bad, kMark + "<a><b></a>");
  std::size_t position = 0;
  EXPECT_EQ(LoadXmlFile(bad, &document, &error, &position), 1);
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(error, "End tag not found");
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(LoadXmlFile(bad, nullptr, nullptr), 1);

  XmlNode tree(XmlKind::Document);
  tree.AddElement("a");
  error.clear();
  EXPECT_EQ(SaveXmlFile(&tree, dir.File("no/such/dir.xml"), -1, false, &error), 1);
  EXPECT_EQ(error, "No such file or directory");

  // A device that takes no data: the loss shows at the flush.
  if (testing_support::FileExists("/dev/full")) {
    error.clear();
    EXPECT_EQ(SaveXmlFile(&tree, "/dev/full", -1, false, &error), 1);
    EXPECT_EQ(error, "Unexpected number of bytes written");
  }

  // Kernel files claim a size larger than what reading them gives.
  const std::string shortFile = "/sys/devices/system/cpu/online";
  if (testing_support::FileExists(shortFile)) {
    error.clear();
    EXPECT_EQ(LoadXmlFile(shortFile, &document, &error), 1);
    EXPECT_EQ(document, nullptr);
    EXPECT_EQ(error, "Unexpected number of bytes read");
  }
}

}  // namespace
