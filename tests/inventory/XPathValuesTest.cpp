#include "XPathAnswer.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

using namespace XPath;
using testing_support::EvaluateXPath;
using testing_support::XPathAnswer;

struct Case {
  const char* expression;
  const char* value;  // the string value, or "error <code>"
  char kind = 0;      // 'B'oolean, 'S'tring, 'I'nteger, 'N'umber, 'E'ntries; 0: not checked
};

ResultKind KindOf(char kind) {
  switch (kind) {
    case 'B': return ResultKind::Boolean;
    case 'S': return ResultKind::String;
    case 'I': return ResultKind::Integer;
    case 'N': return ResultKind::Number;
    case 'E': return ResultKind::NodeSet;
    default: return ResultKind::Invalid;
  }
}

void ExpectAll(const char* xml, const Case* begin, const Case* end) {
  TiXmlDocument document;
  document.Parse(xml);
  ASSERT_FALSE(document.Error());
  for (const Case* c = begin; c != end; ++c) {
    const XPathAnswer answer = EvaluateXPath(document.RootElement(), c->expression);
    EXPECT_EQ(answer.text, c->value) << c->expression;
    if (c->kind != 0) {
      EXPECT_EQ(answer.kind, KindOf(c->kind)) << c->expression;
    }
  }
}

const char kInventory[] =
    "<inv>a<h k='1' n='1' m='1.5' f='1.0' big='2000000000'>x</h>b<h k='6' n='2' m='2' f='2' big='2000000000'/>"
    "<z k='8'/><item id='7x' n='2.5'>first</item><item id='2'/><empty/></inv>";

TEST(XPathValues, ConversionsAndOperatorsByOperandKinds) {
  const Case cases[] = {
      // Literals: an integer when it fits 64 bits and has no point.
      {"2", "2", 'I'}, {"2.", "2", 'N'}, {"9223372036854775807", "9223372036854775807", 'I'},
      {"9223372036854775808", "9223372036854775808", 'N'}, {"'abc'", "abc", 'S'},
      // Numbers print without trailing zeros, six decimals at most.
      {"10 div 4", "2.5", 'N'}, {"1.0", "1"}, {"-2.50", "-2.5"}, {"1 div 3", "0.333333"}, {"2.0000004", "2"},
      {"-0.0000001", "0"}, {"100000000000000000000.0", "100000000000000000000"}, {"'nan' + 0.5", "NaN"},
      {"'inf' * 1.5", "Infinity"}, {"'-inf' * 1.5", "-Infinity"},
      // Strings read as atoi and atof read them; node sets by their first
      // entry in document order, an element by its name.
      {"'12abc' + 0", "12"}, {"' \t-7' + 0", "-7"}, {"'1.5e1x' * 1.0", "15"}, {"'.5' * 1.0", "0.5"},
      {"'abc' + 0", "0"}, {"/inv", "inv", 'E'}, {"/inv/item/@id", "7x"}, {"/inv/item/@id + 0", "7"},
      {"/inv/item/text()", "first"}, {"/inv/none", ""}, {"/inv/none + 0", "0"}, {"/inv/z | /inv/h/@k", "1"},
      // Booleans.
      {"not('')", "true"}, {"not('0')", "false"}, {"not(0.0)", "true"}, {"not('nan' + 0.5)", "true"},
      {"not(/inv/empty)", "false"}, {"1 or 0", "true", 'B'}, {"0 and 1", "false"}, {"'' or /inv", "true"},
      // "=": booleans, then numbers, then strings; node sets by any entry,
      // read as integers against a number.
      {"true() = 'x'", "true", 'B'}, {"false() = 0", "true"}, {"1 = '1.0'", "true"}, {"'1' = '1.0'", "false"},
      {"2 = 2.0", "true"}, {"/inv/h/@k = '6'", "true"}, {"'6' = /inv/h/@k", "true"}, {"/inv/h/@k = 6.9", "true"},
      {"/inv/h/@k = 7", "false"}, {"/inv/h = true()", "true"}, {"/inv/none = false()", "true"},
      {"/inv/h/@k != '6'", "false"},  // the negation of "="
      {"/inv/h = /inv/z", "error 44"},
      // Relations: integer values unless a number with fraction takes part.
      {"'10' > '9'", "true"}, {"'1.5' < '1.7'", "false"}, {"'1.5' < 1.7", "true"}, {"true() > 0", "true"},
      {"/inv/h/@k > 3", "false"}, {"2 <= 2", "true"}, {"'nan' + 0.5 < 1.5", "false"}, {"'nan' + 0.5 >= 1.5", "false"},
      // Arithmetic: integers of integer kinds; precedence and associativity.
      {"1 + 2 * 3", "7", 'I'}, {"1 - 2 - 3", "-4"}, {"-1 = 2 or 3 < 4 and 5", "true"}, {"'3' + '4'", "7", 'I'},
      {"'1.5' + 1", "2"}, {"1.5 + 1", "2.5", 'N'}, {"2 * 1.5", "3", 'N'}, {"true() + true()", "2"},
      {"/inv/h/@k * 3", "3"}, {"-'1.5'", "-1", 'I'}, {"-1.5", "-1.5"}, {"- - 3", "3"}, {"-true()", "-1"},
      {"6 div 2", "3", 'N'}, {"1 div 0.000001", "1000000"}, {"1 div 0", "error 33"}, {"1 div -0.0000009", "error 33"},
      {"1 div 'x'", "error 33"}, {"7 mod 3", "1", 'I'}, {"-7 mod 3", "-1"}, {"7.9 mod 3", "1", 'N'},
      {"7 mod 0.5", "error 37"},
      // Union: the first set's entries, then the others not present.
      {"count(/inv/h | /inv/h)", "2"}, {"'a' | /inv", "error 40"}, {"/inv | 1", "error 40"},
  };
  ExpectAll(kInventory, std::begin(cases), std::end(cases));
}

