#include "inventory/XPathIndex.h"
#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <vector>

namespace {

using XPath::DocumentIndex;
using XPath::ErrorKind;
using XPath::xpath_processor;

// Nested same-named elements, mixed text, comments, prefixed names and
// long sibling runs, so that places, subtrees and node kinds all matter.
std::string Document() {
  std::string xml = "<inv v='top'>lead<!--c0-->";
  for (int i = 0; i < 40; ++i) {
    std::string n = std::to_string(i);
    xml += "<item id='" + n + "' size='" + std::to_string(i * 7 % 13) + (i % 5 == 0 ? ".5" : "") + "'>";
    if (i % 3 == 0) xml += "text" + n;
    xml += "<x k='" + n + "'/>";
    if (i % 4 == 0) xml += "<!--c" + n + "--><item id='in" + n + "'><x k='deep'/><y/><item id='in2" + n + "'/></item>";
    if (i % 6 == 0) xml += "<a:b/><a:c>t</a:c><ab:d/>";
    xml += "<x k='second'/></item>";
    if (i % 10 == 9) xml += "<note>n" + n + "</note>";
  }
  xml += "<tail><item id='last0'/><item id='last'/></tail></inv>";
  return xml;
}

const char* const kExpressions[] = {
    "/inv", "/inv/item", "/inv/item/x", "/inv/*", "/inv/node()", "/inv/text()", "/inv/comment()", "/inv/item/a:*",
    "/inv/item/ab:*", "//item", "//x", "//*", "//node()", "//text()", "//comment()", "//a:*", "//missing",
    "/inv//item", "//item//x", "//item/item", "//item/item/item", "/descendant::item", "/descendant-or-self::inv",
    "/inv/item/descendant-or-self::item", "//item/descendant::*", "/inv/descendant-or-self::node()",
    "/inv/item[3]", "/inv/item[last()]", "/inv/*[3]", "/inv/item[position() = 2]", "//item[2]", "//x[2]",
    "//item[1]/x", "/inv/item[@id > 30]", "//item[x/@k = 'deep']", "//item[count(x) = 2][2]", "//*[last()]",
    "/inv/item[2]/following-sibling::item[1]", "//x[@k='deep']/..", "//y/ancestor::item", "//x[@k = '7']/following::x",
    "//item[@id='in8']/preceding::item", "/inv/item | //item/item", "//x | /inv/item", "count(//item)",
    "count(//x[@k='second'])", "sum(/inv/item/@size)", "name(//*[5])", "string(//item[@id='last']/@id)",
    "/inv/item[5]/x/@k", "//item/@id", "//@k", "count(//item[x][item])", "//item[not(item)][1]/@id",
    "/inv/tail/item", "/inv/note[2]", "//item[text()]", "/inv/item/self::item[1]", "//item/..",
    "/inv/item[x[2]]", "//item[3]/x[1]", "//item[last()]/@id", "position()", "last()", "//item[position() < 3]/@id",
    // Attribute name steps over long numbered lists: the second attribute,
    // a name no element has, one some lack, and what is done with them.
    "/inv/item/@size", "//item/@size", "/inv/item/@missing", "//x/@id", "//item/@size/..", "sum(//item/@size)",
    "count(/inv/item/@size | /inv/item/@id)", "//item/@id[. = 'in8']", "/inv/item/@*", "//item[@size = 6]/@id",
};

struct Answer {
  ErrorKind error = ErrorKind::None;
  std::string text;
  std::vector<const void*> entries;
};

Answer Evaluate(TiXmlElement* base, const char* expression, const DocumentIndex* index) {
  Answer answer;
  xpath_processor processor(base, expression, index);
  unsigned count = processor.ComputeNodeSet();
  answer.error = processor.GetErrorKind();
  for (unsigned i = 0; i < count; ++i) {
    const void* entry = processor.GetNode(i);
    answer.entries.push_back(entry != nullptr ? entry : processor.GetAttribute(i));
  }
  answer.text = xpath_processor(base, expression, index).ComputeString();
  return answer;
}

void ExpectSameAnswers(TiXmlElement* base, const DocumentIndex* index) {
  for (const char* expression : kExpressions) {
    Answer plain = Evaluate(base, expression, nullptr);
    Answer indexed = Evaluate(base, expression, index);
    EXPECT_EQ(indexed.error, plain.error) << expression;
    EXPECT_EQ(indexed.text, plain.text) << expression;
    EXPECT_EQ(indexed.entries, plain.entries) << expression;
  }
}

TEST(XPathIndex, AnswersAsWithoutIt) {
  TiXmlDocument document;
  document.Parse(Document().c_str());
  ASSERT_FALSE(document.Error());
  DocumentIndex index;
  index.Build(document.RootElement());
  ASSERT_TRUE(index.Usable(document.RootElement()));
  // Child steps from the 40 items of inv scan the whole index; those from
  // a dozen parents (//item[1]/x) visit each parent's children.
  ASSERT_LE(index.Size(), 40u * 8);
  ASSERT_GT(index.Size(), 12u * 8);
  ExpectSameAnswers(document.RootElement(), &index);
  // The answers are not empty by accident.
  EXPECT_EQ(Evaluate(document.RootElement(), "count(//item)", &index).text, "62");
  EXPECT_EQ(Evaluate(document.RootElement(), "//item[2]/@id", &index).entries.size(), 2u);
  EXPECT_EQ(Evaluate(document.RootElement(), "//x[2]", &index).entries.size(), 40u);
  EXPECT_EQ(Evaluate(document.RootElement(), "//item[@id='in8']/x/@k", &index).text, "deep");
}

TEST(XPathIndex, NumbersAndPlaces) {
  TiXmlDocument document;
  document.Parse("<r><a/>t<b x='1' y='2'><a/></b><a y='3'/><!--c--></r>");
  DocumentIndex index;
  index.Build(document.RootElement());
  TiXmlNode* r = document.RootElement();
  ASSERT_EQ(index.Size(), 9u);  // 0 unused, 1 the synthetic root, r and its 6 nodes
  EXPECT_EQ(r->GetUserData(), reinterpret_cast<void*>(2));
  EXPECT_EQ(index.NumberOf(r->LastChild()), 8u);
  EXPECT_EQ(index.SubtreeEnd(2), 9u);
  EXPECT_EQ(index.SubtreeEnd(5), 7u);  // b holds one a
  EXPECT_EQ(index.ChildrenEnd(2) - index.ChildrenBegin(2), 5);
  EXPECT_EQ(index.Place(7), 3u);       // the second a is r's third element
  EXPECT_EQ(index.NamedPlace(7), 2u);  // and its second a
  EXPECT_EQ(index.Place(4), 0u);       // text
  EXPECT_EQ(index.ElementChildren(2), 3u);
  EXPECT_EQ(index.FindName("nope"), 0u);
  // Attributes side by side with their names' ids, none for other nodes.
  ASSERT_EQ(index.AttributesEnd(5) - index.AttributesBegin(5), 2);
  EXPECT_STREQ(index.AttributesBegin(5)->attribute->Name(), "x");
  EXPECT_EQ(index.FindAttribute(5, index.FindAttributeName("y")), index.AttributesBegin(5) + 1);
  EXPECT_STREQ(index.FindAttribute(7, index.FindAttributeName("y"))->attribute->Value(), "3");
  EXPECT_EQ(index.FindAttribute(4, index.FindAttributeName("y")), nullptr);
  EXPECT_EQ(index.AttributesEnd(4) - index.AttributesBegin(4), 0);
  EXPECT_EQ(index.FindAttributeName("a"), 0u);
  TiXmlElement stranger("a");
  EXPECT_EQ(index.NumberOf(&stranger), 0u);
}

// Evaluations leave the index's numbers alone, even on another base; a
// tree renumbered behind the index's back (another index built on a
// subtree) makes evaluations go without it; answers stay right.
TEST(XPathIndex, StaleIndexIsNotUsed) {
  TiXmlDocument document;
  document.Parse(Document().c_str());
  DocumentIndex index;
  index.Build(document.RootElement());

  TiXmlElement* tail = document.RootElement()->FirstChildElement("tail");
  EXPECT_EQ(xpath_processor(tail, "//item/ancestor-or-self::*", nullptr).ComputeNodeSet(), 3u);
  EXPECT_TRUE(index.Usable(document.RootElement()));
  DocumentIndex other;
  other.Build(tail);
  EXPECT_FALSE(index.Usable(document.RootElement()));
  ExpectSameAnswers(document.RootElement(), &index);

  // Built again, it is used again.
  index.Build(document.RootElement());
  EXPECT_TRUE(index.Usable(document.RootElement()));
  ExpectSameAnswers(document.RootElement(), &index);

  index.Build(nullptr);
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_FALSE(index.Usable(document.RootElement()));
}

}  // namespace
