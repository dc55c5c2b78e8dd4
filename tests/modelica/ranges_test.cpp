// Real and Integer ranges, linspace, elementwise not, and, or, and the when edges of a Boolean
// vector.
#include "ranges.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <vector>

#include "array_values.h"
#include "failed_check.h"
#include "guarded_call.h"

namespace {

const char realMessage[] =
    "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can change the memory size by setting the variable "
    "Advanced.RealBufferSize.";
const char integerMessage[] =
    "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
    "velmar/source/matrixop.";

}  // namespace

TEST(RealRange, CountsALastStepMissedByRoundingAndMatchesBitForBit) {
  struct Case {
    double start, stop, stride;
    std::vector<double> expected;
  } cases[] = {
      {0,
       1,
       0.1,
       {0.0, 0.1, 0.2, 0.30000000000000004, 0.4, 0.5, 0.6000000000000001, 0.7000000000000001, 0.8,
        0.9, 1.0}},
      // floor(0.3 / 0.1) + 1 would give 3.
      {0, 0.3, 0.1, {0.0, 0.1, 0.2, 0.30000000000000004}},
      {0.1, 0.7, 0.2, {0.1, 0.30000000000000004, 0.5, 0.7000000000000001}},
      {1, 0, -0.25, {1, 0.75, 0.5, 0.25, 0}},
      {0, 5, 2, {0, 2, 4}},
      {1, 0, 1, {}},
      {0, -1, 0.5, {}},
      {2.5, 2.5, 1, {2.5}},
      {0.5, 3.5, 1, {0.5, 1.5, 2.5, 3.5}},
      {-1, 1, 1e300, {-1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ":" << c.stride << ":" << c.stop);
    RealArray r{};
    ExpectSucceeds([&] { r = RealRange(c.start, c.stop, c.stride); });
    ASSERT_EQ(r.ndims, 1);
    EXPECT_EQ(Values(r), c.expected);
  }
}

TEST(RealRange, RefusesZeroAndNaNStridesAndOverlongRanges) {
  const double notANumber = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    double start, stop, stride;
    const char* condition;
    const char* message;
  } cases[] = {
      {"stride 0", 0, 1, 0.0, "stride!=0", "range requires non-zero stride"},
      {"stride -0", 0, 1, -0.0, "stride!=0", "range requires non-zero stride"},
      {"NaN stride", 0, 1, notANumber, "!isnan((stop-start)/stride)",
       "range requires numeric bounds and stride"},
      {"NaN stop", 0, notANumber, 1, "!isnan((stop-start)/stride)",
       "range requires numeric bounds and stride"},
      {"infinite stop", 0, infinity, 1, "currentMark.place.Realbuffer<EndRealbuffer", realMessage},
      // Beyond the int range the count saturates instead of wrapping into a small vector.
      {"a count beyond int32", 0, 1e10, 1, "currentMark.place.Realbuffer<EndRealbuffer",
       realMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall([&] {
                        MarkReset();
                        RealRange(c.start, c.stop, c.stride);
                      }),
                      c.condition, c.message);
  }
}

TEST(IntegerRange, StepsFromStartNotBeyondStop) {
  struct Case {
    int start, stop, stride;
    std::vector<int32_t> expected;
  } cases[] = {
      {1, 10, 3, {1, 4, 7, 10}},
      {10, 1, -4, {10, 6, 2}},
      {5, 1, 1, {}},
      {1, 5, -1, {}},
      {3, 3, 7, {3}},
      {-7, -1, 3, {-7, -4, -1}},
      // A span beyond int32 is counted exactly and no element overflows.
      {-2000000000, 2000000000, 2000000000, {-2000000000, 0, 2000000000}},
      {INT_MAX, INT_MIN, INT_MIN, {INT_MAX, -1}},
      {INT_MAX - 1, INT_MAX, 5, {INT_MAX - 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ":" << c.stride << ":" << c.stop);
    IntegerArray r{};
    ExpectSucceeds([&] { r = IntegerRange(c.start, c.stop, c.stride); });
    ASSERT_EQ(r.ndims, 1);
    EXPECT_EQ(Values(r), c.expected);
  }
  ExpectFailedCheck(GuardedCall([] { IntegerRange(1, 2, 0); }), "stride!=0",
                    "range requires non-zero stride");
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      IntegerRange(INT_MIN, INT_MAX, 1);
                    }),
                    "currentMark.place.Integerbuffer<EndIntegerbuffer", integerMessage);
}

