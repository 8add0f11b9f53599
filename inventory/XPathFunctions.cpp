// Operators and the function library of the evaluator.
#include "inventory/XPathProcessor.h"

#include <tinyxml.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace XPath {

namespace {

enum FunctionKind {
  fn_unknown,
  fn_ceiling,
  fn_concat,
  fn_contains,
  fn_count,
  fn_false,
  fn_floor,
  fn_last,
  fn_name,
  fn_normalize_space,
  fn_not,
  fn_position,
  fn_starts_with,
  fn_string_length,
  fn_substring,
  fn_sum,
  fn_text,
  fn_true,
};

struct FunctionName {
  const char* name;
  FunctionKind kind;
};

const FunctionName kFunctions[] = {
    {"ceiling", fn_ceiling},   {"concat", fn_concat},
    {"contains", fn_contains}, {"count", fn_count},
    {"false", fn_false},       {"floor", fn_floor},
    {"last", fn_last},         {"name", fn_name},
    {"normalize-space", fn_normalize_space},
    {"not", fn_not},           {"position", fn_position},
    {"starts-with", fn_starts_with},
    {"string-length", fn_string_length},
    {"substring", fn_substring},
    {"sum", fn_sum},           {"text", fn_text},
    {"true", fn_true},
};

bool IsNumberKind(const ExpressionResult& value) {
  return value.Kind() == ResultKind::Integer || value.Kind() == ResultKind::Number;
}

// A whole number is an integer when it fits 64 bits.
void SetWhole(ExpressionResult& out, double value) {
  if (value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
    out.SetInteger(static_cast<std::int64_t>(value));
  } else {
    out.SetNumber(value);
  }
}

// Checked 64-bit arithmetic: true, with `result` untouched, when the exact
// result lies outside the range.
bool AddOverflows(std::int64_t a, std::int64_t b, std::int64_t& result) {
  if (b > 0 ? a > std::numeric_limits<std::int64_t>::max() - b : a < std::numeric_limits<std::int64_t>::min() - b) {
    return true;
  }
  result = a + b;
  return false;
}

bool SubtractOverflows(std::int64_t a, std::int64_t b, std::int64_t& result) {
  if (b < 0 ? a > std::numeric_limits<std::int64_t>::max() + b : a < std::numeric_limits<std::int64_t>::min() + b) {
    return true;
  }
  result = a - b;
  return false;
}

bool MultiplyOverflows(std::int64_t a, std::int64_t b, std::int64_t& result) {
  const std::int64_t max = std::numeric_limits<std::int64_t>::max(), min = std::numeric_limits<std::int64_t>::min();
  bool overflow;
  if (a > 0) {
    overflow = b > 0 ? a > max / b : b < min / a;
  } else {
    overflow = b > 0 ? a < min / b : a != 0 && b < max / a;
  }
  if (!overflow) result = a * b;
  return overflow;
}

enum class Arithmetic { Add, Subtract, Multiply };

// Integer arithmetic that would leave the 64-bit range, or starts from a
// value beyond it, is carried out on doubles instead of wrapping.
void SetArithmetic(ExpressionResult& out, Arithmetic op, const IntegerValue& a, const IntegerValue& b) {
  if (a.fits && b.fits) {
    std::int64_t result;
    const bool overflow = op == Arithmetic::Add        ? AddOverflows(a.exact, b.exact, result)
                          : op == Arithmetic::Subtract ? SubtractOverflows(a.exact, b.exact, result)
                                                       : MultiplyOverflows(a.exact, b.exact, result);
    if (!overflow) {
      out.SetInteger(result);
      return;
    }
  }
  const double x = a.ToDouble(), y = b.ToDouble();
  out.SetNumber(op == Arithmetic::Add ? x + y : op == Arithmetic::Subtract ? x - y : x * y);
}

bool EqualIntegers(const IntegerValue& a, const IntegerValue& b) {
  return a.fits == b.fits && (a.fits ? a.exact == b.exact : a.beyond == b.beyond);
}

int CompareIntegers(const IntegerValue& a, const IntegerValue& b) {
  if (a.fits && b.fits) return a.exact < b.exact ? -1 : a.exact > b.exact ? 1 : 0;
  // A value beyond the 64-bit range lies beyond every value within it.
  if (a.fits) return b.beyond > 0 ? -1 : 1;
  if (b.fits) return a.beyond > 0 ? 1 : -1;
  return a.beyond < b.beyond ? -1 : a.beyond > b.beyond ? 1 : 0;
}

bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// ceiling() and floor(): of a number; a boolean or an integer is taken as
// an integer, anything else gives 0.
void Round(ExpressionResult& value, bool up) {
  if (value.Kind() == ResultKind::Number) {
    const double number = value.Number();
    SetWhole(value, std::isnan(number) ? 0 : up ? std::ceil(number) : std::floor(number));
  } else if (value.Kind() != ResultKind::Integer) {
    value.SetInteger(value.Kind() == ResultKind::Boolean && value.Boolean() ? 1 : 0);
  }
}

void Negate(ExpressionResult& value) {
  if (value.Kind() == ResultKind::Number) {
    value.SetNumber(-value.Number());
    return;
  }
  const IntegerValue integer = value.ToInteger();
  if (integer.fits && integer.exact != std::numeric_limits<std::int64_t>::min()) {
    value.SetInteger(-integer.exact);
  } else {
    value.SetNumber(-integer.ToDouble());
  }
}

enum class Ordering { Less, Equal, Greater, Unordered };

// Integer values when both operands are of integer kinds, else number
// values, which are unordered when one is NaN.
Ordering Order(const ExpressionResult& left, const ExpressionResult& right) {
  int order;
  if (left.IsIntegerKind() && right.IsIntegerKind()) {
    order = CompareIntegers(left.ToInteger(), right.ToInteger());
  } else {
    const double a = left.ToNumber(), b = right.ToNumber();
    if (std::isnan(a) || std::isnan(b)) return Ordering::Unordered;
    order = a < b ? -1 : a > b ? 1 : 0;
  }
  return order < 0 ? Ordering::Less : order > 0 ? Ordering::Greater : Ordering::Equal;
}

// "+", "-", "*": integer arithmetic when both operands are of integer
// kinds, else on the number values.
void Calculate(Arithmetic op, ExpressionResult& left, const ExpressionResult& right) {
  if (left.IsIntegerKind() && right.IsIntegerKind()) {
    SetArithmetic(left, op, left.ToInteger(), right.ToInteger());
    return;
  }
  const double a = left.ToNumber(), b = right.ToNumber();
  left.SetNumber(op == Arithmetic::Add ? a + b : op == Arithmetic::Subtract ? a - b : a * b);
}

// The remainder of the integer values; an integer, or a number when an
// operand is one.
void Modulo(ExpressionResult& left, const ExpressionResult& right) {
  const bool integers = left.IsIntegerKind() && right.IsIntegerKind();
  const IntegerValue a = left.ToInteger(), b = right.ToInteger();
  if (b.fits && b.exact == 0) throw execution_error(ExecutionCode::ModuloByZero);
  if (a.fits && b.fits) {
    const std::int64_t remainder = b.exact == -1 ? 0 : a.exact % b.exact;  // INT64_MIN % -1 would trap
    if (integers) {
      left.SetInteger(remainder);
    } else {
      left.SetNumber(static_cast<double>(remainder));
    }
    return;
  }
  // Beyond 64 bits the remainder is taken of the double values.
  const double remainder = std::fmod(a.ToDouble(), b.ToDouble());
  if (integers) {
    SetWhole(left, remainder);
  } else {
    left.SetNumber(remainder);
  }
}

}  // namespace

