// Paths, the load / lock / write life cycle and the line ends on disk.
#include "config/ConfigurationFile.h"

#include "TestSupport.h"
#include "config/XmlWriter.h"
#include "platform/LockedFile.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// True when another object could take the file's lock right now.
bool LockIsFree(const std::string& path) {
  platform::LockedFile probe;
  return probe.Open(path) == platform::LockedFile::OpenResult::Opened;
}

TEST(ConfigurationFile, PathJoinsDirectoryAndFileNameAndWorksWithEitherSeparator) {
  EXPECT_EQ(ConfigurationFile("dir", "f.xml").Path(), "dir\\f.xml");
  EXPECT_EQ(ConfigurationFile("dir\\", "f.xml").Path(), "dir\\f.xml");
  EXPECT_EQ(ConfigurationFile("dir/", "f.xml").Path(), "dir/f.xml");
  EXPECT_EQ(ConfigurationFile(".", "f.xml").Path(), ".\\f.xml");
  EXPECT_EQ(ConfigurationFile(nullptr, "f.xml").Path(), "f.xml");
  EXPECT_EQ(ConfigurationFile("", "f.xml").Path(), "f.xml");
  EXPECT_EQ(ConfigurationFile(nullptr, nullptr).Path(), "");

  TempDir dir;
  ConfigurationFile file(dir.Path().c_str(), "made.xml");
  EXPECT_EQ(file.Path(), dir.Path() + "\\made.xml");
  ASSERT_TRUE(file.LoadReadOnly(0));
  EXPECT_TRUE(FileExists(dir.File("made.xml")));  // a read-only load creates the file, empty
  EXPECT_EQ(ReadFile(dir.File("made.xml")), "");
  EXPECT_TRUE(file.IsNew());

  // Without a path there is nothing to lock: the load fails at once.
  ConfigurationFile nowhere(nullptr, nullptr);
  EXPECT_FALSE(nowhere.LoadReadOnly(5));
  EXPECT_EQ(nowhere.GetRoot(), nullptr);
}

