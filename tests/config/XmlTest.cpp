// The XML library: what the parser must give beyond agreeing with the model
// parser of fuzz/ (error texts and positions, depth, hostile sizes), the
// writer's layouts, tree edits, escaping and files.
#include "config/Xml.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Parsed {
  int result = -1;
  XmlNode* document = nullptr;
  std::string error;
  std::size_t position = 0;
  std::vector<char> buffer;
  explicit Parsed(std::string_view text) : buffer(text.begin(), text.end()) {
    // An exact-size copy without a terminator: a read past the end is caught
    // by the address sanitizer.
    result = ParseXml(std::string_view(buffer.data(), buffer.size()), &document, &error, &position);
  }
  ~Parsed() { delete document; }
};

std::unique_ptr<XmlNode> Parse(const std::string& text) {
  XmlNode* document = nullptr;
  EXPECT_EQ(ParseXml(text, &document, nullptr, nullptr), 0) << text;
  return std::unique_ptr<XmlNode>(document);
}

// Compared with the model parser by fuzz/fuzz_xml too; here each text once.
TEST(ParseXml, EveryErrorWithItsPosition) {
  const struct {
    const char* text;
    const char* error;
    std::size_t position;
  } cases[] = {
      {"ab<!-- x", "End of comment not found", 2},
      {"x<?pi a='1'", "End of processing instructions not found", 1},
      {"<?" "?>", "Empty Name", 0},
      {"<a>< b/></a>", "Empty Name", 3},
      {"<a><![CDATA[x]]</a>", "End of CDATA block not found", 3},
      {"<r/><!DOCTYPE a [<!ENTITY x 'y'>", "End of DTD not found", 4},
      {"<a", "End of element tag not found", 0},
      {"<a>x</a><b x='>'", "Attribute value not terminated", 13},
      {"<a/><", "End of element tag not found", 4},
      {"<a><b></a>", "End tag not found", 3},
      {"<a></b></a>", "End tag not found", 3},
      {"<a><a></a>", "End tag not found", 0},
      {"<a>x</a ", "End tag malformed", 4},
      {"<r><a>x</a/</r>", "End tag malformed", 7},
      {"<a x='1' =2/>", "Empty attribute name", 9},
      {"<a b c='1'/>", "Attibute missing value (no '=')", 3},
      {"<?pi x?>", "Attibute missing value (no '=')", 5},
      {"<a x=\"1>2\"/>", "Attribute value not terminated", 5},
  };
  for (const auto& c : cases) {
    Parsed p(c.text);
    EXPECT_EQ(p.result, 1) << c.text;
    EXPECT_EQ(p.document, nullptr) << c.text;
    EXPECT_EQ(p.error, c.error) << c.text;
    EXPECT_EQ(p.position, c.position) << c.text;
  }
  // The outputs are optional; a document passed in is discarded on failure,
  // appended to on success.
  EXPECT_EQ(ParseXml("<a>", nullptr, nullptr, nullptr), 1);
  XmlNode* document = new XmlNode(XmlKind::Document, "mine");
  ASSERT_EQ(ParseXml("<a/>", &document, nullptr, nullptr), 0);
  ASSERT_EQ(ParseXml("<b/>", &document, nullptr, nullptr), 0);
  EXPECT_EQ(document->Name(), "mine");
  EXPECT_EQ(SerializeXml(document, -1), "<a/><b/>");
  EXPECT_EQ(ParseXml("<a/><b>", &document, nullptr, nullptr), 1);
  EXPECT_EQ(document, nullptr);
  // A C string ends at its NUL; a view does not.
  const char withNul[] = "<a/>\0<b";
  EXPECT_EQ(Parsed(std::string_view(withNul, sizeof withNul - 1)).result, 1);
  EXPECT_EQ(ParseXml(withNul, &document, nullptr, nullptr), 0);
  EXPECT_EQ(document->Children().size(), 1u);
  delete document;
}