int xpath_processor::FunctionId(const std::string& name) {
  for (const FunctionName& f : kFunctions) {
    if (name == f.name) return f.kind;
  }
  return fn_unknown;
}

bool xpath_processor::Equal(const ExpressionResult& left, const ExpressionResult& right) {
  const bool leftSet = left.Kind() == ResultKind::NodeSet;
  const bool rightSet = right.Kind() == ResultKind::NodeSet;
  if (leftSet && rightSet) throw error_not_yet(ExecutionCode::NodeSetComparison);
  if (!leftSet && !rightSet) {
    if (left.Kind() == ResultKind::Boolean || right.Kind() == ResultKind::Boolean) {
      return left.ToBoolean() == right.ToBoolean();
    }
    // Two integers compare exactly, also beyond the 53 bits of a double.
    if (left.Kind() == ResultKind::Integer && right.Kind() == ResultKind::Integer) {
      return left.Integer() == right.Integer();
    }
    if (IsNumberKind(left) || IsNumberKind(right)) return left.ToNumber() == right.ToNumber();
    return left.ToStringView(scratchA_) == right.ToStringView(scratchB_);
  }
  const ExpressionResult& set = leftSet ? left : right;
  const ExpressionResult& other = leftSet ? right : left;
  const NodeSet& nodes = set.Nodes();
  switch (other.Kind()) {
    case ResultKind::Boolean: return set.ToBoolean() == other.Boolean();
    case ResultKind::Integer:
    case ResultKind::Number: {
      const IntegerValue wanted = other.ToInteger();
      for (unsigned i = 0; i < nodes.Count(); ++i) {
        if (EqualIntegers(LeadingInteger(nodes.At(i).Value()), wanted)) return true;
      }
      return false;
    }
    default: {
      const std::string_view wanted = other.ToStringView(scratchA_);
      for (unsigned i = 0; i < nodes.Count(); ++i) {
        if (nodes.At(i).Value() == wanted) return true;
      }
      return false;
    }
  }
}

