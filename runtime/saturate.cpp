#include "saturate.h"

int32_t SaturatingInt(double value) {
  if (value != value) return 0;
  // 2^31 is exact in double; every double below it truncates into range.
  if (value >= 2147483648.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}
