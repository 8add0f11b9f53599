// Section/key operations on configuration documents, and read-only views.
#include "config/ConfigurationFile.h"

#include "TestSupport.h"
#include "config/XmlWriter.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::unique_ptr<ConfigurationFile> LoadText(const TempDir& dir, const std::string& text, bool forUpdate = true,
                                            const char* name = "c.xml") {
  WriteFile(dir.File(name), text);
  std::unique_ptr<ConfigurationFile> file(new ConfigurationFile(dir.Path().c_str(), name));
  EXPECT_TRUE(forUpdate ? file->LoadForUpdate(0) : file->LoadReadOnly(0));
  return file;
}

std::vector<std::string> Names(const std::vector<std::string>& names) { return names; }

TEST(ConfigurationDocument, FreshFileGetsOneCompactSection) {
  TempDir dir;
  ConfigurationFile file(dir.Path().c_str(), "fresh.xml");
  ASSERT_TRUE(file.LoadForUpdate(0));
  EXPECT_TRUE(file.IsNew());
  ASSERT_NE(file.GetRoot(), nullptr);
  EXPECT_EQ(file.GetRoot()->Name(), "invisibleroot");
  bool created = false;
  XmlNode* section = file.FindOrCreateSection(file.GetRoot(), "DefaultMonitorTag", &created);
  ASSERT_NE(section, nullptr);
  EXPECT_TRUE(created);
  EXPECT_EQ(file.FindOrCreateSection(file.GetRoot(), "DefaultMonitorTag", &created), section);
  EXPECT_FALSE(created);
  EXPECT_TRUE(file.SetValue(section, "EnableMonitoring", "1"));
  EXPECT_TRUE(file.SetValue(section, "PollingInterval", std::uint32_t(60)));
  ASSERT_TRUE(file.WriteFile());
  EXPECT_EQ(ReadFile(dir.File("fresh.xml")),
            "<section name=\"DefaultMonitorTag\"><key name=\"EnableMonitoring\" value=\"1\"/>"
            "<key name=\"PollingInterval\" value=\"60\"/></section>");

  // A line break in a value stays out of the file's text.
  ConfigurationFile again(dir.Path().c_str(), "fresh.xml");
  ASSERT_TRUE(again.LoadForUpdate(0));
  EXPECT_FALSE(again.IsNew());
  XmlNode* reread = again.FindSection(again.GetRoot(), "DefaultMonitorTag");
  EXPECT_TRUE(again.SetValue(reread, "PollingInterval", "two\nlines"));
  ASSERT_TRUE(again.WriteFile());
  std::string text = ReadFile(dir.File("fresh.xml"));
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_NE(text.find("value=\"two&#xA;lines\""), std::string::npos);
  ConfigurationFile third(dir.Path().c_str(), "fresh.xml");
  ASSERT_TRUE(third.LoadReadOnly(0));
  std::string value;
  EXPECT_TRUE(third.GetValue(third.FindSection(third.GetRoot(), "DefaultMonitorTag"), "PollingInterval", value));
  EXPECT_EQ(value, "two\nlines");
}

