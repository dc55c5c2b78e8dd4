// Views of arrays and records over C arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "arrayaccess.h"
#include "externalarrays.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "matrixop.h"
#include "workbuffers.h"

TEST(SubArray, ViewsTheBlockUnderFixedLeadingSubscriptsWithoutCopying) {
  double storage[12];
  for (int k = 0; k < 12; ++k) storage[k] = k;
  int32_t dims[] = {3, 4};
  RealArray a{2, dims, storage};
  struct Case {
    const char* name;
    int32_t k, j;
    int32_t ndims;
    const int32_t* dims;
    const double* data;
  } cases[] = {
      {"third row", 1, 2, 1, dims + 1, storage + 8},
      {"the whole array", 0, 0, 2, dims, storage},
      {"element (2,2)", 2, 5, 0, dims + 2, storage + 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RealArray view = RealSubArray(c.k, c.j, a);
    EXPECT_EQ(view.ndims, c.ndims);
    EXPECT_EQ(view.dims, c.dims);
    EXPECT_EQ(view.data, c.data);
  }
  RealArray row = RealSubArray(1, 2, a);
  double third = 0;
  ExpectNoFailure(GuardedCall([&] {
    RealSet(-1.0, row, 1);
    third = RealGet(RealSubArray(2, 5, a));
  }));
  EXPECT_EQ(storage[8], -1.0);  // a at (3, 1)
  EXPECT_EQ(third, 5.0);

  int32_t ints[6] = {0, 1, 2, 3, 4, 5};
  int32_t dims23[] = {2, 3};
  IntegerArray i23{2, dims23, ints};
  EXPECT_EQ(IntegerSubArray(1, 1, i23).data, ints + 3);
  char* strings[6] = {};
  StringArray s23{2, dims23, strings};
  EXPECT_EQ(StringSubArray(2, 4, s23).data, strings + 4);
}

TEST(FromExternal, WrapsTheCArrayWithSizesFromTheWorkBuffers) {
  double reals[12];
  int32_t ints[6];
  char* strings[2];
  RealArray r{};
  IntegerArray i{};
  StringArray s{};
  BufferMark before{}, after{};
  double r21 = 0;
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    MarkGet(&before);
    r = RealFromExternal(reals, 2, 3, 4);
    i = IntegerFromExternal(ints, 1, 6);
    s = StringFromExternal(strings, 0);
    MarkGet(&after);
    for (int k = 0; k < 12; ++k) reals[k] = k;
    r21 = RealGet(r, 2, 1);
  }));
  EXPECT_EQ(r.data, reals);
  EXPECT_EQ(std::vector<int32_t>(r.dims, r.dims + 2), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(r21, 4.0);  // p[4]
  EXPECT_EQ(i.data, ints);
  EXPECT_EQ(i.dims[0], 6);
  EXPECT_EQ(s.ndims, 0);
  EXPECT_EQ(s.data, strings);
  EXPECT_EQ(r.dims, before.place.Sizebuffer);
  EXPECT_EQ(after.place.Sizebuffer - before.place.Sizebuffer, 3);
  EXPECT_EQ(after.place.Realbuffer, before.place.Realbuffer);  // no element is copied
}

TEST(FromExternal, IntegerFromExternalRealTruncatesAndSaturates) {
  const double inf = std::numeric_limits<double>::infinity();
  const double p[] = {2.9, -2.9, 0.5, -0.0, 2147483647.0, 3e9, -3e9, inf, -inf, std::nan("")};
  IntegerArray a{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    a = IntegerFromExternalReal(p, 2, 2, 5);
  }));
  ASSERT_EQ(a.ndims, 2);
  EXPECT_EQ(std::vector<int32_t>(a.dims, a.dims + 2), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(std::vector<int32_t>(a.data, a.data + 10),
            (std::vector<int32_t>{2, -2, 0, 0, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX,
                                  INT32_MIN, 0}));
}

TEST(FromExternal, IntegerFromExternalRealRefusesAShapeThatDoesNotFit) {
  static const double p[1] = {1};
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      IntegerFromExternalReal(p, 2, 65536, 65536);
                    }),
                    "currentMark.place.Integerbuffer<EndIntegerbuffer",
                    "Out of memory for integers\nIt could due to too large matrices, infinite "
                    "recursion, or uninitialized variables.\nYou can increase the size of "
                    "'Integerbuffer' in velmar/source/matrixop.");
}

TEST(CopyToExternal, WritesExactlyTheElementCount) {
  const double guard = -99;
  struct Case {
    const char* name;
    int32_t ndims;
    std::vector<int32_t> dims;
    int written;
  } cases[] = {
      {"scalar", 0, {}, 1},
      {"2x3", 2, {2, 3}, 6},
      {"empty", 2, {3, 0}, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    double source[6] = {1, 2, 3, 4, 5, 6};
    std::vector<double> dst(8, guard);
    RealCopyToExternal(dst.data(), RealArray{c.ndims, c.dims.data(), source});
    for (int k = 0; k < 8; ++k) EXPECT_EQ(dst[k], k < c.written ? source[k] : guard) << k;
  }
}
