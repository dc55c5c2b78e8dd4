// Subscripting A[list] and subscripted assignment A[list] := B of the array families.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "arrayaccess.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "matrixop.h"
#include "subscripts.h"
#include "workbuffers.h"

namespace {

const int colon = subscriptColon;
const int range = subscriptRange;
const int stepRange = subscriptStepRange;
const int vector = subscriptVector;
const int scalar = subscriptScalar;
const int end = subscriptEnd;

// Rows i, columns j (1-based) hold 10 i + j; with a third subscript k, 100 i + 10 j + k.
RealArray Numbered(int rows, int cols) {
  RealArray a = RealNewMatrix(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) a.data[i * cols + j] = 10 * (i + 1) + (j + 1);
  return a;
}

RealArray Numbered3(int n1, int n2, int n3) {
  RealArray a = RealNew(3, n1, n2, n3);
  for (int i = 0; i < n1; ++i)
    for (int j = 0; j < n2; ++j)
      for (int k = 0; k < n3; ++k) a.data[(i * n2 + j) * n3 + k] = 100 * (i + 1) + 10 * (j + 1) + k + 1;
  return a;
}

RealArray Vector(std::initializer_list<double> values) {
  RealArray a = RealNewVector(static_cast<int32_t>(values.size()));
  int k = 0;
  for (double v : values) a.data[k++] = v;
  return a;
}

IntegerArray Indices(std::initializer_list<int32_t> values) {
  IntegerArray a = IntegerNewVector(static_cast<int32_t>(values.size()));
  int k = 0;
  for (int32_t v : values) a.data[k++] = v;
  return a;
}

std::vector<int32_t> DimsOf(RealArray a) { return std::vector<int32_t>(a.dims, a.dims + a.ndims); }
std::vector<double> ElementsOf(RealArray a) {
  return std::vector<double>(a.data, a.data + RealNrElements(a));
}

struct Shape {
  std::vector<int32_t> dims;
  std::vector<double> elements;
};

// Runs make() on reset buffers and returns the result's sizes and elements.
Shape Selected(const std::function<RealArray()>& make) {
  RealArray result{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    result = make();
  }));
  return {DimsOf(result), ElementsOf(result)};
}

// 95 and 96 colons for the bound of the subscript list.
#define C5 colon, colon, colon, colon, colon
#define C10 C5, C5
#define C95 C10, C10, C10, C10, C10, C10, C10, C10, C10, C5

RealArray Ones(int ndims) {
  RealArray a;
  a.ndims = ndims;
  a.dims = AllocateSizes(ndims);
  for (int k = 0; k < ndims; ++k) a.dims[k] = 1;
  a.data = AllocateReals(1);
  a.data[0] = 5;
  return a;
}

}  // namespace

