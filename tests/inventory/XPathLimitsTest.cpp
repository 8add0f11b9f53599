#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace {

using namespace XPath;

// Decodes only, to learn how many rule attempts an expression costs.
class AttemptCounter : public xpath_stream {
 public:
  explicit AttemptCounter(const std::string& expression) : xpath_stream(expression.c_str()) {}
  void action(int, int, int, const std::string&) override { ++actions_; }
  unsigned get_action_counter() const override { return actions_; }

 private:
  unsigned actions_ = 0;
};

std::string Repeat(const std::string& text, std::size_t count) {
  std::string result;
  result.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) result += text;
  return result;
}

// On a thread with the default stack, not the main thread's.
void OnThread(const std::function<void()>& work) {
  std::thread thread(work);
  thread.join();
}

TEST(XPathLimits, TheAttemptLimitIsTenThousand) {
  // "1+1+...": find the longest sum that decodes, then pad it with unary
  // minus signs (one attempt each) to exactly 10000 attempts.
  std::string sum = "1";
  for (;;) {
    AttemptCounter longer(sum + "+1");
    longer.decode();
    if (longer.DecodeAttempts() > 9000) break;
    sum += "+1";
  }
  AttemptCounter base(sum);
  base.decode();
  ASSERT_LE(base.DecodeAttempts(), 10000u);
  const std::string exact = std::string(10000 - base.DecodeAttempts(), '-') + sum;
  AttemptCounter limit(exact);
  limit.decode();
  EXPECT_EQ(limit.DecodeAttempts(), 10000u);
  AttemptCounter over("-" + exact);
  EXPECT_THROW(over.decode(), syntax_overflow);

  TiXmlDocument document;
  document.Parse("<inv/>");
  xpath_processor atLimit(document.RootElement(), exact.c_str());
  atLimit.ComputeString();
  EXPECT_EQ(atLimit.GetErrorKind(), ErrorKind::None);
  xpath_processor pastLimit(document.RootElement(), ("-" + exact).c_str());
  EXPECT_EQ(pastLimit.ComputeString(), "false");
  EXPECT_EQ(pastLimit.GetErrorKind(), ErrorKind::Overflow);
}

TEST(XPathLimits, HugeAndDeeplyNestedExpressionsFailCleanly) {
  TiXmlDocument document;
  document.Parse("<inv><a/></inv>");
  const std::string cases[] = {
      Repeat("(", 5000) + "1" + Repeat(")", 5000),
      Repeat("(", 100000),
      Repeat("1+", 50000) + "1",
      Repeat("-", 100000) + "1",
      "/inv" + Repeat("[a", 30000),
      Repeat("f(", 40000),
      Repeat("a/", 50000) + "a",
      Repeat("not(", 20000) + "1" + Repeat(")", 20000),
  };
  OnThread([&] {
    for (const std::string& expression : cases) {
      xpath_processor processor(document.RootElement(), expression.c_str());
      EXPECT_EQ(processor.ComputeNodeSet(), 0u);
      EXPECT_EQ(processor.GetErrorKind(), ErrorKind::Overflow) << expression.substr(0, 20);
      EXPECT_EQ(document.RootElement()->Parent(), &document);
    }
    // Long but simple expressions are fine.
    const std::string name(100000, 'a');
    xpath_processor longName(document.RootElement(), name.c_str());
    EXPECT_EQ(longName.ComputeNodeSet(), 0u);
    EXPECT_EQ(longName.GetErrorKind(), ErrorKind::None);
    const std::string literal = "string-length('" + std::string(100000, 'x') + "')";
    EXPECT_EQ(xpath_processor(document.RootElement(), literal.c_str()).ComputeString(), "100000");
    const std::string unclosed = "'" + std::string(100000, 'x');
    xpath_processor syntax(document.RootElement(), unclosed.c_str());
    EXPECT_EQ(syntax.ComputeString(), "false");
    EXPECT_EQ(syntax.GetErrorKind(), ErrorKind::Syntax);
  });
}

TEST(XPathLimits, DeepDocumentsAreWalkedWithoutRecursion) {
  TiXmlDocument document;
  document.Parse("<top/>");
  TiXmlNode* node = document.RootElement();
  for (int i = 0; i < 3000; ++i) node = node->LinkEndChild(new TiXmlElement(i % 2 == 0 ? "x" : "y"));
  OnThread([&] {
    EXPECT_EQ(xpath_processor(document.RootElement(), "count(//y)").ComputeString(), "1500");
    EXPECT_EQ(xpath_processor(document.RootElement(), "count(//x/ancestor::y)").ComputeString(), "1499");
    EXPECT_EQ(xpath_processor(document.RootElement(), "count(//y/following::*)").ComputeString(), "0");
    EXPECT_EQ(xpath_processor(document.RootElement(), "count((//y | //x)/..)").ComputeString(), "3000");
  });
}

// An evaluation that would walk the document once per node of it stops
// at the work budget with an execution error; passes over the document
// stay far below it, and the count is the same on every run.
TEST(XPathLimits, WorkBeyondTheBudgetIsAnExecutionError) {
  std::string text = "<inventory><software>";
  for (int i = 0; i < 20000; ++i) text += "<product name='p" + std::to_string(i) + "' vendor='v'/>";
  text += "</software></inventory>";
  TiXmlDocument document;
  document.Parse(text.c_str());
  DocumentIndex index;
  index.Build(document.RootElement());
  const DocumentIndex* const indexes[] = {nullptr, &index};
  for (const DocumentIndex* given : indexes) {
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
