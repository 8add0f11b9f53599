#include "inventory/InventoryFile.h"
#include "inventory/InventoryNodeText.h"
#include "inventory/XPathProcessor.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <random>
#include <regex>
#include <string>

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
  // Refused before reading (the page refuses folders by name before this).
  TiXmlDocument document;
  std::string reason;
  EXPECT_FALSE(LoadInventoryFile(document, dir.Path(), &reason));
  EXPECT_EQ(reason, "not a regular file");
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
  // Siblings, closed empty elements, comments and CDATA add no depth.
  std::string flat = "<r>";
  for (unsigned i = 0; i < 3 * limit; ++i) flat += "<f n='" + std::to_string(i) + "'/><g></g>";
  flat += "<!--" + Nested(limit + 1, "<c>", "") + "--><![CDATA[" + Nested(limit + 1, "<d>", "") + "]]></r>";
  const struct {
    std::string text;
    bool loads;
  } cases[] = {
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE a>" + Nested(limit, "<a x='1'>", "</a>"), true}, {flat, true},
      {Nested(limit + 1, "<a>", "</a>"), false},
      // A value holding "/>" or ">" does not end or close the start tag.
      {Nested(limit + 1, "<a v=\"/>\" w='>'>", "</a>"), false},
      // Nor do a declaration or processing instructions hide what follows them.
      {"<?xml version=\"1.0\"?>\n<?pi >" + Nested(limit + 1, "<a>", "</a>") + "?>", false},
  };
  for (const auto& c : cases) {
    WriteFile(dir.File("nested.xml"), c.text);
    TiXmlDocument document;
    EXPECT_EQ(LoadInventoryFile(document, dir.File("nested.xml")), c.loads) << c.text.substr(0, 60);
    EXPECT_EQ(document.Error(), !c.loads) << c.text.substr(0, 60);
    EXPECT_EQ(document.FirstChild() == nullptr, !c.loads) << c.text.substr(0, 60);
  }
}

TEST(InventoryNodeText, EscapesEveryValueToWellFormedText) {
  struct Case {
    const char* value;
    const char* attribute;
    const char* text;
  } cases[] = {
      {"x&y", "a=\"x&amp;y\"", "x&amp;y"}, {"q\"x&<'", "a='q\"x&amp;&lt;&apos;'", "q&quot;x&amp;&lt;&apos;"},
      {"say \"hi\" > 'yo'", "a='say \"hi\" &gt; &apos;yo&apos;'", "say &quot;hi&quot; &gt; &apos;yo&apos;"},
      {"l1\nl2\x01", "a=\"l1&#x0A;l2&#x01;\"", "l1&#x0A;l2&#x01;"},
      {"AT&#x26 Co <fake id=\"1\"/> ok;", "a='AT&amp;#x26 Co &lt;fake id=\"1\"/&gt; ok;'",
       "AT&amp;#x26 Co &lt;fake id=&quot;1&quot;/&gt; ok;"},
      // complete hexadecimal references pass as they are, nothing else does
      {"&#x41;&#x10FFFF;\xC3\xA9", "a=\"&#x41;&#x10FFFF;\xC3\xA9\"", "&#x41;&#x10FFFF;\xC3\xA9"},
      {"&#x;&#x1234567;&#xG;&#41;&#x41", "a=\"&amp;#x;&amp;#x1234567;&amp;#xG;&amp;#41;&amp;#x41\"",
       "&amp;#x;&amp;#x1234567;&amp;#xG;&amp;#41;&amp;#x41"},
  };
  for (const Case& c : cases) {
    TiXmlElement element("e");
    element.SetAttribute("a", c.value);
    std::string attribute;
    AppendAttributeText(attribute, element.FirstAttribute());
    EXPECT_EQ(attribute, c.attribute) << c.value;
    std::string text;
    AppendInventoryEscaped(text, c.value);
    EXPECT_EQ(text, c.text) << c.value;
  }
}

