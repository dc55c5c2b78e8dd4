// Delay buffers: numbering and its limit, the starting points of plain and grid buffers, the
// interpolating read at both ends, updates that add, replace and drop points at either end, sizes
// and numbers that name no usable buffer, and the release of everything.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "delay_points.h"
#include "delays.h"
#include "guarded_call.h"

namespace {

typedef DelayPoints Points;

double ReadLeft(int number, double x) {
  double out0, out1;
  DelayRead(-111.0, -222.0, x, 0, number, &out0, &out1);
  EXPECT_EQ(out1, -222.0) << "the entering end passes its input";
  return out0;
}

double ReadRight(int number, double x) {
  double out0, out1;
  DelayRead(-111.0, -222.0, x, 1, number, &out0, &out1);
  EXPECT_EQ(out0, -111.0) << "the entering end passes its input";
  return out1;
}

std::string AllocationFailure(const char* size) {
  return std::string("Failed to allocate memory for delay.\n You might decrease the number of "
                     "delays\n  or the 'double Buffersize=") +
         size + ";' in velmar/source/dsblock5\n";
}

const char* const timeStamp = "The following error was detected at time: 0";

class Delays : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    DelayFreeAll();
    // The error reports carry the time of the record in evaluation: here the template's.
    modelDataTemplate.time = 0;
  }
  void TearDown() override { DelayFreeAll(); }
};

TEST_F(Delays, NumbersRunFromZeroToTheLimitAndTheNextCreateFails) {
  for (int i = 0; i < delayTableCapacity; ++i) ASSERT_EQ(DelayCreate(1, 2, 0, i), i);
  EXPECT_EQ(ReadLeft(1999, 0.0), 1999.0);
  GuardedCallResult call = GuardedCall([] { DelayCreate(1, 2, 0, 0); });
  EXPECT_TRUE(call.jumped);
  EXPECT_EQ(call.texts(), (std::vector<std::string>{
                              timeStamp,
                              "The maximum number of delays (= 2000) is reached.\nNo more delay "
                              "memory is available\n"}));
  EXPECT_EQ(call.levels(), (std::vector<int>{2, 2}));
  EXPECT_EQ(delayTables.delayCount, 1999);
}

TEST_F(Delays, ReleaseEndsEveryBufferAndNumberingStartsAgain) {
  EXPECT_EQ(DelayCreate(1, 10, 0, 5), 0);
  EXPECT_EQ(DelayCreateGrid(20, 0, 6), 1);
  // A table nothing fills is released as well (LeakSanitizer reports it otherwise).
  delayTables.delays2[0].times = static_cast<double*>(calloc(4, sizeof(double)));
  delayTables.delays2[0].size = 2;
  delayTables.delayCount2 = 0;
  DelayFreeAll();
  EXPECT_EQ(delayTables.delayCount, -1);
  EXPECT_EQ(delayTables.delayCount2, -1);
  EXPECT_EQ(delayTables.delays2[0].times, nullptr);
  for (int number : {0, 1}) {
    EXPECT_EQ(DelayFind(number), nullptr);
    EXPECT_EQ(ReadLeft(number, 0.5), -111.0) << "a released number passes its inputs";
  }
  EXPECT_EQ(DelayCreate(1, 10, 0, 8), 0);
  EXPECT_EQ(ReadLeft(0, 0.5), 8.0);
}

TEST_F(Delays, NewBufferHoldsItsStartingPointsAndReadsTheirValueEverywhere) {
  const int number = DelayCreate(2, 10, 5, 7);
  const DelayBuffer* b = DelayFind(number);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->size, 10);
  EXPECT_EQ(b->maxDelay, 2.0);
  EXPECT_EQ(b->values, b->times + 10);
  EXPECT_EQ(PointsOf(number), (Points{{5 - 2 - 1000000.0, 7}, {5, 7}}));
  EXPECT_EQ(b->current, 1);
  for (double x : {-2e6, -1e6, 0.0, 4.5, 5.0, 100.0}) {
    EXPECT_EQ(ReadLeft(number, x), 7.0) << x;
    EXPECT_EQ(ReadRight(number, x), 7.0) << x;
  }
  // The size is rounded to the nearest point count; the maximum delay enters by magnitude.
  EXPECT_EQ(DelayFind(DelayCreate(-2, 9.95, 5, 7))->size, 10);
  EXPECT_EQ(PointsOf(1).front().first, 5 - 2 - 1000000.0);
}

