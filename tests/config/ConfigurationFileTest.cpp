// Configuration files: paths, the load / lock / write life cycle, the bytes
// on disk, section and key operations, and read-only views.
#include "config/ConfigurationFile.h"

#include "TestSupport.h"
#include "config/XmlWriter.h"
#include "platform/LockedFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Names = std::vector<std::string>;

// True when another object could take the file's lock right now.
bool LockIsFree(const std::string& path) {
  platform::LockedFile probe;
  return probe.Open(path) == platform::LockedFile::OpenResult::Opened;
}

std::unique_ptr<ConfigurationFile> Load(const TempDir& dir, const std::string& text, bool forUpdate = true,
                                        const char* name = "c.xml") {
  WriteFile(dir.File(name), text);
  std::unique_ptr<ConfigurationFile> file(new ConfigurationFile(dir.Path().c_str(), name));
  EXPECT_TRUE(forUpdate ? file->LoadForUpdate(0) : file->LoadReadOnly(0));
  return file;
}

TEST(ConfigurationFile, PathJoinsDirectoryAndFileNameAndWorksWithEitherSeparator) {
  const struct {
    const char* dir;
    const char* name;
    const char* path;
  } cases[] = {{"dir", "f.xml", "dir\\f.xml"}, {"dir\\", "f.xml", "dir\\f.xml"}, {"dir/", "f.xml", "dir/f.xml"},
               {".", "f.xml", ".\\f.xml"},     {nullptr, "f.xml", "f.xml"},        {"", "f.xml", "f.xml"},
               {nullptr, nullptr, ""}};
  for (const auto& c : cases) EXPECT_EQ(ConfigurationFile(c.dir, c.name).Path(), c.path);

  TempDir dir;
  ConfigurationFile file(dir.Path().c_str(), "made.xml");
  ASSERT_TRUE(file.LoadReadOnly(0));
  EXPECT_EQ(ReadFile(dir.File("made.xml")), "");  // a read-only load creates the file, empty
  EXPECT_TRUE(file.IsNew());
  EXPECT_EQ(file.GetRoot()->Name(), "invisibleroot");
  // Without a path there is nothing to lock: the load fails at once.
  ConfigurationFile nowhere(nullptr, nullptr);
  EXPECT_FALSE(nowhere.LoadReadOnly(5));
  EXPECT_EQ(nowhere.GetRoot(), nullptr);
}

TEST(ConfigurationFile, LockIsHeldFromLoadForUpdateUntilTheWrite) {
  TempDir dir;
  const std::string path = dir.File("c.xml");
  auto reader = Load(dir, "<section name=\"s\"/>", false);
  EXPECT_TRUE(reader->IsReadOnly());
  EXPECT_TRUE(LockIsFree(path));  // a read-only load let go after reading
  EXPECT_FALSE(reader->WriteFile());

  ConfigurationFile writer(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(writer.LoadForUpdate(0));
  EXPECT_TRUE(writer.IsForUpdate());
  EXPECT_FALSE(LockIsFree(path));
  // Reloading under the lock one holds does not wait for oneself, and drops
  // the changes made in memory.
  writer.CreateSection(writer.GetRoot(), "dropped");
  ASSERT_TRUE(writer.LoadForUpdate(0));
  EXPECT_EQ(writer.FindSection(writer.GetRoot(), "dropped"), nullptr);

  writer.SetValue(writer.FindSection(writer.GetRoot(), "s"), "k", "v");
  ASSERT_TRUE(writer.WriteFile());
  EXPECT_TRUE(writer.IsReadOnly());
  EXPECT_TRUE(LockIsFree(path));
  EXPECT_FALSE(writer.WriteFile());  // a second write has nothing to write with
  std::string value;
  EXPECT_TRUE(writer.GetValue(writer.FindSection(writer.GetRoot(), "s"), "k", value));  // still readable
  EXPECT_EQ(value, "v");
}

TEST(ConfigurationFile, LinesEndInLfInMemoryAndInCrLfOnDisk) {
  TempDir dir;
  auto file = Load(dir, "<section name=\"s\">\r\n\t<key name=\"k\" value=\"one\r\ntwo\"/>\r\n</section>\r\n<section name=\"t\"/>");
  XmlNode* s = file->FindSection(file->GetRoot(), "s");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Text(), "\n\t\n");
  std::string value;
  EXPECT_TRUE(file->GetValue(s, "k", value));
  EXPECT_EQ(value, "one\ntwo");
  ASSERT_TRUE(file->WriteFile());
  // The whitespace text follows the children in the compact form; each of its
  // line ends is CR LF again on disk.
  EXPECT_EQ(ReadFile(dir.File("c.xml")),
            "<section name=\"s\"><key name=\"k\" value=\"one\r\ntwo\"/>\r\n\t\r\n</section><section name=\"t\"/>");

  // The formatted layout: one element per line, tab-indented, CR LF; a line
  // break in a value stays out of the file's text.
  ConfigurationFile fresh(dir.Path().c_str(), "formatted.xml");
  ASSERT_TRUE(fresh.LoadForUpdate(0));
  XmlNode* section = fresh.FindOrCreateSection(fresh.GetRoot(), "s");
  fresh.SetValue(section, "b", "x\ny");
  fresh.CreateSection(section, "inner");
  ASSERT_TRUE(fresh.WriteFileFormatted());
  EXPECT_EQ(ReadFile(dir.File("formatted.xml")),
            "\t<section name=\"s\">\r\n\t\t<key name=\"b\" value=\"x&#xA;y\"/>\r\n\t\t<section name=\"inner\"/>\r\n"
            "\t</section>\r\n");
  ConfigurationFile reread(dir.Path().c_str(), "formatted.xml");
  ASSERT_TRUE(reread.LoadReadOnly(0));
  EXPECT_TRUE(reread.GetValue(reread.FindSection(reread.GetRoot(), "s"), "b", value));
  EXPECT_EQ(value, "x\ny");
}

