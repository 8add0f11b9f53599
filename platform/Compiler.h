// What the compiler can be told or asked beyond the language: format
// checking, prefetching, checked integer arithmetic. Code elsewhere uses
// these names and never the compiler's own extensions.
#pragma once

#include <limits>
#include <type_traits>

// Marks a function whose argument formatIndex (counted from 1) is a printf
// format for the arguments from firstArgument on, so that calls are checked.
#if defined(__GNUC__)
#define PROVIDER_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PROVIDER_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace platform {

// Starts fetching `lines` cache lines (64 bytes each) from address on, so
// that a later miss overlaps the work in between. Only a hint.
inline void Prefetch(const void* address, int lines = 1) {
#if defined(__GNUC__)
  const char* bytes = static_cast<const char*>(address);
  for (int i = 0; i < lines; ++i) __builtin_prefetch(bytes + 64 * i);
#else
  (void)address;
  (void)lines;
#endif
}

// *result = a + b, a - b or a * b; true (and *result unspecified) when the
// exact result does not fit T. b must fit T.
template <typename T>
bool AddOverflows(T a, T b, T* result) {
  static_assert(std::is_integral<T>::value, "integers only");
#if defined(__GNUC__)
  return __builtin_add_overflow(a, b, result);
#else
  using L = std::numeric_limits<T>;
  if (b > 0 ? a > L::max() - b : a < L::min() - b) return true;
  *result = static_cast<T>(a + b);
  return false;
#endif
}

template <typename T>
bool SubtractOverflows(T a, T b, T* result) {
  static_assert(std::is_integral<T>::value, "integers only");
#if defined(__GNUC__)
  return __builtin_sub_overflow(a, b, result);
#else
  using L = std::numeric_limits<T>;
  if (L::is_signed ? (b < 0 ? a > L::max() + b : a < L::min() + b) : a < b) return true;
  *result = static_cast<T>(a - b);
  return false;
#endif
}

template <typename T>
bool MultiplyOverflows(T a, T b, T* result) {
  static_assert(std::is_integral<T>::value, "integers only");
#if defined(__GNUC__)
  return __builtin_mul_overflow(a, b, result);
#else
  using L = std::numeric_limits<T>;
  bool overflow = false;
  if (a != 0 && b != 0) {
    if (a > 0)
      overflow = b > 0 ? a > L::max() / b : b < L::min() / a;
    else
      overflow = b > 0 ? a < L::min() / b : b < L::max() / a;
  }
  if (overflow) return true;
  *result = static_cast<T>(a * b);
  return false;
#endif
}

}  // namespace platform
