// Filling, conversions between scalars, vectors and matrices, transposition, symmetric matrices,
// the column-major copy and the record-array helpers.
#include "reshape.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "array_values.h"
#include "failed_check.h"
#include "guarded_call.h"

namespace {

#define RESHAPE_ENTRY_POINTS(Prefix)                           \
  static constexpr auto SetAll = Prefix##SetAll;               \
  static constexpr auto Fill = Prefix##Fill;                   \
  static constexpr auto FillArray = Prefix##FillArray;         \
  static constexpr auto ToScalar = Prefix##ToScalar;           \
  static constexpr auto ToVector = Prefix##ToVector;           \
  static constexpr auto ToMatrix = Prefix##ToMatrix;           \
  static constexpr auto Transpose = Prefix##Transpose;         \
  static constexpr auto Symmetric = Prefix##Symmetric;         \
  static constexpr auto ToColumnMajor = Prefix##ToColumnMajor; \
  static constexpr auto NrElements = Prefix##NrElements;       \
  static constexpr const char* prefix = #Prefix;

struct Real : RealValues {
  RESHAPE_ENTRY_POINTS(Real)
};
struct Integer : IntegerValues {
  RESHAPE_ENTRY_POINTS(Integer)
};
struct String : StringValues {
  RESHAPE_ENTRY_POINTS(String)
};

template <class F>
class Reshape : public ::testing::Test {};
using Families = ::testing::Types<Real, Integer, String>;
TYPED_TEST_SUITE(Reshape, Families);

struct Expected {
  std::vector<int32_t> dims;
  std::vector<int> keys;
};

}  // namespace

TYPED_TEST(Reshape, SetAllAndFill) {
  using F = TypeParam;
  using Array = typename F::Array;
  Array a{};
  Array set{};
  Array filled{};
  Array scalar{};
  ExpectSucceeds([&] {
    a = MakeArray<F>({2, 2});
    set = F::SetAll(a, F::Value(7));
    filled = F::Fill(F::Value(3), 3, 2, 1, 2);
    scalar = F::Fill(F::Value(4), 0);
  });
  EXPECT_EQ(set.data, a.data);
  EXPECT_EQ(set.dims, a.dims);
  EXPECT_EQ(Keys<F>(a, 4), (std::vector<int>{7, 7, 7, 7}));
  EXPECT_EQ(Dims(filled), (std::vector<int32_t>{2, 1, 2}));
  EXPECT_EQ(Keys<F>(filled, 4), (std::vector<int>{3, 3, 3, 3}));
  EXPECT_EQ(scalar.ndims, 0);
  EXPECT_EQ(F::Key(scalar.data[0]), 4);
}

TYPED_TEST(Reshape, FillArrayRepeatsTheArrayInEveryBlock) {
  using F = TypeParam;
  const BuildCase<F> cases[] = {
      {"vector into 3 rows",
       [] {
         return F::FillArray(MakeArray<F>({2}, {1, 2}), 1, 3);
       },
       {3, 2},
       {1, 2, 1, 2, 1, 2}},
      {"matrix into 2x1 blocks",
       [] {
         return F::FillArray(MakeArray<F>({1, 2}, {5, 6}), 2, 2, 1);
       },
       {2, 1, 1, 2},
       {5, 6, 5, 6}},
      {"k of 0 copies",
       [] {
         return F::FillArray(MakeArray<F>({3}, {4, 5, 6}), 0);
       },
       {3},
       {4, 5, 6}},
      {"no blocks", [] { return F::FillArray(MakeArray<F>({2}), 1, 0); }, {0, 2}, {}},
  };
  ExpectEachBuilds(cases);
}

