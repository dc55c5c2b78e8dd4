// Array constructors, concatenation, promotion, scalars as arrays and record slices.
#include "arrayconstructors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "array_values.h"
#include "failed_check.h"
#include "guarded_call.h"

namespace {

#define CONSTRUCTOR_ENTRY_POINTS(Prefix)                                     \
  static constexpr auto ArrayConstructor = Prefix##ArrayConstructor;         \
  static constexpr auto VectorOfScalars = Prefix##VectorOfScalars;           \
  static constexpr auto Cat = Prefix##Cat;                                   \
  static constexpr auto Promote = Prefix##Promote;                           \
  static constexpr auto ScalarToArray = Prefix##ScalarToArray;               \
  static constexpr auto NrElements = Prefix##NrElements;                     \
  static auto* Place(const BufferMark& m) { return m.place.Prefix##buffer; } \
  static constexpr const char* prefix = #Prefix;

struct Real : RealValues {
  CONSTRUCTOR_ENTRY_POINTS(Real)
};
struct Integer : IntegerValues {
  CONSTRUCTOR_ENTRY_POINTS(Integer)
};
struct String : StringValues {
  CONSTRUCTOR_ENTRY_POINTS(String)
};

template <class F>
class Constructors : public ::testing::Test {};
using Families = ::testing::Types<Real, Integer, String>;
TYPED_TEST_SUITE(Constructors, Families);

BufferMark CurrentMark(void) {
  BufferMark m;
  MarkGet(&m);
  return m;
}

}  // namespace

TYPED_TEST(Constructors, ArrayConstructorStacksArraysOfOneShape) {
  using F = TypeParam;
  const BuildCase<F> cases[] = {
      {"two 2x3",
       [] {
         return F::ArrayConstructor(2, MakeArray<F>({2, 3}),
                                    MakeArray<F>({2, 3}, {10, 11, 12, 13, 14, 15}));
       },
       {2, 2, 3},
       {0, 1, 2, 3, 4, 5, 10, 11, 12, 13, 14, 15}},
      {"one vector", [] { return F::ArrayConstructor(1, MakeArray<F>({3})); }, {1, 3}, {0, 1, 2}},
      {"three scalars",
       [] {
         return F::ArrayConstructor(3, MakeArray<F>({}, {7}), MakeArray<F>({}, {8}),
                                    MakeArray<F>({}, {9}));
       },
       {3},
       {7, 8, 9}},
      {"no array",
       [] {
         return F::ArrayConstructor(0, MakeArray<F>({2, 3}));
       },
       {0, 2, 3},
       {}},
  };
  ExpectEachBuilds(cases);
}

TYPED_TEST(Constructors, ArrayConstructorRefusesAnotherShapeOfTheSameCount) {
  using F = TypeParam;
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      F::ArrayConstructor(2, MakeArray<F>({2, 3}), MakeArray<F>({3, 2}));
                    }),
                    std::string(F::prefix) + "MatchingSizes(first,next)",
                    "Arrays in array must be of equal sizes");
}

TYPED_TEST(Constructors, VectorOfScalarsKeepsTheOrder) {
  using F = TypeParam;
  typename F::Array a{};
  ExpectSucceeds(
      [&] { a = F::VectorOfScalars(4, F::Value(3), F::Value(1), F::Value(4), F::Value(1)); });
  EXPECT_EQ(Dims(a), (std::vector<int32_t>{4}));
  EXPECT_EQ(Keys<F>(a, 4), (std::vector<int>{3, 1, 4, 1}));
}

