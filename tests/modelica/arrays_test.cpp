// Array records: element counts, shape matching, the row-major index and the constructors of
// the Real, Integer and String families.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "failed_check.h"
#include "guarded_call.h"
#include "matrixop.h"
#include "tempstrings.h"
#include "workbuffers.h"

namespace {

const char indexCondition[] = "(j>=1)&&(j<=dim)";
const char indexMessage[] = "Index out of bounds";
const char sizeCondition[] = "currentMark.place.Sizebuffer<EndSizebuffer";
const char sizeMessage[] =
    "Out of memory for array dimensions\nIt could due to too many matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Sizebuffer' in velmar/source/matrixop.";

// The entry points and element places of one family under the names the tests use.
#define FAMILY_ENTRY_POINTS(Prefix)                                  \
  static constexpr auto NrElements = Prefix##NrElements;             \
  static constexpr auto MatchingSizes = Prefix##MatchingSizes;       \
  static constexpr auto New = Prefix##New;                           \
  static constexpr auto NewFromArgs = Prefix##NewFromArgs;           \
  static constexpr auto DimsFromArgs = Prefix##DimsFromArgs;         \
  static constexpr auto NewLike = Prefix##NewLike;                   \
  static constexpr auto NewMatrix = Prefix##NewMatrix;               \
  static constexpr auto NewVector = Prefix##NewVector;               \
  static constexpr auto NewNon = Prefix##NewNon;                     \
  static constexpr auto NewFromArgsNon = Prefix##NewFromArgsNon;     \
  static constexpr auto DimsFromArgsNon = Prefix##DimsFromArgsNon;     \
  /* the next free element slot of the thread's buffer and of the pool */ \
  static auto* Place(const BufferMark& m) { return m.place.Prefix##buffer; } \
  static auto* PlaceNon() { return currentMarkNon.place.Prefix##buffer; }

// What the tests need of one family: its record, entry points, element buffer and texts.
struct RealFamily {
  using Array = RealArray;
  using Element = double;
  static constexpr int capacity = 500000;
  static constexpr const char* condition = "currentMark.place.Realbuffer<EndRealbuffer";
  static constexpr const char* message =
      "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
      "uninitialized variables.\nYou can change the memory size by setting the variable "
      "Advanced.RealBufferSize.";
  FAMILY_ENTRY_POINTS(Real)
};

struct IntegerFamily {
  using Array = IntegerArray;
  using Element = int32_t;
  static constexpr int capacity = 50000;
  static constexpr const char* condition = "currentMark.place.Integerbuffer<EndIntegerbuffer";
  static constexpr const char* message =
      "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
      "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
      "velmar/source/matrixop.";
  FAMILY_ENTRY_POINTS(Integer)
};

struct StringFamily {
  using Array = StringArray;
  using Element = char*;
  static constexpr int capacity = 10000;
  static constexpr const char* condition = "currentMark.place.Stringbuffer<EndStringbuffer";
  static constexpr const char* message =
      "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
      "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
      "velmar/source/matrixop.";
  FAMILY_ENTRY_POINTS(String)
};

// The thread's marks right now (MarkGet also sets the saved mark, which no test here reads).
BufferMark CurrentMark(void) {
  BufferMark m;
  MarkGet(&m);
  return m;
}

// A record over sizes the test owns.
template <class Array>
Array Shape(std::vector<int32_t>& dims, int32_t ndims) {
  Array a;
  a.ndims = ndims;
  a.dims = dims.data();
  a.data = nullptr;
  return a;
}

// Calls a va_list companion with the sizes given here.
template <class Array>
Array WithSizes(Array (*companion)(int32_t, va_list), int32_t ndims, ...) {
  va_list sizes;
  va_start(sizes, ndims);
  Array a = companion(ndims, sizes);
  va_end(sizes);
  return a;
}

template <class Family>
class ArrayFamily : public ::testing::Test {};

using Families = ::testing::Types<RealFamily, IntegerFamily, StringFamily>;
TYPED_TEST_SUITE(ArrayFamily, Families);

}  // namespace

TYPED_TEST(ArrayFamily, CountsElementsAsTheProductOfTheSizes) {
  using Array = typename TypeParam::Array;
  struct Case {
    int32_t ndims;
    std::vector<int32_t> dims;
    int32_t count;
  } cases[] = {
      {0, {}, 1},           {-1, {}, 1},           {1, {4}, 4},
      {2, {2, 3}, 6},       {2, {3, 0}, 0},        {3, {2, 3, 4}, 24},
      {1, {0}, 0},          {2, {7, 1}, 7},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.ndims);
    EXPECT_EQ(TypeParam::NrElements(Shape<Array>(c.dims, c.ndims)), c.count);
    EXPECT_EQ(DimsNrElements(c.ndims, c.dims.data()), c.count);
  }
}

TYPED_TEST(ArrayFamily, MatchesOnlyTheSameNumberOfDimensionsAndSizes) {
  using Array = typename TypeParam::Array;
  struct Case {
    const char* name;
    int32_t ndimsA;
    std::vector<int32_t> a;
    int32_t ndimsB;
    std::vector<int32_t> b;
    int match;
  } cases[] = {
      {"same 2x3", 2, {2, 3}, 2, {2, 3}, 1},
      {"2x3 and 3x2", 2, {2, 3}, 2, {3, 2}, 0},
      {"6 and 2x3 (same count)", 1, {6}, 2, {2, 3}, 0},
      {"two scalars", 0, {}, 0, {}, 1},
      {"both negative ndims", -1, {}, -1, {}, 1},
      {"scalar and negative ndims", 0, {}, -1, {}, 0},
      {"last size differs", 3, {2, 3, 4}, 3, {2, 3, 5}, 0},
      {"first size differs", 2, {1, 3}, 2, {2, 3}, 0},
      {"empty and empty", 2, {0, 3}, 2, {0, 3}, 1},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Array a = Shape<Array>(c.a, c.ndimsA);
    Array b = Shape<Array>(c.b, c.ndimsB);
    EXPECT_EQ(TypeParam::MatchingSizes(a, b), c.match);
    EXPECT_EQ(TypeParam::MatchingSizes(b, a), c.match);
  }
}

TEST(LinearIndex, CountsRowMajorFromOneBasedSubscripts) {
  const int32_t dims23[] = {2, 3};
  const int32_t dims234[] = {2, 3, 4};
  const int32_t dims4[] = {4};
  struct Case {
    const char* name;
    int32_t got;
    int32_t expected;
  } cases[] = {
      {"(1,1) of 2x3", LinearIndex(2, dims23, 1, 1), 0},
      {"(1,3) of 2x3", LinearIndex(2, dims23, 1, 3), 2},
      {"(2,1) of 2x3", LinearIndex(2, dims23, 2, 1), 3},
      {"(2,3) of 2x3", LinearIndex(2, dims23, 2, 3), 5},
      {"(2,3,4) of 2x3x4", LinearIndex(3, dims234, 2, 3, 4), 23},
      {"(1,2,3) of 2x3x4", LinearIndex(3, dims234, 1, 2, 3), 6},
      {"(4) of 4", LinearIndex(1, dims4, 4), 3},
      {"scalar", LinearIndex(0, dims4), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
}

TEST(LinearIndex, ASubscriptOutsideItsDimensionFails) {
  static const int32_t dims23[] = {2, 3};
  static const int32_t dims30[] = {3, 0};
  struct Case {
    const char* name;
    void (*call)(void);
  } cases[] = {
      {"0 in the second dimension", [] { LinearIndex(2, dims23, 1, 0); }},
      {"4 in the second dimension", [] { LinearIndex(2, dims23, 1, 4); }},
      {"0 in the first dimension", [] { LinearIndex(2, dims23, 0, 1); }},
      {"3 in the first dimension", [] { LinearIndex(2, dims23, 3, 1); }},
      {"negative", [] { LinearIndex(2, dims23, -1, 1); }},
      {"a dimension of size 0", [] { LinearIndex(2, dims30, 1, 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall(c.call), indexCondition, indexMessage);
  }
}

TYPED_TEST(ArrayFamily, NewTakesSizesFirstThenTheElementsOfTheShape) {
  using Array = typename TypeParam::Array;
  struct Case {
    const char* name;
    Array (*make)(void);
    std::vector<int32_t> dims;
    int32_t count;
  } cases[] = {
      {"New()", [] { return TypeParam::New(0); }, {}, 1},
      {"New(2,3,4)", [] { return TypeParam::New(3, 2, 3, 4); }, {2, 3, 4}, 24},
      {"NewFromArgs(5)", [] { return WithSizes<Array>(TypeParam::NewFromArgs, 1, 5); }, {5}, 5},
      {"NewMatrix(3,0)", [] { return TypeParam::NewMatrix(3, 0); }, {3, 0}, 0},
      {"NewMatrix(2,7)", [] { return TypeParam::NewMatrix(2, 7); }, {2, 7}, 14},
      {"NewVector(4)", [] { return TypeParam::NewVector(4); }, {4}, 4},
      {"NewVector(0)", [] { return TypeParam::NewVector(0); }, {0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BufferMark before{};
    BufferMark after{};
    Array a{};
    ExpectNoFailure(GuardedCall([&] {
      MarkReset();
      before = CurrentMark();
      a = c.make();
      after = CurrentMark();
    }));
    ASSERT_EQ(a.ndims, static_cast<int32_t>(c.dims.size()));
    EXPECT_EQ(std::vector<int32_t>(a.dims, a.dims + a.ndims), c.dims);
    EXPECT_EQ(TypeParam::NrElements(a), c.count);
    // Sizes from Sizebuffer, elements from the family's buffer, nothing else.
    EXPECT_EQ(a.dims, before.place.Sizebuffer);
    EXPECT_EQ(after.place.Sizebuffer - before.place.Sizebuffer, a.ndims);
    EXPECT_EQ(a.data, TypeParam::Place(before));
    EXPECT_EQ(TypeParam::Place(after) - TypeParam::Place(before), c.count);
  }
}

TYPED_TEST(ArrayFamily, DimsFromArgsTakesOnlyTheSizes) {
  using Array = typename TypeParam::Array;
  BufferMark before{};
  BufferMark after{};
  Array a{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    before = CurrentMark();
    a = WithSizes<Array>(TypeParam::DimsFromArgs, 2, 3, 5);
    after = CurrentMark();
  }));
  EXPECT_EQ(std::vector<int32_t>(a.dims, a.dims + a.ndims), (std::vector<int32_t>{3, 5}));
  EXPECT_EQ(a.dims, before.place.Sizebuffer);
  EXPECT_EQ(TypeParam::Place(after), TypeParam::Place(before));
}

TYPED_TEST(ArrayFamily, NewLikeSharesNothingWithItsModel) {
  using Array = typename TypeParam::Array;
  Array model{};
  Array like{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    model = TypeParam::New(2, 2, 3);
    like = TypeParam::NewLike(model);
  }));
  EXPECT_EQ(TypeParam::MatchingSizes(model, like), 1);
  EXPECT_NE(like.dims, model.dims);
  EXPECT_NE(like.data, model.data);
  like.dims[0] = 9;
  EXPECT_EQ(model.dims[0], 2);
  EXPECT_EQ(like.data, model.data + 6);  // right after the model's elements
}

TYPED_TEST(ArrayFamily, PermanentArraysComeFromThePoolsAndSurviveReset) {
  using Array = typename TypeParam::Array;
  int32_t* sizesBefore = nullptr;
  typename TypeParam::Element* elementsBefore = nullptr;
  Array a{};
  Array dimsOnly{};
  Array viaArgs{};
  ExpectNoFailure(GuardedCall([&] {
    sizesBefore = currentMarkNon.place.Sizebuffer;
    elementsBefore = TypeParam::PlaceNon();
    a = TypeParam::NewNon(2, 2, 3);
    dimsOnly = WithSizes<Array>(TypeParam::DimsFromArgsNon, 1, 7);
    viaArgs = WithSizes<Array>(TypeParam::NewFromArgsNon, 1, 4);
    MarkReset();
    TypeParam::New(2, 8, 8);  // would reuse work-buffer storage, never pool storage
  }));
  EXPECT_EQ(a.dims, sizesBefore);
  EXPECT_EQ(a.data, elementsBefore);
  EXPECT_EQ(std::vector<int32_t>(a.dims, a.dims + 2), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(dimsOnly.dims, sizesBefore + 2);
  EXPECT_EQ(dimsOnly.dims[0], 7);
  EXPECT_EQ(viaArgs.dims, sizesBefore + 3);
  EXPECT_EQ(viaArgs.data, elementsBefore + 6);
  EXPECT_EQ(currentMarkNon.place.Sizebuffer, sizesBefore + 4);
  EXPECT_EQ(TypeParam::PlaceNon(), elementsBefore + 10);
}

TYPED_TEST(ArrayFamily, ElementsThatDoNotFitFailWithTheFamilysTexts) {
  using Array = typename TypeParam::Array;
  struct Case {
    const char* name;
    Array (*make)(void);
  } cases[] = {
      {"the whole buffer", [] { return TypeParam::NewVector(TypeParam::capacity); }},
      {"beyond the buffer", [] { return TypeParam::NewMatrix(TypeParam::capacity, 2); }},
      // 65,536 x 65,536 wraps to 0 in 32 bits: it must not become an empty request.
      {"a count beyond int32", [] { return TypeParam::NewMatrix(65536, 65536); }},
      {"a count beyond int32 in three sizes", [] { return TypeParam::New(3, 2048, 2048, 1024); }},
      {"a negative size", [] { return TypeParam::NewVector(-1); }},
      {"a negative size times a negative size", [] { return TypeParam::NewMatrix(-2, -3); }},
      {"a negative size after a zero", [] { return TypeParam::New(2, 0, -3); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BufferMark before{};
    GuardedCallResult result = GuardedCall([&] {
      MarkReset();
      before = CurrentMark();
      c.make();
    });
    ExpectFailedCheck(result, TypeParam::condition, TypeParam::message);
    // The sizes were taken before the elements were refused.
    EXPECT_NE(CurrentMark().place.Sizebuffer, before.place.Sizebuffer);
  }
  Array largest{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    largest = TypeParam::NewVector(TypeParam::capacity - 1);
  }));
  EXPECT_EQ(TypeParam::NrElements(largest), TypeParam::capacity - 1);
}

TYPED_TEST(ArrayFamily, ANegativeNumberOfDimensionsIsRefusedAsSizesThatDoNotFit) {
  using Array = typename TypeParam::Array;
  std::vector<int32_t> none;
  Array negative = Shape<Array>(none, -1);
  const std::function<void()> calls[] = {
      [] { TypeParam::New(-1); },
      [&] { TypeParam::NewLike(negative); },
  };
  for (const auto& call : calls) {
    ExpectFailedCheck(GuardedCall([&] {
                        MarkReset();
                        call();
                      }),
                      sizeCondition, sizeMessage);
  }
}

TEST(ArraySizes, AtMost49999SizeSlotsPerThread) {
  // After 49,998 slots a vector's one size slot still fits; the next does not. Another thread
  // has its own Sizebuffer.
  RealArray last{};
  GuardedCallResult result = GuardedCall([&] {
    MarkReset();
    AllocateSizes(49998);
    last = RealNewVector(1);
    RealNewVector(1);
  });
  ExpectFailedCheck(result, sizeCondition, sizeMessage);
  EXPECT_EQ(last.dims[0], 1);
  GuardedCallResult other;
  std::thread([&] {
    other = GuardedCall([] {
      MarkReset();
      RealNewMatrix(2, 2);
      AllocateSizes(49997);
    });
  }).join();
  ExpectNoFailure(other);
}

TEST(StringArrayToPermanent, ReplacesTemporariesInTheSharedElementVector) {
  char* literal = const_cast<char*>("literal");
  StringArray a{};
  StringArray kept{};
  char* temporary = nullptr;
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    a = StringNewMatrix(1, 2);
    temporary = StringConcat("tempo", "rary");
    a.data[0] = temporary;
    a.data[1] = literal;
    kept = StringArrayToPermanent(a);
    MarkReset();
    StringConcat("overwrites", " the temporary");
  }));
  EXPECT_EQ(kept.ndims, a.ndims);
  EXPECT_EQ(kept.dims, a.dims);
  EXPECT_EQ(kept.data, a.data);
  EXPECT_NE(a.data[0], temporary);
  EXPECT_STREQ(a.data[0], "temporary");
  EXPECT_EQ(a.data[1], literal);
}