TEST(ConfigurationFile, LookupsKeepDocumentOrderAndLetterCaseRules) {
  TempDir dir;
  auto file = Load(dir,
                   "<!-- settings --><section name=\"s\"><key name=\"a\" value=\"1\"/><KEY name=\"b\" value=\"2\"/>"
                   "<key NAME=\"c\" VALUE=\"3\"/><key value=\"anonymous\"/><section name=\"inner\"/></section>"
                   "<section name=\"s\"><key name=\"a\" value=\"second\"/></section><section/><Section name=\"t\"/>"
                   "<section name=\"t\"/>");
  XmlNode* root = file->GetRoot();
  XmlNode* s = file->FindSection(root, "s");
  std::string value = "untouched";
  EXPECT_TRUE(file->GetValue(s, "a", value));
  EXPECT_EQ(value, "1");  // the first of the two sections named s
  EXPECT_EQ(file->FindSection(root, "S"), nullptr);
  EXPECT_EQ(file->FindKey(s, "b"), nullptr);   // KEY is not a key element
  EXPECT_TRUE(file->GetValue(s, "c", value));  // NAME and VALUE are
  EXPECT_EQ(value, "3");
  EXPECT_EQ(file->FindSection(root, "inner"), nullptr);
  Names sections, keys = {"kept"};
  file->GetSectionNames(root, sections);
  EXPECT_EQ(sections, (Names{"s", "s", "t"}));
  file->GetKeyNames(s, keys);
  EXPECT_EQ(keys, (Names{"kept", "a", "c"}));
  EXPECT_FALSE(file->GetValue(nullptr, "a", value));
  bool created = true;
  EXPECT_EQ(file->FindOrCreateSection(root, "t", &created), file->FindSection(root, "t"));
  EXPECT_FALSE(created);
}

