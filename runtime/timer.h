// A millisecond timer on the runtime's clock.
#pragma once

// Replaces the timer when set (nothing in the unit sets it).
typedef double (*TimerHook)(double* start, unsigned mode);
extern TimerHook timerHook;

// Mode 0: the clock in milliseconds, also stored in *start when start is not null. Any other mode:
// the seconds since *start.
double ElapsedTime(double* start, unsigned mode);
// The first call returns the clock in milliseconds and keeps it; every later call the seconds
// since then.
double ElapsedTimeSinceFirstCall(void);
