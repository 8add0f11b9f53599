#include "inventory/XPathNodeSet.h"
#include "inventory/XPathProcessor.h"
#include "inventory/XPathTree.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <vector>

namespace {

using namespace XPath;

TEST(XPathNodeSet, AddingAPresentEntryDoesNothing) {
  TiXmlDocument document;
  document.Parse("<r a='1' b='2'><x/><y/></r>");
  TiXmlElement* r = document.RootElement();
  TiXmlNode* x = r->FirstChild();
  TiXmlNode* y = x->NextSibling();
  TiXmlAttribute* a = r->FirstAttribute();
  NodeSet set;
  EXPECT_TRUE(set.Add(x));
  EXPECT_FALSE(set.Add(x));
  set.AddUnique(y);
  EXPECT_FALSE(set.Add(y));
  EXPECT_TRUE(set.Add(a, r, 0));
  EXPECT_FALSE(set.Add(a, r, 0));
  ASSERT_EQ(set.Count(), 3u);
  EXPECT_TRUE(set.IsAttribute(2));
  EXPECT_EQ(set.GetNode(2), nullptr);
  EXPECT_EQ(set.GetAttribute(2), a);
  EXPECT_EQ(set.GetAttribute(0), nullptr);
  EXPECT_EQ(set.GetNode(3), nullptr);
  EXPECT_FALSE(set.IsAttribute(3));
  set.Remove(x);
  EXPECT_EQ(set.Count(), 2u);
  EXPECT_FALSE(set.Contains(x));
  EXPECT_TRUE(set.Add(x));

  // Many entries, added twice, in an order unrelated to their addresses.
  TiXmlElement list("list");
  std::vector<TiXmlNode*> nodes;
  for (int i = 0; i < 20000; ++i) nodes.push_back(list.LinkEndChild(new TiXmlElement("n")));
  NodeSet many;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 20000; ++i) many.Add(nodes[(i * 7919) % 20000]);
  }
  EXPECT_EQ(many.Count(), 20000u);
  for (TiXmlNode* node : nodes) ASSERT_TRUE(many.Contains(node));
}

TEST(XPathNodeSet, SortsIntoDocumentOrderWithAttributesAfterTheirElement) {
  TiXmlDocument document;
  document.Parse("<r a='1' b='2'><x c='3'/><y/></r>");
  TiXmlElement* r = document.RootElement();
  TiXmlElement* x = r->FirstChildElement("x");
  TiXmlElement* y = r->FirstChildElement("y");
  TiXmlElement rootElement("root");
  TreeView view;
  view.Reset(r, &rootElement);
  DocumentOrder order;
  order.Reset(&view);
  NodeSet set;
  set.SetDocumentOrder(&order);
  set.AddUnique(y);
  set.AddUnique(r->LastAttribute(), r, 1);
  set.AddUnique(x);
  set.AddUnique(x->FirstAttribute(), x, 0);
  set.AddUnique(r->FirstAttribute(), r, 0);
  set.AddUnique(r);
  set.SetOrder(NodeSet::Order::Pending);
  EXPECT_FALSE(order.Numbered());
  EXPECT_EQ(set.FirstInDocumentOrder()->item, r);
  EXPECT_EQ(set.At(0).item, y);  // finding the first does not reorder
  set.Sort();
  std::vector<std::string> sorted;
  for (unsigned i = 0; i < set.Count(); ++i) {
    sorted.push_back(set.IsAttribute(i) ? set.GetAttribute(i)->Name() : set.GetNode(i)->Value());
  }
  EXPECT_EQ(sorted, (std::vector<std::string>{"r", "a", "b", "x", "c", "y"}));
  EXPECT_EQ(order.NumberOf(&rootElement), 1u);
  EXPECT_EQ(order.NumberOf(r), 2u);
  EXPECT_EQ(order.NumberOf(x), 3u);
  EXPECT_EQ(order.NumberOf(y), 4u);
}

