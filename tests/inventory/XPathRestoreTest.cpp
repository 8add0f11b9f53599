#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace XPath;

// Every link and text of a tree, to compare before and after.
struct Links {
  const TiXmlNode* node;
  const TiXmlNode* parent;
  const TiXmlNode* previous;
  const TiXmlNode* next;
  const TiXmlNode* first;
  const TiXmlNode* last;
  std::string text;
  bool operator==(const Links& o) const {
    return node == o.node && parent == o.parent && previous == o.previous && next == o.next && first == o.first &&
           last == o.last && text == o.text;
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
                          node->LastChild(), text});
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

TEST(XPathRestore, TheTreeIsTheSameAfterEveryKindOfOutcome) {
  TiXmlDocument document;
  document.Parse(kTree);
  ASSERT_FALSE(document.Error());
  const std::vector<Links> before = Snapshot(&document);
  const std::string open(3000, '(');
  const std::string deep = open + "1" + std::string(3000, ')');
  const char* const expressions[] = {
      "/inv/h", "count(//*)", "//p/ancestor::*", "/inv/..", "/", "//h[2]/preceding::*", "//@k | //q",
      "name(/inv/h/following::*)", "1 +", deep.c_str(), "1 div 0", "/inv/namespace::x", "nosuch()",
      "count(/inv/h[1]) + position()", "/inv/h = /inv/h",
  };
  for (const char* expression : expressions) {
    xpath_processor processor(document.RootElement(), expression);
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
  auto string = [&](const char* expression) { return xpath_processor(c, expression).ComputeString(); };
  EXPECT_EQ(string("count(/c/d)"), "1");
  EXPECT_EQ(string("count(/a)"), "0");
  EXPECT_EQ(string("count(/c/following-sibling::* | /c/preceding-sibling::*)"), "0");
  EXPECT_EQ(string("count(//*)"), "2");
  EXPECT_EQ(string("name(/c/..)"), "root");
  EXPECT_EQ(string("name(..)"), "root");
  EXPECT_EQ(string("d"), "d");
  EXPECT_EQ(string("@k"), "c");
  EXPECT_EQ(string("1 +"), "false");
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

TEST(XPathRestore, DocumentOrderNumbersStayInTheUserData) {
  TiXmlDocument document;
  document.Parse("<inv><h/>t<z/></inv>");
  TiXmlElement* inv = document.RootElement();
  xpath_processor processor(inv, "/inv/z | /inv/h");
  EXPECT_EQ(processor.ComputeString(), "h");
  EXPECT_EQ(inv->GetUserData(), reinterpret_cast<void*>(2));  // the synthetic root was 1
  EXPECT_EQ(inv->FirstChild()->GetUserData(), reinterpret_cast<void*>(3));
  EXPECT_EQ(inv->FirstChild()->NextSibling()->GetUserData(), reinterpret_cast<void*>(4));
  EXPECT_EQ(inv->LastChild()->GetUserData(), reinterpret_cast<void*>(5));
}

TEST(XPathRestore, EvaluationsOnSeveralThreadsLeaveOneTreeIntact) {
  std::string text = "<inv>";
  for (int i = 0; i < 3000; ++i) text += "<h><p/></h>";
  text += "</inv>";
  TiXmlDocument document;
  document.Parse(text.c_str());
  const std::vector<Links> before = Snapshot(&document);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        xpath_processor processor(document.RootElement(), t % 2 == 0 ? "count(//p/ancestor::*)" : "name(/inv/..)");
        if (processor.ComputeString() != (t % 2 == 0 ? "3001" : "root")) ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
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
