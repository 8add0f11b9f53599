#include "inventory/XPathProcessor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

namespace {

using namespace XPath;

class XPathFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    document_.Parse(
        "<inv>a<h k='1' n='1' m='1.5' f='1.0' big='2000000000'>x</h>b<h k='6' n='2' m='2' f='2' big='2000000000'/>"
        "<z k='8'/></inv>");
    ASSERT_FALSE(document_.Error());
  }
  std::string S(const char* expression) {
    xpath_processor processor(document_.RootElement(), expression);
    std::string value = processor.ComputeString();
    kind_ = processor.GetResult().Kind();
    code_ = processor.GetExecutionCode();
    error_ = processor.GetErrorKind();
    return value;
  }
  int Code(const char* expression) {
    S(expression);
    EXPECT_EQ(error_, code_ != 0 ? ErrorKind::Execution : ErrorKind::None) << expression;
    return code_;
  }
  TiXmlDocument document_;
  ResultKind kind_ = ResultKind::Invalid;
  ErrorKind error_ = ErrorKind::None;
  int code_ = 0;
};

TEST_F(XPathFunctions, Results) {
  EXPECT_EQ(S("ceiling(1.2)"), "2");
  EXPECT_EQ(kind_, ResultKind::Integer);
  EXPECT_EQ(S("ceiling(-1.2)"), "-1");
  EXPECT_EQ(S("floor(1.8)"), "1");
  EXPECT_EQ(S("floor(-1.2)"), "-2");
  EXPECT_EQ(S("ceiling(true())"), "1");
  EXPECT_EQ(S("floor(5)"), "5");
  EXPECT_EQ(S("ceiling('7')"), "0");  // any other kind gives 0
  EXPECT_EQ(S("floor(/inv/h/@k)"), "0");

  EXPECT_EQ(S("concat('a', 1, true(), 2.50, /inv/h/@k)"), "a1true2.51");
  EXPECT_EQ(S("concat('x')"), "x");
  EXPECT_EQ(S("contains('hello', 'ell')"), "true");
  EXPECT_EQ(S("contains('hello', 'elo')"), "false");
  EXPECT_EQ(S("contains('hello', '')"), "true");
  EXPECT_EQ(S("contains(/inv/h/@k, '6')"), "false");  // the first entry only
  EXPECT_EQ(S("count(/inv/h)"), "2");
  EXPECT_EQ(S("count('x')"), "0");
  EXPECT_EQ(S("count(/inv/h, /inv/z)"), "2");
  EXPECT_EQ(S("true()"), "true");
  EXPECT_EQ(S("false()"), "false");

  EXPECT_EQ(S("name(/inv/h/@k)"), "k");
  EXPECT_EQ(S("name(/inv/*)"), "h");
  EXPECT_EQ(S("name(/inv/z | /inv/h)"), "z");  // the first in set order
  EXPECT_EQ(S("name(/inv/none)"), "");
  EXPECT_EQ(S("name('x')"), "");
  EXPECT_EQ(S("normalize-space('  a \t\t b  ')"), "a b");
  EXPECT_EQ(S("normalize-space(' a\n b ')"), "a\n b");
  EXPECT_EQ(S("normalize-space('')"), "");
  EXPECT_EQ(S("not(0)"), "true");
  EXPECT_EQ(S("not(/inv)"), "false");
  EXPECT_EQ(S("starts-with('hello', 'he')"), "true");
  EXPECT_EQ(S("starts-with('he', 'hello')"), "false");
  EXPECT_EQ(S("starts-with('a', '')"), "true");
  EXPECT_EQ(S("string-length('h\xc3\xa9llo')"), "6");  // bytes
  EXPECT_EQ(S("string-length(/inv)"), "3");

  EXPECT_EQ(S("substring('hello', 2)"), "ello");
  EXPECT_EQ(S("substring('hello', 2, 3)"), "ell");
  EXPECT_EQ(S("substring('hello', 5)"), "o");
  EXPECT_EQ(S("substring('hello', 0)"), "");
  EXPECT_EQ(S("substring('hello', 6)"), "");
  EXPECT_EQ(S("substring('hello', 2, 10)"), "ello");
  EXPECT_EQ(S("substring('hello', 2, 0)"), "");
  EXPECT_EQ(S("substring('hello', 2, -1)"), "");
  EXPECT_EQ(S("substring('hello', 1.9)"), "hello");

  EXPECT_EQ(S("sum(/inv/h/@n)"), "3");
  EXPECT_EQ(kind_, ResultKind::Integer);
  EXPECT_EQ(S("sum(/inv/h/@m)"), "3.5");
  EXPECT_EQ(S("sum(/inv/h/@f)"), "3");
  EXPECT_EQ(kind_, ResultKind::Number);  // a "." made it a number sum
  EXPECT_EQ(S("sum(/inv/h/@big)"), "4000000000");
  EXPECT_EQ(S("sum(/inv/none)"), "0");

  EXPECT_EQ(S("position()"), "1");  // the base node before any predicate
  EXPECT_EQ(S("last()"), "1");
}

TEST_F(XPathFunctions, ArgumentChecksAndContext) {
  struct Case {
    const char* expression;
    int code;
  } cases[] = {
      {"nosuch()", 13},          {"Count(/inv)", 13},       {"ceiling()", 14},
      {"ceiling(1, 2)", 14},     {"concat()", 15},          {"contains('a')", 16},
      {"count()", 17},           {"false(1)", 18},          {"floor()", 19},
      {"last(1)", 20},           {"name()", 22},            {"name(/inv, /inv)", 22},
      {"normalize-space()", 23}, {"not()", 24},             {"position(1)", 25},
      {"starts-with('a')", 27},  {"string-length()", 28},   {"substring('a')", 29},
      {"substring('a', 1, 2, 3)", 29}, {"sum()", 30},       {"sum(/inv, /inv)", 30},
      {"sum('1')", 31},          {"true(1)", 32},           {"text(1)", 38},
      // a predicate ran, so there is no context element any more
      {"count(/inv/h[1]) + last()", 21},
      {"count(/inv/h[1]) + position()", 26},
      // counts are checked before the arguments run
      {"true(1 div 0)", 32},
      {"count(1 div 0)", 33},
  };
  for (const Case& c : cases) EXPECT_EQ(Code(c.expression), c.code) << c.expression;
  EXPECT_EQ(S("nosuch()"), "false");
}

}  // namespace