// Far deeper than any recursion could go on a thread stack: parsed, written,
// measured, copied and destroyed without recursion.
TEST(ParseXml, DeepNestingWithoutRecursion) {
  std::string same;
  for (int i = 0; i < 200000; ++i) same += "<a>";
  same += "end";
  for (int i = 0; i < 200000; ++i) same += "</a>";
  Parsed p(same);
  ASSERT_EQ(p.result, 0) << p.error;
  int levels = 0;
  for (const XmlNode* node = p.document; !node->Children().empty(); node = node->Children()[0]) ++levels;
  EXPECT_EQ(levels, 200000);
  EXPECT_TRUE(SerializeXml(p.document, -1) == same);
  // Level k adds k tabs before its child, k - 1 before its end tag and two
  // line breaks; the last level and the document add one line break.
  EXPECT_EQ(MeasureXml(p.document, 0, false), same.size() + std::size_t{200000} * 199999 + 200000);
  std::unique_ptr<XmlNode> copy(CloneNode(p.document, nullptr));
  EXPECT_TRUE(SerializeXml(copy.get(), -1) == same);
  EXPECT_EQ(DeleteNode(FindElement(copy.get(), "a/a/a/a")), 0);
  EXPECT_EQ(SerializeXml(copy.get(), -1), "<a><a><a/></a></a>");
}

