#include "inventory/XPathResult.h"
#include "platform/AsciiText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace XPath {

void ExpressionResult::Reset() {
  kind_ = ResultKind::Invalid;
  borrowed_ = nullptr;
  string_.clear();
  nodes_.Clear();
}

void ExpressionResult::SetBoolean(bool value) {
  Reset();
  kind_ = ResultKind::Boolean;
  boolean_ = value;
}

void ExpressionResult::SetInteger(std::int64_t value) {
  Reset();
  kind_ = ResultKind::Integer;
  integer_ = value;
}

void ExpressionResult::SetNumber(double value) {
  Reset();
  kind_ = ResultKind::Number;
  number_ = value;
}

void ExpressionResult::SetString(std::string_view text) {
  // The text may live in this value's own buffer.
  std::string copy(text);
  Reset();
  kind_ = ResultKind::String;
  string_.swap(copy);
}

void ExpressionResult::BorrowString(std::string_view text) {
  Reset();
  kind_ = ResultKind::String;
  borrowed_ = text.data();
  borrowedLength_ = text.size();
}

std::string& ExpressionResult::StringBuffer() {
  Reset();
  kind_ = ResultKind::String;
  return string_;
}

NodeSet& ExpressionResult::SetNodeSet() {
  Reset();
  kind_ = ResultKind::NodeSet;
  return nodes_;
}

void ExpressionResult::Materialize() {
  if (borrowed_ == nullptr) return;
  string_.assign(borrowed_, borrowedLength_);
  borrowed_ = nullptr;
}

void ExpressionResult::Swap(ExpressionResult& other) {
  std::swap(kind_, other.kind_);
  std::swap(boolean_, other.boolean_);
  std::swap(integer_, other.integer_);
  std::swap(number_, other.number_);
  string_.swap(other.string_);
  std::swap(borrowed_, other.borrowed_);
  std::swap(borrowedLength_, other.borrowedLength_);
  nodes_.Swap(other.nodes_);
}

bool ExpressionResult::ToBoolean() const {
  switch (kind_) {
    case ResultKind::Boolean: return boolean_;
    case ResultKind::String: return borrowed_ != nullptr ? borrowedLength_ != 0 : !string_.empty();
    case ResultKind::Integer: return integer_ != 0;
    case ResultKind::Number: return number_ != 0 && !std::isnan(number_);
    case ResultKind::NodeSet: return !nodes_.Empty();
    default: return false;
  }
}

std::string_view ExpressionResult::ToStringView(std::string& scratch) const {
  switch (kind_) {
    case ResultKind::Boolean: return boolean_ ? "true" : "false";
    case ResultKind::String:
      if (borrowed_ != nullptr) return std::string_view(borrowed_, borrowedLength_);
      return string_;
    case ResultKind::Integer: scratch = std::to_string(integer_); return scratch;
    case ResultKind::Number: scratch = FormatNumber(number_); return scratch;
    case ResultKind::NodeSet: {
      const NodeSet::Entry* first = nodes_.FirstInDocumentOrder();
      return first != nullptr ? first->Value() : std::string_view();
    }
    default: return "false";
  }
}

std::string ExpressionResult::ToString() const {
  std::string scratch;
  return std::string(ToStringView(scratch));
}

IntegerValue ExpressionResult::ToInteger() const {
  IntegerValue value;
  switch (kind_) {
    case ResultKind::Boolean: value.exact = boolean_ ? 1 : 0; return value;
    case ResultKind::Integer: value.exact = integer_; return value;
    case ResultKind::Number: return NumberToInteger(number_);
    case ResultKind::String:
    case ResultKind::NodeSet: {
      std::string scratch;
      return LeadingInteger(ToStringView(scratch));
    }
    default: return value;
  }
}

double ExpressionResult::ToNumber() const {
  switch (kind_) {
    case ResultKind::Boolean: return boolean_ ? 1.0 : 0.0;
    case ResultKind::Integer: return integer_;
    case ResultKind::Number: return number_;
    case ResultKind::String:
    case ResultKind::NodeSet: {
      std::string scratch;
      return LeadingNumber(ToStringView(scratch));
    }
    default: return 0.0;
  }
}

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::size_t SkipBlanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

}  // namespace

std::string FormatNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buffer[400];  // the widest "%f" of a double has 309 digits before the point
  auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  std::string text(buffer, written.ptr);
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

IntegerValue LeadingInteger(std::string_view text) {
  std::size_t i = SkipBlanks(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digits = i;
  std::uint64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
  bool fits = true;
  if (i - digits > 18) {
    // Eighteen digits always fit; a longer run is read again with checks
    // (it may still fit, after leading zeros).
    const std::uint64_t limit = negative ? std::uint64_t(1) << 63 : (std::uint64_t(1) << 63) - 1;
    magnitude = 0;
    for (std::size_t j = digits; j < i && fits; ++j) {
      const unsigned digit = static_cast<unsigned>(text[j] - '0');
      fits = magnitude <= (limit - digit) / 10;
      if (fits) magnitude = magnitude * 10 + digit;
    }
  }
  IntegerValue value;
  if (fits) {
    // Two's complement: the magnitude 2^63 negated is the smallest value.
    value.exact = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return value;
  }
  // Digits alone read as a double without fail, or are too many for one.
  double beyond = 0;
  if (std::from_chars(text.data() + digits, text.data() + i, beyond).ec != std::errc()) {
    beyond = std::numeric_limits<double>::infinity();
  }
  value.fits = false;
  value.beyond = negative ? -beyond : beyond;
  return value;
}

double LeadingNumber(std::string_view text) {
  std::size_t i = SkipBlanks(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0.0;
  std::chars_format format = std::chars_format::general;
  char exponent = 'e';
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      ((i + 2 < text.size() && IsHexDigit(text[i + 2])) ||
       (i + 3 < text.size() && text[i + 2] == '.' && IsHexDigit(text[i + 3])))) {
    format = std::chars_format::hex;
    exponent = 'p';
    i += 2;
  }
  const char* begin = text.data() + i;
  const char* end = text.data() + text.size();
  double value = 0.0;
  auto parsed = std::from_chars(begin, end, value, format);
  if (parsed.ec == std::errc::invalid_argument) return 0.0;
  if (parsed.ec == std::errc::result_out_of_range) {
    // Too large is infinite, too small is zero, as strtod has it.
    bool tiny = false;
    for (const char* p = begin; p < parsed.ptr; ++p) {
      if ((*p == exponent || *p == exponent - 32) && p + 1 < parsed.ptr) tiny = p[1] == '-';
    }
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -value : value;
}

IntegerValue NumberToInteger(double value) {
  IntegerValue integer;
  if (std::isnan(value)) return integer;
  // -2^63 and 2^63 are exact doubles; everything from the one up to the
  // other converts.
  if (value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
    integer.exact = static_cast<std::int64_t>(value);
  } else {
    integer.fits = false;
    integer.beyond = std::trunc(value);
  }
  return integer;
}

std::int64_t IntegerValue::Held() const {
  if (fits) return exact;
  return beyond > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

}  // namespace XPath