TEST(Subscript, SelectsEveryKindAloneAndCombined) {
  struct Case {
    const char* name;
    std::function<RealArray()> make;
    Shape expected;
  } cases[] = {
      {"A[2] of 3x4", [] { return RealSubscript(Numbered(3, 4), scalar, 2, end); },
       {{4}, {21, 22, 23, 24}}},
      {"A[:,2] of 3x4", [] { return RealSubscript(Numbered(3, 4), colon, scalar, 2, end); },
       {{3}, {12, 22, 32}}},
      {"A[{3,1},2:3] of 3x4",
       [] { return RealSubscript(Numbered(3, 4), vector, Indices({3, 1}), range, 2, 3, end); },
       {{2, 2}, {32, 33, 12, 13}}},
      {"A[1:2:3] of 3x4", [] { return RealSubscript(Numbered(3, 4), stepRange, 1, 2, 3, end); },
       {{2, 4}, {11, 12, 13, 14, 31, 32, 33, 34}}},
      {"A[3:-2:1,4] of 3x4",
       [] { return RealSubscript(Numbered(3, 4), stepRange, 3, -2, 1, scalar, 4, end); },
       {{2}, {34, 14}}},
      {"A[:,{4,4,1}] of 2x4",
       [] { return RealSubscript(Numbered(2, 4), colon, vector, Indices({4, 4, 1}), end); },
       {{2, 3}, {14, 14, 11, 24, 24, 21}}},
      {"A[2,3] of 3x4", [] { return RealSubscript(Numbered(3, 4), scalar, 2, scalar, 3, end); },
       {{}, {23}}},
      {"A[] of 2x2", [] { return RealSubscript(Numbered(2, 2), end); }, {{2, 2}, {11, 12, 21, 22}}},
      {"A[3:1] of 3x4", [] { return RealSubscript(Numbered(3, 4), range, 3, 1, end); },
       {{0, 4}, {}}},
      {"A[2,:,1:2:5] of 2x2x5",
       [] { return RealSubscript(Numbered3(2, 2, 5), scalar, 2, colon, stepRange, 1, 2, 5, end); },
       {{2, 3}, {211, 213, 215, 221, 223, 225}}},
      {"A[{}] of 3", [] { return RealSubscript(Vector({1, 2, 3}), vector, Indices({}), end); },
       {{0}, {}}},
      // Empty ranges have no bound checks, even past the size.
      {"A[5:1] of 3", [] { return RealSubscript(Vector({1, 2, 3}), range, 5, 1, end); },
       {{0}, {}}},
      {"A[2:3:1] of 3", [] { return RealSubscript(Vector({1, 2, 3}), stepRange, 2, 3, 1, end); },
       {{0}, {}}},
      {"A[9:-1:10] of 3", [] { return RealSubscript(Vector({1, 2, 3}), stepRange, 9, -1, 10, end); },
       {{0}, {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Shape got = Selected(c.make);
    EXPECT_EQ(got.dims, c.expected.dims);
    EXPECT_EQ(got.elements, c.expected.elements);
  }
}

TEST(Subscript, ResultShapesOfAThreeDimensionalSource) {
  struct Case {
    const char* name;
    std::function<RealArray()> make;
    std::vector<int32_t> dims;
  } cases[] = {
      {"A[2]", [] { return RealSubscript(Numbered3(3, 4, 5), scalar, 2, end); }, {4, 5}},
      {"A[:,2]", [] { return RealSubscript(Numbered3(3, 4, 5), colon, scalar, 2, end); }, {3, 5}},
      {"A[1:2,{1,3,3}]",
       [] { return RealSubscript(Numbered3(3, 4, 5), range, 1, 2, vector, Indices({1, 3, 3}), end); },
       {2, 3, 5}},
      {"A[3:1,:]", [] { return RealSubscript(Numbered3(3, 4, 5), range, 3, 1, colon, end); },
       {0, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Selected(c.make).dims, c.dims);
  }
  Shape picked = Selected([] {
    return RealSubscript(Numbered3(3, 4, 5), range, 1, 2, vector, Indices({1, 3, 3}), end);
  });
  // The element (2, 3, 4) of the result is the source's (2, 3, 4): the index vector's second
  // entry is 3.
  EXPECT_EQ(picked.elements[(1 * 3 + 2) * 5 + 3], 234);
  EXPECT_EQ(picked.elements[(0 * 3 + 0) * 5 + 0], 111);
}

TEST(Subscript, ChecksFailWithTheirTexts) {
  struct Case {
    const char* name;
    void (*call)(void);
    const char* condition;
    const char* message;
  } cases[] = {
      {"two scalars on a vector", [] { RealSubscript(Vector({1, 2}), scalar, 1, scalar, 1, end); },
       "ndims>0", "Internal error in subscriptring of array"},
      {"two colons on a vector", [] { RealSubscript(Vector({1, 2}), colon, colon, end); },
       "nargs<=a.ndims", "Too many subscripts for array"},
      {"start 0", [] { RealSubscript(Vector({1, 2, 3}), range, 0, 2, end); },
       "(start>=1)&&(start<=a.dims[a_dim])", "Range subscripting: start out of range"},
      {"stop 4 of 3", [] { RealSubscript(Vector({1, 2, 3}), range, 1, 4, end); },
       "(stop >=1)&&(stop <=a.dims[a_dim])", "Range subscripting: end out of range"},
      // The elements 1 and 3 exist, but stop itself is checked.
      {"1:2:4 of 3", [] { RealSubscript(Vector({1, 2, 3}), stepRange, 1, 2, 4, end); },
       "(stop >=1)&&(stop <=a.dims[a_dim])", "Range subscripting: end out of range"},
      {"index matrix", [] { RealSubscript(Vector({1, 2}), vector, IntegerNewMatrix(1, 1), end); },
       "v.ndims==1", "Array subscripting: only vectors (and scalars) allowed as indicies"},
      {"index 0 in a vector", [] { RealSubscript(Vector({1, 2}), vector, Indices({1, 0}), end); },
       "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])", "Array subscripting: vector index out of range"},
      {"index 3 of 2 in a vector",
       [] { RealSubscript(Numbered(2, 2), colon, vector, Indices({3}), end); },
       "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])", "Array subscripting: vector index out of range"},
      {"scalar 3 of 2", [] { RealSubscript(Numbered(2, 2), scalar, 3, end); },
       "(i>=1)&&(i<=a.dims[a_dim])", "Array subscripting: scalar index out of range"},
      {"scalar 0", [] { RealSubscript(Numbered(2, 2), colon, scalar, 0, end); },
       "(i>=1)&&(i<=a.dims[a_dim])", "Array subscripting: scalar index out of range"},
      {"step 0", [] { RealSubscript(Vector({1, 2}), stepRange, 1, 0, 2, end); }, "step!=0",
       "Range subscripting: step must not be zero"},
      {"unknown kind", [] { RealSubscript(Vector({1, 2}), 6, end); }, "(kind>=0)&&(kind<=5)",
       "Internal error in subscripting: unknown kind of subscript"},
      {"negative kind", [] { RealSubscript(Vector({1, 2}), -1, end); }, "(kind>=0)&&(kind<=5)",
       "Internal error in subscripting: unknown kind of subscript"},
      {"97 entries", [] { RealSubscript(Ones(96), C95, colon, end); }, "i+4<num_VA_handler",
       "Out of memory for va_list"},
      {"Integer family", [] { IntegerSubscript(Indices({1}), scalar, 2, end); },
       "(i>=1)&&(i<=a.dims[a_dim])", "Array subscripting: scalar index out of range"},
      {"String family", [] { StringSubscript(StringNewVector(1), colon, colon, end); },
       "nargs<=a.ndims", "Too many subscripts for array"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall([&] {
                        MarkReset();
                        c.call();
                      }),
                      c.condition, c.message);
  }
}

TEST(Subscript, AListOf96EntriesIsAccepted) {
  Shape got = Selected([] { return RealSubscript(Ones(95), C95, end); });
  EXPECT_EQ(got.dims, std::vector<int32_t>(95, 1));
  EXPECT_EQ(got.elements, std::vector<double>{5});
}

TEST(Subscript, IntegerAndStringFamiliesSelectTheirElements) {
  IntegerArray ints{};
  StringArray strings{};
  char a[] = "a", b[] = "b", c[] = "c";
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    ints = IntegerSubscript(Indices({5, 6, 7}), vector, Indices({3, 1, 3}), end);
    StringArray s = StringNewMatrix(3, 1);
    s.data[0] = a;
    s.data[1] = b;
    s.data[2] = c;
    strings = StringSubscript(s, stepRange, 3, -1, 2, scalar, 1, end);
  }));
  EXPECT_EQ(std::vector<int32_t>(ints.data, ints.data + 3), (std::vector<int32_t>{7, 5, 7}));
  ASSERT_EQ(strings.ndims, 1);
  ASSERT_EQ(strings.dims[0], 2);
  EXPECT_EQ(strings.data[0], c);  // pointers, not copies
  EXPECT_EQ(strings.data[1], b);
}

TEST(SubscriptAssign, WritesOnlyTheSelectedElements) {
  struct Case {
    const char* name;
    std::function<RealArray()> assign;  // returns the target
    std::vector<double> expected;
  } cases[] = {
      {"A[2:3,:] := 2x3 on 4x3",
       [] {
         RealArray t = Numbered(4, 3);
         RealArray b = RealNewMatrix(2, 3);
         for (int k = 0; k < 6; ++k) b.data[k] = -(k + 1);
         RealSubscriptAssign(b, t, range, 2, 3, colon, end);
         return t;
       },
       {11, 12, 13, -1, -2, -3, -4, -5, -6, 41, 42, 43}},
      {"A[2] := 3-vector on 4x3",
       [] {
         RealArray t = Numbered(4, 3);
         RealSubscriptAssign(Vector({7, 8, 9}), t, scalar, 2, end);
         return t;
       },
       {11, 12, 13, 7, 8, 9, 31, 32, 33, 41, 42, 43}},
      {"A[:,2] := 3-vector on 3x2",
       [] {
         RealArray t = Numbered(3, 2);
         RealSubscriptAssign(Vector({7, 8, 9}), t, colon, scalar, 2, end);
         return t;
       },
       {11, 7, 21, 8, 31, 9}},
      {"A[3:-2:1,{2,1}] := 2x2 on 3x2",
       [] {
         RealArray t = Numbered(3, 2);
         RealArray b = RealNewMatrix(2, 2);
         for (int k = 0; k < 4; ++k) b.data[k] = k + 1;
         RealSubscriptAssign(b, t, stepRange, 3, -2, 1, vector, Indices({2, 1}), end);
         return t;
       },
       {4, 3, 21, 22, 2, 1}},
      {"A[2,1] := scalar on 2x2",
       [] {
         RealArray t = Numbered(2, 2);
         RealArray b = RealNew(0);
         b.data[0] = 0.5;
         RealSubscriptAssign(b, t, scalar, 2, scalar, 1, end);
         return t;
       },
       {11, 12, 0.5, 22}},
      {"A[{1,1}] := {8,9}: the later wins",
       [] {
         RealArray t = Vector({1, 2});
         RealSubscriptAssign(Vector({8, 9}), t, vector, Indices({1, 1}), end);
         return t;
       },
       {9, 2}},
      {"A[{2,1}] := A reads the old values",
       [] {
         RealArray t = Vector({1, 2});
         RealSubscriptAssign(t, t, vector, Indices({2, 1}), end);
         return t;
       },
       {2, 1}},
      {"A[2:3] := A[1:2] through a shared view",
       [] {
         RealArray t = Vector({1, 2, 3});
         RealArray front = t;  // the first two elements of t, same storage
         front.dims = AllocateSizes(1);
         front.dims[0] = 2;
         RealSubscriptAssign(front, t, range, 2, 3, end);
         return t;
       },
       {1, 1, 2}},
      {"A[3:1] := empty leaves all",
       [] {
         RealArray t = Vector({1, 2});
         RealSubscriptAssign(RealNewVector(0), t, range, 3, 1, end);
         return t;
       },
       {1, 2}},
      {"A[] := same shape",
       [] {
         RealArray t = Vector({1, 2});
         RealSubscriptAssign(Vector({3, 4}), t, end);
         return t;
       },
       {3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Selected(c.assign).elements, c.expected);
  }
}

TEST(SubscriptAssign, ChecksFailBeforeTheTargetChanges) {
  static RealArray target;  // 4 x 3, rows i and columns j hold 10 i + j
  struct Case {
    const char* name;
    void (*call)(void);
    const char* condition;
    const char* message;
  } cases[] = {
      {"A[:] := 3x3", [] { RealSubscriptAssign(Numbered(3, 3), target, colon, end); },
       "out.dims[out_dim]==a.dims[a_dim]",
       "Assignment array subscripting: A[:]=B must have identical sizes"},
      {"A[:,:,:] := 4x3", [] { RealSubscriptAssign(Numbered(4, 3), target, colon, colon, colon, end); },
       "out_dim<out.ndims", "Internal error in subscripting (:)"},
      {"A[:,:] := 4-vector", [] { RealSubscriptAssign(Vector({1, 2, 3, 4}), target, colon, colon, end); },
       "a_dim<a.ndims", "Internal error in subscripting (:)"},
      {"A[:,:,1:1] := 4x3",
       [] { RealSubscriptAssign(Numbered(4, 3), target, colon, colon, range, 1, 1, end); },
       "out_dim<out.ndims", "Internal error in subscripting: range"},
      {"A[1,1:2] := scalar",
       [] { RealSubscriptAssign(RealNew(0), target, scalar, 1, range, 1, 2, end); },
       "a_dim<a.ndims", "Internal error in subscripting: range "},
      {"A[0:1,:] := 2x3", [] { RealSubscriptAssign(Numbered(2, 3), target, range, 0, 1, colon, end); },
       "(start>=1)&&(start<=out.dims[out_dim])",
       "Assignment array subscripting: start of range out of bounds"},
      {"A[3:5,:] := 3x3", [] { RealSubscriptAssign(Numbered(3, 3), target, range, 3, 5, colon, end); },
       "(stop>=1)&&(stop<=out.dims[out_dim])",
       "Assignment array subscripting: end of range out of bounds"},
      {"A[2:3,:] := 3x2", [] { RealSubscriptAssign(Numbered(3, 2), target, range, 2, 3, colon, end); },
       "a.dims[a_dim]==num", "Assignment array subscripting: A[a:b]=B must have identical sizes"},
      {"A[4:1:3] := 2-vector on a shape 0 range",
       [] { RealSubscriptAssign(Vector({1, 2}), target, stepRange, 4, 1, 3, end); },
       "a.dims[a_dim]==num", "Assignment array subscripting: A[a:b]=B must have identical sizes"},
      {"A[:,:,{1}] := 4x3",
       [] { RealSubscriptAssign(Numbered(4, 3), target, colon, colon, vector, Indices({1}), end); },
       "out_dim<out.ndims", "Internal error in vector subscripting"},
      {"A[1,{1}] := scalar",
       [] { RealSubscriptAssign(RealNew(0), target, scalar, 1, vector, Indices({1}), end); },
       "a_dim<a.ndims", "Internal error in vector subscripting"},
      {"A[matrix index]",
       [] { RealSubscriptAssign(Vector({1}), target, vector, IntegerNewMatrix(1, 1), end); },
       "v.ndims==1", "Assignment array subscripting: array index must be a vector"},
      {"A[{1,2}] := 3x3",
       [] { RealSubscriptAssign(Numbered(3, 3), target, vector, Indices({1, 2}), end); },
       "a.dims[a_dim]==v.dims[0]",
       "Assignment array subscripting: A[vect]=B must have identical sizes"},
      {"A[{1,5}] := 2x3",
       [] { RealSubscriptAssign(Numbered(2, 3), target, vector, Indices({1, 5}), end); },
       "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim])",
       "Assignment array subscripting: vector index out of bounds"},
      {"A[1,1,1] := scalar",
       [] { RealSubscriptAssign(RealNew(0), target, scalar, 1, scalar, 1, scalar, 1, end); },
       "out_dim<out.ndims", "Internal error in scalar subscripting"},
      {"A[5] := 3-vector", [] { RealSubscriptAssign(Vector({1, 2, 3}), target, scalar, 5, end); },
       "(i>=1)&&(i<=out.dims[out_dim])", "Assignment array subscripting: scalar index out of bounds"},
      {"A[2] := 2x3", [] { RealSubscriptAssign(Numbered(2, 3), target, scalar, 2, end); },
       "a.ndims-a_dim==out.ndims-out_dim",
       "Assignment array subscripting: unequal number of dimensions"},
      {"A[2] := 2-vector", [] { RealSubscriptAssign(Vector({1, 2}), target, scalar, 2, end); },
       "a.dims[i]==out.dims[(i-a_dim)+out_dim]", "Internal error in subscripting"},
      {"step 0", [] { RealSubscriptAssign(Vector({1}), target, stepRange, 1, 0, 1, end); },
       "step!=0", "Range subscripting: step must not be zero"},
      {"unknown kind", [] { RealSubscriptAssign(Vector({1}), target, 9, end); },
       "(kind>=0)&&(kind<=5)", "Internal error in subscripting: unknown kind of subscript"},
      {"Integer family",
       [] { IntegerSubscriptAssign(Indices({1, 2}), IntegerNewVector(3), colon, end); },
       "out.dims[out_dim]==a.dims[a_dim]",
       "Assignment array subscripting: A[:]=B must have identical sizes"},
      {"String family",
       [] { StringSubscriptAssign(StringNewVector(1), StringNewVector(3), scalar, 4, end); },
       "(i>=1)&&(i<=out.dims[out_dim])", "Assignment array subscripting: scalar index out of bounds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall([&] {
                        MarkReset();
                        target = Numbered(4, 3);
                        c.call();
                      }),
                      c.condition, c.message);
    EXPECT_EQ(ElementsOf(target),
              (std::vector<double>{11, 12, 13, 21, 22, 23, 31, 32, 33, 41, 42, 43}));
  }
}

