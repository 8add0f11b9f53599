// Recursive-descent recognizer of the XPath 1.0 grammar, from the rule Expr.
#pragma once

#include "inventory/XPathActions.h"
#include "inventory/XPathTokens.h"

#include <string>

namespace XPath {

// Reads its own token list and records the actions of the matched rules
// through two operations a subclass provides. Choices between alternatives
// are made on look-ahead before anything is recorded, so a recorded action
// is never taken back. Every rule attempt is counted; past kMaxAttempts the
// decoding stops with syntax_overflow, which also bounds the recursion
// depth, so long or deeply nested expressions fail cleanly.
class token_syntax_decoder : public token_list {
 public:
  static const unsigned kMaxAttempts = 10000;

  token_syntax_decoder() : attempts_(0) {}

  // Decodes the whole token list as one Expr. Throws syntax_error (with
  // "main level" when the top rule does not match every token) or
  // syntax_overflow.
  void decode();
  unsigned Attempts() const { return attempts_; }

 protected:
  virtual void action(int rule, int sub_rule, int number, const std::string& text) = 0;
  virtual unsigned get_action_counter() const = 0;

 private:
  void Attempt();
  [[noreturn]] void Fail(const char* rule, const char* expected) const;
  void Expect(lexeme kind, const char* rule);

  // Each returns false, having consumed and recorded nothing, when the
  // current token cannot start the rule; once committed a rule either
  // matches or throws syntax_error.
  bool Expr();
  bool OrExpr();
  bool AndExpr();
  bool EqualityExpr();
  bool RelationalExpr();
  bool AdditiveExpr();
  bool MultiplicativeExpr();
  bool UnaryExpr();
  bool UnionExpr();
  bool PathExpr();
  bool FilterExpr();
  bool PrimaryExpr();
  bool FunctionCall();
  bool LocationPath();
  bool RelativeLocationPath(bool afterDoubleSlash);
  bool Step(bool afterDoubleSlash);
  bool NodeTest(int& kind, std::string& name);
  bool Predicate();

  void RecordStep(int axis, int testKind, const std::string& name, bool withPredicates);

  bool StartsStep() const;
  bool StartsFilterExpr() const;
  bool NodeTypeTestAhead() const;

  unsigned attempts_;
};

}  // namespace XPath
