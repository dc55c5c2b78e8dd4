#include "platform.h"

#include <time.h>

namespace {

double monotonicMilliseconds(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// Taken when the unit is loaded, so that readings stay small enough for single-precision timers.
const double loadMilliseconds = monotonicMilliseconds();

}  // namespace

double PlatformProcessMilliseconds(void) {
  return static_cast<double>(clock()) * 1000.0 / CLOCKS_PER_SEC;
}

double PlatformElapsedMilliseconds(void) { return monotonicMilliseconds() - loadMilliseconds; }
