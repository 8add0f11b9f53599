#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cmath>
#include <limits>

namespace {

using namespace XPath;

TEST(XPathConversion, NumbersPrintWithoutTrailingZeros) {
  EXPECT_EQ(FormatNumber(2.5), "2.5");
  EXPECT_EQ(FormatNumber(3.0), "3");
  EXPECT_EQ(FormatNumber(-2.5), "-2.5");
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(100.0), "100");
  EXPECT_EQ(FormatNumber(123456.789), "123456.789");
  EXPECT_EQ(FormatNumber(1.0 / 3.0), "0.333333");
  EXPECT_EQ(FormatNumber(2.0000004), "2");
  EXPECT_EQ(FormatNumber(1e20), "100000000000000000000");
  EXPECT_EQ(FormatNumber(1e-7), "0");
  EXPECT_EQ(FormatNumber(-1e-7), "0");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(FormatNumber(std::numeric_limits<double>::infinity()), "Infinity");
  EXPECT_EQ(FormatNumber(-std::numeric_limits<double>::infinity()), "-Infinity");
  EXPECT_EQ(FormatNumber(1.7976931348623157e308).size(), 309u);
}

TEST(XPathConversion, TextReadsLikeAtoiAndAtof) {
  EXPECT_EQ(LeadingInteger("42abc"), 42);
  EXPECT_EQ(LeadingInteger(" \t-7"), -7);
  EXPECT_EQ(LeadingInteger("+5"), 5);
  EXPECT_EQ(LeadingInteger("1.9"), 1);
  EXPECT_EQ(LeadingInteger("abc"), 0);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger("99999999999"), 2147483647);
  EXPECT_EQ(LeadingInteger("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(LeadingInteger("-2147483648"), -2147483647 - 1);

  EXPECT_DOUBLE_EQ(LeadingNumber("1.5x"), 1.5);
  EXPECT_DOUBLE_EQ(LeadingNumber(" -2e3"), -2000);
  EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("+.25"), 0.25);
  EXPECT_DOUBLE_EQ(LeadingNumber("0x10"), 16);
  EXPECT_DOUBLE_EQ(LeadingNumber("abc"), 0);
  EXPECT_DOUBLE_EQ(LeadingNumber("--1"), 0);
  EXPECT_DOUBLE_EQ(LeadingNumber("1e-999"), 0);
  EXPECT_TRUE(std::isinf(LeadingNumber("1e999")));
  EXPECT_TRUE(std::isinf(LeadingNumber("-inf")));
  EXPECT_TRUE(std::isnan(LeadingNumber("nan")));

  EXPECT_EQ(NumberToInteger(2.9), 2);
  EXPECT_EQ(NumberToInteger(-2.9), -2);
  EXPECT_EQ(NumberToInteger(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(NumberToInteger(1e20), 2147483647);
  EXPECT_EQ(NumberToInteger(-1e20), -2147483647 - 1);
}

class XPathComputed : public ::testing::Test {
 protected:
  void SetUp() override {
    document_.Parse("<inv><item id='7x' n='2.5'>first</item><item id='2'/><empty/></inv>");
    ASSERT_FALSE(document_.Error());
  }
  std::string S(const char* e) { return xpath_processor(document_.RootElement(), e).ComputeString(); }
  std::int32_t I(const char* e) { return xpath_processor(document_.RootElement(), e).ComputeInteger(); }
  double N(const char* e) { return xpath_processor(document_.RootElement(), e).ComputeNumber(); }
  bool B(const char* e) { return xpath_processor(document_.RootElement(), e).ComputeBoolean(); }
  TiXmlDocument document_;
};

TEST_F(XPathComputed, EveryKindConvertsByTheTable) {
  // boolean
  EXPECT_EQ(S("true()"), "true");
  EXPECT_EQ(S("false()"), "false");
  EXPECT_EQ(I("true()"), 1);
  EXPECT_DOUBLE_EQ(N("true()"), 1.0);
  // string
  EXPECT_EQ(S("'abc'"), "abc");
  EXPECT_EQ(I("'12abc'"), 12);
  EXPECT_DOUBLE_EQ(N("'1.5e1x'"), 15.0);
  EXPECT_FALSE(B("''"));
  EXPECT_TRUE(B("'0'"));
  // integer
  EXPECT_EQ(S("7"), "7");
  EXPECT_EQ(S("-7"), "-7");
  EXPECT_FALSE(B("0"));
  EXPECT_DOUBLE_EQ(N("7"), 7.0);
  // number
  EXPECT_EQ(S("1.0"), "1");
  EXPECT_EQ(S("10 div 4"), "2.5");
  EXPECT_EQ(I("-2.7"), -2);
  EXPECT_FALSE(B("0.0"));
  EXPECT_TRUE(B("0.5"));
  EXPECT_EQ(S("'nan' + 0.5"), "NaN");
  EXPECT_FALSE(B("'nan' + 0.5"));
  EXPECT_EQ(I("'nan' + 0.5"), 0);
  EXPECT_EQ(S("'inf' * 1.5"), "Infinity");
  EXPECT_EQ(S("'-inf' * 1.5"), "-Infinity");
  EXPECT_EQ(S("99999999999"), "99999999999");
  // node set: the first entry in document order; an element gives its name
  EXPECT_EQ(S("/inv"), "inv");
  EXPECT_EQ(S("/inv/item"), "item");
  EXPECT_EQ(S("/inv/item/@id"), "7x");
  EXPECT_EQ(I("/inv/item/@id"), 7);
  EXPECT_DOUBLE_EQ(N("/inv/item/@n"), 2.5);
  EXPECT_EQ(S("/inv/item/text()"), "first");
  EXPECT_EQ(S("/inv/none"), "");
  EXPECT_EQ(I("/inv/none"), 0);
  EXPECT_FALSE(B("/inv/none"));
  EXPECT_TRUE(B("/inv/empty"));
  // invalid: every failure
  EXPECT_EQ(S("1 div 0"), "false");
  EXPECT_EQ(I("1 div 0"), 0);
  EXPECT_FALSE(B("1 div 0"));
  EXPECT_DOUBLE_EQ(N("1 div 0"), 0.0);
}

TEST_F(XPathComputed, ResultKindsFollowTheLiterals) {
  xpath_processor integer(document_.RootElement(), "2");
  integer.ComputeString();
  EXPECT_EQ(integer.GetResult().Kind(), ResultKind::Integer);
  xpath_processor number(document_.RootElement(), "2.");
  number.ComputeString();
  EXPECT_EQ(number.GetResult().Kind(), ResultKind::Number);
  xpath_processor big(document_.RootElement(), "2147483648");
  EXPECT_EQ(big.ComputeString(), "2147483648");
  EXPECT_EQ(big.GetResult().Kind(), ResultKind::Number);
  xpath_processor failed(document_.RootElement(), "1 +");
  failed.ComputeString();
  EXPECT_EQ(failed.GetResult().Kind(), ResultKind::Invalid);
}

}  // namespace
