#include "XPathAnswer.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

namespace {

using testing_support::EvaluateXPath;

// Every element carries k, its name in the expectations; in document
// order: 0 1 2 3 4 5 6 7 9 8.
const char kTree[] =
    "<inv k='0'><h k='1'><p k='2'/><q k='3'><p k='4'/></q></h><t k='5'>txt<!--cm--></t>"
    "<h k='6'><p k='7'><w k='9'/></p></h><z k='8'/></inv>";
// inv holds item, note, item, item and a box of two items.
const char kSiblings[] =
    "<inv><item k='1'/><note k='2'/><item k='3'/><item k='4'>text</item>"
    "<box k='5'><item k='6'/><item k='7'/></box><a:x/><a:y/><b:x/></inv>";
// Nested a elements: a1's b comes after a2's in a walk, not in the document.
const char kNested[] = "<r k='0'><a k='1'><a k='2'><b k='3'/></a><b k='4'/></a><b k='5'/></r>";

struct Case {
  const char* tree;
  const char* expression;
  const char* value;  // the entries of a node set, else the string value
};

void ExpectAll(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    TiXmlDocument document;
    document.Parse(c->tree);
    ASSERT_FALSE(document.Error());
    EXPECT_EQ(EvaluateXPath(document.RootElement(), c->expression).Value(), c->value) << c->expression;
  }
}