TEST(RealLinspace, EndsExactlyAtTheSecondValue) {
  struct Case {
    double x1, x2;
    int n;
    std::vector<double> expected;
  } cases[] = {
      {0, 1, 5, {0, 0.25, 0.5, 0.75, 1}},
      {0, 1, 2, {0, 1}},
      {2, -1, 4, {2, 1, 0, -1}},
      // 3 * ((0.3 - 0.1) / 3) + 0.1 is 0.30000000000000004.
      {0.1, 0.3, 4, {0.1, 0.16666666666666669, 0.23333333333333334, 0.3}},
      // and 9 * ((0.8 - 0.1) / 9) + 0.1 is 0.7999999999999999.
      {0.1, 0.8, 10, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << ", " << c.x2 << ", " << c.n);
    RealArray r{};
    ExpectSucceeds([&] { r = RealLinspace(c.x1, c.x2, c.n); });
    ASSERT_EQ(r.ndims, 1);
    ASSERT_EQ(r.dims[0], c.n);
    EXPECT_EQ(r.data[c.n - 1], c.x2);
    if (!c.expected.empty()) {
      EXPECT_EQ(Values(r), c.expected);
    }
  }
}

TEST(RealLinspace, RefusesFewerThanTwoPointsBeforeTakingStorage) {
  for (int n : {1, 0, -1, INT_MIN}) {
    SCOPED_TRACE(n);
    BufferMark before{};
    GuardedCallResult result = GuardedCall([&] {
      MarkReset();
      MarkGet(&before);
      RealLinspace(0, 1, n);
    });
    ExpectFailedCheck(result, "n>=2", "Linspace number of point>=2");
    BufferMark after{};
    GuardedCall([&] { MarkGet(&after); });
    EXPECT_EQ(after.place.Sizebuffer, before.place.Sizebuffer);
    EXPECT_EQ(after.place.Realbuffer, before.place.Realbuffer);
  }
}

TEST(BooleanArrays, NotAndOrGiveZeroAndOne) {
  struct Case {
    const char* name;
    IntegerArray (*make)(void);
    std::vector<int32_t> expected;
  } cases[] = {
      {"not",
       [] {
         return BooleanNot(Integers({3}, {0, 1, 5}));
       },
       {1, 0, 0}},
      {"and",
       [] {
         return BooleanAnd(Integers({2}, {2, 0}), Integers({2}, {3, 3}));
       },
       {1, 0}},
      {"and of negatives",
       [] {
         return BooleanAnd(Integers({2, 2}, {-1, 0, 7, 1}), Integers({2, 2}, {-1, -1, 0, 1}));
       },
       {1, 0, 0, 1}},
      {"or",
       [] {
         return BooleanOr(Integers({2}, {0, 0}), Integers({2}, {0, -1}));
       },
       {0, 1}},
      {"or of 2x2",
       [] {
         return BooleanOr(Integers({2, 2}, {4, 0, 0, 0}), Integers({2, 2}, {0, 0, 9, 1}));
       },
       {1, 0, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IntegerArray r{};
    ExpectSucceeds([&] { r = c.make(); });
    EXPECT_EQ(std::vector<int32_t>(r.data, r.data + IntegerNrElements(r)), c.expected);
  }
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      BooleanAnd(Integers({1, 2}, {1, 1}), Integers({2}, {1, 1}));
                    }),
                    "IntegerMatchingSizes(a,b)",
                    "and of arrays require arguments of matching size");
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      BooleanOr(Integers({2}, {1, 1}), Integers({3}, {1, 1, 1}));
                    }),
                    "IntegerMatchingSizes(a,b)", "or of arrays require arguments of matching size");
}

