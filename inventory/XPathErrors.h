// Exceptions of the XPath evaluator. They are thrown while decoding or
// executing an expression and always caught by xpath_processor, which turns
// them into an invalid result and an error kind; none leaves the processor.
#pragma once

#include <cstddef>
#include <string>

namespace XPath {

// The tokens do not form an expression. The text names where decoding
// failed ("main level" when the top rule does not match) and is cut to
// kMaxText bytes.
class syntax_error {
 public:
  static const std::size_t kMaxText = 200;
  explicit syntax_error(const std::string& where) : text_(where.substr(0, kMaxText)) {}
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Decoding tried more rules than token_syntax_decoder::kMaxAttempts.
class syntax_overflow {};

// Execution failed; the code names the check (see ExecutionCode).
class execution_error {
 public:
  explicit execution_error(int code) : code_(code) {}
  virtual ~execution_error() = default;
  int Code() const { return code_; }

 private:
  int code_;
};

// The expression uses a feature that execution does not support.
class error_not_yet : public execution_error {
 public:
  explicit error_not_yet(int code) : execution_error(code) {}
};

// Codes carried by execution_error. Codes 2 to 12 and 34 to 36 are the
// executor's own consistency checks, which decoded expressions never trip.
namespace ExecutionCode {
enum {
  NoBase = 1,
  UnknownAction = 2,
  UnbalancedBlock = 3,
  StackUnderflow = 4,
  MisplacedAction = 5,
  UnknownFunction = 13,
  CeilingArguments = 14,
  ConcatArguments = 15,
  ContainsArguments = 16,
  CountArguments = 17,
  FalseArguments = 18,
  FloorArguments = 19,
  LastArguments = 20,
  LastNoContext = 21,
  NameArguments = 22,
  NormalizeSpaceArguments = 23,
  NotArguments = 24,
  PositionArguments = 25,
  PositionNoContext = 26,
  StartsWithArguments = 27,
  StringLengthArguments = 28,
  SubstringArguments = 29,
  SumArguments = 30,
  SumNotNodeSet = 31,
  TrueArguments = 32,
  DivisionByZero = 33,
  InternalFailure = 34,
  PredicateValueCount = 35,
  ModuloByZero = 37,
  TextArguments = 38,
  TextNoContext = 39,
  NotANodeSet = 40,          // a step, predicate or union applied to another kind of value
  NamespaceAxis = 41,        // error_not_yet
  ProcessingInstruction = 42,  // error_not_yet
  VariableReference = 43,    // error_not_yet
  NodeSetComparison = 44,    // error_not_yet: "=" or "!=" between two node sets
  WorkBudget = 45,           // the evaluation needed more steps than xpath_processor::kWorkBudget
};
}  // namespace ExecutionCode

}  // namespace XPath
