#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "saturate.h"

TEST(SaturatingInt, TruncatesTowardZeroAndSaturatesAtTheInt32Range) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    int32_t expected;
  } cases[] = {
      {0.0, 0},          {-0.0, 0},           {2.9, 2},
      {-2.9, -2},        {2147483647.0, INT32_MAX}, {2147483647.9, INT32_MAX},
      {2147483648.0, INT32_MAX}, {1e300, INT32_MAX}, {inf, INT32_MAX},
      {-2147483648.0, INT32_MIN}, {-2147483648.9, INT32_MIN}, {-1e300, INT32_MIN},
      {-inf, INT32_MIN}, {std::nan(""), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(SaturatingInt(c.value), c.expected) << c.value;
}
