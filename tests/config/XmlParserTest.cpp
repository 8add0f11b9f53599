#include "config/XmlParser.h"
#include "config/XmlWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Parsed {
  int result = -1;
  XmlNode* document = nullptr;
  std::string error;
  std::size_t position = 0;
  explicit Parsed(std::string_view text) {
    // An exact-size copy without a terminator, so that a read past the end
    // is caught by the address sanitizer.
    buffer.assign(text.begin(), text.end());
    result = ParseXml(std::string_view(buffer.data(), buffer.size()), &document, &error, &position);
  }
  ~Parsed() { delete document; }
  XmlNode* Child(std::size_t i) const { return document->Children().at(i); }
  std::vector<char> buffer;
};

std::string Visible(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

// One line per node, preorder, with everything that makes up the tree (the
// document's own text is not part of it: the writer never writes it).
std::string Dump(const XmlNode* root) {
  std::string out;
  std::vector<std::pair<const XmlNode*, int>> pending{{root, 0}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    out += std::string(static_cast<std::size_t>(depth), ' ') + std::to_string(static_cast<int>(node->Kind())) + " " +
           node->Name();
    if (node->Kind() != XmlKind::Document) {
      out += " [" + Visible(node->Value()) + "]";
      if (node->IsCdata() && !node->Value().empty()) out += " cdata";
    }
    for (const XmlNode* a : node->Attributes()) out += " " + a->Name() + "=[" + Visible(a->Value()) + "]";
    out += "\n";
    for (auto it = node->Children().rbegin(); it != node->Children().rend(); ++it) pending.emplace_back(*it, depth + 1);
  }
  return out;
}

TEST(ParseXml, TextChildrenAndWhitespace) {
  Parsed p("<a>x<b/>y</a>");
  ASSERT_EQ(p.result, 0) << p.error;
  XmlNode* a = p.Child(0);
  EXPECT_EQ(a->Kind(), XmlKind::Element);
  EXPECT_EQ(a->Name(), "a");
  EXPECT_EQ(a->Value(), "xy");
  ASSERT_EQ(a->Children().size(), 1u);
  EXPECT_EQ(a->Children()[0]->Name(), "b");
  EXPECT_EQ(a->Children()[0]->Parent(), a);
  EXPECT_EQ(SerializeXml(p.document, -1), "<a><b/>xy</a>");

  Parsed ws("<a>\n\t<b> </b>\r\n</a>");
  ASSERT_EQ(ws.result, 0);
  EXPECT_EQ(ws.Child(0)->Text(), "\n\t\r\n");
  EXPECT_EQ(ws.Child(0)->Children()[0]->Value(), " ");

  // Several top-level elements (configuration files have no root), and
  // character data around them that belongs to the document.
  Parsed top(" <s name=\"1\"/>\n<s name=\"2\"></s>\n");
  ASSERT_EQ(top.result, 0);
  ASSERT_EQ(top.document->Children().size(), 2u);
  EXPECT_EQ(top.document->Text(), " \n\n");
  EXPECT_TRUE(top.Child(1)->Children().empty());
  EXPECT_EQ(top.Child(1)->Text(), "");

  Parsed empty("");
  ASSERT_EQ(empty.result, 0);
  ASSERT_NE(empty.document, nullptr);
  EXPECT_EQ(empty.document->Kind(), XmlKind::Document);
  EXPECT_TRUE(empty.document->Children().empty());
}

TEST(ParseXml, NestedSameNameElementsMatchTheirOwnEndTags) {
  Parsed p("<a><a>in</a>out</a>");
  ASSERT_EQ(p.result, 0) << p.error;
  EXPECT_EQ(Dump(p.document), "5 \n 1 a [out]\n  1 a [in]\n");

  Parsed e("<a><a/><A x='1' /><a></a>t</A>");
  ASSERT_EQ(e.result, 0) << e.error;
  EXPECT_EQ(Dump(e.document), "5 \n 1 a [t]\n  1 a []\n  1 A [] x=[1]\n  1 a []\n");

  Parsed deep("<a><b><a><a>1</a></a>2</b></a><a>3</a >");
  ASSERT_EQ(deep.result, 0) << deep.error;
  EXPECT_EQ(Dump(deep.document), "5 \n 1 a []\n  1 b [2]\n   1 a []\n    1 a [1]\n 1 a [3]\n");

  // A longer name that merely starts with the same letters is not nested.
  Parsed longer("<a><ab>x</ab><a/b>y</a/b></a>");
  ASSERT_EQ(longer.result, 0) << longer.error;
  EXPECT_EQ(Dump(longer.document), "5 \n 1 a []\n  1 ab [x]\n  1 a/b [y]\n");
}

TEST(ParseXml, CommentsInstructionsCdataAndDeclarations) {
  Parsed p(
      "<?xml version=\"1.0\" encoding='UTF-8'?><!DOCTYPE r [<!ENTITY e \"v\">]>"
      "<r><!-- a <b> --><![CDATA[<x>&]]>t&amp;<![CDATA[2]]><?pi?></r><!---->");
  ASSERT_EQ(p.result, 0) << p.error;
  ASSERT_EQ(p.document->Children().size(), 4u);
  XmlNode* pi = p.Child(0);
  EXPECT_EQ(pi->Kind(), XmlKind::ProcessingInstruction);
  EXPECT_EQ(pi->Name(), "xml");
  ASSERT_EQ(pi->Attributes().size(), 2u);
  EXPECT_EQ(pi->Attributes()[1]->Value(), "UTF-8");
  EXPECT_EQ(p.Child(1)->Kind(), XmlKind::RawMarkup);
  EXPECT_EQ(p.Child(1)->Value(), "<!DOCTYPE r [<!ENTITY e \"v\">]>");
  XmlNode* r = p.Child(2);
  EXPECT_TRUE(r->IsCdata());
  EXPECT_EQ(r->Value(), "<x>&t&2");
  ASSERT_EQ(r->Children().size(), 2u);
  EXPECT_EQ(r->Children()[0]->Kind(), XmlKind::Comment);
  EXPECT_EQ(r->Children()[0]->Value(), " a <b> ");
  EXPECT_EQ(r->Children()[1]->Name(), "pi");
  EXPECT_EQ(p.Child(3)->Value(), "");
  EXPECT_EQ(SerializeXml(p.document, -1),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE r [<!ENTITY e \"v\">]>"
            "<r><!-- a <b> --><?pi?><![CDATA[<x>&t&2]]></r><!---->");

  // Only the exact "<![CDATA[" opens a section; other "<!" markup balances
  // its angle brackets.
  Parsed lower("<a><![cdata[x]]></a>");
  ASSERT_EQ(lower.result, 0);
  EXPECT_EQ(lower.Child(0)->Children()[0]->Kind(), XmlKind::RawMarkup);
  EXPECT_FALSE(lower.Child(0)->IsCdata());
}

TEST(ParseXml, AttributeForms) {
  Parsed p("<a x = \"1\" y='say \"hi\"' z=3 x=\"&lt;&#65;&#x42;\" nl=\"l1\nl2\" amp='A&T'/>");
  ASSERT_EQ(p.result, 0) << p.error;
  const auto& attributes = p.Child(0)->Attributes();
  ASSERT_EQ(attributes.size(), 6u);
  EXPECT_EQ(attributes[0]->Value(), "1");
  EXPECT_EQ(attributes[1]->Value(), "say \"hi\"");
  EXPECT_EQ(attributes[2]->Value(), "3");
  EXPECT_EQ(attributes[3]->Name(), "x");  // duplicates are kept
  EXPECT_EQ(attributes[3]->Value(), "<AB");
  EXPECT_EQ(attributes[3]->Text(), "&lt;&#65;&#x42;");
  EXPECT_EQ(attributes[4]->Value(), "l1\nl2");
  EXPECT_EQ(attributes[5]->Value(), "A");  // a bare "&" ends the value
  EXPECT_EQ(attributes[0]->Kind(), XmlKind::Attribute);
  EXPECT_EQ(attributes[0]->Parent(), p.Child(0));

  Parsed slash("<a x=y/><b x= />");
  ASSERT_EQ(slash.result, 0) << slash.error;
  EXPECT_EQ(slash.Child(0)->Attributes()[0]->Value(), "y");
  EXPECT_EQ(slash.Child(1)->Attributes()[0]->Value(), "");
}

TEST(ParseXml, EveryErrorWithItsPosition) {
  struct Case {
    const char* text;
    const char* error;
    std::size_t position;
  } cases[] = {
      {"ab<!-- x", "End of comment not found", 2},
      {"<a><!-- x --</a>", "End of comment not found", 3},
      {"x<?pi a='1'", "End of processing instructions not found", 1},
      {"<?" "?>", "Empty Name", 0},
      {"<>", "Empty Name", 0},
      {" </>", "Empty Name", 1},
      {"<a>< b/></a>", "Empty Name", 3},
      {"<a><![CDATA[x]]</a>", "End of CDATA block not found", 3},
      {"<r/><!DOCTYPE a [<!ENTITY x 'y'>", "End of DTD not found", 4},
      {"<a", "End of element tag not found", 0},
      {"<a>x</a><b x='1'", "End of element tag not found", 8},
      {"<a>x</a><b x='>'", "Attribute value not terminated", 13},
      {"<a/><", "End of element tag not found", 4},
      {"<a>", "End tag not found", 0},
      {"<a><b></a>", "End tag not found", 3},
      {"<a>x</a", "End tag not found", 0},
      {"<a></b></a>", "End tag not found", 3},
      {"<a><a></a>", "End tag not found", 0},
      {"<a>x</a ", "End tag malformed", 4},
      {"<r><a>x</a/</r>", "End tag malformed", 7},
      {"<a =1/>", "Empty attribute name", 3},
      {"<a x='1' =2/>", "Empty attribute name", 9},
      {"<a b/>", "Attibute missing value (no '=')", 3},
      {"<a b c='1'/>", "Attibute missing value (no '=')", 3},
      {"<?pi x?>", "Attibute missing value (no '=')", 5},
      {"<a b='1/>", "Attribute value not terminated", 5},
      {"<a x=\"1>2\"/>", "Attribute value not terminated", 5},
  };
  for (const Case& c : cases) {
    Parsed p(c.text);
    EXPECT_EQ(p.result, 1) << c.text;
    EXPECT_EQ(p.document, nullptr) << c.text;
    EXPECT_EQ(p.error, c.error) << c.text;
    EXPECT_EQ(p.position, c.position) << c.text;
  }

  // The outputs are optional, and a document passed in is discarded on failure.
  EXPECT_EQ(ParseXml("<a>", nullptr, nullptr, nullptr), 1);
  XmlNode* document = new XmlNode(XmlKind::Document);
  EXPECT_EQ(ParseXml("<a/><b>", &document, nullptr, nullptr), 1);
  EXPECT_EQ(document, nullptr);
}

TEST(ParseXml, AppendsToAGivenDocumentAndStopsAtNulInCText) {
  XmlNode* document = new XmlNode(XmlKind::Document, "mine");
  ASSERT_EQ(ParseXml("<a/>", &document, nullptr, nullptr), 0);
  ASSERT_EQ(ParseXml("<b/>", &document, nullptr, nullptr), 0);
  EXPECT_EQ(document->Name(), "mine");
  EXPECT_EQ(SerializeXml(document, -1), "<a/><b/>");
  delete document;

  const char withNul[] = "<a/>\0<b";
  Parsed view(std::string_view(withNul, sizeof withNul - 1));
  EXPECT_EQ(view.result, 1);
  XmlNode* c = nullptr;
  EXPECT_EQ(ParseXml(withNul, &c, nullptr, nullptr), 0);
  EXPECT_EQ(c->Children().size(), 1u);
  delete c;
  XmlNode* fromNull = nullptr;
  EXPECT_EQ(ParseXml(static_cast<const char*>(nullptr), &fromNull, nullptr, nullptr), 0);
  delete fromNull;
}

// Random documents from the constructs the parser knows, with markup
// characters wherever they are allowed.
class DocumentGenerator {
 public:
  explicit DocumentGenerator(unsigned seed) : random_(seed) {}

  std::string Document() {
    std::string out;
    if (Chance(3)) out += "<?xml version=\"1.0\"?>";
    if (Chance(4)) out += "<!DOCTYPE r [<!ENTITY e 'v'>]>\n";
    Content(out, 0);
    return out;
  }

 private:
  bool Chance(int oneIn) { return std::uniform_int_distribution<int>(0, oneIn - 1)(random_) == 0; }
  template <std::size_t N>
  const char* Pick(const char* const (&choices)[N]) {
    return choices[std::uniform_int_distribution<std::size_t>(0, N - 1)(random_)];
  }

  void Content(std::string& out, int depth) {
    static const char* const kText[] = {"x", " ", "\n", "\r\n", "\t", "&amp;", "&lt;", "&#x41;", "&#9;", ">", "]]>",
                                        "'", "\"", "&bad;", "é", "/", "="};
    static const char* const kSafe[] = {"<1", "< ", "&", ">", "x", "\n", "'", "\"", "]]", "--", "<!"};
    const int items = std::uniform_int_distribution<int>(0, depth > 4 ? 2 : 4)(random_);
    for (int i = 0; i < items; ++i) {
      switch (std::uniform_int_distribution<int>(0, 9)(random_)) {
        case 0:
        case 1:
          out += Pick(kText);
          break;
        case 2:
          out += "<!--";
          out += Pick(kSafe);
          out += Pick(kSafe);
          out += " -->";
          break;
        case 3:
          out += "<![CDATA[";
          out += Pick(kSafe);
          out += Pick(kText);
          out += "]]>";
          break;
        case 4:
          out += Chance(2) ? "<?pi?>" : "<?pi a='1' b=\"<1\"?>";
          break;
        case 5:
          out += "<!ENTITY x \"<1>\">";
          break;
        default:
          Element(out, depth + 1);
      }
    }
  }

  void Element(std::string& out, int depth) {
    static const char* const kNames[] = {"a", "A", "b", "ab", "x-y", "key"};
    static const char* const kValues[] = {"", "1", "a b", "&lt;&amp;&gt;", "\n", "\r\n", "\t", "<1", "/", "=",
                                          "&bad", "&#10;", "x&#x9;y"};
    const std::string name = Pick(kNames);
    out += "<" + name;
    const int attributes = std::uniform_int_distribution<int>(0, 3)(random_);
    for (int i = 0; i < attributes; ++i) {
      out += Chance(2) ? " " : "\n\t";
      out += Pick(kNames);
      out += Chance(3) ? " = " : "=";
      switch (std::uniform_int_distribution<int>(0, 3)(random_)) {
        case 0: out += std::string("'") + Pick(kValues) + "\"'"; break;
        case 1: out += std::string("\"") + Pick(kValues) + "'\""; break;
        case 2: out += "unquoted"; break;
        default: out += std::string("\"") + Pick(kValues) + "\"";
      }
    }
    if (depth > 6 || Chance(4)) {
      out += Chance(2) ? "/>" : " />";
      return;
    }
    out += ">";
    Content(out, depth);
    std::string end = name;
    if (Chance(3)) end[0] = static_cast<char>(end[0] ^ 0x20);  // letter case does not matter
    out += "</" + end + (Chance(4) ? " >" : ">");
  }

  std::mt19937 random_;
};

// Serializing compact and parsing again gives the same tree; the writer's
// measurement is exact for both layouts.
void ExpectRoundTrip(const XmlNode* document, const std::string& source) {
  const std::string compact = SerializeXml(document, -1);
  EXPECT_EQ(MeasureXml(document, -1, false), compact.size());
  Parsed again(compact);
  ASSERT_EQ(again.result, 0) << again.error << " at " << again.position << "\nsource: " << Visible(source)
                             << "\nwritten: " << Visible(compact);
  EXPECT_EQ(Dump(again.document), Dump(document)) << "source: " << Visible(source) << "\nwritten: " << Visible(compact);
  EXPECT_EQ(SerializeXml(again.document, -1), compact);
  const std::string indented = SerializeXml(document, 1);
  EXPECT_EQ(MeasureXml(document, 1, true), indented.size() + 3);
}

TEST(ParseXml, GeneratedDocumentsSurviveAParseWriteParseCycle) {
  DocumentGenerator generator(20240601);
  for (int i = 0; i < 3000; ++i) {
    const std::string source = generator.Document();
    Parsed p(source);
    ASSERT_EQ(p.result, 0) << p.error << " at " << p.position << "\n" << Visible(source);
    ExpectRoundTrip(p.document, source);
    if (HasFailure()) break;
  }
}

TEST(ParseXml, MutatedInputNeverCrashesAndRoundTripsWhenAccepted) {
  DocumentGenerator generator(7);
  std::mt19937 random(99);
  static const char kBytes[] = "<>/!?-[]'\"= &;a\n\0";
  int accepted = 0;
  for (int i = 0; i < 6000 && !HasFailure(); ++i) {
    std::string text = generator.Document();
    const int edits = std::uniform_int_distribution<int>(1, 3)(random);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size() - 1)(random);
      switch (std::uniform_int_distribution<int>(0, 3)(random)) {
        case 0: text.erase(at, 1); break;
        case 1: text.insert(at, 1, kBytes[std::uniform_int_distribution<std::size_t>(0, sizeof kBytes - 2)(random)]); break;
        case 2: text.resize(at); break;
        default: text[at] = kBytes[std::uniform_int_distribution<std::size_t>(0, sizeof kBytes - 2)(random)];
      }
    }
    Parsed p(text);
    if (p.result != 0) {
      EXPECT_EQ(p.document, nullptr);
      EXPECT_FALSE(p.error.empty());
      EXPECT_LT(p.position, text.size() + 1);
      continue;
    }
    ++accepted;
    ExpectRoundTrip(p.document, text);
  }
  EXPECT_GT(accepted, 100);
}

