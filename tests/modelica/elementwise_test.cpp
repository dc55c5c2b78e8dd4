// Elementwise arithmetic (in place, aliased and New), division by a scalar, the reductions and
// the conversions to Integer.
#include "elementwise.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "array_values.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "workbuffers.h"

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(Elementwise, RealArithmeticInPlaceAliasedAndNew) {
  struct Case {
    const char* name;
    RealArray (*make)(void);
    std::vector<double> expected;
  } cases[] = {
      {"add",
       [] {
         return RealAdd(Reals({3}, {0, 0, 0}), Reals({3}, {1, 2, 3}), Reals({3}, {10, 20, 30}));
       },
       {11, 22, 33}},
      {"add into the first argument",
       [] {
         RealArray a = Reals({2, 2}, {1, 2, 3, 4});
         RealAdd(a, a, Reals({2, 2}, {1, 1, 1, 1}));
         return a;
       },
       {2, 3, 4, 5}},
      {"add into the second argument",
       [] {
         RealArray b = Reals({2}, {1, 2});
         RealAdd(b, Reals({2}, {5, 5}), b);
         return b;
       },
       {6, 7}},
      {"a + a into a",
       [] {
         RealArray a = Reals({2}, {1.5, -2});
         return RealAdd(a, a, a);
       },
       {3, -4}},
      {"subtract from itself in place",
       [] {
         RealArray a = Reals({2}, {7, 9});
         return RealSubtract(a, a, Reals({2}, {1, 10}));
       },
       {6, -1}},
      {"subtract into the second argument",
       [] {
         RealArray b = Reals({2}, {1, 2});
         return RealSubtract(b, Reals({2}, {5, 5}), b);
       },
       {4, 3}},
      {"scale in place",
       [] {
         RealArray a = Reals({1, 3}, {1, -2, 0.5});
         return RealScale(a, a, -2);
       },
       {-2, 4, -1}},
      {"add new",
       [] {
         return RealAddNew(Reals({2}, {1, 2}), Reals({2}, {0.5, 0.25}));
       },
       {1.5, 2.25}},
      {"subtract new",
       [] {
         return RealSubtractNew(Reals({2}, {1, 2}), Reals({2}, {4, 4}));
       },
       {-3, -2}},
      {"scale new",
       [] {
         return RealScaleNew(Reals({2}, {1, 2}), 3);
       },
       {3, 6}},
      {"negate new",
       [] {
         return RealNegateNew(Reals({3}, {1, -2, 0}));
       },
       {-1, 2, -0.0}},
      {"scale a scalar held as an array", [] { return RealScaleNew(Reals({}, {2}), 4); }, {8}},
      {"divide",
       [] {
         return RealScaleDiv(Reals({2}, {1, 2}), 4);
       },
       {0.25, 0.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RealArray r{};
    ExpectSucceeds([&] { r = c.make(); });
    EXPECT_EQ(Values(r), c.expected);
  }
  RealArray negated{};
  ExpectSucceeds([&] {
    RealArray a = Reals({1}, {0});
    negated = RealNegate(a, a);
  });
  EXPECT_TRUE(std::signbit(negated.data[0]));
}

TEST(Elementwise, NewFormsMakeAResultLikeTheFirstArgument) {
  RealArray a{};
  RealArray r{};
  ExpectSucceeds([&] {
    a = Reals({2, 1}, {1, 2});
    r = RealAddNew(a, a);
  });
  EXPECT_NE(r.dims, a.dims);
  EXPECT_NE(r.data, a.data);
  EXPECT_EQ(r.ndims, 2);
  EXPECT_EQ(r.dims[0], 2);
  EXPECT_EQ(r.dims[1], 1);
}

TEST(Elementwise, DivisionByAScalarMultipliesByItsReciprocal) {
  // 3 / 10 and 3 * (1 / 10) differ in the last bit.
  RealArray r{};
  ExpectSucceeds([&] { r = RealScaleDiv(Reals({1}, {3}), 10); });
  EXPECT_EQ(r.data[0], 3 * (1 / 10.0));
  EXPECT_NE(r.data[0], 3 / 10.0);
}

TEST(Elementwise, IntegerArithmeticWrapsAround) {
  struct Case {
    const char* name;
    IntegerArray (*make)(void);
    std::vector<int32_t> expected;
  } cases[] = {
      {"add",
       [] {
         return IntegerAddNew(Integers({3}, {1, INT_MAX, -5}), Integers({3}, {2, 1, 5}));
       },
       {3, INT_MIN, 0}},
      {"add in place",
       [] {
         IntegerArray a = Integers({2}, {1, 2});
         return IntegerAdd(a, a, a);
       },
       {2, 4}},
      {"subtract",
       [] {
         return IntegerSubtractNew(Integers({2}, {INT_MIN, 3}), Integers({2}, {1, 5}));
       },
       {INT_MAX, -2}},
      {"subtract in place",
       [] {
         IntegerArray b = Integers({2}, {1, 2});
         return IntegerSubtract(b, Integers({2}, {0, 0}), b);
       },
       {-1, -2}},
      {"scale",
       [] {
         return IntegerScaleNew(Integers({3}, {3, 65536, -1}), 65536);
       },
       {196608, 0, -65536}},
      {"negate",
       [] {
         return IntegerNegateNew(Integers({3}, {1, INT_MIN, 0}));
       },
       {-1, INT_MIN, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IntegerArray r{};
    ExpectSucceeds([&] { r = c.make(); });
    EXPECT_EQ(Values(r), c.expected);
  }
}

TEST(Elementwise, ShapeChecksNameTheFamilyAndComeInOrder) {
  const FailingCall cases[] = {
      {"add 2x3 and 3x2",
       [] {
         RealAddNew(Reals({2, 3}, {1, 2, 3, 4, 5, 6}), Reals({3, 2}, {1, 2, 3, 4, 5, 6}));
       },
       "RealMatchingSizes(a,b)", "Add of arrays require arguments of matching size"},
      {"add into another shape",
       [] {
         RealAdd(Reals({6}, {1, 2, 3, 4, 5, 6}), Reals({2, 3}, {1, 2, 3, 4, 5, 6}),
                 Reals({2, 3}, {1, 2, 3, 4, 5, 6}));
       },
       "RealMatchingSizes(res,a)", "Add of arrays require result of matching size"},
      {"both wrong: arguments first",
       [] {
         RealAdd(Reals({1}, {0}), Reals({2}, {1, 2}), Reals({3}, {1, 2, 3}));
       },
       "RealMatchingSizes(a,b)", "Add of arrays require arguments of matching size"},
      {"subtract",
       [] {
         RealSubtractNew(Reals({2}, {1, 2}), Reals({1}, {1}));
       },
       "RealMatchingSizes(a,b)", "Subtract of arrays require arguments of matching size"},
      {"subtract into another shape",
       [] {
         RealSubtract(Reals({1}, {1}), Reals({2}, {1, 2}), Reals({2}, {1, 2}));
       },
       "RealMatchingSizes(res,a)", "Subtract of arrays require result of matching size"},
      {"scale",
       [] {
         RealScale(Reals({1}, {1}), Reals({2}, {1, 2}), 2);
       },
       "RealMatchingSizes(res,a)", "Array times scalar require result of matching size"},
      {"negate",
       [] {
         RealNegate(Reals({1}, {1}), Reals({2}, {1, 2}));
       },
       "RealMatchingSizes(res,a)", "Negating a matrix require result of matching size"},
      {"Integer add",
       [] {
         IntegerAddNew(Integers({2}, {1, 2}), Integers({1, 2}, {1, 2}));
       },
       "IntegerMatchingSizes(a,b)", "Add of arrays require arguments of matching size"},
      {"Integer add into another shape",
       [] {
         IntegerAdd(Integers({1}, {1}), Integers({2}, {1, 2}), Integers({2}, {1, 2}));
       },
       "IntegerMatchingSizes(res,a)", "Add of arrays require result of matching size"},
      {"Integer subtract",
       [] {
         IntegerSubtractNew(Integers({2}, {1, 2}), Integers({}, {1}));
       },
       "IntegerMatchingSizes(a,b)", "Subtract of arrays require arguments of matching size"},
      {"Integer subtract into another shape",
       [] {
         IntegerSubtract(Integers({1}, {1}), Integers({2}, {1, 2}), Integers({2}, {1, 2}));
       },
       "IntegerMatchingSizes(res,a)", "Subtract of arrays require result of matching size"},
      {"Integer scale",
       [] {
         IntegerScale(Integers({1}, {1}), Integers({2}, {1, 2}), 2);
       },
       "IntegerMatchingSizes(res,a)", "Array times scalar require result of matching size"},
      {"Integer negate",
       [] {
         IntegerNegate(Integers({1}, {1}), Integers({2}, {1, 2}));
       },
       "IntegerMatchingSizes(res,a)", "Negating a matrix require result of matching size"},
      {"divide by 0",
       [] {
         RealScaleDiv(Reals({2}, {1, 2}), 0.0);
       },
       "t!=0", "Division by zero in function RealScaleDiv"},
      {"divide by -0",
       [] {
         RealScaleDiv(Reals({2}, {1, 2}), -0.0);
       },
       "t!=0", "Division by zero in function RealScaleDiv"},
      {"diff of 2 and 3 elements",
       [] {
         RealDiff(Reals({2}, {1, 2}), Reals({3}, {1, 2, 3}));
       },
       "max_elem==RealNrElements(b)", "Diff"},
  };
  ExpectEachFails(cases);
}

TEST(Reductions, RealStartValuesEmptyArraysAndNaN) {
  struct Case {
    const char* name;
    double (*reduce)(RealArray);
    std::vector<int32_t> dims;
    std::vector<double> values;
    double expected;
  } cases[] = {
      {"sum", RealSum, {2, 2}, {1, 2, 3, 4.5}, 10.5},
      {"sum of nothing", RealSum, {0}, {}, 0.0},
      {"sum of a scalar", RealSum, {}, {7}, 7},
      {"sum in storage order", RealSum, {3}, {1e16, 1, 1}, 1e16},
      {"sum abs", RealSumAbs, {3}, {-1, 2, -3}, 6},
      {"sum abs of nothing", RealSumAbs, {2, 0}, {}, 0.0},
      {"sum abs of a NaN", RealSumAbs, {2}, {1, notANumber}, notANumber},
      {"max", RealMax, {3}, {-5, 3, 2}, 3},
      {"max of nothing", RealMax, {0}, {}, -DBL_MAX},
      {"max skips NaN", RealMax, {2}, {notANumber, 1}, 1},
      {"max of only NaN", RealMax, {1}, {notANumber}, -DBL_MAX},
      {"max of -inf", RealMax, {1}, {-inf}, -DBL_MAX},
      {"min", RealMin, {3}, {5, -3, 2}, -3},
      {"min of nothing", RealMin, {0}, {}, DBL_MAX},
      {"min skips NaN", RealMin, {3}, {2, notANumber, 1}, 1},
      {"product", RealProduct, {3}, {2, -3, 0.5}, -3},
      {"product of nothing", RealProduct, {0}, {}, 1.0},
      {"product of a scalar", RealProduct, {}, {4}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double got = 0;
    ExpectSucceeds([&] { got = c.reduce(Reals(c.dims, c.values)); });
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(got));
    } else {
      EXPECT_EQ(got, c.expected);
    }
  }
}

TEST(Reductions, IntegerStartValuesAndWrapping) {
  struct Case {
    const char* name;
    int (*reduce)(IntegerArray);
    std::vector<int32_t> dims;
    std::vector<int32_t> values;
    int expected;
  } cases[] = {
      {"sum", IntegerSum, {3}, {1, -2, 7}, 6},
      {"sum wraps", IntegerSum, {2}, {INT_MAX, 1}, INT_MIN},
      {"sum of nothing", IntegerSum, {0}, {}, 0},
      {"sum abs", IntegerSumAbs, {3}, {-1, 2, -3}, 6},
      {"sum abs of INT_MIN wraps", IntegerSumAbs, {1}, {INT_MIN}, INT_MIN},
      {"max", IntegerMax, {3}, {-5, 3, 2}, 3},
      {"max of nothing", IntegerMax, {0}, {}, INT_MIN},
      {"min", IntegerMin, {2}, {4, -1}, -1},
      {"min of nothing", IntegerMin, {0}, {}, INT_MAX},
      {"product", IntegerProduct, {3}, {2, -3, 4}, -24},
      {"product wraps", IntegerProduct, {2}, {65536, 65536}, 0},
      {"product of nothing", IntegerProduct, {2, 0}, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int got = 0;
    ExpectSucceeds([&] { got = c.reduce(Integers(c.dims, c.values)); });
    EXPECT_EQ(got, c.expected);
  }
}

TEST(Reductions, RelativeDifferenceIsScaledByTheFirstArgument) {
  double d = 0;
  double swapped = 0;
  double shapes = 0;
  ExpectSucceeds([&] {
    d = RealDiff(Reals({2}, {1, 3}), Reals({2}, {1, 1}));
    swapped = RealDiff(Reals({2}, {1, 1}), Reals({2}, {1, 3}));
    shapes = RealDiff(Reals({2, 3}, {0, 0, 0, 0, 0, 1}), Reals({3, 2}, {0, 0, 0, 0, 0, 0}));
  });
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(swapped, 1.0);
  EXPECT_EQ(shapes, 0.5);
}

TEST(ToInteger, FloorsAndSharesTheSizes) {
  RealArray a{};
  IntegerArray r{};
  ExpectSucceeds([&] {
    a = Reals({1, 3}, {-0.5, 2.9, 3.0});
    r = RealToInteger(a);
  });
  EXPECT_EQ(r.ndims, 2);
  EXPECT_EQ(r.dims, a.dims);
  EXPECT_EQ(std::vector<int32_t>(r.data, r.data + 3), (std::vector<int32_t>{-1, 2, 3}));

  struct Case {
    double x;
    int expected;
  } cases[] = {
      {-0.5, -1},
      {2.9, 2},
      {-3.0, -3},
      {2147483647.5, INT_MAX},
      {3e9, INT_MAX},
      {-3e9, INT_MIN},
      {-2147483648.5, INT_MIN},
      {inf, INT_MAX},
      {-inf, INT_MIN},
      {notANumber, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FloorToInteger(c.x), c.expected) << c.x;
}
