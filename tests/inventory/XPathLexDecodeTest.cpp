#include "inventory/XPathErrors.h"
#include "inventory/XPathStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace XPath;

// Keeps the decoder's actions as "rule.sub:number text".
class Recorder : public xpath_stream {
 public:
  explicit Recorder(const char* expression) : xpath_stream(expression) {}
  void action(int rule, int sub, int number, const std::string& text) override {
    std::string line = std::to_string(rule) + "." + std::to_string(sub) + ":" + std::to_string(number);
    if (!text.empty()) line += " " + text;
    actions.push_back(line);
  }
  unsigned get_action_counter() const override { return static_cast<unsigned>(actions.size()); }
  std::vector<std::string> actions;
};

using Lines = std::vector<std::string>;

std::vector<lexeme> Kinds(const char* expression) {
  Recorder recorder(expression);
  recorder.lex();
  std::vector<lexeme> kinds;
  for (std::size_t i = 0; i < recorder.Tokens().TokenCount(); ++i) kinds.push_back(recorder.Tokens().TokenAt(i).kind);
  return kinds;
}

std::string Text(const char* expression, std::size_t index) {
  Recorder recorder(expression);
  recorder.lex();
  return recorder.Tokens().TokenAt(index).text;
}

Lines Actions(const char* expression) {
  Recorder recorder(expression);
  recorder.decode();
  return recorder.actions;
}

std::string SyntaxErrorOf(const char* expression) {
  Recorder recorder(expression);
  try {
    recorder.decode();
  } catch (const syntax_error& error) {
    return error.Text();
  }
  return "(decoded)";
}

TEST(XPathLexer, KindsKeepTheirOrder) {
  EXPECT_EQ(lex_null, 0);
  EXPECT_EQ(lex_none, 1);
  EXPECT_EQ(lex_slash, 6);
  EXPECT_EQ(lex_2_quote, 13);
  EXPECT_EQ(lex_orchar, 26);
  EXPECT_EQ(lex_exclam, 27);
  EXPECT_EQ(lex_ncname, 28);
  EXPECT_EQ(lex_literal, 30);
  EXPECT_EQ(lex_2_colon, 31);
  EXPECT_EQ(lex_gt_equal, 36);
  EXPECT_EQ(lex_or, 37);
  EXPECT_EQ(lex_div, 40);
  EXPECT_EQ(lex_ancestor, 41);
  EXPECT_EQ(lex_namespace, 49);
  EXPECT_EQ(lex_self, 53);
  EXPECT_EQ(lex_processing_instruction, 54);
  EXPECT_EQ(lex_text, 57);
  EXPECT_EQ(lex_count, 58);
  EXPECT_STREQ(LexemeName(lex_preceding_sibling), "preceding-sibling");
  EXPECT_EQ(ClassifyName("descendant-or-self"), lex_descendant_or_self);
  EXPECT_EQ(ClassifyName("Child"), lex_ncname);
}

TEST(XPathLexer, CompoundLexemesNumbersNamesAndLiterals) {
  EXPECT_EQ(Kinds("child::a//b[@c!='x y']"),
            (std::vector<lexeme>{lex_child, lex_2_colon, lex_ncname, lex_2_slash, lex_ncname, lex_obrack, lex_at,
                                 lex_ncname, lex_not_equal, lex_literal, lex_cbrack}));
  EXPECT_EQ(Text("child::a//b[@c!='x y']", 9), "x y");
  EXPECT_EQ(Kinds("1.5<=.5>=2.<>"),
            (std::vector<lexeme>{lex_number, lex_lt_equal, lex_number, lex_gt_equal, lex_number, lex_lt, lex_gt}));
  EXPECT_EQ(Text("1.5<=.5>=2.", 2), ".5");
  EXPECT_EQ(Text("1.5<=.5>=2.", 4), "2.");
  // A minus inside a name belongs to it; with blanks around it is an operator.
  EXPECT_EQ(Kinds("a-b - c"), (std::vector<lexeme>{lex_ncname, lex_minus, lex_ncname}));
  EXPECT_EQ(Text("a-b - c", 0), "a-b");
  EXPECT_EQ(Kinds("..//.|$v:w"),
            (std::vector<lexeme>{lex_2_dot, lex_2_slash, lex_dot, lex_orchar, lex_dollar, lex_ncname, lex_colon,
                                 lex_ncname}));
  EXPECT_EQ(Kinds("ancestor-or-self processing-instruction normalize-space or and mod div node"),
            (std::vector<lexeme>{lex_ancestor_or_self, lex_processing_instruction, lex_ncname, lex_or, lex_and,
                                 lex_mod, lex_div, lex_node}));
  EXPECT_EQ(Kinds("\"dq\" 'a\"b'"), (std::vector<lexeme>{lex_literal, lex_literal}));
  EXPECT_EQ(Text("\"dq\" 'a\"b'", 1), "a\"b");
  EXPECT_EQ(Kinds("\xc3\xa9t\xc3\xa9_1"), (std::vector<lexeme>{lex_ncname}));
  EXPECT_EQ(Kinds(" \t\r\n"), (std::vector<lexeme>{}));
  EXPECT_EQ(Kinds("a # ;"), (std::vector<lexeme>{lex_ncname, lex_none, lex_scolon}));
  EXPECT_THROW(Kinds("count('abc)"), syntax_error);
}

