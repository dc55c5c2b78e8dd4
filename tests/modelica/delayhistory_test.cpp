// The initial history of a delay buffer from Real vectors: the checks on the two arrays and the
// points that reach the buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "delay_points.h"
#include "delayhistory.h"
#include "delays.h"
#include "failed_check.h"
#include "guarded_call.h"

namespace {

class DelayHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    DelayFreeAll();
  }
  void TearDown() override { DelayFreeAll(); }
};

// An array record over caller memory.
RealArray Array(int32_t ndims, int32_t* dims, double* data) { return RealArray{ndims, dims, data}; }

// The grid points that a buffer of capacity 100 on [a, a + 1] holds to the right of its first.
DelayPoints GridAfterFirst(double a, double v) {
  DelayPoints points = {{a + 1e-9, v}};
  for (int j = 0; j < 10; ++j) points.push_back({a + (j + 0.5) / 10, v});
  points.push_back({(a + 1) - 1e-9, v});
  points.push_back({a + 1, v});
  return points;
}

TEST_F(DelayHistory, PointsEnterFromTheLastToTheFirstAtTheLeftEnd) {
  // The last point starts the grid; the others enter at its left end, the last but one first.
  struct Case {
    const char* name;
    double x0;
    std::vector<double> points, values;
    DelayPoints entered;  // left of the grid's first point
    double gridStart, gridValue;
  } cases[] = {
      {"a first point at 0 gets a twin at 1e-13: 1, then 0.5, 1e-13 and 0 enter", 0,
       {0, 0.5, 1}, {1, 2, 3}, {{0, 1}, {1e-13, 1}, {0.5, 2}}, 1, 3},
      {"no twin for a first point off 0; points shift by x0", 2, {0.25, 0.5}, {4, 5},
       {{2.25, 4}}, 2.5, 5},
      {"one point: the grid alone", 2, {0.25}, {4}, {}, 2.25, 4},
      {"empty vectors: a grid of zeros at x0", 2, {}, {}, {}, 2, 0},
  };
  for (Case& c : cases) {
    int32_t n = static_cast<int32_t>(c.points.size());
    int number = -1;
    ExpectNoFailure(GuardedCall([&] {
      number = DelayInitialHistory(100, c.x0, 7, Array(1, &n, c.points.data()),
                                   Array(1, &n, c.values.data()));
    }));
    DelayPoints expected = c.entered;
    expected.push_back({c.gridStart, c.gridValue});
    for (const auto& p : GridAfterFirst(c.gridStart, c.gridValue)) expected.push_back(p);
    EXPECT_EQ(PointsOf(number), expected) << c.name;
  }
}

TEST_F(DelayHistory, PointsAndValuesMustBeVectorsOfOneSize) {
  int32_t two = 2, three = 3;
  int32_t matrix[] = {1, 2};
  double data[] = {0, 0.5, 1};
  struct Case {
    const char* name;
    RealArray points, values;
    const char* condition;
    const char* message;
  } cases[] = {
      {"points a matrix", Array(2, matrix, data), Array(1, &two, data), "initialPoints.ndims==1",
       "Initial Points should be a vector"},
      {"points a scalar, values a matrix", Array(0, nullptr, data), Array(2, matrix, data),
       "initialPoints.ndims==1", "Initial Points should be a vector"},
      {"values a matrix", Array(1, &two, data), Array(2, matrix, data), "initialValues.ndims==1",
       "Initial Values should be a vector"},
      {"values a scalar", Array(1, &two, data), Array(0, nullptr, data), "initialValues.ndims==1",
       "Initial Values should be a vector"},
      {"more points than values", Array(1, &three, data), Array(1, &two, data),
       "initialPoints.dims[0]==initialValues.dims[0]", "Initial Points and Values should have size"},
      {"fewer points than values", Array(1, &two, data), Array(1, &three, data),
       "initialPoints.dims[0]==initialValues.dims[0]", "Initial Points and Values should have size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(
        GuardedCall([&] { DelayInitialHistory(100, 0, 0, c.points, c.values); }), c.condition,
        c.message);
    EXPECT_EQ(delayTables.delayCount, -1) << "a refused history creates no buffer";
  }
}

TEST_F(DelayHistory, ABufferTooSmallForItsGridIsRefusedByTheDelayBuffers) {
  double points[] = {0.5};
  int32_t n = 1;
  GuardedCallResult call = GuardedCall(
      [&] { DelayInitialHistory(3, 0, 0, Array(1, &n, points), Array(1, &n, points)); });
  ASSERT_TRUE(call.jumped);
  EXPECT_EQ(call.texts().back(),
            "Failed to allocate memory for delay.\n You might decrease the number of delays\n  or "
            "the 'double Buffersize=3;' in velmar/source/dsblock5\n");
  EXPECT_EQ(delayTables.delayCount, -1);
}

}  // namespace
