// Lexeme kinds of XPath expressions and the token list the decoder reads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace XPath {

// In this order (0 to 57); the single-byte kinds double as byte classes.
enum lexeme {
  lex_null,
  lex_none,
  lex_space,
  lex_digit,
  lex_bchar,
  lex_extender,
  lex_slash,
  lex_at,
  lex_dot,
  lex_minus,
  lex_under,
  lex_colon,
  lex_scolon,
  lex_2_quote,
  lex_1_quote,
  lex_dollar,
  lex_oparen,
  lex_cparen,
  lex_star,
  lex_plus,
  lex_comma,
  lex_lt,
  lex_gt,
  lex_equal,
  lex_obrack,
  lex_cbrack,
  lex_orchar,
  lex_exclam,
  lex_ncname,
  lex_number,
  lex_literal,
  lex_2_colon,
  lex_2_slash,
  lex_2_dot,
  lex_not_equal,
  lex_lt_equal,
  lex_gt_equal,
  lex_or,
  lex_and,
  lex_mod,
  lex_div,
  lex_ancestor,
  lex_ancestor_or_self,
  lex_attribute,
  lex_child,
  lex_descendant,
  lex_descendant_or_self,
  lex_following,
  lex_following_sibling,
  lex_namespace,
  lex_parent,
  lex_preceding,
  lex_preceding_sibling,
  lex_self,
  lex_processing_instruction,
  lex_comment,
  lex_node,
  lex_text,
  lex_count  // number of kinds, not a kind
};

// Short printable name of a kind, for error texts and tests.
const char* LexemeName(lexeme kind);

// The keyword, axis or node-type kind spelled by `name`, else lex_ncname.
lexeme ClassifyName(std::string_view name);

inline bool IsAxisName(lexeme kind) { return kind >= lex_ancestor && kind <= lex_self; }
inline bool IsNodeType(lexeme kind) { return kind >= lex_processing_instruction && kind <= lex_text; }
// Every kind that can stand for a name where the grammar expects one
// ("div", "child" or "text" are element names there).
inline bool IsNameLexeme(lexeme kind) { return kind == lex_ncname || (kind >= lex_or && kind <= lex_text); }

struct token {
  lexeme kind;
  std::string text;
};

// Tokens behind a sentinel head. Reading past the last token yields the
// sentinel, whose kind is lex_null, so look-ahead never runs off the end.
class token_list {
 public:
  token_list() : sentinel_{lex_null, std::string()}, current_(0) {}
  virtual ~token_list() = default;

  void ClearTokens() {
    tokens_.clear();
    current_ = 0;
  }
  void ReserveTokens(std::size_t count) { tokens_.reserve(count); }
  void AddToken(lexeme kind, std::string text) { tokens_.push_back(token{kind, std::move(text)}); }
  std::size_t TokenCount() const { return tokens_.size(); }
  const token& TokenAt(std::size_t index) const { return index < tokens_.size() ? tokens_[index] : sentinel_; }

  // Current position, from 0.
  void Rewind() { current_ = 0; }
  std::size_t Position() const { return current_; }
  const token& Current() const { return TokenAt(current_); }
  const token& Peek(std::size_t ahead) const { return TokenAt(current_ + ahead); }
  lexeme Kind(std::size_t ahead = 0) const { return TokenAt(current_ + ahead).kind; }
  void Advance() {
    if (current_ < tokens_.size()) ++current_;
  }

 private:
  token sentinel_;
  std::vector<token> tokens_;
  std::size_t current_;
};

}  // namespace XPath