TYPED_TEST(Constructors, CatJoinsAlongEachDimension) {
  using F = TypeParam;
  const BuildCase<F> cases[] = {
      {"rows: 2x3 and 4x3",
       [] {
         return F::Cat(
             1, 2, MakeArray<F>({2, 3}),
             MakeArray<F>({4, 3}, {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111}));
       },
       {6, 3},
       {0, 1, 2, 3, 4, 5, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111}},
      {"columns: 2x3 and 2x1",
       [] {
         return F::Cat(2, 2, MakeArray<F>({2, 3}), MakeArray<F>({2, 1}, {100, 101}));
       },
       {2, 4},
       {0, 1, 2, 100, 3, 4, 5, 101}},
      {"middle of three: 2x1x2 and 2x2x2",
       [] {
         return F::Cat(2, 2, MakeArray<F>({2, 1, 2}),
                       MakeArray<F>({2, 2, 2}, {10, 11, 12, 13, 14, 15, 16, 17}));
       },
       {2, 3, 2},
       {0, 1, 10, 11, 12, 13, 2, 3, 14, 15, 16, 17}},
      {"last of three: 1x2x1, 1x2x2 and 1x2x0",
       [] {
         return F::Cat(3, 3, MakeArray<F>({1, 2, 1}), MakeArray<F>({1, 2, 2}, {10, 11, 12, 13}),
                       MakeArray<F>({1, 2, 0}));
       },
       {1, 2, 3},
       {0, 10, 11, 1, 12, 13}},
      {"vectors with an empty one between",
       [] { return F::Cat(1, 3, MakeArray<F>({2}), MakeArray<F>({0}), MakeArray<F>({1}, {9})); },
       {3},
       {0, 1, 9}},
      {"one array is copied",
       [] {
         return F::Cat(1, 1, MakeArray<F>({2, 2}));
       },
       {2, 2},
       {0, 1, 2, 3}},
  };
  ExpectEachBuilds(cases);
}

TYPED_TEST(Constructors, CatRefusesMismatchedArraysAndBadArguments) {
  using F = TypeParam;
  const FailingCall cases[] = {
      {"sizes differ outside k",
       [] {
         F::Cat(2, 3, MakeArray<F>({2, 3}), MakeArray<F>({2, 1}), MakeArray<F>({3, 3}));
       },
       "first.dims[j]==a.dims[j]", "Sizes must match for cat"},
      {"matrix with vector",
       [] {
         F::Cat(1, 2, MakeArray<F>({2, 3}), MakeArray<F>({3}));
       },
       "a.ndims==first.ndims", "Number of dimensions must match for cat"},
      {"k of 0",
       [] {
         F::Cat(0, 1, MakeArray<F>({2, 3}));
       },
       "(k>=1)&&(k<=first.ndims)",
       "Dimension of cat must be between 1 and the number of dimensions"},
      {"k beyond ndims",
       [] {
         F::Cat(3, 1, MakeArray<F>({2, 3}));
       },
       "(k>=1)&&(k<=first.ndims)",
       "Dimension of cat must be between 1 and the number of dimensions"},
      {"no array",
       [] {
         F::Cat(1, 0, MakeArray<F>({2, 3}));
       },
       "n>=1", "cat requires at least one array"},
  };
  ExpectEachFails(cases);
}

TYPED_TEST(Constructors, CatTakesNoResultElementsWhenACheckFails) {
  using F = TypeParam;
  BufferMark afterArguments{};
  BufferMark atFailure{};
  GuardedCallResult result = GuardedCall([&] {
    MarkReset();
    auto first = MakeArray<F>({2, 3});
    auto good = MakeArray<F>({2, 1});
    auto bad = MakeArray<F>({3, 3});
    afterArguments = CurrentMark();
    F::Cat(2, 3, first, good, bad);
  });
  ExpectFailedCheck(result, "first.dims[j]==a.dims[j]", "Sizes must match for cat");
  atFailure = CurrentMark();
  EXPECT_EQ(F::Place(atFailure), F::Place(afterArguments));
}

