// The processor-time clock in milliseconds, across the wrap-around of its tick counter.
#include <gtest/gtest.h>

#include <stdint.h>

#include "clock.h"
#include "platform.h"

namespace {
int64_t fakeTicks = 0;
int64_t FakeSource(void) { return fakeTicks; }

class Clock : public ::testing::Test {
 protected:
  void TearDown() override { SetClockSource(nullptr, 0.0, 0); }
  struct Reading {
    int64_t ticks;
    double milliseconds;
  };
  template <size_t N>
  void Expect(const Reading (&readings)[N]) {
    for (const Reading& r : readings) {
      fakeTicks = r.ticks;
      EXPECT_EQ(ClockMilliseconds(), r.milliseconds) << "ticks " << r.ticks;
    }
  }
};

const int64_t kPeriod = int64_t{1} << 32;

TEST_F(Clock, ASigned32BitCounterKeepsIncreasingAcrossItsWraps) {
  SetClockSource(FakeSource, 1000.0, kPeriod);
  const Reading readings[] = {
      {1000, 1000.0},
      {2147483647, 2147483647.0},
      {-2147483648, 2147483648.0},  // from the largest value to the smallest
      {-1000, 4294966296.0},
      {-1, 4294967295.0},  // not below the previous reading: a count, not a missing clock
      {0, 4294967296.0},
      {2147483647, 6442450943.0},
      {-2147483648, 6442450944.0},  // the second wrap adds a second period
  };
  Expect(readings);
}

TEST_F(Clock, AnUnsignedCounterWrapsToZero) {
  SetClockSource(FakeSource, 1000.0, kPeriod);
  const Reading readings[] = {{4294967295, 4294967295.0}, {0, 4294967296.0}, {5, 4294967301.0}};
  Expect(readings);
}

TEST_F(Clock, AMissingClockGivesZeroAndLeavesTheStateAlone) {
  SetClockSource(FakeSource, 1000.0, kPeriod);
  const Reading readings[] = {{500, 500.0}, {-1, 0.0}, {600, 600.0}, {-1, 0.0}, {700, 700.0}};
  Expect(readings);
}

TEST_F(Clock, TicksAreConvertedToMilliseconds) {
  SetClockSource(FakeSource, 1e6, kPeriod);
  const Reading readings[] = {{2500, 2.5}, {2147483647, 2147483.647}, {-2147483648, 2147483.648}};
  Expect(readings);
}

TEST_F(Clock, TheLibraryClockIsProcessTimeInMilliseconds) {
  SetClockSource(nullptr, 0.0, 0);
  double before = PlatformProcessMilliseconds();
  volatile double sink = 0;
  for (int i = 0; i < 2000000; ++i) sink = sink + i;
  double reading = ClockMilliseconds();
  double after = PlatformProcessMilliseconds();
  EXPECT_GE(reading, before);
  EXPECT_LE(reading, after);
  EXPECT_LE(reading, ClockMilliseconds());
}
}  // namespace
