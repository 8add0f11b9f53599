#include "config/XmlNode.h"
#include "config/XmlParser.h"
#include "config/XmlWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::unique_ptr<XmlNode> Parse(const std::string& text) {
  XmlNode* document = nullptr;
  std::string error;
  EXPECT_EQ(ParseXml(text, &document, &error, nullptr), 0) << error;
  return std::unique_ptr<XmlNode>(document);
}

TEST(XmlNode, ValueAndTextAreOneDatumKeptInStep) {
  XmlNode element(XmlKind::Element, "e");
  element.SetText("a&lt;b");
  EXPECT_EQ(element.Value(), "a<b");
  EXPECT_EQ(element.Text(), "a&lt;b");  // the file form stays as it was
  element.SetValue("x\ty");
  EXPECT_EQ(element.Text(), "x\ty");
  element.SetText("&bad;");
  EXPECT_EQ(element.Value(), "");
  EXPECT_EQ(element.Text(), "&bad;");
  element.AppendText("more");  // character data, as the parser adds it
  EXPECT_EQ(element.Text(), "&bad;more");

  XmlNode attribute(XmlKind::Attribute, "v", "x\ty");
  EXPECT_EQ(attribute.Text(), "x&#x9;y");

  // Comments and raw markup are never converted.
  XmlNode comment(XmlKind::Comment, "", "a &lt; <b>");
  EXPECT_EQ(comment.Text(), "a &lt; <b>");
  comment.SetText("&amp;");
  EXPECT_EQ(comment.Value(), "&amp;");
  XmlNode raw(XmlKind::RawMarkup, "", "<!X &amp;>");
  EXPECT_EQ(raw.Text(), raw.Value());
}

TEST(XmlNode, FindAttributeAndFindElement) {
  auto document = Parse(
      "<Config><section name='a'><key Name='k' VALUE='1' name='second'/></section>"
      "<section name='b'><key name='k2'/><!--x--><inner><key name='deep'/></inner></section></Config><other/>");
  XmlNode* config = document->Children()[0];
  XmlNode* key = config->Children()[0]->Children()[0];
  ASSERT_NE(FindAttribute(key, "name"), nullptr);
  EXPECT_EQ(FindAttribute(key, "name")->Value(), "k");  // first of that name, case ignored
  EXPECT_EQ(FindAttribute(key, "value")->Value(), "1");
  EXPECT_EQ(FindAttribute(key, "nam"), nullptr);
  EXPECT_EQ(FindAttribute(nullptr, "name"), nullptr);

  EXPECT_EQ(FindElement(document.get(), "config"), config);
  EXPECT_EQ(FindElement(document.get(), "CONFIG/section"), config->Children()[0]);
  EXPECT_EQ(FindElement(document.get(), "config/section/key"), key);
  // An earlier name tries every match in turn: only the second section has "inner".
  XmlNode* deep = FindElement(document.get(), "config/section/inner/key");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(FindAttribute(deep, "name")->Value(), "deep");
  EXPECT_EQ(FindElement(document.get(), "config/missing"), nullptr);
  EXPECT_EQ(FindElement(document.get(), "section"), nullptr);  // children only
  EXPECT_EQ(FindElement(document.get(), ""), nullptr);
  EXPECT_EQ(FindElement(document.get(), "config//key"), nullptr);
  EXPECT_EQ(FindElement(nullptr, "config"), nullptr);
}