TEST(XPathAxes, EveryAxisAsDefined) {
  const Case cases[] = {
      {kTree, "/inv/h", "1,6"}, {kTree, "/inv/*", "1,5,6,8"}, {kTree, "/inv/child::z", "8"}, {kTree, "/inv/H", ""},
      {kTree, "/h", ""}, {kTree, "/inv/t/node()", "text:txt,comment:cm"}, {kTree, "/inv/t/text()", "text:txt"},
      {kTree, "/inv/t/comment()", "comment:cm"}, {kTree, "/inv/h/@k", "@k=1,@k=6"},
      {kTree, "/inv/h/attribute::*", "@k=1,@k=6"}, {kTree, "/inv/h/@text()", ""},
      {kTree, "/inv/h/@k/p", ""},  // attributes are not stepped from
      // Descendants include the context, never the synthetic root.
      {kTree, "/inv/descendant::p", "2,4,7"}, {kTree, "//p", "2,4,7"}, {kTree, "/inv/h[1]//*", "1,2,3,4"},
      {kTree, "/inv//inv", "0"}, {kTree, "/inv/descendant::inv", ""}, {kTree, "/inv/h/descendant-or-self::h", "1,6"},
      {kTree, "//text()", "text:txt"}, {kTree, "count(//node())", "12"}, {kTree, "count(//@k)", "10"},
      {kTree, "/inv/h/.", "1,6"}, {kTree, "/inv/h/self::p", ""}, {kTree, "count(/self::node())", "0"},
      {kTree, "/inv/h/p/..", "1,6"}, {kTree, "//p/parent::q", "3"},
      // Above the root element is the synthetic root, which no result keeps.
      {kTree, "name(/inv/..)", "root"}, {kTree, "count(/inv/parent::root)", "1"}, {kTree, "/inv/..", ""},
      {kTree, "/", ""}, {kTree, "/inv/h/q/p/ancestor::*", "0,1,3"}, {kTree, "//p/ancestor::h", "1,6"},
      {kTree, "//q/ancestor-or-self::*", "0,1,3"}, {kTree, "/inv/ancestor::*", ""},
      {kTree, "count(/inv/ancestor-or-self::node())", "1"}, {kTree, "/inv/h[1]/following-sibling::*", "5,6,8"},
      {kTree, "/inv/h/following-sibling::h", "6"}, {kTree, "/inv/z/preceding-sibling::*", "1,5,6"},
      {kTree, "/inv/h/preceding-sibling::h", "1"},
      // following: matching following siblings with their matching children
      // (one level, so not 9), then the same from each ancestor.
      {kTree, "/inv/h[1]/p/following::*", "3,4,5,6,7,8"}, {kTree, "/inv/h[1]/p/following::p", ""},
      {kTree, "/inv/t/following::h", "6"},
      // preceding: the same backwards, without the ancestors' siblings.
      {kTree, "/inv/z/preceding::*", "1,2,3,5,6,7"}, {kTree, "/inv/h[2]/p/preceding::*", ""},
      {kTree, "/inv/z/preceding::p", ""},
      // Unsupported: not yet.
      {kTree, "/inv/namespace::*", "error 41"}, {kTree, "/none/namespace::x", "error 41"},
      {kTree, "/inv/processing-instruction('x')", "error 42"}, {kTree, "count($x)", "error 43"},
      // Prefixed names compare whole.
      {kSiblings, "count(/inv/a:*)", "2"}, {kSiblings, "count(/inv/a:x)", "1"}, {kSiblings, "count(/inv/x)", "0"},
      // Results come in document order, whatever the order of the walk.
      {kNested, "//a/b", "3,4"}, {kNested, "//b/ancestor::*", "0,1,2"}, {kNested, "//b/..", "0,1,2"},
      {kNested, "//b/preceding-sibling::*", "1,2"}, {kNested, "//a/b/following::*", "4,5"},
      {kNested, "//a//b", "3,4"}, {kNested, "//a/@k | //b", "@k=1,@k=2,3,4,5"},
      {kSiblings, "concat(/inv/item[3]/@k | /inv/item[3])", "item"},  // the element comes before its attributes
      // A union lists the first set first; its string value is still the
      // first entry in document order.
      {kNested, "/r/b | //a", "5,1,2"}, {kNested, "concat(/r/b | //a)", "a"}, {kNested, "(/r/b | //a)/b", "3,4"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
}

TEST(XPathPredicates, PlacesAmongSiblingsBooleansAndTheContext) {
  const Case cases[] = {
      {kSiblings, "/inv/item[2]", "3"},  // the second item child
      {kSiblings, "/inv/*[2]", "2"},  // the second element child
      {kSiblings, "/inv/item[1.9]", "1"}, {kSiblings, "/inv/item[0]", ""}, {kSiblings, "/inv/item[-1]", ""},
      {kSiblings, "/inv/item[1 + 1]", "3"}, {kSiblings, "//item[2]", "3,7"}, {kSiblings, "//*[2]", "2,7"},
      {kSiblings, "/inv/item[position() > 1]", "3,4"}, {kSiblings, "//item[position() = 3]", "4"},
      // last() counts every element child of the parent, whatever its name.
      {kSiblings, "/inv/item[last()]", ""}, {kSiblings, "/inv/*[last()]", "b:x"},
      {kSiblings, "/inv/*[last() - 3]", "5"},
      // Places are among siblings, not within the set a step produced.
      {kSiblings, "/inv/note/following-sibling::item[1]", ""},
      {kSiblings, "/inv/note/following-sibling::item[2]", "3"}, {kSiblings, "/inv/note/preceding-sibling::*[1]", "1"},
      {kSiblings, "/inv/item[@k > 1][1]", ""}, {kSiblings, "/inv/item[@k > 1][2]", "3"},
      {kSiblings, "//item/parent::*[5]", "5"},
      // Other values keep by their boolean value.
      {kSiblings, "/inv/item['x']", "1,3,4"}, {kSiblings, "/inv/item['']", ""}, {kSiblings, "/inv/*[item]", "5"},
      {kSiblings, "/inv/item[@k = '3' or @k = 4]", "3,4"}, {kSiblings, "/inv/item[text()]", "4"},
      {kSiblings, "//item[../@k = 5]", "6,7"}, {kSiblings, "/inv/*[item[2]]", "5"},
      // Attributes and other non-elements never pass a predicate.
      {kSiblings, "count(/inv/item/@k[1])", "0"}, {kSiblings, "count(/inv/item/@k[true()])", "0"},
      {kSiblings, "count(/inv/item/text()[true()])", "0"},
      // Filter predicates count all siblings.
      {kSiblings, "(/inv/*)[2]", "2"}, {kSiblings, "(/inv/item)[2]", ""},  // no name test: place 2 is the note
      {kSiblings, "(/inv/item | /inv/note)[2]", "2"}, {kSiblings, "(/inv/item)[@k = 4]", "4"},
      {kSiblings, "(//item)[position() = 2]", "7"}, {kSiblings, "('a')[1]", "error 40"},
      {kSiblings, "(1)/x", "error 40"},
      // A context element lives until a predicate ends: position() and
      // last() work on the base node before the first predicate ran.
      {kSiblings, "position() + count(/inv/item[1])", "2"}, {kSiblings, "last()", "1"},
      {kSiblings, "count(/inv/item[1]) + position()", "error 26"},
      {kSiblings, "count(/inv/item[position()]) + last()", "error 21"},
      {kSiblings, "false() and count(/inv/item[1]) + position()", "error 26"},  // both operands run
      // A predicate that never saw a candidate leaves the context alone.
      {kSiblings, "count(/inv/none[position()]) + position()", "1"}, {kSiblings, "count(//none[1]) + last()", "1"},
      // An inner predicate clears the outer one's context too.
      {kSiblings, "/inv/item[/inv/item[1] and position() = 1]", "error 26"},
      {kSiblings, "count(/inv/item[position() = 1 and /inv/item[1]])", "1"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
}

}  // namespace
