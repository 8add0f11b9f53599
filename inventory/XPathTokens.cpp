#include "inventory/XPathTokens.h"

#include <cstring>

namespace XPath {

namespace {
const char* const kNames[lex_count] = {
    "null", "none", "space", "digit", "base char", "extender", "/", "@", ".", "-", "_", ":", ";", "\"", "'", "$",
    "(", ")", "*", "+", ",", "<", ">", "=", "[", "]", "|", "!", "NCName", "Number", "Literal", "::", "//", "..",
    "!=", "<=", ">=", "or", "and", "mod", "div", "ancestor", "ancestor-or-self", "attribute", "child",
    "descendant", "descendant-or-self", "following", "following-sibling", "namespace", "parent", "preceding",
    "preceding-sibling", "self", "processing-instruction", "comment", "node", "text"};
}  // namespace

const char* LexemeName(lexeme kind) {
  if (kind < 0 || kind >= lex_count) return "?";
  return kNames[kind];
}

lexeme ClassifyName(const std::string& name) {
  for (int kind = lex_or; kind <= lex_text; ++kind) {
    if (name == kNames[kind]) return static_cast<lexeme>(kind);
  }
  return lex_ncname;
}

token_list::token_list() : current_(0) { tokens_.push_back(token{lex_null, std::string()}); }

void token_list::ClearTokens() {
  tokens_.resize(1);
  current_ = 0;
}

void token_list::AddToken(lexeme kind, std::string text) { tokens_.push_back(token{kind, std::move(text)}); }

const token& token_list::TokenAt(std::size_t index) const {
  if (index >= TokenCount()) return tokens_[0];
  return tokens_[index + 1];
}

const token& token_list::Peek(std::size_t ahead) const { return TokenAt(current_ + ahead); }

}  // namespace XPath