TEST(ConfigurationDocument, LookupsKeepDocumentOrderAndLetterCaseRules) {
  TempDir dir;
  auto file = LoadText(dir,
                       "<!-- settings --><section name=\"s\"><key name=\"a\" value=\"1\"/><KEY name=\"b\" value=\"2\"/>"
                       "<key NAME=\"c\" VALUE=\"3\"/><key value=\"anonymous\"/><section name=\"inner\"/></section>"
                       "<section name=\"s\"><key name=\"a\" value=\"second\"/></section><section/><Section name=\"t\"/>"
                       "<section name=\"t\"/>");
  XmlNode* root = file->GetRoot();
  ASSERT_NE(root, nullptr);
  XmlNode* s = file->FindSection(root, "s");
  ASSERT_NE(s, nullptr);
  std::string value = "untouched";
  EXPECT_TRUE(file->GetValue(s, "a", value));
  EXPECT_EQ(value, "1");  // the first of the two sections named s
  EXPECT_EQ(file->FindSection(root, "S"), nullptr);
  EXPECT_EQ(file->FindKey(s, "b"), nullptr);  // KEY is not a key element
  EXPECT_TRUE(file->GetValue(s, "c", value));  // NAME and VALUE are
  EXPECT_EQ(value, "3");
  EXPECT_NE(file->FindSection(s, "inner"), nullptr);
  EXPECT_EQ(file->FindSection(root, "inner"), nullptr);

  std::vector<std::string> sections;
  file->GetSectionNames(root, sections);
  EXPECT_EQ(sections, Names({"s", "s", "t"}));
  std::vector<std::string> keys = {"kept"};
  file->GetKeyNames(s, keys);
  EXPECT_EQ(keys, Names({"kept", "a", "c"}));

  value = "untouched";
  EXPECT_FALSE(file->GetValue(s, "missing", value));
  EXPECT_FALSE(file->GetValue(nullptr, "a", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_EQ(file->FindSection(nullptr, "s"), nullptr);
  std::vector<std::string> none;
  file->GetKeyNames(nullptr, none);
  EXPECT_TRUE(none.empty());
}

TEST(ConfigurationDocument, SetValueChangesOnlyTheValueAndNumbersConvertAsThe32BitRuntimeDoes) {
  TempDir dir;
  auto file = LoadText(dir,
                       "<section name=\"s\"><key name=\"a\" value=\"1\" extra=\"x\"/><key name=\"novalue\"/>"
                       "<key name=\"z\" value=\"9\"/></section>");
  XmlNode* s = file->FindSection(file->GetRoot(), "s");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(file->SetValue(s, "a", std::int32_t(-5)));
  EXPECT_FALSE(file->SetValue(s, "novalue", "ignored"));
  EXPECT_FALSE(file->SetValue(s, "a", static_cast<const char*>(nullptr)));
  EXPECT_TRUE(file->SetValue(s, "new", std::uint32_t(4294967295u)));
  EXPECT_EQ(SerializeXml(s, -1),
            "<section name=\"s\"><key name=\"a\" value=\"-5\" extra=\"x\"/><key name=\"novalue\"/>"
            "<key name=\"z\" value=\"9\"/><key name=\"new\" value=\"4294967295\"/></section>");

  struct Case {
    const char* text;
    std::uint32_t asUnsigned;
    std::int32_t asSigned;
  } cases[] = {
      {"12abc", 12, 12},
      {"abc", 0, 0},
      {"  +7", 7, 7},
      {"-1", 4294967295u, -1},
      {"4294967296", 4294967295u, 2147483647},
      {"99999999999999999999999", 4294967295u, 2147483647},
      {"-2147483648", 2147483648u, -2147483647 - 1},
      {"-99999999999", 4294967295u, -2147483647 - 1},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(file->SetValue(s, "n", c.text));
    std::uint32_t u = 1;
    std::int32_t i = 1;
    EXPECT_TRUE(file->GetValueUnsigned(s, "n", u));
    EXPECT_TRUE(file->GetValueSigned(s, "n", i));
    EXPECT_EQ(u, c.asUnsigned) << c.text;
    EXPECT_EQ(i, c.asSigned) << c.text;
  }
  std::uint32_t u = 77;
  std::int32_t i = 77;
  EXPECT_FALSE(file->GetValueUnsigned(s, "novalue", u));
  EXPECT_FALSE(file->GetValueSigned(s, "missing", i));
  EXPECT_EQ(u, 77u);
  EXPECT_EQ(i, 77);
}

TEST(ConfigurationDocument, DeletingKeysAndNodes) {
  TempDir dir;
  auto file = LoadText(dir, "<section name=\"s\"><key name=\"a\" value=\"1\"/><key name=\"a\" value=\"2\"/></section>"
                            "<section name=\"t\"/>");
  XmlNode* root = file->GetRoot();
  XmlNode* s = file->FindSection(root, "s");
  EXPECT_TRUE(file->DeleteKey(s, "a"));
  std::string value;
  EXPECT_TRUE(file->GetValue(s, "a", value));
  EXPECT_EQ(value, "2");
  EXPECT_TRUE(file->DeleteKey(s, "a"));
  EXPECT_FALSE(file->DeleteKey(s, "a"));
  EXPECT_FALSE(file->DeleteKey(nullptr, "a"));

  EXPECT_FALSE(file->DeleteNode(root));
  EXPECT_FALSE(file->DeleteNode(nullptr));
  // Nodes of another document are not this object's to change.
  auto other = LoadText(dir, "<section name=\"x\"/>", false, "other.xml");
  XmlNode* foreign = other->FindSection(other->GetRoot(), "x");
  EXPECT_FALSE(file->DeleteNode(foreign));
  EXPECT_EQ(file->CreateSection(foreign, "y"), nullptr);
  EXPECT_FALSE(file->SetValue(foreign, "k", "v"));
  EXPECT_EQ(other->FindSection(other->GetRoot(), "x"), foreign);
  EXPECT_TRUE(foreign->Children().empty());

  EXPECT_TRUE(file->DeleteNode(s));
  ASSERT_TRUE(file->WriteFile());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), "<section name=\"t\"/>");
}

