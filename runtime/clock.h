// A processor-time clock in milliseconds that keeps increasing when its tick counter wraps.
#pragma once

#include <stdint.h>

// Milliseconds of processor time of the process, read from the clock source. When a reading is
// below the previous one the counter has wrapped: one period is added to every later reading,
// except for a reading of -1 (no clock), which gives 0.0 and leaves the clock's state unchanged.
// (A reading of -1 that is not below the previous one, as a signed counter past its wrap can
// give, counts as an ordinary reading.)
double ClockMilliseconds(void);

// A tick counter: the current count, or -1 when no clock is available.
typedef int64_t (*ClockTickSource)(void);

// Replaces the clock source (a test hook): `source` counts `ticksPerSecond` ticks per second
// and wraps after `period` ticks (0: never). A null source restores the C library's clock.
// Either way the clock starts again from a previous reading of 0 and no wrap.
void SetClockSource(ClockTickSource source, double ticksPerSecond, int64_t period);
