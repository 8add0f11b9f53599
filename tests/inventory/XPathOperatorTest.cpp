#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

namespace {

using namespace XPath;

class XPathOperators : public ::testing::Test {
 protected:
  void SetUp() override {
    document_.Parse("<inv><h k='1'/><t/><h k='6'/><z k='8'/></inv>");
    ASSERT_FALSE(document_.Error());
  }
  std::string S(const char* expression) {
    xpath_processor processor(document_.RootElement(), expression);
    std::string value = processor.ComputeString();
    lastKind_ = processor.GetResult().Kind();
    lastCode_ = processor.GetExecutionCode();
    return value;
  }
  int Code(const char* expression) {
    S(expression);
    return lastCode_;
  }
  TiXmlDocument document_;
  ResultKind lastKind_ = ResultKind::Invalid;
  int lastCode_ = 0;
};

TEST_F(XPathOperators, LogicEvaluatesBothOperands) {
  EXPECT_EQ(S("1 or 0"), "true");
  EXPECT_EQ(S("0 and 1"), "false");
  EXPECT_EQ(S("'' or /inv"), "true");
  // The right operand runs even when the left decides; here it finds the
  // context that the predicate cleared gone.
  EXPECT_EQ(Code("false() and count(/inv/h[1]) + position()"), ExecutionCode::PositionNoContext);
}

TEST_F(XPathOperators, EqualityByOperandKinds) {
  EXPECT_EQ(S("true() = 'x'"), "true");
  EXPECT_EQ(S("false() = 0"), "true");
  EXPECT_EQ(S("1 = '1.0'"), "true");     // numbers compared
  EXPECT_EQ(S("'1' = '1.0'"), "false");  // strings compared
  EXPECT_EQ(S("2 = 2.0"), "true");
  EXPECT_EQ(S("/inv/h/@k = '6'"), "true");
  EXPECT_EQ(S("/inv/h/@k = '7'"), "false");
  EXPECT_EQ(S("'6' = /inv/h/@k"), "true");
  EXPECT_EQ(S("/inv/h/@k = 6.9"), "true");  // entries read as integers, the other operand too
  EXPECT_EQ(S("/inv/h/@k = 7"), "false");
  EXPECT_EQ(S("/inv/h = true()"), "true");
  EXPECT_EQ(S("/inv/none = false()"), "true");
  EXPECT_EQ(S("/inv/h/@k != '6'"), "false");  // the negation of "="
  EXPECT_EQ(Code("/inv/h = /inv/z"), ExecutionCode::NodeSetComparison);
  EXPECT_EQ(Code("/inv/h != /inv/z"), ExecutionCode::NodeSetComparison);
}

TEST_F(XPathOperators, RelationsUseIntegersUnlessANumberTakesPart) {
  EXPECT_EQ(S("'10' > '9'"), "true");
  EXPECT_EQ(S("'1.5' < '1.7'"), "false");  // both read as 1
  EXPECT_EQ(S("1.5 < 1.7"), "true");
  EXPECT_EQ(S("'1.5' < 1.7"), "true");
  EXPECT_EQ(S("true() > 0"), "true");
  EXPECT_EQ(S("/inv/h/@k > 3"), "false");  // the first entry, 1
  EXPECT_EQ(S("/inv/h/@k >= 1"), "true");
  EXPECT_EQ(S("2 <= 2"), "true");
  EXPECT_EQ(S("'nan' + 0.5 < 1.5"), "false");
  EXPECT_EQ(S("'nan' + 0.5 >= 1.5"), "false");
}

TEST_F(XPathOperators, ArithmeticKeepsIntegersOfIntegerKinds) {
  EXPECT_EQ(S("7 - 2"), "5");
  EXPECT_EQ(lastKind_, ResultKind::Integer);
  EXPECT_EQ(S("'3' + '4'"), "7");
  EXPECT_EQ(S("'1.5' + 1"), "2");
  EXPECT_EQ(S("1.5 + 1"), "2.5");
  EXPECT_EQ(lastKind_, ResultKind::Number);
  EXPECT_EQ(S("2 * 1.5"), "3");
  EXPECT_EQ(S("true() + true()"), "2");
  EXPECT_EQ(S("/inv/h/@k * 3"), "3");
  // Unary minus: numbers stay numbers, anything else its integer value.
  EXPECT_EQ(S("-'5'"), "-5");
  EXPECT_EQ(S("-'1.5'"), "-1");
  EXPECT_EQ(S("-1.5"), "-1.5");
  EXPECT_EQ(S("- - 3"), "3");
  EXPECT_EQ(S("-true()"), "-1");
}

TEST_F(XPathOperators, DivisionAndRemainder) {
  EXPECT_EQ(S("7 div 2"), "3.5");
  EXPECT_EQ(S("6 div 2"), "3");
  EXPECT_EQ(lastKind_, ResultKind::Number);
  EXPECT_EQ(S("1 div 0.000001"), "1000000");
  EXPECT_EQ(Code("1 div 0"), ExecutionCode::DivisionByZero);
  EXPECT_EQ(Code("1 div 0.0000009"), ExecutionCode::DivisionByZero);
  EXPECT_EQ(Code("1 div -0.0000009"), ExecutionCode::DivisionByZero);
  EXPECT_EQ(Code("1 div 'x'"), ExecutionCode::DivisionByZero);
  EXPECT_EQ(S("7 mod 3"), "1");
  EXPECT_EQ(lastKind_, ResultKind::Integer);
  EXPECT_EQ(S("-7 mod 3"), "-1");
  EXPECT_EQ(S("7.9 mod 3"), "1");
  EXPECT_EQ(lastKind_, ResultKind::Number);
  EXPECT_EQ(S("'9' mod '4'"), "1");
  EXPECT_EQ(Code("7 mod 0"), ExecutionCode::ModuloByZero);
  EXPECT_EQ(Code("7 mod 0.5"), ExecutionCode::ModuloByZero);
}

// Inventories hold sizes in bytes: integers are exact through 64 bits, go to
// doubles beyond them, and nothing is held at a limit.
TEST(XPathWideIntegers, AroundTwoToThe31st32nd53rdAnd63rd) {
  TiXmlDocument document;
  document.Parse(
      "<inv><d s='2147483647'/><d s='2147483648'/><d s='4294967296'/><d s='1000204886016'/>"
      "<p free='300000001000'/><t>500107862016</t><t>500107862016</t><t>500107862016</t>"
      "<m v='9007199254740993'/><x v='9223372036854775807'/><y v='9223372036854775808'/>"
      "<z v='-9223372036854775808'/><w v='-2147483649'/></inv>");
  ASSERT_FALSE(document.Error());
  const ResultKind I = ResultKind::Integer, N = ResultKind::Number, B = ResultKind::Boolean;
  struct Case {
    const char* expression;
    const char* value;
    ResultKind kind;
  } cases[] = {
      // comparisons: node sets against numbers, relations, both ways round 2^63
      {"count(/inv/d[@s = 2147483648])", "1", I},
      {"count(/inv/d[@s > 2147483647])", "3", I},
      {"count(/inv/d[@s >= 4294967296])", "2", I},
      {"/inv/p/@free = 300000000000", "false", B},
      {"/inv/p/@free != 300000001000", "false", B},
      {"count(/inv/t[text() > 2147483647])", "3", I},
      {"/inv/w/@v < -2147483648", "true", B},
      {"/inv/m/@v > 9007199254740992", "true", B},
      {"/inv/m/@v = 9007199254740992", "false", B},
      {"9007199254740993 = 9007199254740992", "false", B},
      {"/inv/x/@v = 9223372036854775807", "true", B},
      {"/inv/x/@v < /inv/y/@v", "true", B},
      {"/inv/y/@v > 9223372036854775807", "true", B},
      {"/inv/y/@v = 9223372036854775808", "true", B},
      {"/inv/z/@v = -9223372036854775808", "true", B},
      {"/inv/z/@v < -9223372036854775807", "true", B},
      {"/inv/z/@v < -/inv/y/@v", "false", B},
      // sum: integer sums are 64-bit, then doubles
      {"sum(/inv/t/text())", "1500323586048", I},
      {"sum(/inv/d/@s)", "1008794820607", I},
      {"sum(/inv/x/@v | /inv/z/@v)", "-1", I},
      {"sum(/inv/x/@v | /inv/m/@v)", "9232379236109516800", N},
      {"sum(/inv/y/@v)", "9223372036854775808", N},
      // arithmetic: 64-bit, and doubles where that range ends
      {"2147483647 + 1", "2147483648", I},
      {"-2147483647 - 2", "-2147483649", I},
      {"/inv/d/@s * 2", "4294967294", I},
      {"4294967296 * 1073741823", "4611686014132420608", I},
      {"3037000499 * 3037000499", "9223372030926249001", I},
      {"9007199254740992 + 1", "9007199254740993", I},
      {"-2147483648 * 2147483648 * 2", "-9223372036854775808", I},
      {"9223372036854775807 + 1", "9223372036854775808", N},
      {"-(-9223372036854775807 - 1)", "9223372036854775808", N},
      {"-/inv/y/@v", "-9223372036854775808", N},
      {"/inv/y/@v - 1", "9223372036854775808", N},
      {"9223372036854775807 mod 10", "7", I},
      {"(-9223372036854775807 - 1) mod -1", "0", I},
      {"/inv/y/@v mod 10", "8", I},
      {"10 mod /inv/y/@v", "10", I},
      // floor and ceiling
      {"floor(10000000000.5)", "10000000000", I},
      {"ceiling(-10000000000.5)", "-10000000000", I},
      {"ceiling(-9223372036854775808.5)", "-9223372036854775808", I},
      {"floor(99999999999999999999.5)", "100000000000000000000", N},
      // places far beyond any node
      {"count(/inv/d[4294967297])", "0", I},
      {"count(/inv/d[99999999999999999999])", "0", I},
  };
  for (const Case& c : cases) {
    xpath_processor processor(document.RootElement(), c.expression);
    EXPECT_EQ(processor.ComputeString(), c.value) << c.expression;
    EXPECT_EQ(processor.GetResult().Kind(), c.kind) << c.expression;
  }
}

TEST_F(XPathOperators, UnionKeepsTheFirstSetsOrder) {
  xpath_processor processor(document_.RootElement(), "/inv/z | /inv/h | /inv/*");
  ASSERT_EQ(processor.ComputeNodeSet(), 4u);
  EXPECT_STREQ(processor.GetNode(0)->ToElement()->Attribute("k"), "8");
  EXPECT_STREQ(processor.GetNode(1)->ToElement()->Attribute("k"), "1");
  EXPECT_STREQ(processor.GetNode(2)->ToElement()->Attribute("k"), "6");
  EXPECT_STREQ(processor.GetNode(3)->Value(), "t");
  // Converted, a union still gives its first entry in document order.
  EXPECT_EQ(S("/inv/z | /inv/h/@k"), "1");
  EXPECT_EQ(S("count(/inv/h | /inv/h)"), "2");
  EXPECT_EQ(Code("'a' | /inv"), ExecutionCode::NotANodeSet);
  EXPECT_EQ(Code("/inv | 1"), ExecutionCode::NotANodeSet);
}

}  // namespace
