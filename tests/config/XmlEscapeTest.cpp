#include "config/XmlEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(XmlEscape, ElementTextAndAttributeColumnsDiffer) {
  const std::string value = std::string("<>&'\"\tL\nC\rW\r\nX\x01\x1F \x7F\xC3\xA9") + '\0';
  EXPECT_EQ(EscapeXml(value, XmlEscapeMode::ElementText),
            std::string("&lt;&gt;&amp;&apos;&quot;\tL\nC\nW\nX&#x01;&#x1F; \x7F\xC3\xA9&#x00;"));
  EXPECT_EQ(EscapeXml(value, XmlEscapeMode::AttributeValue),
            std::string("&lt;&gt;&amp;&apos;&quot;&#x9;L&#xA;C&#xA;W&#xA;X&#x01;&#x1F; \x7F\xC3\xA9&#x00;"));
  EXPECT_EQ(EscapeXml("", XmlEscapeMode::AttributeValue), "");
  EXPECT_EQ(EscapeXml("\r\r\n\n", XmlEscapeMode::ElementText), "\n\n\n");

  std::string out = "keep:";
  AppendEscapedXml(out, "a&b", XmlEscapeMode::ElementText);
  EXPECT_EQ(out, "keep:a&amp;b");
}

TEST(XmlEscape, UnescapeReferencesAndStopAtUnknownOnes) {
  EXPECT_EQ(UnescapeXml("&lt;&gt;&amp;&apos;&quot;"), "<>&'\"");
  EXPECT_EQ(UnescapeXml("A&#65;&#x42;&#x6a;&#xFF;&#0;z"), std::string("AABj\xFF") + '\0' + "z");
  EXPECT_EQ(UnescapeXml("AT&amp;T"), "AT&T");
  EXPECT_EQ(UnescapeXml("AT&T"), "AT");
  EXPECT_EQ(UnescapeXml("a&#256;b"), "a");     // not a byte
  EXPECT_EQ(UnescapeXml("a&#x100;b"), "a");
  EXPECT_EQ(UnescapeXml("a&#999999999999999999999;b"), "a");
  EXPECT_EQ(UnescapeXml("a&#x;b"), "a");
  EXPECT_EQ(UnescapeXml("a&#65b"), "a");       // no ";"
  EXPECT_EQ(UnescapeXml("a&#X41;b"), "a");     // only a lower-case x
  EXPECT_EQ(UnescapeXml("a&LT;b"), "a");
  EXPECT_EQ(UnescapeXml("a&lt"), "a");
  EXPECT_EQ(UnescapeXml("plain \n\t text"), "plain \n\t text");
  EXPECT_EQ(UnescapeXml(""), "");

  // Every byte survives escaping and decoding in both columns, except CR,
  // which becomes a line feed.
  std::string all;
  for (int c = 0; c < 256; ++c)
    if (c != '\r') all += static_cast<char>(c);
  EXPECT_EQ(UnescapeXml(EscapeXml(all, XmlEscapeMode::ElementText)), all);
  EXPECT_EQ(UnescapeXml(EscapeXml(all, XmlEscapeMode::AttributeValue)), all);
}

}  // namespace
