#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace XPath;

// Every link, text and user-data slot of a tree, to compare before and after.
struct Links {
  const TiXmlNode* node;
  const TiXmlNode* parent;
  const TiXmlNode* previous;
  const TiXmlNode* next;
  const TiXmlNode* first;
  const TiXmlNode* last;
  const void* data;
  std::string text;
  bool operator==(const Links& o) const {
    return node == o.node && parent == o.parent && previous == o.previous && next == o.next && first == o.first &&
           last == o.last && data == o.data && text == o.text;
  }
};

std::vector<Links> Snapshot(const TiXmlNode* top) {
  std::vector<Links> links;
  std::vector<const TiXmlNode*> pending{top};
  while (!pending.empty()) {
    const TiXmlNode* node = pending.back();
    pending.pop_back();
    std::string text = node->ValueStr();
    if (const TiXmlElement* element = node->ToElement()) {
      for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
        text += std::string(" ") + a->Name() + "=" + a->Value();
      }
    }
    links.push_back(Links{node, node->Parent(), node->PreviousSibling(), node->NextSibling(), node->FirstChild(),
                          node->LastChild(), node->GetUserData(), text});
    for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
      pending.push_back(child);
    }
  }
  return links;
}

// Records each number literal twice, leaving two values where one belongs.
class DoubledNumbers : public xpath_processor {
 public:
  using xpath_processor::xpath_processor;
  void action(int rule, int sub, int number, const std::string& text) override {
    xpath_processor::action(rule, sub, number, text);
    if (rule == xr_primary_expr && sub == 3) xpath_processor::action(rule, sub, number, text);
  }
};

// Drops the end of every step, a malformed action list.
class UnclosedSteps : public xpath_processor {
 public:
  using xpath_processor::xpath_processor;
  void action(int rule, int sub, int number, const std::string& text) override {
    if (rule == xr_step && sub == xs_end) return;
    xpath_processor::action(rule, sub, number, text);
  }
};

const char* const kTree =
    "<?xml version='1.0'?><!--before--><inv k='0'><h k='1'><p k='2'/>text<q/></h><h k='3'/></inv><!--after-->";

// Evaluations only read the tree: no link and no user-data slot changes,
// whatever the outcome, with and without a document index.
TEST(XPathRestore, TheTreeIsTheSameAfterEveryKindOfOutcome) {
  TiXmlDocument document;
  document.Parse(kTree);
  ASSERT_FALSE(document.Error());
  std::vector<Links> before = Snapshot(&document);
  const std::string open(3000, '(');
  const std::string deep = open + "1" + std::string(3000, ')');
  const char* const expressions[] = {
      "/inv/h", "count(//*)", "//p/ancestor::*", "/inv/..", "/", "//h[2]/preceding::*", "//@k | //q",
      "name(/inv/h/following::*)", "1 +", deep.c_str(), "1 div 0", "/inv/namespace::x", "nosuch()",
      "count(/inv/h[1]) + position()", "/inv/h = /inv/h", "name((//q | //p)[1])", "(//h | /inv)[last()]",
  };
  auto check = [&](const DocumentIndex* index) {
    for (const char* expression : expressions) {
      xpath_processor processor(document.RootElement(), expression, index);
      const std::string first = processor.ComputeString();
      const unsigned count = processor.ComputeNodeSet();
      std::vector<const void*> nodes;
      for (unsigned i = 0; i < count; ++i) nodes.push_back(processor.GetNode(i));
      const ErrorKind kind = processor.GetErrorKind();
      // The same answer the second time.
      EXPECT_EQ(processor.ComputeString(), first) << expression;
      ASSERT_EQ(processor.ComputeNodeSet(), count) << expression;
      for (unsigned i = 0; i < count; ++i) EXPECT_EQ(processor.GetNode(i), nodes[i]) << expression;
      EXPECT_EQ(processor.GetErrorKind(), kind) << expression;
      EXPECT_TRUE(Snapshot(&document) == before) << expression;
    }
  };
  check(nullptr);
  DocumentIndex index;
  index.Build(document.RootElement());  // writes its numbers once, before any evaluation uses it
  before = Snapshot(&document);
  check(&index);

  DoubledNumbers doubled(document.RootElement(), "1 + 2");
  EXPECT_EQ(doubled.ComputeString(), "false");
  EXPECT_EQ(doubled.GetErrorKind(), ErrorKind::Stack);
  EXPECT_TRUE(Snapshot(&document) == before);

  UnclosedSteps unclosed(document.RootElement(), "/inv/h");
  EXPECT_EQ(unclosed.ComputeNodeSet(), 0u);
  EXPECT_EQ(unclosed.GetErrorKind(), ErrorKind::Execution);
  EXPECT_EQ(unclosed.GetExecutionCode(), ExecutionCode::UnbalancedBlock);
  EXPECT_TRUE(Snapshot(&document) == before);
}

