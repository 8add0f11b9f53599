#include "config/XmlParser.h"
#include "config/XmlWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::unique_ptr<XmlNode> Parse(const std::string& text) {
  XmlNode* document = nullptr;
  std::string error;
  EXPECT_EQ(ParseXml(text, &document, &error, nullptr), 0) << error << " in " << text;
  return std::unique_ptr<XmlNode>(document);
}

// What the configuration files hold: sections of keys, no root element.
std::unique_ptr<XmlNode> ConfigDocument() {
  auto document = std::make_unique<XmlNode>(XmlKind::Document, "invisibleroot");
  XmlNode* section = document->AddElement("section");
  section->AddAttribute("name", "Timers");
  XmlNode* key = section->AddElement("key");
  key->AddAttribute("name", "a");
  key->AddAttribute("value", "1\n2");
  XmlNode* inner = section->AddElement("section");
  inner->AddAttribute("name", "in");
  inner->AddElement("key")->AddAttribute("name", "b");
  document->AddElement("section")->AddAttribute("name", "Empty");
  return document;
}

TEST(SerializeXml, CompactLayout) {
  auto document = ConfigDocument();
  EXPECT_EQ(SerializeXml(document.get(), -1),
            "<section name=\"Timers\"><key name=\"a\" value=\"1&#xA;2\"/>"
            "<section name=\"in\"><key name=\"b\"/></section></section><section name=\"Empty\"/>");
  EXPECT_EQ(SerializeXml(document.get(), -5), SerializeXml(document.get(), -1));

  // Text goes after the children; CDATA content is written as one section.
  auto mixed = Parse("<a>x<b/>y<c><![CDATA[<&>]]></c><!--c--><?p q='1'?></a>");
  EXPECT_EQ(SerializeXml(mixed.get(), -1), "<a><b/><c><![CDATA[<&>]]></c><!--c--><?p q=\"1\"?>xy</a>");
  // Serializing a single node writes just that node.
  EXPECT_EQ(SerializeXml(mixed->Children()[0]->Children()[1], -1), "<c><![CDATA[<&>]]></c>");
  EXPECT_EQ(SerializeXml(mixed->Children()[0]->Children()[3]->Attributes()[0], -1), " q=\"1\"");
  EXPECT_EQ(SerializeXml(nullptr, -1), "");
}

TEST(SerializeXml, TabIndentedLayouts) {
  // Indent 0: children of the top element on their own lines after one tab.
  auto simple = Parse("<a><b/><c/></a>");
  EXPECT_EQ(SerializeXml(simple.get(), 0), "<a>\n\t<b/>\n\t<c/>\n</a>\n");

  // Indent 1, as the formatted configuration files are written.
  auto document = ConfigDocument();
  EXPECT_EQ(SerializeXml(document.get(), 1),
            "\t<section name=\"Timers\">\n"
            "\t\t<key name=\"a\" value=\"1&#xA;2\"/>\n"
            "\t\t<section name=\"in\">\n"
            "\t\t\t<key name=\"b\"/>\n"
            "\t\t</section>\n"
            "\t</section>\n"
            "\t<section name=\"Empty\"/>\n");

  // An element with text adds no white space around its children (they keep
  // their own layout); a document at indent 2 ends with one tab.
  auto text = Parse("<a>t<b><c/></b></a><d/>");
  EXPECT_EQ(SerializeXml(text.get(), 2), "\t\t<a><b>\n\t\t\t\t<c/>\n\t\t\t</b>t</a>\n\t\t<d/>\n\t");
  EXPECT_EQ(SerializeXml(text->Children()[0], 0), "<a><b>\n\t<c/>\n</b>t</a>");

  // A CDATA element with a value counts as having text.
  auto cdata = Parse("<a><b/><![CDATA[v]]></a>");
  EXPECT_EQ(SerializeXml(cdata.get(), 0), "<a><b/><![CDATA[v]]></a>\n");
}

TEST(SerializeXml, ByteOrderMarkAndTheDocumentsOwnText) {
  auto document = Parse(" <a/> ");
  EXPECT_EQ(SerializeXml(document.get(), -1), "<a/>");  // top-level character data is not written
  EXPECT_EQ(SerializeXml(document.get(), -1, true), "\xEF\xBB\xBF<a/>");
  document->SetValue(kXmlByteOrderMark);
  EXPECT_EQ(SerializeXml(document.get(), -1, false), "\xEF\xBB\xBF<a/>");
  // Only documents carry the mark.
  EXPECT_EQ(SerializeXml(document->Children()[0], -1, true), "<a/>");
  XmlNode empty(XmlKind::Document);
  EXPECT_EQ(SerializeXml(&empty, 3, true), "\xEF\xBB\xBF");
}

TEST(SerializeXml, RepairsThatKeepTheOutputReadable) {
  // A single-quoted value may hold a double quote in its file form.
  auto quoted = Parse("<a x='say \"hi\"'/>");
  const std::string written = SerializeXml(quoted.get(), -1);
  EXPECT_EQ(written, "<a x=\"say &quot;hi&quot;\"/>");
  EXPECT_EQ(Parse(written)->Children()[0]->Attributes()[0]->Value(), "say \"hi\"");

  // Sections that only together hold "]]>" must not end the written one early.
  auto split = Parse("<a><![CDATA[x]]]]><![CDATA[>y]]></a>");
  EXPECT_EQ(split->Children()[0]->Value(), "x]]>y");
  const std::string cdata = SerializeXml(split.get(), -1);
  EXPECT_EQ(cdata, "<a><![CDATA[x]]]]><![CDATA[>y]]></a>");
  EXPECT_EQ(Parse(cdata)->Children()[0]->Value(), "x]]>y");
}

TEST(SerializeXml, ValuesAreEscapedWhenOnlyTheValueIsKnown) {
  XmlNode document(XmlKind::Document);
  XmlNode* a = document.AddElement("a", "1 < 2 & \"q\"\tT\r\nL");
  a->AddAttribute("v", "x\ty\r\nz'");
  XmlNode* comment = new XmlNode(XmlKind::Comment, "", " <raw> & ");
  AddChild(&document, comment);
  AddChild(&document, new XmlNode(XmlKind::RawMarkup, "", "<!DOCTYPE x>"));
  const std::string expected =
      "<a v=\"x&#x9;y&#xA;z&apos;\">1 &lt; 2 &amp; &quot;q&quot;\tT\nL</a><!-- <raw> & --><!DOCTYPE x>";
  EXPECT_EQ(MeasureXml(&document, -1, false), expected.size());
  EXPECT_EQ(SerializeXml(&document, -1), expected);

  // Appending keeps what the string held.
  std::string out = "prefix:";
  SerializeXml(a, out, -1, false);
  EXPECT_EQ(out.substr(0, 10), "prefix:<a ");
}

}  // namespace
