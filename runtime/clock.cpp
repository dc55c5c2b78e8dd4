#include "clock.h"

#include <time.h>

namespace {
int64_t LibraryClock(void) {
  clock_t ticks = clock();
  return ticks == static_cast<clock_t>(-1) ? -1 : static_cast<int64_t>(ticks);
}

// The C library's clock_t is 64 bits wide here and does not wrap within any process lifetime.
ClockTickSource tickSource = LibraryClock;
double ticksPerMillisecond = CLOCKS_PER_SEC / 1000.0;
int64_t wrapPeriod = 0;

// Process-wide and unguarded, like the clock itself.
int64_t lastTicks = 0;
double wrapOffset = 0.0;
}  // namespace

double ClockMilliseconds(void) {
  int64_t ticks = tickSource();
  if (ticks < lastTicks) {
    if (ticks == -1) return 0.0;
    wrapOffset += static_cast<double>(wrapPeriod);
  }
  lastTicks = ticks;
  return (static_cast<double>(ticks) + wrapOffset) / ticksPerMillisecond;
}

void SetClockSource(ClockTickSource source, double ticksPerSecond, int64_t period) {
  if (source && ticksPerSecond > 0.0) {
    tickSource = source;
    ticksPerMillisecond = ticksPerSecond / 1000.0;
    wrapPeriod = period > 0 ? period : 0;
  } else {
    tickSource = LibraryClock;
    ticksPerMillisecond = CLOCKS_PER_SEC / 1000.0;
    wrapPeriod = 0;
  }
  lastTicks = 0;
  wrapOffset = 0.0;
}