void xpath_processor::Binary(Op op) {
  if (op == Op::Negate) {
    Negate(Top());
    return;
  }
  ExpressionResult& left = Top(1);
  const ExpressionResult& right = Top();
  switch (op) {
    case Op::Or: left.SetBoolean(left.ToBoolean() || right.ToBoolean()); break;
    case Op::And: left.SetBoolean(left.ToBoolean() && right.ToBoolean()); break;
    case Op::Equal: left.SetBoolean(Equal(left, right)); break;
    case Op::NotEqual: left.SetBoolean(!Equal(left, right)); break;
    case Op::Less: left.SetBoolean(Order(left, right) == Ordering::Less); break;
    case Op::Greater: left.SetBoolean(Order(left, right) == Ordering::Greater); break;
    case Op::LessEqual: {
      const Ordering order = Order(left, right);
      left.SetBoolean(order == Ordering::Less || order == Ordering::Equal);
      break;
    }
    case Op::GreaterEqual: {
      const Ordering order = Order(left, right);
      left.SetBoolean(order == Ordering::Greater || order == Ordering::Equal);
      break;
    }
    case Op::Add: Calculate(Arithmetic::Add, left, right); break;
    case Op::Subtract: Calculate(Arithmetic::Subtract, left, right); break;
    case Op::Multiply: Calculate(Arithmetic::Multiply, left, right); break;
    case Op::Divide: {
      double divisor = right.ToNumber();
      if (std::fabs(divisor) < 0.000001) throw execution_error(ExecutionCode::DivisionByZero);
      left.SetNumber(left.ToNumber() / divisor);
      break;
    }
    case Op::Modulo: Modulo(left, right); break;
    default: throw execution_error(ExecutionCode::UnknownAction);
  }
  Pop();
}

// The entries of the first set followed by those of the second that are
// not already present.
void xpath_processor::Union() {
  ExpressionResult& left = Top(1);
  ExpressionResult& right = Top();
  if (left.Kind() != ResultKind::NodeSet || right.Kind() != ResultKind::NodeSet) {
    throw execution_error(ExecutionCode::NotANodeSet);
  }
  NodeSet& first = left.Nodes();
  NodeSet& second = right.Nodes();
  if (first.GetOrder() == NodeSet::Order::Pending) first.Sort();
  if (second.GetOrder() == NodeSet::Order::Pending) second.Sort();
  if (first.Empty()) {
    first.Swap(second);
  } else if (!second.Empty()) {
    for (unsigned i = 0; i < second.Count(); ++i) first.Add(second.At(i));
    first.SetOrder(NodeSet::Order::Listed);
    first.SetFlat(false);
  }
  Pop();
}

