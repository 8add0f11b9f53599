// The actions the decoder records for the executor. An action is a rule
// number (the production numbers of the XPath 1.0 grammar), a sub-rule, a
// number and a text. They come in postfix order: operands before their
// operator, blocks (steps, predicates, function calls) bracketed by a begin
// and an end action.
#pragma once

namespace XPath {

enum xpath_rule {
  xr_location_path = 1,           // sub 1: push the context node (a relative path starts)
  xr_absolute_location_path = 2,  // sub 1: push the synthetic root (an absolute path starts)
  xr_step = 4,                    // sub 1: begin, number = axis; sub 2: end, number = index of the begin
  xr_node_test = 7,               // sub = node_test_kind, text = name; follows a step begin
  xr_predicate = 8,               // sub 1: begin; sub 2: end, number = index of the begin
  xr_primary_expr = 15,           // sub 1: variable (text), 2: literal (text), 3: number (text)
  xr_function_call = 16,          // sub 1: begin, text = name; sub 2: end, number = argument count
  xr_union_expr = 18,             // sub 1: "|"
  xr_or_expr = 21,                // sub 1: "or"
  xr_and_expr = 22,               // sub 1: "and"
  xr_equality_expr = 23,          // sub 1: "=", 2: "!="
  xr_relational_expr = 24,        // sub 1: "<", 2: ">", 3: "<=", 4: ">="
  xr_additive_expr = 25,          // sub 1: "+", 2: "-"
  xr_multiplicative_expr = 26,    // sub 1: "*", 2: "div", 3: "mod"
  xr_unary_expr = 27,             // sub 1: unary "-"
};

enum { xs_begin = 1, xs_end = 2 };

// Axes in the order of their lexemes.
enum xpath_axis {
  axis_ancestor,
  axis_ancestor_or_self,
  axis_attribute,
  axis_child,
  axis_descendant,
  axis_descendant_or_self,
  axis_following,
  axis_following_sibling,
  axis_namespace,
  axis_parent,
  axis_preceding,
  axis_preceding_sibling,
  axis_self,
};

enum node_test_kind {
  test_name = 1,        // a (qualified) name, compared exactly
  test_star = 2,        // "*"
  test_prefix_star = 3,  // "prefix:*", text = prefix
  test_node = 4,        // node()
  test_text = 5,        // text()
  test_comment = 6,     // comment()
  test_processing_instruction = 7,
};

}  // namespace XPath
