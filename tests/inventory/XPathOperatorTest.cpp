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
  // No wrap-around: the exact value as a number.
  EXPECT_EQ(S("2147483647 + 1"), "2147483648");
  EXPECT_EQ(S("65536 * 65536"), "4294967296");
  EXPECT_EQ(S("-2147483647 - 2"), "-2147483649");
  EXPECT_EQ(S("-(-2147483647 - 1)"), "2147483648");
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
  EXPECT_EQ(S("(-2147483648) mod -1"), "0");
  EXPECT_EQ(S("(-2147483647 - 1) mod -1"), "0");
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
