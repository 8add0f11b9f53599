#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

namespace {

using namespace XPath;

class XPathPredicates : public ::testing::Test {
 protected:
  void SetUp() override {
    document_.Parse(
        "<inv><item k='1'/><note k='2'/><item k='3'/><item k='4'>text</item>"
        "<box k='5'><item k='6'/><item k='7'/></box></inv>");
    ASSERT_FALSE(document_.Error());
  }
  // k of every element of the result, or "error <code>".
  std::string Keys(const char* expression) {
    xpath_processor processor(document_.RootElement(), expression);
    unsigned count = processor.ComputeNodeSet();
    if (processor.GetErrorKind() != ErrorKind::None) return "error " + std::to_string(processor.GetExecutionCode());
    std::string keys;
    for (unsigned i = 0; i < count; ++i) {
      TiXmlNode* node = processor.GetNode(i);
      const char* k = node != nullptr && node->ToElement() != nullptr ? node->ToElement()->Attribute("k") : nullptr;
      keys += (keys.empty() ? "" : ",") + std::string(k != nullptr ? k : "?");
    }
    return keys;
  }
  std::string S(const char* expression) {
    xpath_processor processor(document_.RootElement(), expression);
    std::string value = processor.ComputeString();
    if (processor.GetErrorKind() != ErrorKind::None) return "error " + std::to_string(processor.GetExecutionCode());
    return value;
  }
  TiXmlDocument document_;
};

TEST_F(XPathPredicates, NumbersSelectThePlaceAmongSiblings) {
  EXPECT_EQ(Keys("/inv/item[2]"), "3");  // the second item child
  EXPECT_EQ(Keys("/inv/*[2]"), "2");     // the second element child
  EXPECT_EQ(Keys("/inv/item[1.9]"), "1");
  EXPECT_EQ(Keys("/inv/item[0]"), "");
  EXPECT_EQ(Keys("/inv/item[-1]"), "");
  EXPECT_EQ(Keys("/inv/item[1 + 1]"), "3");
  EXPECT_EQ(Keys("//item[2]"), "3,7");
  EXPECT_EQ(Keys("//item[3]"), "4");
  EXPECT_EQ(Keys("//*[2]"), "2,7");
  EXPECT_EQ(Keys("/inv/item[position() = 2]"), "3");
  EXPECT_EQ(Keys("/inv/item[position() > 1]"), "3,4");
  EXPECT_EQ(Keys("//item[position() = 3]"), "4");
  // last() counts every element child of the parent, whatever its name.
  EXPECT_EQ(Keys("/inv/item[last()]"), "");
  EXPECT_EQ(Keys("/inv/*[last()]"), "5");
  EXPECT_EQ(Keys("/inv/*[position() = last()]"), "5");
  EXPECT_EQ(Keys("/inv/item[last() - 1]"), "");
  EXPECT_EQ(Keys("/inv/*[last() - 1]"), "4");
  // Places are among siblings, not within the set a step produced.
  EXPECT_EQ(Keys("/inv/note/following-sibling::item[1]"), "");
  EXPECT_EQ(Keys("/inv/note/following-sibling::item[2]"), "3");
  EXPECT_EQ(Keys("/inv/note/preceding-sibling::*[1]"), "1");
  EXPECT_EQ(Keys("/inv/item[@k > 1][1]"), "");
  EXPECT_EQ(Keys("/inv/item[@k > 1][2]"), "3");
  EXPECT_EQ(Keys("//item/parent::*[2]"), "");
  EXPECT_EQ(Keys("//item/parent::*[5]"), "5");
}

TEST_F(XPathPredicates, OtherValuesKeepByTheirBooleanValue) {
  EXPECT_EQ(Keys("/inv/item['x']"), "1,3,4");
  EXPECT_EQ(Keys("/inv/item['']"), "");
  EXPECT_EQ(Keys("/inv/*[item]"), "5");
  EXPECT_EQ(Keys("/inv/item[@k = '3']"), "3");
  EXPECT_EQ(Keys("/inv/item[@k = '3' or @k = 4]"), "3,4");
  EXPECT_EQ(Keys("/inv/item[text()]"), "4");
  EXPECT_EQ(Keys("//item[../@k = 5]"), "6,7");
  EXPECT_EQ(Keys("/inv/*[item[2]]"), "5");
  // Attributes and other non-elements never pass a predicate.
  EXPECT_EQ(S("count(/inv/item/@k[1])"), "0");
  EXPECT_EQ(S("count(/inv/item/@k[true()])"), "0");
  EXPECT_EQ(S("count(/inv/item/text()[true()])"), "0");
}

TEST_F(XPathPredicates, FilterPredicatesCountAllSiblings) {
  EXPECT_EQ(Keys("(/inv/*)[2]"), "2");
  EXPECT_EQ(Keys("(/inv/item)[2]"), "");  // no name test: place 2 is the note
  EXPECT_EQ(Keys("(/inv/item)[3]"), "3");
  EXPECT_EQ(Keys("(/inv/item | /inv/note)[2]"), "2");
  EXPECT_EQ(Keys("(/inv/item)[@k = 4]"), "4");
  EXPECT_EQ(Keys("(//item)[position() = 2]"), "7");
  EXPECT_EQ(Keys("(/inv/item[2])[1]"), "");
  EXPECT_EQ(S("('a')[1]"), "error 40");
  EXPECT_EQ(S("(1)/x"), "error 40");
}

TEST_F(XPathPredicates, AContextElementLivesOnlyUntilAPredicateEnds) {
  EXPECT_EQ(S("position() + count(/inv/item[1])"), "2");
  EXPECT_EQ(S("count(/inv/item[1]) + position()"), "error 26");
  EXPECT_EQ(S("count(/inv/item[position()]) + last()"), "error 21");
  // A predicate that never saw a candidate leaves the context alone.
  EXPECT_EQ(S("count(/inv/none[1]) + position()"), "1");
  EXPECT_EQ(S("count(/inv/none[position()]) + position()"), "1");
  EXPECT_EQ(S("count(//none[1]) + last()"), "1");
  // An inner predicate clears the outer one's context too.
  EXPECT_EQ(S("/inv/item[/inv/item[1] and position() = 1]"), "error 26");
  EXPECT_EQ(S("count(/inv/item[position() = 1 and /inv/item[1]])"), "1");
}

}  // namespace
