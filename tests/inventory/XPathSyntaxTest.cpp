#include "XPathAnswer.h"
#include "inventory/XPathErrors.h"
#include "inventory/XPathStream.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <thread>

namespace {

using namespace XPath;
using testing_support::EvaluateXPath;

// Names that are operator words, axis names and node types elsewhere.
const char kNames[] =
    "<inv><a-b/><div/><child><text/></child><a:b/><p:c/><\xc3\xa9t\xc3\xa9_1/><x/><mod/><mod/></inv>";

TEST(XPathSyntax, ExpressionsDecodeAsWritten) {
  TiXmlDocument document;
  document.Parse(kNames);
  ASSERT_FALSE(document.Error());
  const char* const cases[][2] = {
      {"'x y'", "x y"}, {"\"a'b\" = concat('a', \"'\", 'b')", "true"}, {".5 + 2.", "2.5"}, {"1.5<=.5", "false"},
      {" \t\r\n1 \t\r\n", "1"},
      // A minus inside a name belongs to it; with blanks around it is an operator.
      {"count(a-b) - 1", "0"}, {"count(a-b)-1", "0"},
      // Operator words, axis names and node types are names where a name
      // is expected.
      {"count(div) div count(div)", "1"}, {"div div div", "error 33"},  // "div" is an element, whose number is 0
      {"count(mod) mod count(mod)", "0"}, {"count(/inv/child/text)", "1"}, {"count(child::child/text)", "1"},
      {"count(a:b | p:* | *)", "9"}, {"count(x/preceding-sibling::*)", "6"}, {"count(\xc3\xa9t\xc3\xa9_1)", "1"},
      // A node-type name with empty parentheses is a node test, with
      // arguments a function call.
      {"count(text())", "0"}, {"text(1)", "error 38"}, {"x/processing-instruction('x')", "error 42"},
      {"..//.|$v:w", "error 43"}, {"(1)[2]", "error 40"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateXPath(document.RootElement(), c[0]).text, c[1]) << c[0];

  // Failures name where decoding stopped.
  const char* const failures[][2] = {
      {"", "main level"},           {"a b", "main level"},       {"#", "main level"},
      {"/a/count(x)", "main level"}, {"unknown::x", "main level"}, {"1 +", "AdditiveExpr"},
      {"a[1", "Predicate"},         {"child::", "Step"},         {"(1", "PrimaryExpr"},
      {"count(1,)", "FunctionCall"}, {"a/", "RelativeLocationPath"}, {"//", "AbsoluteLocationPath"},
      {"a/text(1)", "NodeTest"},    {"count('abc)", ""},
  };
  for (const auto& c : failures) {
    xpath_processor processor(document.RootElement(), c[0]);
    EXPECT_EQ(processor.ComputeString(), "false") << c[0];
    EXPECT_EQ(processor.GetErrorKind(), ErrorKind::Syntax) << c[0];
    EXPECT_EQ(processor.GetErrorText().rfind(c[1], 0), 0u) << c[0] << ": " << processor.GetErrorText();
  }
  EXPECT_EQ(syntax_error(std::string(500, 'x')).Text().size(), 200u);
}

// Decodes only, to learn how many rule attempts an expression costs.
class AttemptCounter : public xpath_stream {
 public:
  explicit AttemptCounter(const std::string& expression) : xpath_stream(expression.c_str()) {}
  void action(int, int, int, const std::string&) override { ++actions_; }
  unsigned get_action_counter() const override { return actions_; }

 private:
  unsigned actions_ = 0;
};

TEST(XPathSyntax, TheAttemptLimitIsTenThousand) {
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

  TiXmlDocument document;
  document.Parse("<inv/>");
  EXPECT_NE(EvaluateXPath(document.RootElement(), exact).text, "overflow");
  EXPECT_EQ(EvaluateXPath(document.RootElement(), "-" + exact).text, "overflow");
}

std::string Repeat(const std::string& text, std::size_t count) {
  std::string result;
  for (std::size_t i = 0; i < count; ++i) result += text;
  return result;
}

TEST(XPathSyntax, HugeAndDeeplyNestedExpressionsFailCleanly) {
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
  // On a thread with the default stack, not the main thread's.
  std::thread thread([&] {
    for (const std::string& expression : cases) {
      EXPECT_EQ(EvaluateXPath(document.RootElement(), expression).text, "overflow") << expression.substr(0, 20);
    }
    // Long but simple expressions are fine.
    EXPECT_EQ(EvaluateXPath(document.RootElement(), std::string(100000, 'a')).text, "");
    const std::string literal = "string-length('" + std::string(100000, 'x') + "')";
    EXPECT_EQ(EvaluateXPath(document.RootElement(), literal).text, "100000");
    EXPECT_EQ(EvaluateXPath(document.RootElement(), "'" + std::string(100000, 'x')).text, "syntax error");
  });
  thread.join();
}

}  // namespace
