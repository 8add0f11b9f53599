// The value of an XPath expression and its conversions.
#pragma once

#include "inventory/XPathNodeSet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace XPath {

enum class ResultKind { Invalid, Boolean, String, Integer, Number, NodeSet };

// An integer value: exact when it fits 64 bits; beyond them (a longer digit
// string, a number that large) only its double value is known.
struct IntegerValue {
  union {
    std::int64_t exact = 0;  // when it fits
    double beyond;           // when it does not: at least 2^63 in magnitude, or infinite
  };
  bool fits = true;  // small enough to come back in registers: strings read by the million

  double ToDouble() const { return fits ? static_cast<double>(exact) : beyond; }
  // Held to the 64-bit range: for places and lengths, which a value beyond
  // it passes all the same.
  std::int64_t Held() const;
};

// A kind and one payload. A fresh value, and the value of every failed
// evaluation, is invalid.
class ExpressionResult {
 public:
  ExpressionResult() = default;
  ExpressionResult(const ExpressionResult&) = delete;
  ExpressionResult& operator=(const ExpressionResult&) = delete;

  ResultKind Kind() const { return kind_; }
  // Anything but a number with fraction: operators work on the integer
  // values when both operands are of integer kinds.
  bool IsIntegerKind() const { return kind_ != ResultKind::Number; }

  void Reset();
  void SetBoolean(bool value);
  void SetInteger(std::int64_t value);
  void SetNumber(double value);
  void SetString(std::string_view text);
  // Refers to text that outlives the value instead of copying it.
  void BorrowString(std::string_view text);
  // Makes the value a string and hands out its buffer to fill.
  std::string& StringBuffer();
  // Makes the value an empty node set.
  NodeSet& SetNodeSet();
  // Copies borrowed text into the value.
  void Materialize();

  // The payloads, as they are.
  bool Boolean() const { return boolean_; }
  std::int64_t Integer() const { return integer_; }
  double Number() const { return number_; }
  NodeSet& Nodes() { return nodes_; }
  const NodeSet& Nodes() const { return nodes_; }

  // Conversions. A node set converts through the value of its first entry
  // in document order (an attribute's value, a text's text, an element's
  // name); an invalid value is "false", 0, 0.0 and false.
  bool ToBoolean() const;
  IntegerValue ToInteger() const;
  double ToNumber() const;
  std::string ToString() const;
  // The string value without copying when possible; `scratch` holds the
  // text of converted numbers.
  std::string_view ToStringView(std::string& scratch) const;

  void Swap(ExpressionResult& other);

 private:
  ResultKind kind_ = ResultKind::Invalid;
  bool boolean_ = false;
  std::int64_t integer_ = 0;
  double number_ = 0;
  std::string string_;
  const char* borrowed_ = nullptr;  // when set, the string is [borrowed_, +borrowedLength_)
  std::size_t borrowedLength_ = 0;
  NodeSet nodes_;
};

// "%f" with trailing zeros and then a trailing point removed (2.5, 3);
// "NaN", "Infinity" and "-Infinity"; never "-0". Independent of the locale.
std::string FormatNumber(double value);
// Leading decimal integer, as atoi reads it (blanks, sign, digits); digits
// beyond 64 bits give their double value.
IntegerValue LeadingInteger(std::string_view text);
// Leading number, as atof reads it, independent of the locale.
double LeadingNumber(std::string_view text);
// Truncated toward zero; NaN gives 0.
IntegerValue NumberToInteger(double value);

}  // namespace XPath
