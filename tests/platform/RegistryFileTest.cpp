#include "platform/Registry.h"
#include "platform/posix/RegistryFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient";

TEST(RegistryFile, StringsDwordsAndEscapes) {
  platform::RegistryFile file;
  ASSERT_TRUE(file.Parse(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Fleetwarden\\WinClient]\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\Client\"\r\n"
      "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
      "\"HPSM\"=dword:0000000a\r\n"
      "\"Blob\"=hex:01,02,\\\r\n  ff\r\n"
      "@=\"default\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
      "\"Path\"=\"elsewhere\"\r\n"));
  const platform::RegistryValue* path = file.Find(kKey, "Path");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->text, "C:\\Program Files\\Client");
  EXPECT_EQ(file.Find(kKey, "Quote")->text, "say \"hi\"");
  const platform::RegistryValue* hpsm = file.Find(kKey, "HPSM");
  ASSERT_NE(hpsm, nullptr);
  EXPECT_EQ(hpsm->kind, platform::RegistryValue::Kind::Dword);
  EXPECT_EQ(hpsm->number, 10u);
  ASSERT_NE(file.Find(kKey, "Blob"), nullptr);
  EXPECT_EQ(file.Find(kKey, "Blob")->bytes, (std::vector<unsigned char>{1, 2, 0xff}));
  EXPECT_EQ(file.Find(kKey, "")->text, "default");
  EXPECT_EQ(file.Find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "Path")->text, "elsewhere");
}

TEST(RegistryFile, NamesCompareWithoutCase) {
  platform::RegistryFile file;
  ASSERT_TRUE(file.Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\corvane\\FLEETWARDEN\\winclient]\n\"hpsm\"=dword:1\n"));
  EXPECT_TRUE(file.HasKey(kKey));
  ASSERT_NE(file.Find(kKey, "HPSM"), nullptr);
  EXPECT_EQ(file.Find(kKey, "HPSM")->number, 1u);
  EXPECT_EQ(file.Find(kKey, "Path"), nullptr);
}

TEST(RegistryFile, RejectsOtherTextsAndBadValues) {
  platform::RegistryFile file;
  EXPECT_FALSE(file.Parse(""));
  EXPECT_FALSE(file.Parse("[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\"\n"));
  ASSERT_TRUE(file.Parse("REGEDIT4\n\"orphan\"=\"x\"\n[HKEY_LOCAL_MACHINE\\X]\n"
                         "\"bad\"=dword:123456789\n\"open\"=\"no end\n\"ok\"=dword:ffffffff\n"));
  EXPECT_EQ(file.Find("HKEY_LOCAL_MACHINE\\X", "bad"), nullptr);
  EXPECT_EQ(file.Find("HKEY_LOCAL_MACHINE\\X", "open"), nullptr);
  EXPECT_EQ(file.Find("HKEY_LOCAL_MACHINE\\X", "ok")->number, 0xffffffffu);
}

TEST(RegistryFile, Utf16ExportFromRegedit) {
  std::string utf8 = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"Name\"=\"Zürich\"\r\n";
  std::string utf16 = "\xFF\xFE";
  // Widen: every byte here is ASCII except the two bytes of the umlaut.
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == 0xC3) {
      utf16 += '\xFC';
      utf16 += '\0';
      ++i;
    } else {
      utf16 += static_cast<char>(c);
      utf16 += '\0';
    }
  }
  platform::RegistryFile file;
  ASSERT_TRUE(file.Parse(utf16));
  ASSERT_NE(file.Find("HKEY_LOCAL_MACHINE\\A", "name"), nullptr);
  EXPECT_EQ(file.Find("HKEY_LOCAL_MACHINE\\A", "name")->text, "Z\xC3\xBCrich");
}

TEST(RegistryFile, MissingFileFailsToLoad) {
  platform::RegistryFile file;
  EXPECT_FALSE(file.Load("/nonexistent/registry.reg"));
  EXPECT_FALSE(file.HasKey(kKey));
}

}  // namespace
