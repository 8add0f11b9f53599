#include "inventory/XPathTokens.h"


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

lexeme ClassifyName(std::string_view name) {
  // Most names are element names; the length rules out nearly every keyword
  // before any byte is compared.
  static const std::string_view kWords[] = {kNames[lex_or], kNames[lex_and], kNames[lex_mod], kNames[lex_div],
      kNames[lex_ancestor], kNames[lex_ancestor_or_self], kNames[lex_attribute], kNames[lex_child],
      kNames[lex_descendant], kNames[lex_descendant_or_self], kNames[lex_following], kNames[lex_following_sibling],
      kNames[lex_namespace], kNames[lex_parent], kNames[lex_preceding], kNames[lex_preceding_sibling],
      kNames[lex_self], kNames[lex_processing_instruction], kNames[lex_comment], kNames[lex_node], kNames[lex_text]};
  if (name.size() < 2 || name.size() > 22) return lex_ncname;
  for (int kind = lex_or; kind <= lex_text; ++kind) {
    const std::string_view& word = kWords[kind - lex_or];
    if (word.size() == name.size() && word[0] == name[0] && word == name) return static_cast<lexeme>(kind);
  }
  return lex_ncname;
}

}  // namespace XPath
