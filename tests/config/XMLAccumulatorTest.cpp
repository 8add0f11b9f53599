// Replies built element by element, and the provider error lists in them.
#include "config/XMLAccumulator.h"

#include "config/ProviderError.h"

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
  const std::string expected =
      "<reply alpha=\"a&lt;&quot;\" zeta=\"z\" count=\"-3\" size=\"4000000000\" text=\"t&amp;&#xA;\">"
      "<empty/><s>a &lt; b</s><i>-2147483648</i><u>4294967295</u>"
      "<big alpha=\"a&lt;&quot;\" zeta=\"z\">18446744073709551615</big>"
      "<inner><leaf/>text</inner></reply><second/>";
  EXPECT_EQ(Compact(xml), expected);
  std::string appended = "<errors/>";
  xml.AppendXml(appended, -1);
  EXPECT_EQ(appended, "<errors/>" + expected);

  // Closing the document itself stops every addition.
  EXPECT_TRUE(xml.CloseElement());
  EXPECT_FALSE(xml.CloseElement());
  EXPECT_FALSE(xml.AddElement("b"));
  EXPECT_FALSE(xml.AddElement("n", std::uint64_t{1}));
  EXPECT_FALSE(xml.AddAttribute("x", "1"));
  EXPECT_FALSE(xml.AddXml("<c/>"));
  EXPECT_EQ(Compact(xml), expected);
}

TEST(XMLAccumulator, AddXmlAppendsTheFirstNodeOrNothing) {
  XMLAccumulator xml;
  xml.OpenElement("result");
  EXPECT_TRUE(xml.AddXml("<item id='1'>x<sub/></item><ignored/>"));
  EXPECT_TRUE(xml.AddXml("<!--note--><item/>"));
  EXPECT_TRUE(xml.AddXml(""));
  EXPECT_FALSE(xml.AddXml("<broken>"));
  EXPECT_TRUE(xml.AddElement("after"));  // the current element is unchanged by AddXml
  EXPECT_EQ(Compact(xml), "<result><item id=\"1\"><sub/>x</item><!--note--><after/></result>");
}

TEST(ProviderErrorList, PostErrorsComeFirstAndParametersAreEscaped) {
  ProviderErrorList list;
  std::string out = "keep";
  list.AppendXml(out);
  EXPECT_EQ(out, "keep");  // nothing for empty lists
  ProviderError withParameters("E_FILE");
  withParameters.AddParameter("path", "a<b.xml");
  withParameters.AddParameter("code", "5");
  list.AddGetError(withParameters);
  list.AddPostError(ProviderError("E_NOPARAMS"));
  list.AddPostError(ProviderError("E_SECOND"));
  const std::string expected =
      "<providererrorlist><posterrors><providererror><stringid>E_NOPARAMS</stringid></providererror>"
      "<providererror><stringid>E_SECOND</stringid></providererror></posterrors>"
      "<geterrors><providererror><stringid>E_FILE</stringid>"
      "<parameters><path>a&lt;b.xml</path><code>5</code></parameters></providererror>"
      "</geterrors></providererrorlist>";
  out.clear();
  list.AppendXml(out);
  EXPECT_EQ(out, expected);  // pages write it into their replies: see the asynchronous record page's tests
}

}  // namespace