TEST_F(Delays, GridHoldsEvenlySpacedPointsBetweenItsFixedEnds) {
  const int number = DelayCreateGrid(100, 0, 3);
  Points expected = {{0, 3}, {1e-9, 3}};
  for (double t : {0.05, 0.15, 0.25, 0.35, 0.45, 0.55, 0.65, 0.75, 0.85, 0.95})
    expected.push_back({t, 3});
  expected.push_back({1 - 1e-9, 3});
  expected.push_back({1, 3});
  EXPECT_EQ(PointsOf(number), expected);
  EXPECT_EQ(DelayFind(number)->last, 13);
  EXPECT_EQ(DelayFind(number)->current, 1);
  EXPECT_EQ(DelayFind(number)->maxDelay, 1.0);
  // The smallest grid: its four fixed points only.
  const int smallest = DelayCreateGrid(3.9, 2, 1);
  EXPECT_EQ(PointsOf(smallest), (Points{{2, 1}, {2 + 1e-9, 1}, {3 - 1e-9, 1}, {3, 1}}));
}

// One update at the entering end and the points it leaves.
struct UpdateStep {
  const char* what;
  double x;
  double in;  // the entering input (in1 at the right end, in0 at the left)
  Points after;
};

void ExpectUpdates(int number, int rightEnd, const std::vector<UpdateStep>& steps) {
  for (const UpdateStep& s : steps) {
    if (rightEnd)
      DelayUpdate(s.in, -999, s.x, 1, number);
    else
      DelayUpdate(-999, s.in, s.x, 0, number);
    EXPECT_EQ(PointsOf(number), s.after) << (rightEnd ? "left end: " : "right end: ") << s.what;
  }
}

// (-1e6, -4), (0, -4), (1, 10), (1.5, 20), built at the right end.
int RampBuffer(void) {
  const int number = DelayCreate(0, 10, 0, -4);
  DelayUpdate(0, 10, 0.0, 0, number);
  DelayUpdate(0, 20, 0.5, 0, number);
  return number;
}

TEST_F(Delays, ReadsInterpolateAndHoldTheEndValuesOutside) {
  const int number = RampBuffer();
  ASSERT_EQ(PointsOf(number), (Points{{-1e6, -4}, {0, -4}, {1, 10}, {1.5, 20}}));
  struct Case {
    double x;
    double left;   // read at x (rightEnd 0)
    double right;  // read at x + 1 (rightEnd nonzero)
  } cases[] = {
      // Wide jumps make the search walk both ways from where the last read ended.
      {3.0, 20, 20},    {-2e6, -4, -4},  {0.5, 3, 20},   {1.25, 15, 20},
      {-0.75, -4, -0.5}, {0.0, -4, 10},  {1.5, 20, 20},  {-3e6, -4, -4}, {0.25, -0.5, 15},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadLeft(number, c.x), c.left) << c.x;
    EXPECT_EQ(ReadRight(number, c.x), c.right) << c.x;
  }
}

TEST_F(Delays, AStepReadsItsEarlierValueAtBothEnds) {
  // The right end moved back onto the point at 1 leaves two points there: a step from 10 to 30.
  const int number = RampBuffer();
  DelayUpdate(0, 30, 0.0, 0, number);
  DelayUpdate(0, 40, 1.0, 0, number);
  ASSERT_EQ(PointsOf(number), (Points{{-1e6, -4}, {0, -4}, {1, 10}, {1, 30}, {2, 40}}));
  EXPECT_EQ(ReadLeft(number, 0.5), 3.0);
  EXPECT_EQ(ReadRight(number, 0.0), 10.0);
  EXPECT_EQ(ReadLeft(number, 1.0), 10.0);
  EXPECT_EQ(ReadLeft(number, 1.5), 35.0);
  EXPECT_EQ(ReadLeft(number, 1.0), 10.0);
}

TEST_F(Delays, RightEndAddsReplacesAndTrimsPoints) {
  // Capacity 10: points closer than 1.4/10 to their neighbour replace the end point.
  const int number = RampBuffer();
  ExpectUpdates(number, 0, {
      {"moved right: added", 0.5625, 22,
       {{-1e6, -4}, {0, -4}, {1, 10}, {1.5, 20}, {1.5625, 22}}},
      {"moved right within 0.14 of the point before: the end is replaced", 0.625, 23,
       {{-1e6, -4}, {0, -4}, {1, 10}, {1.5, 20}, {1.625, 23}}},
      {"moved left: the points beyond are dropped", -0.25, 5, {{-1e6, -4}, {0, -4}, {0.75, 5}}},
      {"moved left past the second point: it is kept just below the end", -1.5, 6,
       {{-1e6, -4}, {-1.5 + 0.999999999, -4}, {-0.5, 6}}},
      {"unmoved: the value is replaced", -1.5, 7,
       {{-1e6, -4}, {-1.5 + 0.999999999, -4}, {-0.5, 7}}},
  });
}