void xpath_processor::CheckFunction(const Instruction& call) const {
  const int n = call.arguments;
  int failed = 0;
  switch (call.function) {
    case fn_ceiling: failed = n != 1 ? ExecutionCode::CeilingArguments : 0; break;
    case fn_concat: failed = n < 1 ? ExecutionCode::ConcatArguments : 0; break;
    case fn_contains: failed = n != 2 ? ExecutionCode::ContainsArguments : 0; break;
    case fn_count: failed = n < 1 ? ExecutionCode::CountArguments : 0; break;
    case fn_false: failed = n != 0 ? ExecutionCode::FalseArguments : 0; break;
    case fn_floor: failed = n != 1 ? ExecutionCode::FloorArguments : 0; break;
    case fn_last: failed = n != 0 ? ExecutionCode::LastArguments : 0; break;
    case fn_name: failed = n != 1 ? ExecutionCode::NameArguments : 0; break;
    case fn_normalize_space: failed = n != 1 ? ExecutionCode::NormalizeSpaceArguments : 0; break;
    case fn_not: failed = n != 1 ? ExecutionCode::NotArguments : 0; break;
    case fn_position: failed = n != 0 ? ExecutionCode::PositionArguments : 0; break;
    case fn_starts_with: failed = n != 2 ? ExecutionCode::StartsWithArguments : 0; break;
    case fn_string_length: failed = n != 1 ? ExecutionCode::StringLengthArguments : 0; break;
    case fn_substring: failed = (n != 2 && n != 3) ? ExecutionCode::SubstringArguments : 0; break;
    case fn_sum: failed = n != 1 ? ExecutionCode::SumArguments : 0; break;
    case fn_text: failed = n != 0 ? ExecutionCode::TextArguments : 0; break;
    case fn_true: failed = n != 0 ? ExecutionCode::TrueArguments : 0; break;
    default: failed = ExecutionCode::UnknownFunction; break;
  }
  if (failed != 0) throw execution_error(failed);
}

// Each function leaves its result in the first argument's slot, or in a
// new one when it has no argument.
void xpath_processor::CallFunction(const Instruction& call) {
  const std::size_t n = static_cast<std::size_t>(call.arguments);
  if (depth_ < n) throw execution_error(ExecutionCode::StackUnderflow);
  const Arguments args{depth_ - n, n};
  switch (call.function) {
    case fn_ceiling:
    case fn_floor: Round(FunctionResult(args), call.function == fn_ceiling); break;
    case fn_concat:
      functionText_.clear();
      for (std::size_t i = 0; i < n; ++i) functionText_.append(Argument(args, i).ToStringView(scratchA_));
      TextResult(args);
      break;
    case fn_contains: {
      std::string_view text = Argument(args, 0).ToStringView(scratchA_);
      bool found = text.find(Argument(args, 1).ToStringView(scratchB_)) != std::string_view::npos;
      FunctionResult(args).SetBoolean(found);
      break;
    }
    case fn_count: {
      const ExpressionResult& value = Argument(args, 0);
      std::int64_t count = value.Kind() == ResultKind::NodeSet ? value.Nodes().Count() : 0;
      FunctionResult(args).SetInteger(count);
      break;
    }
    case fn_false: FunctionResult(args).SetBoolean(false); break;
    case fn_true: FunctionResult(args).SetBoolean(true); break;
    case fn_not: {
      bool value = !Argument(args, 0).ToBoolean();
      FunctionResult(args).SetBoolean(value);
      break;
    }
    case fn_last:
    case fn_position:
    case fn_text: ContextFunction(call.function, args); break;
    case fn_name: NameOf(args); break;
    case fn_normalize_space: NormalizeSpace(args); break;
    case fn_starts_with: {
      std::string_view text = Argument(args, 0).ToStringView(scratchA_);
      std::string_view prefix = Argument(args, 1).ToStringView(scratchB_);
      bool starts = text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
      FunctionResult(args).SetBoolean(starts);
      break;
    }
    case fn_string_length: {
      std::size_t length = Argument(args, 0).ToStringView(scratchA_).size();
      FunctionResult(args).SetInteger(static_cast<std::int64_t>(length));
      break;
    }
    case fn_substring: Substring(args); break;
    case fn_sum: Sum(args); break;
    default: throw execution_error(ExecutionCode::UnknownFunction);
  }
}

ExpressionResult& xpath_processor::FunctionResult(const Arguments& args) {
  if (args.count == 0) return Push();
  Pop(args.count - 1);
  return Argument(args, 0);
}

void xpath_processor::TextResult(const Arguments& args) {
  FunctionResult(args).StringBuffer().swap(functionText_);
}

