#include "inventory/XPathDecoder.h"

#include "inventory/XPathErrors.h"

#include <cstdio>

namespace XPath {

namespace {
const std::string kNoText;
}

void token_syntax_decoder::decode() {
  attempts_ = 0;
  Rewind();
  if (!Expr() || Kind() != lex_null) throw syntax_error("main level");
}

void token_syntax_decoder::Attempt() {
  if (++attempts_ > kMaxAttempts) throw syntax_overflow();
}

void token_syntax_decoder::Fail(const char* rule, const char* expected) const {
  char text[syntax_error::kMaxText + 1];
  const token& at = Current();
  const char* seen = at.kind == lex_null ? "end of expression" : LexemeName(at.kind);
  std::snprintf(text, sizeof text, "%s: %s expected at token %u (%s)", rule, expected,
                static_cast<unsigned>(Position() + 1), seen);
  throw syntax_error(text);
}

void token_syntax_decoder::Expect(lexeme kind, const char* rule) {
  if (Kind() != kind) {
    std::string expected = std::string("'") + LexemeName(kind) + "'";
    Fail(rule, expected.c_str());
  }
  Advance();
}

bool token_syntax_decoder::Expr() {
  Attempt();
  return OrExpr();
}

bool token_syntax_decoder::OrExpr() {
  Attempt();
  if (!AndExpr()) return false;
  while (Kind() == lex_or) {
    Advance();
    if (!AndExpr()) Fail("OrExpr", "an operand after 'or'");
    action(xr_or_expr, 1, 0, kNoText);
  }
  return true;
}

bool token_syntax_decoder::AndExpr() {
  Attempt();
  if (!EqualityExpr()) return false;
  while (Kind() == lex_and) {
    Advance();
    if (!EqualityExpr()) Fail("AndExpr", "an operand after 'and'");
    action(xr_and_expr, 1, 0, kNoText);
  }
  return true;
}

bool token_syntax_decoder::EqualityExpr() {
  Attempt();
  if (!RelationalExpr()) return false;
  for (;;) {
    int sub = Kind() == lex_equal ? 1 : Kind() == lex_not_equal ? 2 : 0;
    if (sub == 0) return true;
    Advance();
    if (!RelationalExpr()) Fail("EqualityExpr", "an operand");
    action(xr_equality_expr, sub, 0, kNoText);
  }
}

bool token_syntax_decoder::RelationalExpr() {
  Attempt();
  if (!AdditiveExpr()) return false;
  for (;;) {
    int sub = 0;
    switch (Kind()) {
      case lex_lt: sub = 1; break;
      case lex_gt: sub = 2; break;
      case lex_lt_equal: sub = 3; break;
      case lex_gt_equal: sub = 4; break;
      default: return true;
    }
    Advance();
    if (!AdditiveExpr()) Fail("RelationalExpr", "an operand");
    action(xr_relational_expr, sub, 0, kNoText);
  }
}

bool token_syntax_decoder::AdditiveExpr() {
  Attempt();
  if (!MultiplicativeExpr()) return false;
  for (;;) {
    int sub = Kind() == lex_plus ? 1 : Kind() == lex_minus ? 2 : 0;
    if (sub == 0) return true;
    Advance();
    if (!MultiplicativeExpr()) Fail("AdditiveExpr", "an operand");
    action(xr_additive_expr, sub, 0, kNoText);
  }
}

bool token_syntax_decoder::MultiplicativeExpr() {
  Attempt();
  if (!UnaryExpr()) return false;
  for (;;) {
    int sub = 0;
    switch (Kind()) {
      case lex_star: sub = 1; break;
      case lex_div: sub = 2; break;
      case lex_mod: sub = 3; break;
      default: return true;
    }
    Advance();
    if (!UnaryExpr()) Fail("MultiplicativeExpr", "an operand");
    action(xr_multiplicative_expr, sub, 0, kNoText);
  }
}

bool token_syntax_decoder::UnaryExpr() {
  Attempt();
  if (Kind() == lex_minus) {
    Advance();
    if (!UnaryExpr()) Fail("UnaryExpr", "an operand after '-'");
    action(xr_unary_expr, 1, 0, kNoText);
    return true;
  }
  return UnionExpr();
}

bool token_syntax_decoder::UnionExpr() {
  Attempt();
  if (!PathExpr()) return false;
  while (Kind() == lex_orchar) {
    Advance();
    if (!PathExpr()) Fail("UnionExpr", "a path after '|'");
    action(xr_union_expr, 1, 0, kNoText);
  }
  return true;
}

bool token_syntax_decoder::PathExpr() {
  Attempt();
  if (!StartsFilterExpr()) return LocationPath();
  FilterExpr();
  if (Kind() == lex_slash || Kind() == lex_2_slash) {
    bool doubleSlash = Kind() == lex_2_slash;
    Advance();
    if (!RelativeLocationPath(doubleSlash)) Fail("PathExpr", "a step after the filter expression");
  }
  return true;
}

bool token_syntax_decoder::FilterExpr() {
  Attempt();
  if (!PrimaryExpr()) return false;
  while (Kind() == lex_obrack) Predicate();
  return true;
}

bool token_syntax_decoder::PrimaryExpr() {
  Attempt();
  switch (Kind()) {
    case lex_dollar: {
      Advance();
      if (!IsNameLexeme(Kind())) Fail("VariableReference", "a name after '$'");
      std::string name = Current().text;
      Advance();
      if (Kind() == lex_colon && IsNameLexeme(Kind(1))) {
        Advance();
        name += ':';
        name += Current().text;
        Advance();
      }
      action(xr_primary_expr, 1, 0, name);
      return true;
    }
    case lex_oparen:
      Advance();
      if (!Expr()) Fail("PrimaryExpr", "an expression after '('");
      Expect(lex_cparen, "PrimaryExpr");
      return true;
    case lex_literal:
      action(xr_primary_expr, 2, 0, Current().text);
      Advance();
      return true;
    case lex_number:
      action(xr_primary_expr, 3, 0, Current().text);
      Advance();
      return true;
    default:
      return FunctionCall();
  }
}

bool token_syntax_decoder::FunctionCall() {
  Attempt();
  if (!IsNameLexeme(Kind())) return false;
  std::string name = Current().text;
  std::size_t nameTokens = 1;
  if (Kind(1) == lex_colon && IsNameLexeme(Kind(2))) {
    name += ':';
    name += Peek(2).text;
    nameTokens = 3;
  }
  if (Kind(nameTokens) != lex_oparen) return false;
  for (std::size_t i = 0; i <= nameTokens; ++i) Advance();
  action(xr_function_call, xs_begin, 0, name);
  int arguments = 0;
  if (Kind() != lex_cparen) {
    for (;;) {
      if (!Expr()) Fail("FunctionCall", "an argument");
      ++arguments;
      if (Kind() != lex_comma) break;
      Advance();
    }
  }
  Expect(lex_cparen, "FunctionCall");
  action(xr_function_call, xs_end, arguments, name);
  return true;
}

bool token_syntax_decoder::LocationPath() {
  Attempt();
  if (Kind() == lex_slash) {
    Advance();
    action(xr_absolute_location_path, 1, 0, kNoText);
    if (StartsStep() && !RelativeLocationPath(false)) Fail("AbsoluteLocationPath", "a step after '/'");
    return true;
  }
  if (Kind() == lex_2_slash) {
    Advance();
    action(xr_absolute_location_path, 1, 0, kNoText);
    if (!RelativeLocationPath(true)) Fail("AbsoluteLocationPath", "a step after '//'");
    return true;
  }
  if (!StartsStep()) return false;
  action(xr_location_path, 1, 0, kNoText);
  if (!RelativeLocationPath(false)) Fail("LocationPath", "a step");
  return true;
}

bool token_syntax_decoder::RelativeLocationPath(bool afterDoubleSlash) {
  Attempt();
  if (!Step(afterDoubleSlash)) return false;
  while (Kind() == lex_slash || Kind() == lex_2_slash) {
    bool doubleSlash = Kind() == lex_2_slash;
    Advance();
    if (!Step(doubleSlash)) Fail("RelativeLocationPath", "a step after '/'");
  }
  return true;
}

void token_syntax_decoder::RecordStep(int axis, int testKind, const std::string& name, bool withPredicates) {
  int begin = static_cast<int>(get_action_counter());
  action(xr_step, xs_begin, axis, kNoText);
  action(xr_node_test, testKind, 0, name);
  if (withPredicates) {
    while (Kind() == lex_obrack) Predicate();
  }
  action(xr_step, xs_end, begin, kNoText);
}

// "//" is the descendant-or-self axis of the step that follows it; a step
// with an axis of its own gets a separate descendant-or-self::node() step.
bool token_syntax_decoder::Step(bool afterDoubleSlash) {
  Attempt();
  lexeme kind = Kind();
  if (kind == lex_dot || kind == lex_2_dot) {
    Advance();
    if (afterDoubleSlash) RecordStep(axis_descendant_or_self, test_node, kNoText, false);
    RecordStep(kind == lex_dot ? axis_self : axis_parent, test_node, kNoText, false);
    return true;
  }
  int axis = axis_child;
  bool explicitAxis = false;
  if (IsAxisName(kind) && Kind(1) == lex_2_colon) {
    axis = kind - lex_ancestor;
    Advance();
    Advance();
    explicitAxis = true;
  } else if (kind == lex_at) {
    axis = axis_attribute;
    Advance();
    explicitAxis = true;
  }
  int testKind = 0;
  std::string name;
  if (!NodeTest(testKind, name)) {
    if (explicitAxis) Fail("Step", "a node test");
    return false;
  }
  if (afterDoubleSlash) {
    if (axis == axis_child) {
      axis = axis_descendant_or_self;
    } else {
      RecordStep(axis_descendant_or_self, test_node, kNoText, false);
    }
  }
  RecordStep(axis, testKind, name, true);
  return true;
}

bool token_syntax_decoder::NodeTest(int& kind, std::string& name) {
  Attempt();
  lexeme current = Kind();
  if (current == lex_star) {
    Advance();
    kind = test_star;
    return true;
  }
  if (!IsNameLexeme(current)) return false;
  if (IsNodeType(current) && Kind(1) == lex_oparen) {
    Advance();
    Advance();
    switch (current) {
      case lex_processing_instruction:
        kind = test_processing_instruction;
        if (Kind() == lex_literal) {
          name = Current().text;
          Advance();
        }
        break;
      case lex_comment: kind = test_comment; break;
      case lex_text: kind = test_text; break;
      default: kind = test_node; break;
    }
    Expect(lex_cparen, "NodeTest");
    return true;
  }
  name = Current().text;
  Advance();
  if (Kind() == lex_colon) {
    Advance();
    if (Kind() == lex_star) {
      Advance();
      kind = test_prefix_star;
      return true;
    }
    if (!IsNameLexeme(Kind())) Fail("NodeTest", "a local name after ':'");
    name += ':';
    name += Current().text;
    Advance();
  }
  kind = test_name;
  return true;
}

bool token_syntax_decoder::Predicate() {
  Attempt();
  if (Kind() != lex_obrack) return false;
  Advance();
  int begin = static_cast<int>(get_action_counter());
  action(xr_predicate, xs_begin, 0, kNoText);
  if (!Expr()) Fail("Predicate", "an expression after '['");
  Expect(lex_cbrack, "Predicate");
  action(xr_predicate, xs_end, begin, kNoText);
  return true;
}

bool token_syntax_decoder::StartsStep() const {
  lexeme kind = Kind();
  return kind == lex_dot || kind == lex_2_dot || kind == lex_at || kind == lex_star || IsNameLexeme(kind);
}

// A node-type name with an empty (or, for processing-instruction, literal)
// argument list is a node test; any other name before "(" calls a function.
bool token_syntax_decoder::NodeTypeTestAhead() const {
  if (!IsNodeType(Kind()) || Kind(1) != lex_oparen) return false;
  if (Kind(2) == lex_cparen) return true;
  return Kind() == lex_processing_instruction && Kind(2) == lex_literal && Kind(3) == lex_cparen;
}

bool token_syntax_decoder::StartsFilterExpr() const {
  lexeme kind = Kind();
  if (kind == lex_dollar || kind == lex_oparen || kind == lex_literal || kind == lex_number) return true;
  if (!IsNameLexeme(kind)) return false;
  if (Kind(1) == lex_oparen) return !NodeTypeTestAhead();
  return Kind(1) == lex_colon && IsNameLexeme(Kind(2)) && Kind(3) == lex_oparen;
}

}  // namespace XPath
