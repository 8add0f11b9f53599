#include "XPathAnswer.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

namespace {

using testing_support::EvaluateXPath;
using XPath::DocumentIndex;
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

void ExpectSameAnswers(TiXmlElement* base, const DocumentIndex* index) {
  for (const char* expression : kExpressions) {
    EXPECT_TRUE(EvaluateXPath(base, expression, index) == EvaluateXPath(base, expression)) << expression;
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
  EXPECT_EQ(EvaluateXPath(document.RootElement(), "count(//item)", &index).text, "62");
  EXPECT_EQ(EvaluateXPath(document.RootElement(), "//item[2]/@id", &index).entries.size(), 2u);
  EXPECT_EQ(EvaluateXPath(document.RootElement(), "//x[2]", &index).entries.size(), 40u);
  EXPECT_EQ(EvaluateXPath(document.RootElement(), "//item[@id='in8']/x/@k", &index).text, "deep");
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