std::string Keys(TiXmlNode* base, const char* expression) {
  xpath_processor processor(base, expression);
  unsigned count = processor.ComputeNodeSet();
  std::string keys;
  for (unsigned i = 0; i < count; ++i) {
    TiXmlNode* node = processor.GetNode(i);
    const char* k = node != nullptr && node->ToElement() != nullptr ? node->ToElement()->Attribute("k") : nullptr;
    keys += (keys.empty() ? "" : ",") + std::string(k != nullptr ? k : processor.GetAttribute(i) ? "@" : "?");
  }
  return keys;
}

TEST(XPathResultOrder, LocationPathsComeInDocumentOrder) {
  TiXmlDocument document;
  document.Parse("<r k='0'><a k='1'><a k='2'><b k='3'/></a><b k='4'/></a><b k='5'/></r>");
  TiXmlNode* base = document.RootElement();
  // a1's b comes after a2's in the walk, but not in the document.
  EXPECT_EQ(Keys(base, "//a/b"), "3,4");
  EXPECT_EQ(Keys(base, "//b/ancestor::*"), "0,1,2");
  EXPECT_EQ(Keys(base, "//b/.."), "0,1,2");
  EXPECT_EQ(Keys(base, "//b/preceding-sibling::*"), "1,2");
  EXPECT_EQ(Keys(base, "//a/b/following::*"), "4,5");
  EXPECT_EQ(Keys(base, "//a//b"), "3,4");
  EXPECT_EQ(Keys(base, "//a/@k | //b"), "@,@,3,4,5");
  // A union lists the first set first; its string value is still the
  // first entry in document order.
  EXPECT_EQ(Keys(base, "/r/b | //a"), "5,1,2");
  EXPECT_EQ(xpath_processor(base, "/r/b | //a").ComputeString(), "a");
  EXPECT_EQ(xpath_processor(base, "(/r/b | //a)/b").ComputeString(), "b");
  EXPECT_EQ(Keys(base, "(/r/b | //a)/b"), "3,4");
}

TEST(XPathResultOrder, NoStepRepeatsANode) {
  // A chain of 2000 x elements, and 3000 item siblings.
  TiXmlDocument document;
  document.Parse("<top/>");
  TiXmlNode* chain = document.RootElement()->LinkEndChild(new TiXmlElement("x"));
  for (int i = 1; i < 2000; ++i) chain = chain->LinkEndChild(new TiXmlElement("x"));
  TiXmlNode* list = document.RootElement()->LinkEndChild(new TiXmlElement("list"));
  for (int i = 0; i < 3000; ++i) list->LinkEndChild(new TiXmlElement("item"));
  auto count = [&](const char* expression) {
    xpath_processor processor(document.RootElement(), expression);
    return processor.ComputeString();
  };
  EXPECT_EQ(count("count(//x)"), "2000");
  EXPECT_EQ(count("count(//x//x)"), "2000");
  EXPECT_EQ(count("count(//x/descendant::x)"), "1999");
  EXPECT_EQ(count("count(//x/descendant-or-self::*)"), "2000");
  EXPECT_EQ(count("count(//x/ancestor::x)"), "1999");
  EXPECT_EQ(count("count(//x/ancestor-or-self::*)"), "2001");
  EXPECT_EQ(count("count(//x/parent::*)"), "2000");
  EXPECT_EQ(count("count(//x/*)"), "1999");
  EXPECT_EQ(count("count(//x/following::*)"), "3001");  // list and its items
  EXPECT_EQ(count("count(//item/following-sibling::item)"), "2999");
  EXPECT_EQ(count("count(//item/preceding-sibling::*)"), "2999");
  EXPECT_EQ(count("count(//item/..)"), "1");
  EXPECT_EQ(count("count(//item/following::item)"), "2999");
  EXPECT_EQ(count("count(//item/preceding::*)"), "2999");
  EXPECT_EQ(count("count(//item | //x | //item)"), "5000");
  EXPECT_EQ(count("count(//item[last()])"), "1");
  EXPECT_EQ(count("count(//item[position() > 2990])"), "10");
}

}  // namespace
