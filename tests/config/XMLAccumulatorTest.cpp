#include "config/XMLAccumulator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Compact(const XMLAccumulator& xml) {
  std::string out = "old";
  xml.GetXml(out, -1);
  return out;
}

TEST(XMLAccumulator, BuildsNestedElementsWithAttributesAndNumbers) {
  XMLAccumulator xml;
  EXPECT_EQ(xml.Document()->Name(), "invisible");
  EXPECT_EQ(Compact(xml), "");

  const XmlAttributeMap attributes = {{"zeta", "z"}, {"alpha", "a<\""}};
  xml.OpenElement("reply", nullptr, &attributes);
  EXPECT_TRUE(xml.AddAttribute("count", std::int32_t{-3}));
  EXPECT_TRUE(xml.AddAttribute("size", std::uint32_t{4000000000u}));
  EXPECT_TRUE(xml.AddAttribute("text", "t&\n"));
  EXPECT_TRUE(xml.AddElement("empty"));
  EXPECT_TRUE(xml.AddElement("s", "a < b"));
  EXPECT_TRUE(xml.AddElement("i", std::int32_t{-2147483647 - 1}));
  EXPECT_TRUE(xml.AddElement("u", std::uint32_t{4294967295u}));
  EXPECT_TRUE(xml.AddElement("big", std::uint64_t{18446744073709551615ull}, &attributes));
  xml.OpenElement("inner", std::string("text"));
  EXPECT_TRUE(xml.AddElement("leaf"));
  EXPECT_TRUE(xml.CloseElement());
  EXPECT_TRUE(xml.CloseElement());
  xml.OpenElement("second");
  EXPECT_TRUE(xml.CloseElement());

  EXPECT_EQ(Compact(xml),
            "<reply alpha=\"a&lt;&quot;\" zeta=\"z\" count=\"-3\" size=\"4000000000\" text=\"t&amp;&#xA;\">"
            "<empty/><s>a &lt; b</s><i>-2147483648</i><u>4294967295</u>"
            "<big alpha=\"a&lt;&quot;\" zeta=\"z\">18446744073709551615</big>"
            "<inner><leaf/>text</inner></reply><second/>");

  std::string indented;
  xml.GetXml(indented, 0);
  EXPECT_EQ(indented.substr(0, 7), "<reply ");
  EXPECT_EQ(indented.substr(indented.size() - 10), "<second/>\n");

  std::string appended = "<errors/>";
  xml.AppendXml(appended, -1);
  EXPECT_EQ(appended, "<errors/>" + Compact(xml));
}

TEST(XMLAccumulator, ClosingTheDocumentStopsEveryAddition) {
  XMLAccumulator xml;
  EXPECT_TRUE(xml.AddElement("a"));
  EXPECT_TRUE(xml.CloseElement());  // the document itself
  EXPECT_EQ(xml.CurrentElement(), nullptr);
  EXPECT_FALSE(xml.CloseElement());
  EXPECT_FALSE(xml.AddElement("b"));
  EXPECT_FALSE(xml.AddElement("n", std::uint64_t{1}));
  EXPECT_FALSE(xml.AddAttribute("x", "1"));
  EXPECT_FALSE(xml.AddXml("<c/>"));
  xml.OpenElement("d");
  EXPECT_EQ(Compact(xml), "<a/>");
}

TEST(XMLAccumulator, AddXmlAppendsTheFirstNodeOrNothing) {
  XMLAccumulator xml;
  xml.OpenElement("result");
  EXPECT_TRUE(xml.AddXml("<item id='1'>x<sub/></item><ignored/>"));
  EXPECT_TRUE(xml.AddXml("<!--note--><item/>"));
  EXPECT_TRUE(xml.AddXml(""));
  const std::string before = Compact(xml);
  EXPECT_FALSE(xml.AddXml("<broken>"));
  EXPECT_FALSE(xml.AddXml("<a x='1/>"));
  EXPECT_EQ(Compact(xml), before);
  EXPECT_EQ(before, "<result><item id=\"1\"><sub/>x</item><!--note--></result>");
  // The current element is unchanged by AddXml.
  EXPECT_TRUE(xml.AddElement("after"));
  EXPECT_EQ(xml.CurrentElement()->Name(), "result");
}

}  // namespace