TEST(SubscriptAssign, IntegerAndStringFamiliesWriteTheirElements) {
  IntegerArray ints{};
  StringArray strings{};
  char x[] = "x";
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    ints = Indices({1, 2, 3});
    IntegerSubscriptAssign(Indices({8, 9}), ints, vector, Indices({3, 1}), end);
    strings = StringNewVector(2);
    strings.data[0] = nullptr;
    strings.data[1] = nullptr;
    StringArray source = StringNew(0);
    source.data[0] = x;
    StringSubscriptAssign(source, strings, scalar, 2, end);
  }));
  EXPECT_EQ(std::vector<int32_t>(ints.data, ints.data + 3), (std::vector<int32_t>{9, 2, 8}));
  EXPECT_EQ(strings.data[0], nullptr);
  EXPECT_EQ(strings.data[1], x);
}

TEST(DecodeSubscripts, StoresEachKindWithItsOperands) {
  static SubscriptDescriptor table[subscriptTableSize];
  static IntegerArray v;
  struct Local {
    static void Decode(int first, ...) {
      va_list list;
      va_start(list, first);
      DecodeSubscripts(list, table, subscriptTableSize);
      va_end(list);
    }
  };
  ExpectNoFailure(GuardedCall([] {
    MarkReset();
    v = Indices({4});
    Local::Decode(0, colon, range, 2, 5, stepRange, 7, -3, 1, vector, v, scalar, 6, end);
  }));
  EXPECT_EQ(table[0].kind, colon);
  EXPECT_EQ(table[1].kind, range);
  EXPECT_EQ(table[1].start, 2);
  EXPECT_EQ(table[1].step, 1);
  EXPECT_EQ(table[1].stop, 5);
  EXPECT_EQ(table[2].start, 7);
  EXPECT_EQ(table[2].step, -3);
  EXPECT_EQ(table[2].stop, 1);
  EXPECT_EQ(table[3].vector.data, v.data);
  EXPECT_EQ(table[3].vector.dims, v.dims);
  EXPECT_EQ(table[4].start, 6);
  EXPECT_EQ(table[5].kind, end);
}

TEST(Subscript, AResultWhoseCountDoesNotFitIsRefusedBeforeCopying) {
  // 2048^3 elements wrap to 0 in 32 bits; copying them into an empty result would overrun it.
  GuardedCallResult result = GuardedCall([] {
    MarkReset();
    IntegerArray ones = IntegerNewVector(2048);
    for (int k = 0; k < 2048; ++k) ones.data[k] = 1;
    RealSubscript(Ones(3), vector, ones, vector, ones, vector, ones, end);
  });
  ASSERT_TRUE(result.jumped);
  EXPECT_EQ(result.texts()[0], "currentMark.place.Realbuffer<EndRealbuffer");
}
