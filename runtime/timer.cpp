#include "timer.h"

#include "clock.h"

TimerHook timerHook = nullptr;

double ElapsedTime(double* start, unsigned mode) {
  if (timerHook) return timerHook(start, mode);
  const double now = ClockMilliseconds();
  if (mode) return 0.001 * (now - (start ? *start : 0.0));
  if (start) *start = now;
  return now;
}

double ElapsedTimeSinceFirstCall(void) {
  static double start = 0.0;
  static unsigned started = 0;
  const double result = ElapsedTime(&start, started);
  started = 1;
  return result;
}