TEST(ConfigurationDocument, TextThatDoesNotParseGivesNoDocumentAndIsNeverWritten) {
  TempDir dir;
  const std::string broken = "<section name=\"s\"><key name=\"a\" value=\"1\"/>";
  auto file = LoadText(dir, broken);
  EXPECT_EQ(file->GetRoot(), nullptr);
  EXPECT_FALSE(file->IsNew());
  EXPECT_EQ(file->FindSection(file->GetRoot(), "s"), nullptr);
  EXPECT_EQ(file->FindOrCreateSection(file->GetRoot(), "s"), nullptr);
  EXPECT_EQ(file->CreateSection(file->GetRoot(), "s"), nullptr);
  EXPECT_EQ(file->CreateKey(file->GetRoot(), "k", "v"), nullptr);
  EXPECT_FALSE(file->SetValue(file->GetRoot(), "k", "v"));
  std::vector<std::string> names;
  file->GetSectionNames(file->GetRoot(), names);
  EXPECT_TRUE(names.empty());
  // Writing it back fails and keeps the text; the lock is released.
  EXPECT_FALSE(file->WriteFile());
  EXPECT_FALSE(file->IsForUpdate());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), broken);
  ConfigurationFile next(dir.Path().c_str(), "c.xml");
  ASSERT_TRUE(next.LoadForUpdate(0));
  EXPECT_FALSE(next.WriteFileFormatted());
  EXPECT_EQ(ReadFile(dir.File("c.xml")), broken);
}

TEST(ConfigurationDocument, CachedViewAnswersLikeItsSourceAndRefusesChanges) {
  TempDir dir;
  const std::string text = "<section name=\"s\"><key name=\"a\" value=\"1\"/></section>";
  auto source = LoadText(dir, text, false);
  {
    CachedConfigurationFile view(*source);
    EXPECT_TRUE(view.IsShared());
    EXPECT_TRUE(view.IsReadOnly());
    EXPECT_FALSE(view.IsForUpdate());
    EXPECT_FALSE(view.IsNew());
    EXPECT_EQ(view.GetRoot(), source->GetRoot());
    XmlNode* s = view.FindSection(view.GetRoot(), "s");
    ASSERT_NE(s, nullptr);
    std::string value;
    EXPECT_TRUE(view.GetValue(s, "a", value));
    EXPECT_EQ(value, "1");

    EXPECT_FALSE(view.SetValue(s, "a", "2"));
    EXPECT_FALSE(view.SetValue(s, "b", std::int32_t(2)));
    EXPECT_EQ(view.CreateSection(view.GetRoot(), "t"), nullptr);
    EXPECT_EQ(view.FindOrCreateSection(view.GetRoot(), "t"), nullptr);
    EXPECT_EQ(view.CreateKey(s, "b", "2"), nullptr);
    EXPECT_FALSE(view.DeleteKey(s, "a"));
    EXPECT_FALSE(view.DeleteNode(s));
    EXPECT_FALSE(view.WriteFile());
    EXPECT_FALSE(view.WriteFileFormatted());
    EXPECT_FALSE(view.LoadReadOnly(0));
    EXPECT_FALSE(view.LoadForUpdate(0));
    EXPECT_TRUE(view.Path().empty());
  }
  // The view left the source's document alone.
  EXPECT_EQ(SerializeXml(source->GetRoot(), -1), text);
  EXPECT_EQ(ReadFile(dir.File("c.xml")), text);

  // A view made from a shared owner keeps the source alive.
  std::shared_ptr<ConfigurationFile> owner(source.release());
  std::unique_ptr<Configuration> view(new CachedConfigurationFile(std::shared_ptr<const ConfigurationFile>(owner)));
  owner.reset();
  std::string value;
  EXPECT_TRUE(view->GetValue(view->FindSection(view->GetRoot(), "s"), "a", value));
  EXPECT_EQ(value, "1");
}

}  // namespace