TEST(IntegerWhenEdges, FiresOnRisingConditionsWhereAllowed) {
  struct Case {
    const char* name;
    std::vector<int32_t> cond, eval, state;
    int edges;
    int returned;
    int indicator;  // starts at 0
    std::vector<int32_t> stateAfter;
  } cases[] = {
      {"fires and rearms", {1, 0}, {1, 1}, {7, 7}, 1, 1, 1, {0, 1}},
      {"no edges: only rearms", {1, 0}, {1, 1}, {7, 7}, 0, 0, 0, {7, 1}},
      {"eval holds the first back", {1, 1}, {0, 1}, {7, 7}, 1, 1, 1, {7, 0}},
      {"nothing true", {0, 0, 0}, {1, 1, 1}, {0, 0, 0}, 1, 0, 0, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int returned = -1;
    int indicator = 0;
    IntegerArray state{};
    ExpectSucceeds([&] {
      IntegerArray cond = Integers({static_cast<int32_t>(c.cond.size())}, c.cond);
      IntegerArray eval = Integers({static_cast<int32_t>(c.eval.size())}, c.eval);
      state = Integers({static_cast<int32_t>(c.state.size())}, c.state);
      returned = IntegerWhenEdges(cond, eval, state, c.edges, &indicator);
    });
    EXPECT_EQ(returned, c.returned);
    EXPECT_EQ(indicator, c.indicator);
    EXPECT_EQ(Values(state), c.stateAfter);
  }
}

TEST(IntegerWhenEdges, WithEvalAsStateEachElementFiresOncePerRise) {
  // cond over four calls: element 0 rises, stays, falls, rises again.
  const int32_t conditions[4][2] = {{1, 0}, {1, 0}, {0, 1}, {1, 1}};
  const int expectedFired[4] = {1, 0, 1, 1};
  const int32_t expectedState[4][2] = {{0, 1}, {0, 1}, {1, 0}, {0, 0}};
  int fired[4] = {};
  int32_t states[4][2] = {};
  int indicator = 0;
  ExpectSucceeds([&] {
    IntegerArray state = Integers({2}, {1, 1});
    for (int call = 0; call < 4; ++call) {
      IntegerArray cond = Integers({2}, {conditions[call][0], conditions[call][1]});
      fired[call] = IntegerWhenEdges(cond, state, state, 1, &indicator);
      states[call][0] = state.data[0];
      states[call][1] = state.data[1];
    }
  });
  for (int call = 0; call < 4; ++call) {
    SCOPED_TRACE(call);
    EXPECT_EQ(fired[call], expectedFired[call]);
    EXPECT_EQ(states[call][0], expectedState[call][0]);
    EXPECT_EQ(states[call][1], expectedState[call][1]);
  }
  EXPECT_EQ(indicator, 1);  // collected over the calls, never cleared
}

TEST(IntegerWhenEdges, RefusesMismatchedEvalAndShortState) {
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      int indicator = 0;
                      IntegerWhenEdges(Integers({3}, {1, 1, 1}), Integers({2}, {1, 1}),
                                       Integers({3}, {1, 1, 1}), 1, &indicator);
                    }),
                    "IntegerMatchingSizes(cond,eval)", "Internal error in array when.");
  // A state shorter than cond would be written beyond its end.
  int32_t guard[3] = {5, 5, 5};
  GuardedCallResult shortState = GuardedCall([&] {
    MarkReset();
    int indicator = 0;
    IntegerArray state = Integers({1}, {1});
    state.data = guard;
    IntegerWhenEdges(Integers({2}, {0, 0}), Integers({2}, {1, 1}), state, 1, &indicator);
  });
  ExpectFailedCheck(shortState, "IntegerNrElements(state)>=IntegerNrElements(cond)",
                    "Internal error in array when.");
  EXPECT_EQ(guard[0], 5);
  EXPECT_EQ(guard[1], 5);
}