TEST(XPathValues, Functions) {
  const Case cases[] = {
      {"ceiling(1.2)", "2", 'I'}, {"ceiling(-1.2)", "-1"}, {"floor(-1.2)", "-2"}, {"ceiling(true())", "1"},
      {"floor(5)", "5"}, {"ceiling('7')", "0"},  // any other kind gives 0
      {"floor(/inv/h/@k)", "0"}, {"concat('a', 1, true(), 2.50, /inv/h/@k)", "a1true2.51", 'S'},
      {"contains('hello', 'ell')", "true", 'B'}, {"contains('hello', 'elo')", "false"},
      {"contains('hello', '')", "true"}, {"contains(/inv/h/@k, '6')", "false"},  // the first entry only
      {"count(/inv/h)", "2", 'I'}, {"count('x')", "0"}, {"count(/inv/h, /inv/z)", "2"}, {"name(/inv/h/@k)", "k"},
      {"name(/inv/*)", "h"}, {"name(/inv/z | /inv/h)", "z"},  // the first in set order
      {"name(/inv/none)", ""}, {"name('x')", ""}, {"normalize-space('  a \t\t b  ')", "a b"},
      {"normalize-space(' a\n b ')", "a\n b"}, {"not(/inv)", "false"}, {"starts-with('hello', 'he')", "true"},
      {"starts-with('he', 'hello')", "false"}, {"string-length('h\xc3\xa9llo')", "6"},  // bytes
      {"string-length(/inv)", "3"}, {"substring('hello', 2)", "ello"}, {"substring('hello', 2, 3)", "ell"},
      {"substring('hello', 5)", "o"}, {"substring('hello', 0)", ""}, {"substring('hello', 6)", ""},
      {"substring('hello', 2, 10)", "ello"}, {"substring('hello', 2, -1)", ""}, {"substring('hello', 1.9)", "hello"},
      {"sum(/inv/h/@n)", "3", 'I'}, {"sum(/inv/h/@m)", "3.5", 'N'},
      {"sum(/inv/h/@f)", "3", 'N'},  // a "." made it a number sum
      {"sum(/inv/h/@big)", "4000000000", 'I'}, {"sum(/inv/none)", "0"}, {"/inv/h[text()]/@k", "1"},
      {"/inv/h[text() = 'x']/@k", "1"},
      // Argument counts are checked before the arguments run.
      {"nosuch()", "error 13"}, {"Count(/inv)", "error 13"}, {"ceiling(1, 2)", "error 14"}, {"concat()", "error 15"},
      {"contains('a')", "error 16"}, {"count()", "error 17"}, {"false(1)", "error 18"}, {"floor()", "error 19"},
      {"last(1)", "error 20"}, {"name(/inv, /inv)", "error 22"}, {"normalize-space()", "error 23"},
      {"not()", "error 24"}, {"position(1)", "error 25"}, {"starts-with('a')", "error 27"},
      {"string-length()", "error 28"}, {"substring('a', 1, 2, 3)", "error 29"}, {"sum(/inv, /inv)", "error 30"},
      {"sum('1')", "error 31"}, {"true(1 div 0)", "error 32"}, {"count(1 div 0)", "error 33"},
      {"text(1)", "error 38"},
  };
  ExpectAll(kInventory, std::begin(cases), std::end(cases));
}