TEST_F(Delays, TrimmingCarriesTheReadPositionAlong) {
  const int number = RampBuffer();
  DelayUpdate(0, 22, 0.625, 0, number);
  EXPECT_EQ(ReadLeft(number, 3.0), 22.0);  // the search now ends at the right end
  EXPECT_EQ(DelayFind(number)->current, DelayFind(number)->last);
  DelayUpdate(0, 5, -0.25, 0, number);  // drops two points
  EXPECT_EQ(PointsOf(number), (Points{{-1e6, -4}, {0, -4}, {0.75, 5}}));
  EXPECT_EQ(DelayFind(number)->current, DelayFind(number)->last);
  EXPECT_EQ(ReadLeft(number, 0.375), 0.5);  // -4 + 9 * 0.375 / 0.75
}

TEST_F(Delays, LeftEndAddsReplacesAndTrimsPoints) {
  // Grid on [0, 1] of capacity 20 (two interior points); 1.4/20 = 0.07.
  const int number = DelayCreateGrid(20, 0, 1);
  ExpectUpdates(number, 1, {
      {"moved left: added", -0.5, 5,
       {{-0.5, 5}, {0, 1}, {1e-9, 1}, {0.25, 1}, {0.75, 1}, {1 - 1e-9, 1}, {1, 1}}},
      {"moved left again: added", -0.52, 6,
       {{-0.52, 6}, {-0.5, 5}, {0, 1}, {1e-9, 1}, {0.25, 1}, {0.75, 1}, {1 - 1e-9, 1}, {1, 1}}},
      {"moved left within 0.07 of the point after: the end is replaced", -0.55, 7,
       {{-0.55, 7}, {-0.5, 5}, {0, 1}, {1e-9, 1}, {0.25, 1}, {0.75, 1}, {1 - 1e-9, 1}, {1, 1}}},
      {"moved right: the points before are dropped", 0.3, 2,
       {{0.3, 2}, {0.75, 1}, {1 - 1e-9, 1}, {1, 1}}},
  });
  EXPECT_DOUBLE_EQ(ReadRight(number, -0.5), 2 - 0.2 / 0.45);  // between (0.3, 2) and (0.75, 1)
  EXPECT_EQ(ReadRight(number, -1.0), 2.0);
  EXPECT_EQ(ReadRight(number, 5.0), 1.0);
}

TEST_F(Delays, LeftEndTrimmedPastTheSecondLastPointKeepsItJustAboveTheEnd) {
  const int number = DelayCreate(0, 10, 0, 0);
  DelayUpdate(0, 10, 0.0, 0, number);
  DelayUpdate(0, 20, 1.0, 0, number);
  DelayUpdate(9, 0, 1.5, 1, number);
  EXPECT_EQ(PointsOf(number), (Points{{1.5, 9}, {1.5 + 1e-8, 10}, {2, 20}}));
}