TEST(ConfigurationFile, ChangesTouchOnlyTheValueAndNodesOfThisDocument) {
  TempDir dir;
  auto file = Load(dir, "<section name=\"s\"><key name=\"a\" value=\"1\" extra=\"x\"/><key name=\"novalue\"/>"
                        "<key name=\"d\" value=\"1\"/><key name=\"d\" value=\"2\"/></section><section name=\"t\"/>");
  XmlNode* s = file->FindSection(file->GetRoot(), "s");
  EXPECT_TRUE(file->SetValue(s, "a", std::int32_t(-5)));
  EXPECT_FALSE(file->SetValue(s, "novalue", "ignored"));
  EXPECT_FALSE(file->SetValue(s, "a", static_cast<const char*>(nullptr)));
  EXPECT_TRUE(file->SetValue(s, "new", std::uint32_t(4294967295u)));
  EXPECT_TRUE(file->DeleteKey(s, "d"));  // the first of two
  EXPECT_EQ(SerializeXml(s, -1),
            "<section name=\"s\"><key name=\"a\" value=\"-5\" extra=\"x\"/><key name=\"novalue\"/>"
            "<key name=\"d\" value=\"2\"/><key name=\"new\" value=\"4294967295\"/></section>");
  std::uint32_t u = 77;
  EXPECT_FALSE(file->GetValueUnsigned(s, "novalue", u));
  EXPECT_EQ(u, 77u);
  // Numbers convert as the 32-bit runtime does (the fuzz target compares every one with a model).
  const std::tuple<const char*, std::uint32_t, std::int32_t> numbers[] = {
      {"-1", 4294967295u, -1}, {"4294967296", 4294967295u, 2147483647}, {"-99999999999", 4294967295u, -2147483647 - 1}};
  for (const auto& [text, asUnsigned, asSigned] : numbers) {
    std::int32_t i = 0;
    EXPECT_TRUE(file->SetValue(s, "n", text) && file->GetValueUnsigned(s, "n", u) && file->GetValueSigned(s, "n", i));
    EXPECT_EQ(std::make_pair(u, i), std::make_pair(asUnsigned, asSigned)) << text;
  }
  EXPECT_FALSE(file->DeleteNode(file->GetRoot()));
  auto other = Load(dir, "<section name=\"x\"/>", false, "other.xml");
  XmlNode* foreign = other->FindSection(other->GetRoot(), "x");
  EXPECT_FALSE(file->DeleteNode(foreign));
  EXPECT_EQ(file->CreateSection(foreign, "y"), nullptr);
  EXPECT_FALSE(file->SetValue(foreign, "k", "v"));
  EXPECT_TRUE(file->DeleteNode(s));
  ASSERT_TRUE(file->WriteFile());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), "<section name=\"t\"/>");
}

TEST(ConfigurationFile, TextThatDoesNotParseGivesNoDocumentAndIsNeverWritten) {
  TempDir dir;
  const std::string broken = "<section name=\"s\"><key name=\"a\" value=\"1\"/>";
  auto file = Load(dir, broken);
  EXPECT_EQ(file->GetRoot(), nullptr);
  EXPECT_FALSE(file->IsNew());
  EXPECT_EQ(file->FindOrCreateSection(file->GetRoot(), "s"), nullptr);
  EXPECT_EQ(file->CreateKey(file->GetRoot(), "k", "v"), nullptr);
  // Writing it back fails and keeps the text; the lock is released.
  EXPECT_FALSE(file->WriteFile());
  EXPECT_FALSE(file->IsForUpdate());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), broken);
  ConfigurationFile next(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(next.LoadForUpdate(0));
  EXPECT_FALSE(next.WriteFileFormatted());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), broken);
}

TEST(ConfigurationFile, CachedViewRefusesToWriteAndKeepsASharedSourceAlive) {
  TempDir dir;
  const std::string text = "<section name=\"s\"><key name=\"a\" value=\"1\"/></section>";
  auto source = Load(dir, text, false);
  // Its refusals are checked by fuzz/fuzz_configuration.
  EXPECT_FALSE(CachedConfigurationFile(*source).WriteFile());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), text);
  // A view made from a shared owner keeps the source alive.
  std::shared_ptr<ConfigurationFile> owner(source.release());
  std::unique_ptr<Configuration> view(new CachedConfigurationFile(std::shared_ptr<const ConfigurationFile>(owner)));
  owner.reset();
  std::string value;
  EXPECT_TRUE(view->GetValue(view->FindSection(view->GetRoot(), "s"), "a", value));
  EXPECT_EQ(value, "1");
}

// Opening, replacing and truncating are seen through the configuration files
// above; here the failures.
TEST(LockedFile, FailedOpensAndWritesAreReported) {
  TempDir dir;
  platform::LockedFile file;
  EXPECT_EQ(file.Open(dir.File("missing/f")), platform::LockedFile::OpenResult::Failed);
  EXPECT_FALSE(file.ReplaceContent("x", 1));
  // A device that refuses data: the write is a failure, not a success.
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  ASSERT_EQ(file.Open("/dev/full"), platform::LockedFile::OpenResult::Opened);
  EXPECT_FALSE(file.ReplaceContent("data", 4));
  EXPECT_FALSE(file.ReplacedWhole());  // a device is written in place
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