// Inventories hold sizes in bytes: integers are exact through 64 bits, go to
// doubles beyond them, and nothing is held at a limit.
TEST(XPathValues, IntegersAroundTwoToThe31st32nd53rdAnd63rd) {
  const char xml[] =
      "<inv><d s='2147483647'/><d s='2147483648'/><d s='4294967296'/><d s='1000204886016'/>"
      "<p free='300000001000'/><t>500107862016</t><t>500107862016</t><t>500107862016</t>"
      "<m v='9007199254740993'/><x v='9223372036854775807'/><y v='9223372036854775808'/>"
      "<z v='-9223372036854775808'/><w v='-2147483649'/><b v='000000000000000000000000042'/></inv>";
  const Case cases[] = {
      // comparisons: node sets against numbers, relations, both ways round 2^63
      {"count(/inv/d[@s = 2147483648])", "1"}, {"count(/inv/d[@s > 2147483647])", "3"},
      {"count(/inv/d[@s >= 4294967296])", "2"}, {"/inv/p/@free = 300000000000", "false"},
      {"/inv/p/@free != 300000001000", "false"}, {"count(/inv/t[text() > 2147483647])", "3"},
      {"/inv/w/@v < -2147483648", "true"}, {"/inv/m/@v > 9007199254740992", "true"},
      {"/inv/m/@v = 9007199254740992", "false"}, {"9007199254740993 = 9007199254740992", "false"},
      {"/inv/x/@v = 9223372036854775807", "true"}, {"/inv/x/@v < /inv/y/@v", "true"},
      {"/inv/y/@v > 9223372036854775807", "true"}, {"/inv/y/@v = 9223372036854775808", "true"},
      {"/inv/z/@v = -9223372036854775808", "true"}, {"/inv/z/@v < -9223372036854775807", "true"},
      {"/inv/z/@v < -/inv/y/@v", "false"}, {"/inv/b/@v = 42", "true"},  // leading zeros: still fits
      {"'-9223372036854775809' < -9223372036854775807", "true"},
      {"'18446744073709551617' > 9223372036854775807", "true"},
      {"'123456789012345678901234567890' * 1", "123456789012345677877719597056", 'N'},
      // sum: integer sums are 64-bit, then doubles
      {"sum(/inv/t/text())", "1500323586048", 'I'}, {"sum(/inv/d/@s)", "1008794820607", 'I'},
      {"sum(/inv/x/@v | /inv/z/@v)", "-1", 'I'}, {"sum(/inv/x/@v | /inv/m/@v)", "9232379236109516800", 'N'},
      {"sum(/inv/y/@v)", "9223372036854775808", 'N'},
      // arithmetic: 64-bit, and doubles where that range ends
      {"2147483647 + 1", "2147483648", 'I'}, {"-2147483647 - 2", "-2147483649", 'I'},
      {"/inv/d/@s * 2", "4294967294", 'I'}, {"4294967296 * 1073741823", "4611686014132420608", 'I'},
      {"3037000499 * 3037000499", "9223372030926249001", 'I'},
      {"3037000500 * 3037000500", "9223372037000249344", 'N'},
      {"-3037000500 * 3037000500", "-9223372037000249344", 'N'}, {"9007199254740992 + 1", "9007199254740993", 'I'},
      {"-2147483648 * 2147483648 * 2", "-9223372036854775808", 'I'},
      {"9223372036854775807 + 1", "9223372036854775808", 'N'},
      {"-9223372036854775807 - 2", "-9223372036854775808", 'N'},
      {"-(-9223372036854775807 - 1)", "9223372036854775808", 'N'}, {"-/inv/y/@v", "-9223372036854775808", 'N'},
      {"/inv/y/@v - 1", "9223372036854775808", 'N'}, {"9223372036854775807 mod 10", "7", 'I'},
      {"(-9223372036854775807 - 1) mod -1", "0", 'I'}, {"/inv/y/@v mod 10", "8", 'I'},
      {"10 mod /inv/y/@v", "10", 'I'}, {"/inv/y/@v mod 0", "error 37"},
      // floor, ceiling and truncation
      {"floor(10000000000.5)", "10000000000", 'I'}, {"ceiling(-10000000000.5)", "-10000000000", 'I'},
      {"ceiling(-9223372036854775808.5)", "-9223372036854775808", 'I'},
      {"floor(99999999999999999999.5)", "100000000000000000000", 'N'},
      {"9223372036854774784.0 mod 9223372036854775807", "9223372036854774784", 'N'},
      // places far beyond any node
      {"count(/inv/d[4294967297])", "0"}, {"count(/inv/d[99999999999999999999])", "0"},
  };
  ExpectAll(xml, std::begin(cases), std::end(cases));
  // Held to the 64-bit range where a caller wants an integer.
  TiXmlDocument document;
  document.Parse(xml);
  EXPECT_EQ(xpath_processor(document.RootElement(), "/inv/y/@v").ComputeInteger(),
            std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(xpath_processor(document.RootElement(), "-/inv/y/@v - 1").ComputeInteger(),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(xpath_processor(document.RootElement(), "-2.7").ComputeInteger(), -2);
  EXPECT_EQ(EvaluateXPath(document.RootElement(), "'" + std::string(400, '9') + "' * 1").text, "Infinity");
  EXPECT_DOUBLE_EQ(xpath_processor(document.RootElement(), "/inv/x/@v").ComputeNumber(), 9223372036854775807.0);
  EXPECT_TRUE(xpath_processor(document.RootElement(), "/inv/d").ComputeBoolean());
  EXPECT_FALSE(xpath_processor(document.RootElement(), "1 div 0").ComputeBoolean());
}

}  // namespace