TEST(ParseXml, DeepNestingParsesWithoutRecursion) {
  const int depth = 10000;
  std::string same, distinct;
  for (int i = 0; i < depth; ++i) same += "<a>";
  same += "x";
  for (int i = 0; i < depth; ++i) same += "</a>";
  for (int i = 0; i < depth; ++i) distinct += "<e" + std::to_string(i) + " n='" + std::to_string(i) + "'>";
  for (int i = depth - 1; i >= 0; --i) distinct += "</e" + std::to_string(i) + ">";

  for (const std::string* text : {&same, &distinct}) {
    Parsed p(*text);
    ASSERT_EQ(p.result, 0) << p.error;
    int levels = 0;
    const XmlNode* node = p.document;
    while (!node->Children().empty()) {
      node = node->Children()[0];
      ++levels;
    }
    EXPECT_EQ(levels, depth);
    // Both are already in the writer's form (the innermost distinct element is empty).
    std::string expected = *text;
    if (text == &distinct) {
      const std::string last = "<e9999 n='9999'></e9999>";
      expected.replace(expected.find(last), last.size(), "<e9999 n='9999'/>");
      for (std::size_t q; (q = expected.find('\'')) != std::string::npos;) expected[q] = '"';
    }
    EXPECT_TRUE(SerializeXml(p.document, -1) == expected);
  }

  // Far deeper than any recursion could go on a thread stack.
  const std::size_t hugeDepth = 200000;
  std::string huge;
  for (std::size_t i = 0; i < hugeDepth; ++i) huge += "<a>";
  for (std::size_t i = 0; i < hugeDepth; ++i) huge += "</a>";
  Parsed p(huge);
  ASSERT_EQ(p.result, 0) << p.error;
  EXPECT_EQ(SerializeXml(p.document, -1).size(), huge.size() - 3);  // innermost written "<a/>"
}

