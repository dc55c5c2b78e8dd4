// The millisecond timer.
#include <gtest/gtest.h>

#include "timer.h"

TEST(Timer, ModeZeroStartsAndOtherModesMeasureSecondsSinceTheStart) {
  double start = -1.0;
  const double now = ElapsedTime(&start, 0);
  EXPECT_EQ(start, now);
  start -= 2500.0;  // as if started 2.5 s earlier
  const double seconds = ElapsedTime(&start, 1);
  EXPECT_GE(seconds, 2.5);
  EXPECT_LT(seconds, 60.0);
}

TEST(Timer, SinceFirstCallReturnsTheClockOnceThenSeconds) {
  const double first = ElapsedTimeSinceFirstCall();
  const double later = ElapsedTimeSinceFirstCall();
  EXPECT_GE(later, 0.0);
  EXPECT_LE(later, 0.001 * (ElapsedTime(nullptr, 0) - first) + 1e-9);
}

TEST(Timer, HookReplacesTheClock) {
  timerHook = [](double* start, unsigned mode) { return mode ? *start + 1.0 : 42.0; };
  double start = 5.0;
  EXPECT_EQ(ElapsedTime(&start, 0), 42.0);
  EXPECT_EQ(start, 5.0);
  EXPECT_EQ(ElapsedTime(&start, 3), 6.0);
  timerHook = nullptr;
}