TEST(XPathRestore, ABaseWithSiblingsIsEvaluatedAloneAndGivenBack) {
  TiXmlDocument document;
  document.Parse("<a><b/><c k='c'><d/></c><e/></a>");
  TiXmlElement* a = document.RootElement();
  TiXmlNode* b = a->FirstChild();
  TiXmlNode* c = b->NextSibling();
  TiXmlNode* e = c->NextSibling();
  // Seen from c, the tree is c below the synthetic root: no parent, no
  // siblings, no following or preceding nodes beyond c's own subtree.
  const char* const cases[][2] = {
      {"count(/c/d)", "1"},
      {"count(/a)", "0"},
      {"count(/c/following-sibling::* | /c/preceding-sibling::*)", "0"},
      {"count(/c/following::* | /c/preceding::* | //d/following::*)", "0"},
      {"count(//d/ancestor::node())", "1"},
      {"count(/node() | /*)", "1"},
      {"count(//*)", "2"},
      {"name(/c/..)", "root"},
      {"name(..)", "root"},
      {"last()", "1"},
      {"position()", "1"},
      {"count(/c[1]) + count(/c[last()])", "2"},
      {"d", "d"},
      {"@k", "c"},
      {"1 +", "false"},
  };
  DocumentIndex index;
  const DocumentIndex* const indexes[] = {nullptr, &index};
  for (const DocumentIndex* given : indexes) {
    if (given != nullptr) index.Build(c);
    for (const auto& item : cases) {
      EXPECT_EQ(xpath_processor(c, item[0], given).ComputeString(), item[1]) << item[0] << (given ? " indexed" : "");
    }
  }
  EXPECT_EQ(c->Parent(), a);
  EXPECT_EQ(c->PreviousSibling(), b);
  EXPECT_EQ(c->NextSibling(), e);
  EXPECT_EQ(a->FirstChild(), b);
  EXPECT_EQ(a->LastChild(), e);
  EXPECT_EQ(b->NextSibling(), c);
  EXPECT_EQ(e->PreviousSibling(), c);

  // The first and the last child too.
  EXPECT_EQ(xpath_processor(b, "count(/b)").ComputeString(), "1");
  EXPECT_EQ(xpath_processor(e, "count(/e/..)").ComputeString(), "1");
  EXPECT_EQ(b->Parent(), a);
  EXPECT_EQ(b->PreviousSibling(), nullptr);
  EXPECT_EQ(e->NextSibling(), nullptr);
  EXPECT_EQ(e->PreviousSibling(), c);
}

// Many threads evaluating over one tree, with and without its index, get
// what one thread alone gets, and the tree stays as it was.
TEST(XPathRestore, ConcurrentEvaluationsAnswerAsSerialOnes) {
  std::string text = "<?xml version='1.0'?><!--c--><inv>";
  for (int i = 0; i < 300; ++i) {
    text += "<h k='" + std::to_string(i % 7) + "'><p/>t<q k='" + std::to_string(i) + "'/></h>";
  }
  text += "</inv>";
  TiXmlDocument document;
  document.Parse(text.c_str());
  DocumentIndex index;
  index.Build(document.RootElement());
  const std::vector<Links> before = Snapshot(&document);
  const char* const expressions[] = {
      "count(//p/ancestor::*)", "name(/inv/..)", "(//q | //p)[1]/@k", "//h[@k = 3]/q/@k", "//h[last()]/q",
      "count(//q/following::*)", "count(//h[299]/preceding::*)", "sum(//q/@k)", "//*[position() = 2]",
      "name((//q/.. | /inv)[2])", "count(/inv/h/following-sibling::h[1])", "last()", "//h[5] = //h", "1 +",
  };
  struct Answer {
    std::string text;
    std::vector<const void*> nodes;
    bool operator==(const Answer& o) const { return text == o.text && nodes == o.nodes; }
  };
  const DocumentIndex* const indexes[] = {nullptr, &index};
  auto evaluate = [&](std::size_t e, std::size_t i) {
    xpath_processor processor(document.RootElement(), expressions[e], indexes[i]);
    Answer answer{processor.ComputeString(), {}};
    for (unsigned n = 0, count = processor.ComputeNodeSet(); n < count; ++n) {
      answer.nodes.push_back(processor.GetNode(n) != nullptr ? static_cast<const void*>(processor.GetNode(n))
                                                             : processor.GetAttribute(n));
    }
    return answer;
  };
  const std::size_t kExpressions = sizeof(expressions) / sizeof(expressions[0]);
  std::vector<Answer> serial;
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t e = 0; e < kExpressions; ++e) serial.push_back(evaluate(e, i));
  }
  EXPECT_EQ(serial[0].text, "301");
  EXPECT_EQ(serial[kExpressions + 7].text, serial[7].text);

  const int kThreads = 8;
  std::vector<std::thread> threads;
  std::vector<int> wrong(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t round = 0; round < 3 * serial.size(); ++round) {
        const std::size_t k = (round + 5 * t) % serial.size();
        if (!(evaluate(k % kExpressions, k / kExpressions) == serial[k])) ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  EXPECT_TRUE(Snapshot(&document) == before);
}

TEST(XPathRestore, NoBaseOrNoExpressionIsExecutionErrorOne) {
  TiXmlDocument document;
  document.Parse("<inv/>");
  xpath_processor noBase(nullptr, "/inv");
  EXPECT_EQ(noBase.ComputeNodeSet(), 0u);
  EXPECT_EQ(noBase.GetNode(0), nullptr);
  EXPECT_EQ(noBase.GetErrorKind(), ErrorKind::Execution);
  EXPECT_EQ(noBase.GetExecutionCode(), ExecutionCode::NoBase);
  xpath_processor noExpression(document.RootElement(), nullptr);
  EXPECT_EQ(noExpression.ComputeString(), "false");
  EXPECT_EQ(noExpression.GetExecutionCode(), ExecutionCode::NoBase);
  xpath_processor empty(document.RootElement(), "");
  EXPECT_EQ(empty.ComputeString(), "false");
  EXPECT_EQ(empty.GetErrorKind(), ErrorKind::Syntax);
  EXPECT_EQ(empty.GetErrorText(), "main level");
}

}  // namespace