TEST_F(Delays, FullRingDropsTheFarEndUnlessTheNewValueHardlyChanges) {
  // Capacity 4, so 1.4/4 = 0.35.
  const int right = DelayCreate(0, 4, 0, 0);
  ExpectUpdates(right, 0, {
      {"room left", 0.0, 1, {{-1e6, 0}, {0, 0}, {1, 1}}},
      {"fills the ring", 1.0, 2, {{-1e6, 0}, {0, 0}, {1, 1}, {2, 2}}},
      {"full: the left end goes", 2.0, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {"full, the value has settled only at the end: the left end goes", 3.0, 3,
       {{1, 1}, {2, 2}, {3, 3}, {4, 3}}},
      {"full and flat near the end: the end point is replaced", 4.0, 3,
       {{1, 1}, {2, 2}, {3, 3}, {5, 3}}},
  });

  const int left = DelayCreate(0, 4, 0, 0);
  ExpectUpdates(left, 1, {
      {"room left", -2e6, 1, {{-2e6, 1}, {-1e6, 0}, {0, 0}}},
      {"fills the ring", -3e6, 2, {{-3e6, 2}, {-2e6, 1}, {-1e6, 0}, {0, 0}}},
      {"full: the right end goes", -4e6, 3, {{-4e6, 3}, {-3e6, 2}, {-2e6, 1}, {-1e6, 0}}},
      {"full, the value has settled only at the end: the right end goes", -5e6, 3,
       {{-5e6, 3}, {-4e6, 3}, {-3e6, 2}, {-2e6, 1}}},
      {"full and flat near the end: the end point is replaced", -6e6, 3,
       {{-6e6, 3}, {-4e6, 3}, {-3e6, 2}, {-2e6, 1}}},
  });
}

TEST_F(Delays, UpdateReadUpdatesOnlyWhenAskedAndReturnsBothEnds) {
  const int number = RampBuffer();
  double out0, out1;
  DelayUpdateRead(0, 30, 1.0, 0, number, &out0, &out1, 0);
  EXPECT_EQ(out0, 10.0);
  EXPECT_EQ(out1, 30.0);
  EXPECT_EQ(PointsOf(number).size(), 4u);
  DelayUpdateRead(0, 30, 1.0, 0, number, &out0, &out1, 1);  // (2, 30) enters first
  EXPECT_EQ(PointsOf(number).back(), (std::pair<double, double>{2, 30}));
  EXPECT_EQ(out0, 10.0);
  // The record form reads at the negated abscissa.
  DelayOutputs both = DelayAddPointRecord(number, 7, 8, -0.5, 0, 0);
  EXPECT_EQ(both.out0, 3.0);
  EXPECT_EQ(both.out1, 8.0);
  both = DelayAddPointRecord(number, 7, 8, 0.75, 1, 0);  // right end read at 0.25
  EXPECT_EQ(both.out0, 7.0);
  EXPECT_EQ(both.out1, -0.5);
}

TEST_F(Delays, InitialHistoryEntersItsPointsFromTheLastToTheFirst) {
  const double points[] = {0, 0.5, 1};
  const double values[] = {1, 2, 3};
  const int number = DelayInitialHistoryPoints(100, 0, points, values, 3);
  Points expected = {{0, 1}, {1e-13, 1}, {0.5, 2}, {1, 3}, {1 + 1e-9, 3}};
  for (int j = 0; j < 10; ++j) expected.push_back({1 + (j + 0.5) / 10, 3});
  expected.push_back({2 - 1e-9, 3});
  expected.push_back({2, 3});
  EXPECT_EQ(PointsOf(number), expected);

  struct Case {
    std::vector<double> points, values;
    Points head;  // the first points
  } cases[] = {
      {{0.2, 0.5}, {1, 2}, {{2 + 0.2, 1}, {2.5, 2}, {2.5 + 1e-9, 2}}},
      // No twin for a second point this close; the first point then replaces the grid's end.
      {{0, 1e-14}, {1, 2}, {{2, 1}, {(2 + 1e-14) + 1e-9, 2}, {(2 + 1e-14) + 0.5 / 10, 2}}},
      {{}, {}, {{2, 0}, {2 + 1e-9, 0}, {2 + 0.5 / 10, 0}}},
  };
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.points.size());
    const int number = DelayInitialHistoryPoints(100, 2, c.points.data(), c.values.data(), n);
    const Points all = PointsOf(number);
    ASSERT_GE(all.size(), c.head.size());
    EXPECT_EQ(Points(all.begin(), all.begin() + c.head.size()), c.head) << n;
  }
}

TEST_F(Delays, UnusableSizesAreRefusedBeforeANumberIsTaken) {
  struct Case {
    double bufferSize;
    bool grid;
    const char* shown;
  } cases[] = {
      {1.85, false, "1"},      {0, false, "0"},       {-5, false, "-4"},
      {std::nan(""), false, "0"}, {1e300, false, "2147483647"}, {-1e300, false, "-2147483648"},
      {3.85, true, "3"},       {-1, true, "0"},
  };
  for (const Case& c : cases) {
    GuardedCallResult call = GuardedCall([&] {
      if (c.grid)
        DelayCreateGrid(c.bufferSize, 0, 0);
      else
        DelayCreate(1, c.bufferSize, 0, 0);
    });
    EXPECT_TRUE(call.jumped) << c.shown;
    EXPECT_EQ(call.texts(), (std::vector<std::string>{timeStamp, AllocationFailure(c.shown)}))
        << c.shown;
    EXPECT_EQ(delayTables.delayCount, -1) << c.shown;
  }
  // The smallest sizes that hold the starting points.
  EXPECT_EQ(DelayCreate(1, 1.9, 0, 0), 0);
  EXPECT_EQ(DelayFind(0)->size, 2);
  EXPECT_EQ(DelayCreateGrid(3.9, 0, 0), 1);
}

TEST_F(Delays, NumbersThatNameNoBufferPassTheInputsAndChangeNothing) {
  const int number = RampBuffer();
  const Points before = PointsOf(number);
  for (int other : {-1, 1, 5, 1999, 2000, INT_MAX, INT_MIN}) {
    double out0 = 0, out1 = 0;
    for (int rightEnd : {0, 1}) {
      DelayUpdateRead(3, 4, 0.5, rightEnd, other, &out0, &out1, 1);
      EXPECT_EQ(out0, 3.0) << other;
      EXPECT_EQ(out1, 4.0) << other;
      DelayUpdate(3, 4, 0.5, rightEnd, other);
    }
    EXPECT_EQ(DelayFind(other), nullptr) << other;
  }
  EXPECT_EQ(PointsOf(number), before);
}

}  // namespace