TEST(XmlNode, AddRemoveDeleteAndMove) {
  XmlNode document(XmlKind::Document);
  XmlNode* a = new XmlNode(XmlKind::Element, "a");
  EXPECT_EQ(AddChild(&document, a), 0);
  XmlNode* attribute = new XmlNode(XmlKind::Attribute, "x", "1");
  EXPECT_EQ(AddChild(a, attribute), 0);
  XmlNode* b = a->AddElement("b", "t");
  EXPECT_EQ(a->Attributes().size(), 1u);  // attributes never go to the children
  EXPECT_EQ(a->Children().size(), 1u);
  EXPECT_EQ(attribute->Parent(), a);
  EXPECT_EQ(SerializeXml(&document, -1), "<a x=\"1\"><b>t</b></a>");

  // Moving a linked node takes it out of its old list; cycles are refused.
  XmlNode* c = document.AddElement("c");
  EXPECT_EQ(AddChild(c, b), 0);
  EXPECT_EQ(SerializeXml(&document, -1), "<a x=\"1\"/><c><b>t</b></c>");
  EXPECT_EQ(AddChild(b, c), 1);
  EXPECT_EQ(AddChild(c, c), 1);
  EXPECT_EQ(AddChild(nullptr, c), 1);
  EXPECT_EQ(AddChild(c, nullptr), 1);

  EXPECT_EQ(RemoveNode(attribute), 0);
  EXPECT_EQ(attribute->Parent(), nullptr);
  EXPECT_TRUE(a->Attributes().empty());
  EXPECT_EQ(RemoveNode(attribute), 1);   // a detached non-document
  EXPECT_EQ(DeleteNode(attribute), 1);   // ... is not destroyed either
  delete attribute;
  EXPECT_EQ(RemoveNode(&document), 0);   // a document without parent
  EXPECT_EQ(RemoveNode(nullptr), 1);

  EXPECT_EQ(DeleteNode(c), 0);
  EXPECT_EQ(SerializeXml(&document, -1), "<a/>");
  // Destroying a linked node unlinks it.
  delete a;
  EXPECT_TRUE(document.Children().empty());

  XmlNode* detachedDocument = new XmlNode(XmlKind::Document);
  detachedDocument->AddElement("x");
  EXPECT_EQ(DeleteNode(detachedDocument), 0);
}

TEST(XmlNode, CloneIsDeepAndIndependent) {
  auto document = Parse("<a x='1&amp;' y='2'>t<![CDATA[<c>]]><b><!--n--><c/></b></a>");
  XmlNode* a = document->Children()[0];
  XmlNode target(XmlKind::Document);
  XmlNode* copy = CloneNode(a, &target);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Parent(), &target);
  EXPECT_EQ(target.Children().size(), 1u);
  EXPECT_TRUE(copy->IsCdata());
  EXPECT_EQ(copy->Attributes()[0]->Text(), "1&amp;");
  EXPECT_EQ(copy->Attributes()[0]->Parent(), copy);
  EXPECT_EQ(copy->Children()[0]->Parent(), copy);
  EXPECT_EQ(SerializeXml(copy, -1), SerializeXml(a, -1));
  document.reset();
  EXPECT_EQ(SerializeXml(&target, -1), "<a x=\"1&amp;\" y=\"2\"><b><!--n--><c/></b><![CDATA[t<c>]]></a>");

  std::unique_ptr<XmlNode> loose(CloneNode(copy, nullptr));
  EXPECT_EQ(loose->Parent(), nullptr);
  EXPECT_EQ(CloneNode(nullptr, &target), nullptr);
}

// Trees far deeper than a recursive walk could survive on a thread stack.
TEST(XmlNode, DeepTreesAreWrittenClonedAndDestroyedWithoutRecursion) {
  const int depth = 150000;
  auto document = std::make_unique<XmlNode>(XmlKind::Document);
  XmlNode* node = document.get();
  for (int i = 0; i < depth; ++i) node = node->AddElement("d");
  node->SetValue("end");

  const std::string compact = SerializeXml(document.get(), -1);
  EXPECT_EQ(compact.size(), static_cast<std::size_t>(depth) * 7 + 3);
  EXPECT_EQ(compact.substr(static_cast<std::size_t>(depth) * 3 - 3, 12), "<d>end</d></");
  EXPECT_EQ(MeasureXml(document.get(), -1, false), compact.size());
  // The indented layout too, measured only: level k adds k tabs before its
  // child, k - 1 before its end tag and two line breaks; the last level and
  // the document add one line break.
  const std::size_t tabs = static_cast<std::size_t>(depth) * (depth - 1);
  EXPECT_EQ(MeasureXml(document.get(), 0, false), compact.size() + tabs + depth);

  std::unique_ptr<XmlNode> copy(CloneNode(document.get(), nullptr));
  EXPECT_TRUE(SerializeXml(copy.get(), -1) == compact);
  XmlNode* lookup = FindElement(copy.get(), "d/d/d/d");
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(DeleteNode(lookup), 0);
  EXPECT_EQ(SerializeXml(copy.get(), -1), "<d><d><d/></d></d>");
  document.reset();
}

}  // namespace