TEST(XPathDecoder, RecordsActionsInPostfixOrder) {
  EXPECT_EQ(Actions("1+2*3"), (Lines{"15.3:0 1", "15.3:0 2", "15.3:0 3", "26.1:0", "25.1:0"}));
  EXPECT_EQ(Actions("1-2-3"), (Lines{"15.3:0 1", "15.3:0 2", "25.2:0", "15.3:0 3", "25.2:0"}));
  EXPECT_EQ(Actions("-1 = 2 or 3 < 4 and 5"),
            (Lines{"15.3:0 1", "27.1:0", "15.3:0 2", "23.1:0", "15.3:0 3", "15.3:0 4", "24.1:0", "15.3:0 5",
                   "22.1:0", "21.1:0"}));
  EXPECT_EQ(Actions("f(1, 'a')"), (Lines{"16.1:0 f", "15.3:0 1", "15.2:0 a", "16.2:2 f"}));
  EXPECT_EQ(Actions("g()"), (Lines{"16.1:0 g", "16.2:0 g"}));
  // Step ends and predicate ends name the index of their begin.
  EXPECT_EQ(Actions("/a//b[1]"), (Lines{"2.1:0", "4.1:3", "7.1:0 a", "4.2:1", "4.1:5", "7.1:0 b", "8.1:0",
                                       "15.3:0 1", "8.2:6", "4.2:4"}));
  // "//" before a step with its own axis becomes descendant-or-self::node().
  EXPECT_EQ(Actions("//@id"), (Lines{"2.1:0", "4.1:5", "7.4:0", "4.2:1", "4.1:2", "7.1:0 id", "4.2:4"}));
  EXPECT_EQ(Actions("../."), (Lines{"1.1:0", "4.1:9", "7.4:0", "4.2:1", "4.1:12", "7.4:0", "4.2:4"}));
  EXPECT_EQ(Actions("/"), (Lines{"2.1:0"}));
  EXPECT_EQ(Actions("$v"), (Lines{"15.1:0 v"}));
  EXPECT_EQ(Actions("(1)[2]"), (Lines{"15.3:0 1", "8.1:0", "15.3:0 2", "8.2:1"}));
}

TEST(XPathDecoder, NamesNodeTypesAndOperatorWords) {
  // A node-type name with empty parentheses is a node test, with
  // arguments a function call.
  EXPECT_EQ(Actions("text()"), (Lines{"1.1:0", "4.1:3", "7.5:0", "4.2:1"}));
  EXPECT_EQ(Actions("text(1)"), (Lines{"16.1:0 text", "15.3:0 1", "16.2:1 text"}));
  EXPECT_EQ(Actions("a/processing-instruction('x')"),
            (Lines{"1.1:0", "4.1:3", "7.1:0 a", "4.2:1", "4.1:3", "7.7:0 x", "4.2:4"}));
  // Operator words and axis names are names where a name is expected.
  EXPECT_EQ(Actions("div div div"), (Lines{"1.1:0", "4.1:3", "7.1:0 div", "4.2:1", "1.1:0", "4.1:3",
                                          "7.1:0 div", "4.2:5", "26.2:0"}));
  EXPECT_EQ(Actions("/child/text"), (Lines{"2.1:0", "4.1:3", "7.1:0 child", "4.2:1", "4.1:3", "7.1:0 text", "4.2:4"}));
  EXPECT_EQ(Actions("a:b | p:* | *"), (Lines{"1.1:0", "4.1:3", "7.1:0 a:b", "4.2:1", "1.1:0", "4.1:3", "7.3:0 p",
                                            "4.2:5", "18.1:0", "1.1:0", "4.1:3", "7.2:0", "4.2:10", "18.1:0"}));
  EXPECT_EQ(Actions("* * *"), (Lines{"1.1:0", "4.1:3", "7.2:0", "4.2:1", "1.1:0", "4.1:3", "7.2:0", "4.2:5", "26.1:0"}));
  EXPECT_EQ(Actions("preceding-sibling::x"), (Lines{"1.1:0", "4.1:11", "7.1:0 x", "4.2:1"}));
}

TEST(XPathDecoder, FailuresNameWhereDecodingStopped) {
  EXPECT_EQ(SyntaxErrorOf(""), "main level");
  EXPECT_EQ(SyntaxErrorOf("a b"), "main level");
  EXPECT_EQ(SyntaxErrorOf("#"), "main level");
  EXPECT_EQ(SyntaxErrorOf("/a/count(x)"), "main level");
  EXPECT_EQ(SyntaxErrorOf("1 +").rfind("AdditiveExpr", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("a[1").rfind("Predicate", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("child::").rfind("Step", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("(1").rfind("PrimaryExpr", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("count(1,)").rfind("FunctionCall", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("a/").rfind("RelativeLocationPath", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("//").rfind("AbsoluteLocationPath", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("a/text(1)").rfind("NodeTest", 0), 0u);
  EXPECT_EQ(SyntaxErrorOf("unknown::x"), "main level");
  EXPECT_EQ(syntax_error(std::string(500, 'x')).Text().size(), 200u);
}

}  // namespace
