#include "XPathAnswer.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace XPath;
using testing_support::EvaluateXPath;
using testing_support::XPathAnswer;
using Indexes = std::initializer_list<const DocumentIndex*>;

// Every link and user-data slot of a tree, and its printed text.
struct Snapshot {
  explicit Snapshot(const TiXmlDocument& document) {
    std::vector<const TiXmlNode*> pending{&document};
    while (!pending.empty()) {
      const TiXmlNode* node = pending.back();
      pending.pop_back();
      links.insert(links.end(), {node, node->Parent(), node->PreviousSibling(), node->NextSibling(),
                                 node->FirstChild(), node->LastChild(), node->GetUserData()});
      for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
        pending.push_back(child);
      }
    }
    TiXmlPrinter printer;
    document.Accept(&printer);
    text = printer.CStr();
  }
  bool operator==(const Snapshot& o) const { return links == o.links && text == o.text; }
  std::vector<const void*> links;
  std::string text;
};

// Records each number literal twice, leaving two values where one belongs.
class DoubledNumbers : public xpath_processor {
 public:
  using xpath_processor::xpath_processor;
  void action(int rule, int sub, int number, const std::string& text) override {
    xpath_processor::action(rule, sub, number, text);
    if (rule == xr_primary_expr && sub == 3) xpath_processor::action(rule, sub, number, text);
  }
};

// A decoding slip that leaves a stray value and a missing base or
// expression fail cleanly, leaving the tree alone (the fuzz target and the
// concurrency test check the tree after ordinary evaluations).
TEST(XPathTree, FailedEvaluationsLeaveTheTreeAlone) {
  TiXmlDocument document;
  document.Parse("<?xml version='1.0'?><!--before--><inv k='0'><h k='1'><p/>text<q/></h><h k='3'/></inv><!--a-->");
  ASSERT_FALSE(document.Error());
  const Snapshot before(document);
  DoubledNumbers doubled(document.RootElement(), "1 + 2");
  EXPECT_EQ(doubled.ComputeString(), "false");
  EXPECT_EQ(doubled.GetErrorKind(), ErrorKind::Stack);
  EXPECT_TRUE(Snapshot(document) == before);

  xpath_processor noBase(nullptr, "/inv");
  EXPECT_EQ(noBase.ComputeNodeSet(), 0u);
  EXPECT_EQ(noBase.GetNode(0), nullptr);
  EXPECT_EQ(noBase.GetExecutionCode(), ExecutionCode::NoBase);
  xpath_processor noExpression(document.RootElement(), nullptr);
  EXPECT_EQ(noExpression.ComputeString(), "false");
  EXPECT_EQ(noExpression.GetExecutionCode(), ExecutionCode::NoBase);
}

TEST(XPathTree, ABaseWithSiblingsIsSeenAlone) {
  TiXmlDocument document;
  document.Parse("<a><b/><c k='c'><d/></c><e/></a>");
  TiXmlNode* c = document.RootElement()->FirstChild()->NextSibling();
  // Seen from c, the tree is c below the synthetic root: no parent, no
  // siblings, no following or preceding nodes beyond c's own subtree.
  const char* const cases[][2] = {
      {"count(/c/d)", "1"}, {"count(/a)", "0"}, {"count(/c/following-sibling::* | /c/preceding-sibling::*)", "0"},
      {"count(/c/following::* | /c/preceding::* | //d/following::*)", "0"}, {"count(//d/ancestor::node())", "1"},
      {"count(/node() | /*)", "1"}, {"count(//*)", "2"}, {"name(..)", "root"}, {"last()", "1"}, {"position()", "1"},
      {"count(/c[1]) + count(/c[last()])", "2"}, {"@k", "c"},
  };
  DocumentIndex index;
  index.Build(c);
  for (const DocumentIndex* given : Indexes{nullptr, &index}) {
    for (const auto& item : cases) {
      EXPECT_EQ(EvaluateXPath(c, item[0], given).text, item[1]) << item[0] << (given ? " indexed" : "");
    }
  }
}

