#include "process/DiagLog.h"

#include <gtest/gtest.h>

namespace {

// A message that is off must not cost its arguments.
TEST(DiagLogMask, ArgumentsOfMessagesThatAreOffAreNotEvaluated) {
  std::uint32_t saved = g_diagLogMask;
  int evaluated = 0;
  auto argument = [&evaluated]() {
    ++evaluated;
    return "x";
  };
  g_diagLogMask = 0x0001;
  DiagLog(kLogWarning, "not shown %s\n", argument());
  std::uint32_t bit = 0x0400;
  DiagLog(bit, "not shown either %s\n", argument());
  EXPECT_EQ(evaluated, 0);
  g_diagLogMask = 0x0020;
  DiagLog(kLogWarning, "shown %s\n", argument());
  EXPECT_EQ(evaluated, 1);
  g_diagLogMask = saved;
}

}  // namespace