// Shapes that a search per "<", per name or per CDATA section would make
// quadratic: a hostile 140 KB alarm body of "<b<b<b..." once took 16 s.
// Each parse of about 1 MB here runs on a thread of its own and is given a
// generous 30 s; the results are those of the parsing rules.
TEST(ParseXml, HostileShapesParseInTime) {
  auto repeat = [](const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
  };
  const std::size_t n = 250000;
  const std::string longName(n, 'n');
  std::string slashNames;  // <a/0><a/1>...</a/1></a/0>: one search per name must not pass all others
  for (std::size_t i = 0, k = n / 2; i < 2 * k; ++i)
    slashNames += i < k ? "<a/" + std::to_string(i) + ">" : "</a/" + std::to_string(2 * k - 1 - i) + ">";
  struct Shape {
    const char* what;
    std::string text;
    std::string outcome;  // error and position, or what the tree holds
  };
  const Shape shapes[] = {
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
  for (const Shape& shape : shapes) {
    auto text = std::make_shared<const std::string>(shape.text);
    auto outcome = std::make_shared<std::promise<std::string>>();
    std::future<std::string> done = outcome->get_future();
    // Detached: a parse that overruns must not hold the test up.
    std::thread([text, outcome] {
      XmlNode* document = nullptr;
      std::string error;
      std::size_t position = 0;
      std::string summary;
      if (ParseXml(*text, &document, &error, &position) != 0) {
        summary = error + " " + std::to_string(position);
      } else {
        const XmlNode* e = document->Children().at(0);
        if (e->Attributes().size() > 1)
          summary = std::to_string(e->Attributes().size()) + " attributes";
        else if (!e->Attributes().empty())
          summary = e->Name() + " " + e->Attributes()[0]->Name() + "=[" + e->Attributes()[0]->Value() + "] [" +
                    e->Value() + "]";
        else
          summary = (e->IsCdata() ? e->Value() + " cdata"
                                  : std::to_string(e->Children().size()) + " child [" + e->Value() + "]");
      }
      delete document;
      outcome->set_value(summary);
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready) << shape.what;
    EXPECT_TRUE(done.get() == shape.outcome) << shape.what;
  }
}

}  // namespace
