#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

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
  const double kTwo63 = 9223372036854775808.0;
  const double kInfinity = std::numeric_limits<double>::infinity();
  // Leading digits are exact within 64 bits; beyond them they give their
  // double value, never a value held at some limit.
  struct Leading {
    std::string text;
    bool fits;
    std::int64_t exact;
    double beyond;
  } leading[] = {
      {"42abc", true, 42, 0},
      {" \t-7", true, -7, 0},
      {"+5", true, 5, 0},
      {"1.9", true, 1, 0},
      {"abc", true, 0, 0},
      {"", true, 0, 0},
      {"2147483648", true, 2147483648LL, 0},
      {"-2147483649", true, -2147483649LL, 0},
      {"1000204886016 bytes", true, 1000204886016LL, 0},
      {"9223372036854775807", true, std::numeric_limits<std::int64_t>::max(), 0},
      {"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min(), 0},
      {"000000000000000000000000042", true, 42, 0},
      {"9223372036854775808", false, 0, kTwo63},
      {"-9223372036854775809", false, 0, -kTwo63},
      {"18446744073709551617", false, 0, 18446744073709551616.0},
      {"123456789012345678901234567890", false, 0, 1.2345678901234568e29},
      {std::string(400, '9'), false, 0, kInfinity},
  };
  for (const Leading& row : leading) {
    IntegerValue value = LeadingInteger(row.text);
    EXPECT_EQ(value.fits, row.fits) << row.text;
    EXPECT_EQ(value.fits ? static_cast<double>(value.exact) : value.beyond,
              row.fits ? static_cast<double>(row.exact) : row.beyond) << row.text;
    if (value.fits && row.fits) {
      EXPECT_EQ(value.exact, row.exact) << row.text;
    }
  }

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

  struct Truncated {
    double number;
    bool fits;
    std::int64_t exact;
  } truncated[] = {
      {2.9, true, 2},
      {-2.9, true, -2},
      {std::numeric_limits<double>::quiet_NaN(), true, 0},
      {1e10 + 0.5, true, 10000000000LL},
      {-kTwo63, true, std::numeric_limits<std::int64_t>::min()},
      {9223372036854774784.0, true, 9223372036854774784LL},  // the last double below 2^63
      {kTwo63, false, 0},
      {-1e20, false, 0},
      {kInfinity, false, 0},
  };
  for (const Truncated& row : truncated) {
    IntegerValue value = NumberToInteger(row.number);
    EXPECT_EQ(value.fits, row.fits) << row.number;
    EXPECT_EQ(value.fits ? static_cast<double>(value.exact) : value.beyond, row.fits ? row.exact : row.number);
  }
}

class XPathComputed : public ::testing::Test {
 protected:
  void SetUp() override {
    document_.Parse("<inv><item id='7x' n='2.5'>first</item><item id='2'/><empty/></inv>");
    ASSERT_FALSE(document_.Error());
  }
  std::string S(const char* e) { return xpath_processor(document_.RootElement(), e).ComputeString(); }
  std::int64_t I(const char* e) { return xpath_processor(document_.RootElement(), e).ComputeInteger(); }
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
  xpath_processor big(document_.RootElement(), "9223372036854775807");
  EXPECT_EQ(big.ComputeString(), "9223372036854775807");
  EXPECT_EQ(big.GetResult().Kind(), ResultKind::Integer);
  xpath_processor bigger(document_.RootElement(), "9223372036854775808");
  EXPECT_EQ(bigger.ComputeString(), "9223372036854775808");
  EXPECT_EQ(bigger.GetResult().Kind(), ResultKind::Number);
  EXPECT_EQ(bigger.ComputeInteger(), std::numeric_limits<std::int64_t>::max());
  xpath_processor failed(document_.RootElement(), "1 +");
  failed.ComputeString();
  EXPECT_EQ(failed.GetResult().Kind(), ResultKind::Invalid);
}

}  // namespace