// last(), position() and text(): about the context element.
void xpath_processor::ContextFunction(int function, const Arguments& args) {
  if (contextElement_ == nullptr) {
    throw execution_error(function == fn_last       ? ExecutionCode::LastNoContext
                          : function == fn_position ? ExecutionCode::PositionNoContext
                                                    : ExecutionCode::TextNoContext);
  }
  if (function == fn_last) {
    FunctionResult(args).SetInteger(siblings_.ElementChildren(contextElement_->Parent()));
  } else if (function == fn_position) {
    std::uint32_t place = contextPosition_ != 0 ? contextPosition_ : siblings_.Position(contextElement_, byName_);
    FunctionResult(args).SetInteger(place);
  } else {
    functionText_.clear();
    for (TiXmlNode* child = contextElement_->FirstChild(); child != nullptr; child = child->NextSibling()) {
      if (child->Type() == TiXmlNode::TINYXML_TEXT) functionText_.append(child->ValueStr());
    }
    TextResult(args);
  }
}

// The name of the first entry in set order: an attribute's name, or the
// node's value (an element's name).
void xpath_processor::NameOf(const Arguments& args) {
  const ExpressionResult& value = Argument(args, 0);
  functionText_.clear();
  if (value.Kind() == ResultKind::NodeSet && !value.Nodes().Empty()) {
    const NodeSet& nodes = value.Nodes();
    const NodeSet::Entry& entry =
        nodes.GetOrder() == NodeSet::Order::Pending ? *nodes.FirstInDocumentOrder() : nodes.At(0);
    if (entry.isAttribute) {
      functionText_ = static_cast<const TiXmlAttribute*>(entry.item)->NameTStr();
    } else {
      functionText_ = static_cast<const TiXmlNode*>(entry.item)->ValueStr();
    }
  }
  TextResult(args);
}

// Spaces and tabs only: line ends are kept.
void xpath_processor::NormalizeSpace(const Arguments& args) {
  std::string_view text = Argument(args, 0).ToStringView(scratchA_);
  functionText_.clear();
  bool pendingSpace = false;
  for (char c : text) {
    if (IsSpaceOrTab(c)) {
      pendingSpace = !functionText_.empty();
      continue;
    }
    if (pendingSpace) functionText_.push_back(' ');
    pendingSpace = false;
    functionText_.push_back(c);
  }
  TextResult(args);
}

void xpath_processor::Substring(const Arguments& args) {
  std::string_view text = Argument(args, 0).ToStringView(scratchA_);
  const std::int64_t start = Argument(args, 1).ToInteger().Held();
  functionText_.clear();
  if (start >= 1 && static_cast<std::uint64_t>(start) <= text.size()) {
    std::string_view rest = text.substr(static_cast<std::size_t>(start) - 1);
    if (args.count == 3) {
      const std::int64_t length = Argument(args, 2).ToInteger().Held();
      // A negative length keeps nothing.
      if (length < 0) {
        rest = std::string_view();
      } else if (static_cast<std::uint64_t>(length) < rest.size()) {
        rest = rest.substr(0, static_cast<std::size_t>(length));
      }
    }
    functionText_.assign(rest);
  }
  TextResult(args);
}

// The values are summed both as integers and as numbers; the number sum
// counts when a value has a point.
void xpath_processor::Sum(const Arguments& args) {
  const ExpressionResult& value = Argument(args, 0);
  if (value.Kind() != ResultKind::NodeSet) throw execution_error(ExecutionCode::SumNotNodeSet);
  std::int64_t integerSum = 0;
  bool integerFits = true;
  double wideSum = 0;  // the integer sum once it left the 64-bit range
  double numberSum = 0;
  bool fraction = false;
  const NodeSet& nodes = value.Nodes();
  for (unsigned i = 0; i < nodes.Count(); ++i) {
    PrefetchAhead(&nodes.At(i), nodes.Count() - i);
    std::string_view text = nodes.At(i).Value();
    const IntegerValue integer = LeadingInteger(text);
    std::int64_t next;
    if (integerFits && integer.fits && !AddOverflows(integerSum, integer.exact, next)) {
      integerSum = next;
    } else {
      if (integerFits) wideSum = static_cast<double>(integerSum);
      integerFits = false;
      wideSum += integer.ToDouble();
    }
    numberSum += LeadingNumber(text);
    if (text.find('.') != std::string_view::npos) fraction = true;
  }
  ExpressionResult& out = FunctionResult(args);
  if (fraction) {
    out.SetNumber(numberSum);
  } else if (integerFits) {
    out.SetInteger(integerSum);
  } else {
    out.SetNumber(wideSum);
  }
}

}  // namespace XPath
