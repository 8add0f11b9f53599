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

enum class Arithmetic { Add, Subtract, Multiply };

// Integer arithmetic that would leave the 64-bit range, or starts from a
// value beyond it, is carried out on doubles instead of wrapping.
void SetArithmetic(ExpressionResult& out, Arithmetic op, const IntegerValue& a, const IntegerValue& b) {
  if (a.fits && b.fits) {
    std::int64_t result;
    const bool overflow = op == Arithmetic::Add        ? __builtin_add_overflow(a.exact, b.exact, &result)
                          : op == Arithmetic::Subtract ? __builtin_sub_overflow(a.exact, b.exact, &result)
                                                       : __builtin_mul_overflow(a.exact, b.exact, &result);
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
    ExpressionResult& value = Top();
    if (value.Kind() == ResultKind::Number) {
      value.SetNumber(-value.Number());
    } else {
      const IntegerValue integer = value.ToInteger();
      if (integer.fits && integer.exact != std::numeric_limits<std::int64_t>::min()) {
        value.SetInteger(-integer.exact);
      } else {
        value.SetNumber(-integer.ToDouble());
      }
    }
    return;
  }
  ExpressionResult& left = Top(1);
  const ExpressionResult& right = Top();
  const bool integers = left.IsIntegerKind() && right.IsIntegerKind();
  switch (op) {
    case Op::Or: left.SetBoolean(left.ToBoolean() || right.ToBoolean()); break;
    case Op::And: left.SetBoolean(left.ToBoolean() && right.ToBoolean()); break;
    case Op::Equal: left.SetBoolean(Equal(left, right)); break;
    case Op::NotEqual: left.SetBoolean(!Equal(left, right)); break;
    case Op::Less:
    case Op::Greater:
    case Op::LessEqual:
    case Op::GreaterEqual: {
      int order;
      if (integers) {
        order = CompareIntegers(left.ToInteger(), right.ToInteger());
      } else {
        double a = left.ToNumber(), b = right.ToNumber();
        if (std::isnan(a) || std::isnan(b)) {
          left.SetBoolean(false);
          break;
        }
        order = a < b ? -1 : a > b ? 1 : 0;
      }
      bool result = op == Op::Less      ? order < 0
                    : op == Op::Greater ? order > 0
                    : op == Op::LessEqual ? order <= 0
                                          : order >= 0;
      left.SetBoolean(result);
      break;
    }
    case Op::Add:
    case Op::Subtract:
    case Op::Multiply:
      if (integers) {
        SetArithmetic(left,
                      op == Op::Add        ? Arithmetic::Add
                      : op == Op::Subtract ? Arithmetic::Subtract
                                           : Arithmetic::Multiply,
                      left.ToInteger(), right.ToInteger());
      } else {
        double a = left.ToNumber(), b = right.ToNumber();
        left.SetNumber(op == Op::Add ? a + b : op == Op::Subtract ? a - b : a * b);
      }
      break;
    case Op::Divide: {
      double divisor = right.ToNumber();
      if (std::fabs(divisor) < 0.000001) throw execution_error(ExecutionCode::DivisionByZero);
      left.SetNumber(left.ToNumber() / divisor);
      break;
    }
    case Op::Modulo: {
      const IntegerValue a = left.ToInteger(), b = right.ToInteger();
      if (b.fits && b.exact == 0) throw execution_error(ExecutionCode::ModuloByZero);
      if (a.fits && b.fits) {
        const std::int64_t remainder = b.exact == -1 ? 0 : a.exact % b.exact;  // INT64_MIN % -1 would trap
        if (integers) {
          left.SetInteger(remainder);
        } else {
          left.SetNumber(static_cast<double>(remainder));
        }
      } else {
        // Beyond 64 bits the remainder is taken of the double values.
        const double remainder = std::fmod(a.ToDouble(), b.ToDouble());
        if (integers) {
          SetWhole(left, remainder);
        } else {
          left.SetNumber(remainder);
        }
      }
      break;
    }
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

void xpath_processor::CallFunction(const Instruction& call) {
  const std::size_t n = static_cast<std::size_t>(call.arguments);
  if (depth_ < n) throw execution_error(ExecutionCode::StackUnderflow);
  const std::size_t first = depth_ - n;
  auto arg = [&](std::size_t i) -> ExpressionResult& { return *stack_[first + i]; };
  // The result goes into the first argument's slot once every argument is read.
  auto finish = [&]() -> ExpressionResult& {
    if (n == 0) return Push();
    Pop(n - 1);
    return arg(0);
  };
  auto finishText = [&]() {
    ExpressionResult& out = finish();
    out.StringBuffer().swap(functionText_);
  };

  switch (call.function) {
    case fn_ceiling:
    case fn_floor: {
      const ExpressionResult& value = arg(0);
      double result = 0;
      if (value.Kind() == ResultKind::Number) {
        if (!std::isnan(value.Number())) {
          result = call.function == fn_ceiling ? std::ceil(value.Number()) : std::floor(value.Number());
        }
        SetWhole(finish(), result);
      } else if (value.Kind() == ResultKind::Integer) {
        finish().SetInteger(value.Integer());
      } else {
        finish().SetInteger(value.Kind() == ResultKind::Boolean && value.Boolean() ? 1 : 0);
      }
      break;
    }
    case fn_concat:
      functionText_.clear();
      for (std::size_t i = 0; i < n; ++i) functionText_.append(arg(i).ToStringView(scratchA_));
      finishText();
      break;
    case fn_contains: {
      bool found = arg(0).ToStringView(scratchA_).find(arg(1).ToStringView(scratchB_)) != std::string_view::npos;
      finish().SetBoolean(found);
      break;
    }
    case fn_count: {
      const ExpressionResult& value = arg(0);
      std::int64_t count = value.Kind() == ResultKind::NodeSet ? value.Nodes().Count() : 0;
      finish().SetInteger(count);
      break;
    }
    case fn_false: finish().SetBoolean(false); break;
    case fn_true: finish().SetBoolean(true); break;
    case fn_last: {
      if (contextElement_ == nullptr) throw execution_error(ExecutionCode::LastNoContext);
      std::uint32_t count = siblings_.ElementChildren(contextElement_->Parent());
      finish().SetInteger(count);
      break;
    }
    case fn_position: {
      if (contextElement_ == nullptr) throw execution_error(ExecutionCode::PositionNoContext);
      std::uint32_t place =
          contextPosition_ != 0 ? contextPosition_ : siblings_.Position(contextElement_, byName_);
      finish().SetInteger(place);
      break;
    }
    case fn_name: {
      const ExpressionResult& value = arg(0);
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
      finishText();
      break;
    }
    case fn_normalize_space: {
      std::string_view text = arg(0).ToStringView(scratchA_);
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
      finishText();
      break;
    }
    case fn_not: {
      bool value = !arg(0).ToBoolean();
      finish().SetBoolean(value);
      break;
    }
    case fn_starts_with: {
      std::string_view text = arg(0).ToStringView(scratchA_);
      std::string_view prefix = arg(1).ToStringView(scratchB_);
      bool starts = text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
      finish().SetBoolean(starts);
      break;
    }
    case fn_string_length: {
      std::size_t length = arg(0).ToStringView(scratchA_).size();
      finish().SetInteger(static_cast<std::int64_t>(length));
      break;
    }
    case fn_substring: {
      std::string_view text = arg(0).ToStringView(scratchA_);
      const std::int64_t start = arg(1).ToInteger().Held();
      functionText_.clear();
      if (start >= 1 && static_cast<std::uint64_t>(start) <= text.size()) {
        std::string_view rest = text.substr(static_cast<std::size_t>(start) - 1);
        if (n == 3) {
          const std::int64_t length = arg(2).ToInteger().Held();
          // A negative length keeps nothing.
          if (length < 0) {
            rest = std::string_view();
          } else if (static_cast<std::uint64_t>(length) < rest.size()) {
            rest = rest.substr(0, static_cast<std::size_t>(length));
          }
        }
        functionText_.assign(rest);
      }
      finishText();
      break;
    }
    case fn_sum: {
      const ExpressionResult& value = arg(0);
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
        if (integerFits && integer.fits && !__builtin_add_overflow(integerSum, integer.exact, &next)) {
          integerSum = next;
        } else {
          if (integerFits) wideSum = static_cast<double>(integerSum);
          integerFits = false;
          wideSum += integer.ToDouble();
        }
        numberSum += LeadingNumber(text);
        if (text.find('.') != std::string_view::npos) fraction = true;
      }
      ExpressionResult& out = finish();
      if (fraction) {
        out.SetNumber(numberSum);
      } else if (integerFits) {
        out.SetInteger(integerSum);
      } else {
        out.SetNumber(wideSum);
      }
      break;
    }
    case fn_text: {
      if (contextElement_ == nullptr) throw execution_error(ExecutionCode::TextNoContext);
      functionText_.clear();
      for (TiXmlNode* child = contextElement_->FirstChild(); child != nullptr; child = child->NextSibling()) {
        if (child->Type() == TiXmlNode::TINYXML_TEXT) functionText_.append(child->ValueStr());
      }
      finishText();
      break;
    }
    default: throw execution_error(ExecutionCode::UnknownFunction);
  }
}

}  // namespace XPath
