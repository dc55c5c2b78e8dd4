// Conversions of doubles to int that never leave the range: an out-of-range conversion is
// undefined behaviour in C++, and values from files, hosts and external code can be anything.
#pragma once

#include <cstdint>

// Truncates toward zero; values beyond the int32 range give INT32_MAX or INT32_MIN, NaN gives 0.
int32_t SaturatingInt(double value);

// Counts one more, staying at INT32_MAX once there: counters that restored states carry can hold
// any value, and a signed overflow is undefined.
inline void SaturatingIncrement(int32_t& counter) {
  if (counter < INT32_MAX) ++counter;
}