TYPED_TEST(Constructors, PromoteIsAViewWithTrailingUnitDimensions) {
  using F = TypeParam;
  using Array = typename F::Array;
  Array v{};
  Array p{};
  Array same{};
  ExpectSucceeds([&] {
    v = MakeArray<F>({3});
    p = F::Promote(v, 3);
    same = F::Promote(v, 1);
  });
  EXPECT_EQ(Dims(p), (std::vector<int32_t>{3, 1, 1}));
  EXPECT_EQ(p.data, v.data);
  p.data[2] = F::Value(42);
  EXPECT_EQ(F::Key(v.data[2]), 42);
  EXPECT_EQ(Dims(same), (std::vector<int32_t>{3}));
  EXPECT_NE(same.dims, v.dims);
  ExpectFailedCheck(GuardedCall([] {
                      MarkReset();
                      F::Promote(MakeArray<F>({2, 2}), 1);
                    }),
                    "n>=a.ndims", "Promote cannot decrease number of dimensions");
}

TYPED_TEST(Constructors, ScalarToArrayHasUnitDimensions) {
  using F = TypeParam;
  using Array = typename F::Array;
  Array m{};
  Array s{};
  ExpectSucceeds([&] {
    m = F::ScalarToArray(F::Value(5), 2);
    s = F::ScalarToArray(F::Value(6), 0);
  });
  EXPECT_EQ(Dims(m), (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(F::Key(m.data[0]), 5);
  EXPECT_EQ(s.ndims, 0);
  EXPECT_EQ(F::Key(s.data[0]), 6);
}

TEST(StringConstructors, ShareTheCharactersOfTheirArguments) {
  char text[] = "abc";
  StringArray v{};
  StringArray cat{};
  ExpectSucceeds([&] {
    v = StringVectorOfScalars(2, text, text);
    cat = StringCat(1, 2, v, v);
  });
  text[0] = 'x';
  EXPECT_STREQ(v.data[1], "xbc");
  EXPECT_EQ(cat.data[3], text);
}

namespace {

// A record of 6 slots: a Real at byte 0, an Integer at 8, a String at 16 and a Real array
// field at 24 (three slots).
constexpr int recordSlots = 6;
constexpr int realAt = 0;
constexpr int integerAt = 8;
constexpr int stringAt = 16;
constexpr int arrayAt = 24;

char* const names[] = {const_cast<char*>("r0"), const_cast<char*>("r1"), const_cast<char*>("r2"),
                       const_cast<char*>("r3"), const_cast<char*>("r4"), const_cast<char*>("r5")};

// A record array of the given shape of records; record r holds r + 0.25, 10 * r, names[r] and
// a vector of fieldSize[r] Reals {100 r, 100 r + 1, ...}.
RealArray Records(List<int32_t> shape, List<int32_t> fieldSizes) {
  int32_t dims[8];
  for (size_t k = 0; k < shape.size; ++k) dims[k] = shape[k];
  dims[shape.size] = recordSlots;
  RealArray a = MakeArray<RealValues>(List<int32_t>({}));
  a.ndims = static_cast<int32_t>(shape.size + 1);
  a.dims = AllocateSizes(a.ndims);
  memcpy(a.dims, dims, sizeof(int32_t) * static_cast<size_t>(a.ndims));
  a.data = AllocateReals(DimsNrElements(a.ndims, a.dims));
  for (size_t r = 0; r < fieldSizes.size; ++r) {
    char* record = reinterpret_cast<char*>(a.data + r * recordSlots);
    double real = static_cast<double>(r) + 0.25;
    int32_t integer = static_cast<int32_t>(10 * r);
    memcpy(record + realAt, &real, sizeof real);
    memcpy(record + integerAt, &integer, sizeof integer);
    memcpy(record + stringAt, &names[r], sizeof(char*));
    RealArray field = RealNewVector(fieldSizes[r]);
    for (int32_t i = 0; i < fieldSizes[r]; ++i) field.data[i] = 100.0 * static_cast<double>(r) + i;
    memcpy(record + arrayAt, &field, sizeof field);
  }
  return a;
}

}  // namespace

TEST(RecordSlices, ScalarFieldsOfEveryRecord) {
  RealArray reals{};
  IntegerArray integers{};
  StringArray strings{};
  RealArray single{};
  RealArray empty{};
  ExpectSucceeds([&] {
    RealArray a = Records({2, 3}, {0, 0, 0, 0, 0, 0});
    reals = RealRecordSlice(a, realAt);
    integers = IntegerRecordSlice(a, integerAt);
    strings = StringRecordSlice(a, stringAt);
    single = RealRecordSlice(Records({}, {0}), realAt);
    empty = RealRecordSlice(Records({0}, {}), realAt);
  });
  EXPECT_EQ(Dims(reals), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(std::vector<double>(reals.data, reals.data + 6),
            (std::vector<double>{0.25, 1.25, 2.25, 3.25, 4.25, 5.25}));
  EXPECT_EQ(std::vector<int32_t>(integers.data, integers.data + 6),
            (std::vector<int32_t>{0, 10, 20, 30, 40, 50}));
  EXPECT_EQ(std::vector<char*>(strings.data, strings.data + 6),
            std::vector<char*>(names, names + 6));
  EXPECT_EQ(single.ndims, 0);
  EXPECT_EQ(single.data[0], 0.25);
  EXPECT_EQ(Dims(empty), (std::vector<int32_t>{0}));
}

TEST(RecordSlices, ArrayFieldsFollowTheRecordDimensions) {
  RealArray slice{};
  ExpectSucceeds([&] { slice = RealRecordSliceArray(Records({3}, {2, 2, 2}), arrayAt); });
  EXPECT_EQ(Dims(slice), (std::vector<int32_t>{3, 2}));
  EXPECT_EQ(std::vector<double>(slice.data, slice.data + 6),
            (std::vector<double>{0, 1, 100, 101, 200, 201}));
}

TEST(RecordSlices, FailingChecks) {
  const FailingCall cases[] = {
      {"array field of an empty record array",
       [] { RealRecordSliceArray(Records({0}, {}), arrayAt); }, "RealNrElements(a)>0",
       "Can only make record slices of non-empty arrays"},
      {"Integer array field of an empty record array",
       [] {
         IntegerRecordSliceArray(Records({2, 0}, {}), arrayAt);
       },
       "RealNrElements(a)>0", "Can only make record slices of non-empty arrays"},
      {"array fields of different sizes",
       [] {
         RealRecordSliceArray(Records({3}, {2, 2, 3}), arrayAt);
       },
       "RealMatchingSizes(elemi,elem)", "Can only slice homogenous record arrays"},
      {"String array fields of different sizes",
       [] {
         StringRecordSliceArray(Records({2}, {1, 0}), arrayAt);
       },
       "StringMatchingSizes(elemi,elem)", "Can only slice homogenous record arrays"},
      {"a field beyond the record",
       [] {
         RealRecordSlice(Records({2}, {0, 0}), 8 * recordSlots);
       },
       "fieldOffset>=0 && fieldOffset+fieldSize<=recordSize",
       "Record field lies outside the record"},
      {"an array field across the record's end",
       [] {
         RealRecordSliceArray(Records({2}, {0, 0}), 8 * (recordSlots - 2));
       },
       "fieldOffset>=0 && fieldOffset+fieldSize<=recordSize",
       "Record field lies outside the record"},
      {"a negative offset",
       [] {
         IntegerRecordSlice(Records({2}, {0, 0}), -4);
       },
       "fieldOffset>=0 && fieldOffset+fieldSize<=recordSize",
       "Record field lies outside the record"},
      {"a record array without dimensions", [] { RealRecordSlice(MakeArray<RealValues>({}), 0); },
       "a.ndims>=1", "Can only make record slices of record arrays"},
  };
  ExpectEachFails(cases);
}

TYPED_TEST(Constructors, CatOfEmptyArraysWithHugeSizesIsNotWalked) {
  using F = TypeParam;
  const BuildCase<F> cases[] = {
      {"columns of INT_MAX x 0",
       [] {
         return F::Cat(2, 2, MakeArray<F>({INT_MAX, 0}), MakeArray<F>({INT_MAX, 0}));
       },
       {INT_MAX, 0},
       {}},
  };
  ExpectEachBuilds(cases);
}