// Shapes that a search per "<", per name or per CDATA section would make
// quadratic: a hostile 140 KB alarm body of "<b<b<b..." once took 16 s.
// Each parse of about 1 MB runs on a thread of its own and is given a
// generous 30 s; the results are those of the parsing rules.
TEST(ParseXml, HostileShapesParseInTime) {
  auto repeat = [](const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
  };
  const std::size_t n = 250000;
  const std::string longName(n, 'n');
  std::string slashNames;  // <a/0><a/1>...</a/1></a/0>: one search per name must not pass all others
  for (std::size_t i = 0, k = n / 2; i < 2 * k; ++i)
    slashNames += i < k ? "<a/" + std::to_string(i) + ">" : "</a/" + std::to_string(2 * k - 1 - i) + ">";
  const struct {
    const char* what;
    std::string text;
    std::string outcome;  // error and position, or what the tree holds
  } shapes[] = {
      {"run of <", repeat("<b", n) + ">", "End tag not found 0"},
      {"run of < in content", "<a>" + repeat("<b", n) + "</a>", "End of element tag not found 3"},
      {"name of < over content of <", "<" + repeat("a<", n) + ">" + repeat("<a", n), "End tag not found 0"},
      {"run of &", "<a v='" + repeat("&", n) + "'>" + repeat("&", n) + "</a>", "a v=[] []"},
      {"long name", "<" + longName + ">x<" + longName + "/></" + std::string(n, 'N') + ">", "1 child [x]"},
      {"long attribute list", "<a" + repeat(" x='1'", n / 2) + "/>", "125000 attributes"},
      {"CDATA after text", "<a>" + repeat("t\r<![CDATA[c]]>", n / 4) + "</a>",
       repeat("t\nc", n / 4 - 1) + "t\rc cdata"},
      {"names holding /", slashNames, "1 child []"},
      {"CDATA after CDATA", "<a>t\r" + repeat("<![CDATA[c\r]]>", n / 4) + "</a>", "t\r" + repeat("c\r", n / 4) + " cdata"},
  };
  for (const auto& shape : shapes) {
    auto text = std::make_shared<const std::string>(shape.text);
    auto outcome = std::make_shared<std::promise<std::string>>();
    std::future<std::string> done = outcome->get_future();
    // Detached: a parse that overruns must not hold the test up.
    std::thread([text, outcome] {
      XmlNode* document = nullptr;
      std::string error;
      std::size_t position = 0;
      if (ParseXml(*text, &document, &error, &position) != 0) return outcome->set_value(error + " " + std::to_string(position));
      const XmlNode* e = document->Children().at(0);
      const auto& a = e->Attributes();
      outcome->set_value(a.size() > 1    ? std::to_string(a.size()) + " attributes"
                         : !a.empty()    ? e->Name() + " " + a[0]->Name() + "=[" + a[0]->Value() + "] [" + e->Value() + "]"
                         : e->IsCdata() ? e->Value() + " cdata"
                                        : std::to_string(e->Children().size()) + " child [" + e->Value() + "]");
      delete document;
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready) << shape.what;
    EXPECT_TRUE(done.get() == shape.outcome) << shape.what;
  }
}

// Parse trees are compared with the model parser by fuzz/fuzz_xml; these are
// the shapes a slip in nesting, names or markup kinds would break first.
TEST(SerializeXml, Layouts) {
  const char* const trees[][2] = {
      {"<a>x<b/>y</a>", "<a><b/>xy</a>"},
      // Configuration files have no root element.
      {" <s name=\"1\"/>\n<s name=\"2\"></s>\n", "<s name=\"1\"/><s name=\"2\"/>"},
      {"<a><a>in</a>out</a>", "<a><a>in</a>out</a>"},
      {"<a><a/><A x='1' /><a></a>t</A>", "<a><a/><A x=\"1\"/><a/>t</a>"},
      // A longer name that merely starts with the same letters is not nested.
      {"<a><ab>x</ab><a/b>y</a/b></a>", "<a><ab>x</ab><a/b>y</a/b></a>"},
      {"<?xml version=\"1.0\" encoding='UTF-8'?><!DOCTYPE r [<!ENTITY e \"v\">]>"
       "<r><!-- a <b> --><![CDATA[<x>&]]>t&amp;<![CDATA[2]]><?pi?></r><!---->",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE r [<!ENTITY e \"v\">]><r><!-- a <b> --><?pi?>"
       "<![CDATA[<x>&t&2]]></r><!---->"},
      // Duplicates are kept, and values as written (decoding is the attribute's).
      {"<a x = \"1\" y='say \"hi\"' z=3 x=\"&lt;&#65;\" nl=\"l1\nl2\" amp='A&T'/>",
       "<a x=\"1\" y=\"say &quot;hi&quot;\" z=\"3\" x=\"&lt;&#65;\" nl=\"l1\nl2\" amp=\"A&T\"/>"},
  };
  for (const auto& t : trees) {
    Parsed p(t[0]);
    ASSERT_EQ(p.result, 0) << t[0] << ": " << p.error;
    EXPECT_EQ(SerializeXml(p.document, -1), t[1]) << t[0];
  }
  // Compact: text after the children, CDATA content as one section.
  auto mixed = Parse("<a>x<b/>y<c><![CDATA[<&>]]></c><!--c--><?p q='1'?></a>");
  EXPECT_EQ(SerializeXml(mixed.get(), -1), "<a><b/><c><![CDATA[<&>]]></c><!--c--><?p q=\"1\"?>xy</a>");
  EXPECT_EQ(SerializeXml(mixed->Children()[0]->Children()[3]->Attributes()[0], -1), " q=\"1\"");
  // Tab-indented: an element with text (CDATA included) adds no white space
  // around its children; a document at indent 2 ends with one tab.
  EXPECT_EQ(SerializeXml(Parse("<a><b/><c/></a>").get(), 0), "<a>\n\t<b/>\n\t<c/>\n</a>\n");
  auto text = Parse("<a>t<b><c/></b></a><d/>");
  EXPECT_EQ(SerializeXml(text.get(), 2), "\t\t<a><b>\n\t\t\t\t<c/>\n\t\t\t</b>t</a>\n\t\t<d/>\n\t");
  EXPECT_EQ(SerializeXml(Parse("<a><b/><![CDATA[v]]></a>").get(), 0), "<a><b/><![CDATA[v]]></a>\n");

  // Top-level character data is not written; only documents carry the mark.
  auto document = Parse(" <a/> ");
  EXPECT_EQ(SerializeXml(document.get(), -1), "<a/>");
  EXPECT_EQ(SerializeXml(document.get(), -1, true), "\xEF\xBB\xBF<a/>");
  document->SetValue(kXmlByteOrderMark);
  EXPECT_EQ(SerializeXml(document.get(), -1, false), "\xEF\xBB\xBF<a/>");
  EXPECT_EQ(SerializeXml(document->Children()[0], -1, true), "<a/>");
}

TEST(SerializeXml, ValuesAreEscapedWhenOnlyTheValueIsKnown) {
  XmlNode document(XmlKind::Document);
  XmlNode* a = document.AddElement("a", "1 < 2 & \"q\"\tT\r\nL");
  a->AddAttribute("v", "x\ty\r\nz'");
  AddChild(&document, new XmlNode(XmlKind::Comment, "", " <raw> & "));
  AddChild(&document, new XmlNode(XmlKind::RawMarkup, "", "<!DOCTYPE x>"));
  const std::string expected =
      "<a v=\"x&#x9;y&#xA;z&apos;\">1 &lt; 2 &amp; &quot;q&quot;\tT\nL</a><!-- <raw> & --><!DOCTYPE x>";
  EXPECT_EQ(MeasureXml(&document, -1, false), expected.size());
  EXPECT_EQ(SerializeXml(&document, -1), expected);

}

TEST(XmlEscape, ColumnsAndReferences) {
  const std::string value = std::string("<>&'\"\tL\nC\rW\r\nX\x01\x1F \x7F\xC3\xA9") + '\0';
  EXPECT_EQ(EscapeXml(value, XmlEscapeMode::ElementText),
            std::string("&lt;&gt;&amp;&apos;&quot;\tL\nC\nW\nX&#x01;&#x1F; \x7F\xC3\xA9&#x00;"));
  EXPECT_EQ(EscapeXml(value, XmlEscapeMode::AttributeValue),
            std::string("&lt;&gt;&amp;&apos;&quot;&#x9;L&#xA;C&#xA;W&#xA;X&#x01;&#x1F; \x7F\xC3\xA9&#x00;"));

  EXPECT_EQ(UnescapeXml("&lt;&gt;&amp;&apos;&quot;"), "<>&'\"");
  EXPECT_EQ(UnescapeXml("A&#65;&#x42;&#x6a;&#xFF;&#0;z"), std::string("AABj\xFF") + '\0' + "z");
  // Decoding stops at anything that is not a known reference.
  for (const char* cut : {"a&T", "a&#256;b", "a&#x100;b", "a&#999999999999999999999;b", "a&#x;b", "a&#65b", "a&#X41;b",
                          "a&LT;b", "a&lt"})
    EXPECT_EQ(UnescapeXml(cut), "a") << cut;

  // Every byte but CR (a line feed) survives both columns.
  std::string all;
  for (int c = 0; c < 256; ++c)
    if (c != '\r') all += static_cast<char>(c);
  EXPECT_EQ(UnescapeXml(EscapeXml(all, XmlEscapeMode::ElementText)), all);
  EXPECT_EQ(UnescapeXml(EscapeXml(all, XmlEscapeMode::AttributeValue)), all);
}

TEST(XmlNode, FindAttributeAndFindElement) {
  auto document = Parse("<Config><section><key Name='k' name='second'/></section>"
                        "<section><key/><!--x--><inner><key name='deep'/></inner></section></Config><other/>");
  XmlNode* key = FindElement(document.get(), "CONFIG/section/key");
  EXPECT_EQ(FindAttribute(key, "name")->Value(), "k");  // the first of that name, case ignored
  EXPECT_EQ(FindAttribute(key, "nam"), nullptr);
  // An earlier name tries every match in turn: only the second section has "inner".
  EXPECT_EQ(FindAttribute(FindElement(document.get(), "config/section/inner/key"), "name")->Value(), "deep");
  for (const char* path : {"config/missing", "section", "", "config//key"})
    EXPECT_EQ(FindElement(document.get(), path), nullptr) << path;
}

TEST(XmlNode, AddRemoveDeleteAndMove) {
  XmlNode document(XmlKind::Document);
  XmlNode* a = document.AddElement("a");
  XmlNode* attribute = new XmlNode(XmlKind::Attribute, "x", "1");
  EXPECT_EQ(AddChild(a, attribute), 0);  // attributes never go to the children
  XmlNode* b = a->AddElement("b", "t");
  EXPECT_EQ(SerializeXml(&document, -1), "<a x=\"1\"><b>t</b></a>");
  // Moving a linked node takes it out of its old list; cycles are refused.
  XmlNode* c = document.AddElement("c");
  EXPECT_EQ(AddChild(c, b), 0);
  EXPECT_EQ(SerializeXml(&document, -1), "<a x=\"1\"/><c><b>t</b></c>");
  EXPECT_EQ(AddChild(b, c), 1);
  EXPECT_EQ(AddChild(c, c), 1);

  EXPECT_EQ(RemoveNode(attribute), 0);
  EXPECT_TRUE(a->Attributes().empty());
  EXPECT_EQ(RemoveNode(attribute), 1);  // a detached non-document
  EXPECT_EQ(DeleteNode(attribute), 1);  // ... is not destroyed either
  delete attribute;
  EXPECT_EQ(DeleteNode(c), 0);
  delete a;  // destroying a linked node unlinks it
  EXPECT_TRUE(document.Children().empty());
}

TEST(XmlFile, BytesAndByteOrderMarkAreKept) {
  TempDir dir;
  const std::string path = dir.File("f.xml");
  const std::string mark = kXmlByteOrderMark;
  // CR LF, bytes above 0x7F and references stay exactly as they were.
  WriteFile(path, "<a v='\xC3\xA9\r\n&amp;'>x\r\ny<b/></a><!-- c -->");
  XmlNode* document = nullptr;
  ASSERT_EQ(LoadXmlFile(path, &document, nullptr), 0);
  std::unique_ptr<XmlNode> owner(document);
  EXPECT_EQ(document->Children()[0]->Attributes()[0]->Value(), "\xC3\xA9\r\n&");
  ASSERT_EQ(SaveXmlFile(document, path, -1, false), 0);
  EXPECT_EQ(ReadFile(path), "<a v=\"\xC3\xA9\r\n&amp;\"><b/>x\r\ny</a><!-- c -->");

  WriteFile(path, mark + "\n<a/>\n");
  ASSERT_EQ(LoadXmlFile(path, &document, nullptr), 0);
  owner.reset(document);
  EXPECT_EQ(document->Value(), mark);
  ASSERT_EQ(SaveXmlFile(document, path, -1, false), 0);
  EXPECT_EQ(ReadFile(path), mark + "<a/>");
  // Only a whole mark is one.
  WriteFile(path, "\xEF\xBB<a/>");
  ASSERT_EQ(LoadXmlFile(path, &document, nullptr), 0);
  owner.reset(document);
  EXPECT_EQ(document->Value(), "\xEF\xBB");
}

TEST(XmlFile, Failures) {
  TempDir dir;
  XmlNode placeholder(XmlKind::Document);
  XmlNode* document = &placeholder;  // replaced by null, not deleted
  std::string error;
  EXPECT_EQ(LoadXmlFile(dir.File("missing.xml"), &document, &error), 1);
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(error, "No such file or directory");
  // A parse error reports its offset in the file, mark included.
  WriteFile(dir.File("bad.xml"), std::string(kXmlByteOrderMark) + "<a><b></a>");
  std::size_t position = 0;
  EXPECT_EQ(LoadXmlFile(dir.File("bad.xml"), &document, &error, &position), 1);
  EXPECT_EQ(error, "End tag not found");
  EXPECT_EQ(position, 6u);

  XmlNode tree(XmlKind::Document);
  tree.AddElement("a");
  EXPECT_EQ(SaveXmlFile(&tree, dir.File("no/such/dir.xml"), -1, false, &error), 1);
  EXPECT_EQ(error, "No such file or directory");
  // A device that takes no data: the loss shows at the flush.
  if (testing_support::FileExists("/dev/full")) {
    EXPECT_EQ(SaveXmlFile(&tree, "/dev/full", -1, false, &error), 1);
    EXPECT_EQ(error, "Unexpected number of bytes written");
  }
  // Kernel files claim a size larger than what reading them gives.
  if (testing_support::FileExists("/sys/devices/system/cpu/online")) {
    EXPECT_EQ(LoadXmlFile("/sys/devices/system/cpu/online", &document, &error), 1);
    EXPECT_EQ(error, "Unexpected number of bytes read");
  }
}

}  // namespace