TYPED_TEST(Reshape, ViewsAsScalarVectorAndMatrix) {
  using F = TypeParam;
  using Array = typename F::Array;
  struct Case {
    const char* name;
    std::vector<int32_t> dims;
    bool matrix;  // ToMatrix, else ToVector
    std::vector<int32_t> expected;
  } cases[] = {
      {"vector of 1x3x1", {1, 3, 1}, false, {3}}, {"vector of 1x1", {1, 1}, false, {1}},
      {"vector of 0x3", {0, 3}, false, {0}},      {"vector of a scalar", {}, false, {1}},
      {"matrix of a vector", {3}, true, {3, 1}},  {"matrix of 2x3x1", {2, 3, 1}, true, {2, 3}},
      {"matrix of a scalar", {}, true, {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Array a{};
    Array view{};
    ExpectSucceeds([&] {
      a = MakeArray<F>(c.dims);
      view = c.matrix ? F::ToMatrix(a) : F::ToVector(a);
    });
    EXPECT_EQ(Dims(view), c.expected);
    EXPECT_EQ(view.data, a.data);
    if (a.ndims > 0) {  // a scalar's sizes take no slots to differ by
      EXPECT_NE(view.dims, a.dims);
    }
  }
  decltype(F::Value(0)) one{};
  ExpectSucceeds([&] { one = F::ToScalar(MakeArray<F>({1, 1, 1}, {9})); });
  EXPECT_EQ(F::Key(one), 9);
}

TYPED_TEST(Reshape, ConversionsRefuseTheWrongShapes) {
  using F = TypeParam;
  const std::string p = F::prefix;
  const FailingCall cases[] = {
      {"scalar of an empty array", [] { F::ToScalar(MakeArray<F>({0})); }, p + "NrElements(a)==1",
       "scalar requires exactly one element"},
      {"scalar of two elements", [] { F::ToScalar(MakeArray<F>({2})); }, p + "NrElements(a)==1",
       "scalar requires exactly one element"},
      {"vector of 2x3",
       [] {
         F::ToVector(MakeArray<F>({2, 3}));
       },
       "!found_non_one", "vector requires exactly one vector non-unit dimension"},
      {"matrix of 2x3x2",
       [] {
         F::ToMatrix(MakeArray<F>({2, 3, 2}));
       },
       p + "NrElements(a)==" + p + "NrElements(res)", "matrix requires size(x,i)=1 for i>2"},
      {"transpose of a vector", [] { F::Transpose(MakeArray<F>({3})); }, "a.ndims>=2",
       "transpose requires ndims>=2"},
      {"symmetric of 2x2x1",
       [] {
         F::Symmetric(MakeArray<F>({2, 2, 1}));
       },
       "a.ndims==2", "symmetric requires ndims==2"},
      {"symmetric of 2x3",
       [] {
         F::Symmetric(MakeArray<F>({2, 3}));
       },
       "a.dims[0]==a.dims[1]", "symmetric requires square matrix"},
  };
  ExpectEachFails(cases);
}

TYPED_TEST(Reshape, TransposeExchangesTheFirstTwoDimensions) {
  using F = TypeParam;
  using Array = typename F::Array;
  struct Case {
    const char* name;
    std::vector<int32_t> dims;
    Expected expected;
  } cases[] = {
      {"2x3", {2, 3}, {{3, 2}, {0, 3, 1, 4, 2, 5}}},
      {"1x4", {1, 4}, {{4, 1}, {0, 1, 2, 3}}},
      // The blocks of the last dimension move whole.
      {"2x3x2", {2, 3, 2}, {{3, 2, 2}, {0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11}}},
      {"0x2", {0, 2}, {{2, 0}, {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Array t{};
    ExpectSucceeds([&] { t = F::Transpose(MakeArray<F>(c.dims)); });
    EXPECT_EQ(Dims(t), c.expected.dims);
    EXPECT_EQ(Keys<F>(t, F::NrElements(t)), c.expected.keys);
  }
}

TYPED_TEST(Reshape, SymmetricMirrorsTheUpperTriangle) {
  using F = TypeParam;
  using Array = typename F::Array;
  Array two{};
  Array three{};
  ExpectSucceeds([&] {
    two = F::Symmetric(MakeArray<F>({2, 2}, {1, 2, 3, 4}));
    three = F::Symmetric(MakeArray<F>({3, 3}));
  });
  EXPECT_EQ(Dims(two), (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(Keys<F>(two, 4), (std::vector<int>{1, 2, 2, 4}));
  EXPECT_EQ(Keys<F>(three, 9), (std::vector<int>{0, 1, 2, 1, 4, 5, 2, 5, 8}));
}

TYPED_TEST(Reshape, ToColumnMajorReversesTheSubscripts) {
  using F = TypeParam;
  using Array = typename F::Array;
  Array m{};
  Array cube{};
  Array cubeSource{};
  ExpectSucceeds([&] {
    m = F::ToColumnMajor(MakeArray<F>({2, 3}, {1, 2, 3, 4, 5, 6}));
    cubeSource = MakeArray<F>({2, 3, 4});
    cube = F::ToColumnMajor(cubeSource);
  });
  EXPECT_EQ(Dims(m), (std::vector<int32_t>{3, 2}));
  EXPECT_EQ(Keys<F>(m, 6), (std::vector<int>{1, 4, 2, 5, 3, 6}));
  ASSERT_EQ(Dims(cube), (std::vector<int32_t>{4, 3, 2}));
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 2; ++k)
        EXPECT_EQ(F::Key(cube.data[(i * 3 + j) * 2 + k]), (k * 3 + j) * 4 + i);
  // Arrays of 0 or 1 dimension come back as the same record.
  for (std::vector<int32_t> dims : {std::vector<int32_t>{}, std::vector<int32_t>{3}}) {
    Array a{};
    Array back{};
    ExpectSucceeds([&] {
      a = MakeArray<F>(dims);
      back = F::ToColumnMajor(a);
    });
    EXPECT_EQ(back.ndims, a.ndims);
    EXPECT_EQ(back.dims, a.dims);
    EXPECT_EQ(back.data, a.data);
  }
}

TEST(RecordArrays, SizesAndElements) {
  RealArray a{};
  IntegerArray shrunk{};
  IntegerArray single{};
  RealArray element{};
  int sizes[3] = {};
  ExpectSucceeds([&] {
    a = MakeArray<RealValues>({4, 5, 2});
    shrunk = RecordArrayShrinkSize(a);
    single = RecordArrayShrinkSize(MakeArray<RealValues>({3}));
    element = RecordArrayElement(2, 7, a);
    for (int i = 0; i < 3; ++i) sizes[i] = RecordArraySize(a, i + 1);
  });
  EXPECT_EQ(Dims(shrunk), (std::vector<int32_t>{2}));
  EXPECT_EQ(std::vector<int32_t>(shrunk.data, shrunk.data + 2), (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(Dims(single), (std::vector<int32_t>{0}));
  EXPECT_EQ(element.ndims, 1);
  EXPECT_EQ(element.dims, a.dims + 2);
  EXPECT_EQ(element.data, a.data + 14);
  EXPECT_EQ(std::vector<int>(sizes, sizes + 3), (std::vector<int>{4, 5, 2}));

  const FailingCall cases[] = {
      {"shrink of a record without dimensions",
       [] { RecordArrayShrinkSize(MakeArray<RealValues>({})); }, "b.ndims>0 && b.dims[0]>0",
       "Error in record logic"},
      {"size of dimension 0",
       [] {
         RecordArraySize(MakeArray<RealValues>({2, 3}), 0);
       },
       "(i>=1)&&(i<=a.ndims)", "Size must be between 1 and ndims of array"},
      {"size beyond ndims",
       [] {
         RecordArraySize(MakeArray<RealValues>({2, 3}), 3);
       },
       "(i>=1)&&(i<=a.ndims)", "Size must be between 1 and ndims of array"},
  };
  ExpectEachFails(cases);
}

TYPED_TEST(Reshape, EmptyArraysWithHugeSizesAreNotWalked) {
  using F = TypeParam;
  const BuildCase<F> cases[] = {
      {"transpose",
       [] {
         return F::Transpose(MakeArray<F>({100000, 100000, 0}));
       },
       {100000, 100000, 0},
       {}},
      {"column-major",
       [] {
         return F::ToColumnMajor(MakeArray<F>({0, INT_MAX}));
       },
       {INT_MAX, 0},
       {}},
      {"fill with an empty array",
       [] { return F::FillArray(MakeArray<F>({0}), 1, INT_MAX); },
       {INT_MAX, 0},
       {}},
  };
  ExpectEachBuilds(cases);
}