// Documents with hostile values: every node-set reply, put into one element,
// parses and gives back the values it was made of.
class HostileDocument {
 public:
  explicit HostileDocument(unsigned seed) : random_(seed) {
    TiXmlElement* root = new TiXmlElement("r");
    document_.LinkEndChild(root);
    Fill(root, 0);
  }
  TiXmlElement* Root() { return document_.RootElement(); }

 private:
  std::string Value(bool text) {
    static const char* const kPieces[] = {
        "\"", "'", "&", "<", ">", ";", "#", "x", "a", "Z", "0", "&#x", "&#x;", "&#x41", "&#xZZ;",
        "&#x1234567;", "&#x26 Co", "&amp;", "&lt;fake id=\"1\"/&gt;", "<fake id='1'/>", "]]>", "-->",
        "\x01", "\x1F", "\t", "\n", "\r", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", " "};
    static const std::regex kReference("&#x[0-9a-fA-F]{1,6};");
    static const std::regex kBlank("[ \t\n\r]*");
    // A complete reference would come back as its character, and the XML
    // library drops blank texts and runs of spaces in text when it loads.
    const std::size_t pieces = std::size(kPieces) - (text ? 1 : 0);
    for (;;) {
      std::string value;
      for (int n = Pick(1, 8); n > 0; --n) value += kPieces[Pick(0, static_cast<int>(pieces) - 1)];
      if (!std::regex_search(value, kReference) && !(text && std::regex_match(value, kBlank))) return value;
    }
  }
  void Fill(TiXmlElement* element, int depth) {
    static const char* const kNames[] = {"a", "b", "size", "c"};
    for (int i = Pick(0, 3); i > 0; --i) element->SetAttribute(kNames[i], Value(false));
    bool textLast = false;
    for (int i = Pick(0, depth < 3 ? 3 : 0); i > 0; --i) {
      if (!textLast && Pick(0, 1) == 1) {
        element->LinkEndChild(new TiXmlText(Value(true)));
        textLast = true;
      } else {
        TiXmlElement* child = new TiXmlElement(Pick(0, 1) == 1 ? "e" : "f");
        element->LinkEndChild(child);
        Fill(child, depth + 1);
        textLast = false;
      }
    }
  }
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::mt19937 random_;
  TiXmlDocument document_;
};

// Each item of a node-set reply, as the inventory page writes it, parses
// and gives back the values it was made of: an attribute its value, a node
// the same text form (the escaping is one to one on these values).
TEST(InventoryNodeText, NodeSetRepliesOfHostileDocumentsParseBackToTheirValues) {
  for (unsigned seed = 1; seed <= 150; ++seed) {
    HostileDocument document(seed);
    for (const char* query : {"//*", "//@*", "//text()"}) {
      const std::string where = "seed " + std::to_string(seed) + ", " + query;
      XPath::xpath_processor processor(document.Root(), query);
      const unsigned total = processor.ComputeNodeSet();
      for (unsigned i = 0; i < total; ++i) {
        std::string one, again;
        TiXmlDocument parsed;
        const TiXmlAttribute* attribute = processor.GetAttribute(i);
        if (attribute != nullptr) {
          AppendAttributeText(one, attribute);
          parsed.Parse(("<reply " + one + "/>").c_str(), nullptr, TIXML_ENCODING_UTF8);
        } else {
          AppendNodeText(one, processor.GetNode(i), 0);
          parsed.Parse(("<reply>" + one + "</reply>").c_str(), nullptr, TIXML_ENCODING_UTF8);
        }
        ASSERT_FALSE(parsed.Error()) << where << ": " << parsed.ErrorDesc() << "\n" << one;
        if (attribute != nullptr) {
          EXPECT_EQ(parsed.RootElement()->FirstAttribute()->ValueStr(), attribute->ValueStr()) << where;
        } else {
          AppendNodeText(again, parsed.RootElement()->FirstChild(), 0);
          EXPECT_EQ(again, one) << where;
        }
      }
    }
  }
}

}  // namespace