TEST(ConfigurationFile, LockIsHeldFromLoadForUpdateUntilTheWrite) {
  TempDir dir;
  const std::string path = dir.File("c.xml");
  WriteFile(path, "<section name=\"s\"/>");

  ConfigurationFile reader(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(reader.LoadReadOnly(0));
  EXPECT_TRUE(reader.IsReadOnly());
  EXPECT_FALSE(reader.IsForUpdate());
  EXPECT_TRUE(LockIsFree(path));  // a read-only load let go after reading
  EXPECT_FALSE(reader.WriteFile());

  ConfigurationFile writer(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(writer.LoadForUpdate(0));
  EXPECT_FALSE(writer.IsReadOnly());
  EXPECT_TRUE(writer.IsForUpdate());
  EXPECT_FALSE(LockIsFree(path));
  ConfigurationFile other(dir.Path().c_str(), "c.xml");
  EXPECT_FALSE(other.LoadReadOnly(0));
  EXPECT_FALSE(other.LoadForUpdate(0));
  EXPECT_EQ(other.GetRoot(), nullptr);

  // Reloading under the lock one holds does not wait for oneself, and drops
  // the changes made in memory.
  writer.CreateSection(writer.GetRoot(), "dropped");
  ASSERT_TRUE(writer.LoadForUpdate(0));
  EXPECT_EQ(writer.FindSection(writer.GetRoot(), "dropped"), nullptr);
  EXPECT_FALSE(LockIsFree(path));

  writer.SetValue(writer.FindSection(writer.GetRoot(), "s"), "k", "v");
  ASSERT_TRUE(writer.WriteFile());
  EXPECT_FALSE(writer.IsForUpdate());
  EXPECT_TRUE(writer.IsReadOnly());
  EXPECT_TRUE(LockIsFree(path));
  EXPECT_FALSE(writer.WriteFile());  // a second write has nothing to write with
  EXPECT_FALSE(writer.WriteFileFormatted());
  // The document stays readable after the write.
  std::string value;
  EXPECT_TRUE(writer.GetValue(writer.FindSection(writer.GetRoot(), "s"), "k", value));
  EXPECT_TRUE(other.LoadReadOnly(0));
  EXPECT_TRUE(other.GetValue(other.FindSection(other.GetRoot(), "s"), "k", value));
  EXPECT_EQ(value, "v");
}

TEST(ConfigurationFile, AbandonedUpdateLeavesTheFileByteForByteAndReleasesTheLock) {
  TempDir dir;
  const std::string path = dir.File("c.xml");
  // Odd bytes on purpose: a lone CR, a BOM-less UTF-8 text, a trailing line end.
  const std::string original = "<section name=\"s\">\r\n\t<key name=\"k\" value=\"a\rb \xC3\xA9\"/>\r\n</section>\r\n";
  WriteFile(path, original);
  {
    ConfigurationFile file(dir.Path().c_str(), "c.xml");
    ASSERT_TRUE(file.LoadForUpdate(0));
    XmlNode* s = file.FindSection(file.GetRoot(), "s");
    ASSERT_NE(s, nullptr);
    file.SetValue(s, "k", "changed");
    file.CreateSection(file.GetRoot(), "more");
    EXPECT_FALSE(LockIsFree(path));
  }
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_TRUE(LockIsFree(path));
}

TEST(ConfigurationFile, LinesEndInLfInMemoryAndInCrLfOnDisk) {
  TempDir dir;
  WriteFile(dir.File("c.xml"),
            "<section name=\"s\">\r\n\t<key name=\"k\" value=\"one\r\ntwo\"/>\r\n</section>\r\n<section name=\"t\"/>");
  ConfigurationFile file(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(file.LoadForUpdate(0));
  XmlNode* s = file.FindSection(file.GetRoot(), "s");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Text(), "\n\t\n");
  std::string value;
  EXPECT_TRUE(file.GetValue(s, "k", value));
  EXPECT_EQ(value, "one\ntwo");
  EXPECT_NE(file.FindSection(file.GetRoot(), "t"), nullptr);
  ASSERT_TRUE(file.WriteFile());
  // The whitespace text follows the children in the compact form; each of its
  // line ends is CR LF again on disk.
  EXPECT_EQ(ReadFile(dir.File("c.xml")),
            "<section name=\"s\"><key name=\"k\" value=\"one\r\ntwo\"/>\r\n\t\r\n</section><section name=\"t\"/>");

  // The formatted layout: one element per line, tab-indented, CR LF.
  ConfigurationFile fresh(dir.Path().c_str(), "formatted.xml");
  ASSERT_TRUE(fresh.LoadForUpdate(0));
  XmlNode* section = fresh.FindOrCreateSection(fresh.GetRoot(), "s");
  fresh.SetValue(section, "a", "1");
  fresh.SetValue(section, "b", "x\ny");
  XmlNode* inner = fresh.CreateSection(section, "inner");
  fresh.SetValue(inner, "c", std::int32_t(-3));
  fresh.CreateSection(fresh.GetRoot(), "empty");
  ASSERT_TRUE(fresh.WriteFileFormatted());
  const std::string formatted =
      "\t<section name=\"s\">\r\n"
      "\t\t<key name=\"a\" value=\"1\"/>\r\n"
      "\t\t<key name=\"b\" value=\"x&#xA;y\"/>\r\n"
      "\t\t<section name=\"inner\">\r\n"
      "\t\t\t<key name=\"c\" value=\"-3\"/>\r\n"
      "\t\t</section>\r\n"
      "\t</section>\r\n"
      "\t<section name=\"empty\"/>\r\n";
  EXPECT_EQ(ReadFile(dir.File("formatted.xml")), formatted);

  // Read back, the formatted file gives the same sections and values.
  ConfigurationFile reread(dir.Path().c_str(), "formatted.xml");
  ASSERT_TRUE(reread.LoadReadOnly(0));
  XmlNode* s2 = reread.FindSection(reread.GetRoot(), "s");
  EXPECT_TRUE(reread.GetValue(s2, "b", value));
  EXPECT_EQ(value, "x\ny");
  std::int32_t c = 0;
  EXPECT_TRUE(reread.GetValueSigned(reread.FindSection(s2, "inner"), "c", c));
  EXPECT_EQ(c, -3);
  EXPECT_EQ(SerializeXml(s2, -1).find('\r'), std::string::npos);
}

TEST(LockedFile, FailedWritesAreReportedAndEveryOpenerIsKeptOut) {
  TempDir dir;
  const std::string path = dir.File("f");
  platform::LockedFile first;
  ASSERT_EQ(first.Open(path), platform::LockedFile::OpenResult::Opened);
  platform::LockedFile second;
  EXPECT_EQ(second.Open(path), platform::LockedFile::OpenResult::Busy);
  EXPECT_EQ(second.Open(dir.Path() + "\\f"), platform::LockedFile::OpenResult::Busy);
  ASSERT_TRUE(first.ReplaceContent("longer content", 14));
  ASSERT_TRUE(first.ReplaceContent("short", 5));
  ASSERT_TRUE(first.Flush());
  std::string content;
  ASSERT_TRUE(first.ReadAll(content));
  EXPECT_EQ(content, "short");
  EXPECT_TRUE(first.Close());
  EXPECT_TRUE(first.Close());
  EXPECT_EQ(ReadFile(path), "short");
  EXPECT_EQ(second.Open(path), platform::LockedFile::OpenResult::Opened);
  second.Close();

  EXPECT_EQ(first.Open(dir.File("missing/f")), platform::LockedFile::OpenResult::Failed);
  EXPECT_FALSE(first.ReplaceContent("x", 1));
  EXPECT_FALSE(first.ReplacedWhole());

  // A device that refuses data: the write is a failure, not a success.
  if (FileExists("/dev/full")) {
    platform::LockedFile full;
    if (full.Open("/dev/full") == platform::LockedFile::OpenResult::Opened) {
      EXPECT_FALSE(full.ReplaceContent("data", 4));
      EXPECT_FALSE(full.ReplacedWhole());  // a device is written in place
    }
  }
}

// The new content takes the file's name already locked: an opener that
// finds it there waits for the holder as before.
TEST(LockedFile, TheReplacementKeepsOpenersOutUntilClose) {
  TempDir dir;
  const std::string path = dir.File("f");
  platform::LockedFile holder;
  ASSERT_EQ(holder.Open(path), platform::LockedFile::OpenResult::Opened);
  ASSERT_TRUE(holder.ReplaceContent("new", 3));
  platform::LockedFile other;
  EXPECT_EQ(other.Open(path), platform::LockedFile::OpenResult::Busy);
  EXPECT_TRUE(holder.Close());
  EXPECT_EQ(other.Open(path), platform::LockedFile::OpenResult::Opened);
}

}  // namespace