// Many threads evaluating over one tree, with and without its index, get
// what one thread alone gets.
TEST(XPathConcurrency, EvaluationsAnswerAsSerialOnes) {
  std::string text = "<?xml version='1.0'?><!--c--><inv>";
  for (int i = 0; i < 300; ++i) {
    text += "<h k='" + std::to_string(i % 7) + "'><p/>t<q k='" + std::to_string(i) + "'/></h>";
  }
  TiXmlDocument document;
  document.Parse((text + "</inv>").c_str());
  DocumentIndex index;
  index.Build(document.RootElement());
  const Snapshot before(document);
  const char* const expressions[] = {
      "count(//p/ancestor::*)", "name(/inv/..)", "(//q | //p)[1]/@k", "//h[@k = 3]/q/@k", "//h[last()]/q",
      "count(//q/following::*)", "count(//h[299]/preceding::*)", "sum(//q/@k)", "//*[position() = 2]",
      "name((//q/.. | /inv)[2])", "count(/inv/h/following-sibling::h[1])", "last()", "//h[5] = //h", "1 +",
  };
  const std::size_t kExpressions = sizeof(expressions) / sizeof(expressions[0]);
  const DocumentIndex* const indexes[] = {nullptr, &index};
  std::vector<XPathAnswer> serial;
  for (std::size_t k = 0; k < 2 * kExpressions; ++k) {
    serial.push_back(EvaluateXPath(document.RootElement(), expressions[k % kExpressions], indexes[k / kExpressions]));
  }
  EXPECT_EQ(serial[0].text, "301");
  const int kThreads = 8;
  std::vector<std::thread> threads;
  std::vector<int> wrong(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t round = 0; round < 3 * serial.size(); ++round) {
        const std::size_t k = (round + 5 * t) % serial.size();
        const XPathAnswer answer =
            EvaluateXPath(document.RootElement(), expressions[k % kExpressions], indexes[k / kExpressions]);
        if (!(answer == serial[k])) ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  EXPECT_TRUE(Snapshot(document) == before);
}

// A chain of 3000 x elements, walked without recursion (on a thread with
// the default stack), and 3000 item siblings: no step repeats a node.
TEST(XPathTree, DeepAndLongTrees) {
  TiXmlDocument document;
  document.Parse("<top/>");
  TiXmlNode* chain = document.RootElement();
  for (int i = 0; i < 3000; ++i) chain = chain->LinkEndChild(new TiXmlElement("x"));
  TiXmlNode* list = document.RootElement()->LinkEndChild(new TiXmlElement("list"));
  for (int i = 0; i < 3000; ++i) list->LinkEndChild(new TiXmlElement("item"));
  const char* const cases[][2] = {
      {"count(//x)", "3000"}, {"count(//x//x)", "3000"}, {"count(//x/descendant::x)", "2999"},
      {"count(//x/descendant-or-self::*)", "3000"}, {"count(//x/ancestor::x)", "2999"},
      {"count(//x/ancestor-or-self::*)", "3001"}, {"count(//x/parent::*)", "3000"}, {"count(//x/*)", "2999"},
      {"count(//x/following::*)", "3001"},  // list and its items
      {"count(//item/following-sibling::item)", "2999"}, {"count(//item/preceding-sibling::*)", "2999"},
      {"count(//item/..)", "1"}, {"count(//item/following::item)", "2999"}, {"count(//item/preceding::*)", "2999"},
      {"count(//item | //x | //item)", "6000"}, {"count(//item[last()])", "1"},
      {"count(//item[position() > 2990])", "10"},
  };
  std::thread thread([&] {
    for (const auto& c : cases) EXPECT_EQ(EvaluateXPath(document.RootElement(), c[0]).text, c[1]) << c[0];
  });
  thread.join();
}

// An evaluation that would walk the document once per node of it stops
// at the work budget with an execution error; passes over the document
// stay far below it, and the count is the same on every run.
TEST(XPathTree, WorkBeyondTheBudgetIsAnExecutionError) {
  std::string text = "<inventory><software>";
  for (int i = 0; i < 20000; ++i) text += "<product name='p" + std::to_string(i) + "' vendor='v'/>";
  text += "</software></inventory>";
  TiXmlDocument document;
  document.Parse(text.c_str());
  DocumentIndex index;
  index.Build(document.RootElement());
  for (const DocumentIndex* given : Indexes{nullptr, &index}) {
    xpath_processor slow(document.RootElement(), "count(//*[count(preceding::*)>count(following::*)])", given);
    EXPECT_EQ(slow.ComputeString(), "false");
    EXPECT_EQ(slow.GetErrorKind(), ErrorKind::Execution);
    EXPECT_EQ(slow.GetExecutionCode(), ExecutionCode::WorkBudget);
    EXPECT_GT(slow.GetWork(), xpath_processor::kWorkBudget);
    EXPECT_LT(slow.GetWork(), xpath_processor::kWorkBudget + 200000);  // stopped soon after
    xpath_processor pass(document.RootElement(), "count(//product[@vendor='v']/@name | //*/..)", given);
    EXPECT_EQ(pass.ComputeString(), "20003");  // the synthetic root is a parent too
    EXPECT_LT(pass.GetWork(), xpath_processor::kWorkBudget / 100);
    const std::uint64_t work = pass.GetWork();
    pass.ComputeString();
    EXPECT_EQ(pass.GetWork(), work);
  }
}

}  // namespace
