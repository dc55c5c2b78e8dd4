// Element access, sizes, assignment, copies and the debug print of the array families.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arrayaccess.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "matrixop.h"
#include "workbuffers.h"

namespace {

const char indexCondition[] = "(j>=1)&&(j<=dim)";
const char indexMessage[] = "Index out of bounds";
const char sizeCondition[] = "(i>=1)&&(i<=a.ndims)";
const char sizeMessage[] = "Size must be between 1 and ndims of array";
const char matchMessage[] = "Array dimensions did not match";

// A 2 x 3 Real array holding 1..6 in storage order.
RealArray Real23(void) {
  RealArray a = RealNewMatrix(2, 3);
  for (int k = 0; k < 6; ++k) a.data[k] = k + 1;
  return a;
}

std::vector<double> ElementsOf(RealArray a) {
  return std::vector<double>(a.data, a.data + RealNrElements(a));
}

}  // namespace

TEST(ElementAccess, ReadsWritesAndAddressesTheRowMajorElement) {
  RealArray a{};
  IntegerArray ints{};
  StringArray strings{};
  char text[] = "text";
  struct Result {
    double get21, get13, scalar;
    int32_t integer;
    char* string;
    double* address;
  } r{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    a = Real23();
    r.get21 = RealGet(a, 2, 1);
    r.get13 = RealGet(a, 1, 3);
    RealSet(-7.5, a, 2, 2);
    r.address = RealElementAddress(a, 2, 3);
    RealArray scalar = RealNew(0);
    RealSet(4.25, scalar);
    r.scalar = RealGet(scalar);
    ints = IntegerNewVector(3);
    IntegerSet(42, ints, 3);
    r.integer = IntegerGet(ints, 3);
    strings = StringNewMatrix(2, 2);
    StringSet(text, strings, 2, 1);
    r.string = StringGet(strings, 2, 1);
  }));
  EXPECT_EQ(r.get21, 4);
  EXPECT_EQ(r.get13, 3);
  EXPECT_EQ(a.data[4], -7.5);
  EXPECT_EQ(r.address, a.data + 5);
  EXPECT_EQ(r.scalar, 4.25);
  EXPECT_EQ(r.integer, 42);
  EXPECT_EQ(ints.data[2], 42);
  EXPECT_EQ(r.string, text);  // the pointer itself, not a copy
  EXPECT_EQ(strings.data[2], text);
}

TEST(ElementAccess, ASubscriptOutsideItsDimensionFails) {
  static RealArray a;
  static IntegerArray ints;
  static StringArray strings;
  ExpectNoFailure(GuardedCall([] {
    MarkReset();
    a = Real23();
    ints = IntegerNewMatrix(2, 3);
    strings = StringNewMatrix(2, 3);
  }));
  struct Case {
    const char* name;
    void (*call)(void);
  } cases[] = {
      {"RealGet (3,1)", [] { RealGet(a, 3, 1); }},
      {"RealGet (1,0)", [] { RealGet(a, 1, 0); }},
      {"RealSet (1,4)", [] { RealSet(1.0, a, 1, 4); }},
      {"RealElementAddress (0,1)", [] { RealElementAddress(a, 0, 1); }},
      {"IntegerGet (2,4)", [] { IntegerGet(ints, 2, 4); }},
      {"IntegerSet (-1,1)", [] { IntegerSet(1, ints, -1, 1); }},
      {"StringGet (3,3)", [] { StringGet(strings, 3, 3); }},
      {"StringSet (1,0)", [] { StringSet(nullptr, strings, 1, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall(c.call), indexCondition, indexMessage);
  }
  EXPECT_EQ(ElementsOf(a), (std::vector<double>{1, 2, 3, 4, 5, 6}));  // no write went through
}

TEST(ArraySize, GivesOneDimensionOrFailsOutsideOneToNdims) {
  static RealArray a;
  static IntegerArray ints;
  static StringArray strings;
  int32_t first = 0, second = 0, integerSecond = 0, stringFirst = 0;
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    a = Real23();
    ints = IntegerNewMatrix(4, 5);
    strings = StringNewVector(7);
    first = RealSize(a, 1);
    second = RealSize(a, 2);
    integerSecond = IntegerSize(ints, 2);
    stringFirst = StringSize(strings, 1);
  }));
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 3);
  EXPECT_EQ(integerSecond, 5);
  EXPECT_EQ(stringFirst, 7);
  struct Case {
    const char* name;
    void (*call)(void);
  } cases[] = {
      {"RealSize 0", [] { RealSize(a, 0); }},
      {"RealSize 3", [] { RealSize(a, 3); }},
      {"IntegerSize 3", [] { IntegerSize(ints, 3); }},
      {"StringSize 2", [] { StringSize(strings, 2); }},
      {"RealSize of a scalar", [] { RealSize(RealNew(0), 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall(c.call), sizeCondition, sizeMessage);
  }
}

TEST(ArraySize, SizeVectorIsAFreshIntegerVectorOfTheSizes) {
  IntegerArray sizes{}, ofScalar{}, ofStrings{};
  RealArray a{};
  BufferMark before{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    a = RealNew(3, 2, 0, 4);
    MarkGet(&before);
    sizes = RealSizeVector(a);
    ofScalar = IntegerSizeVector(IntegerNew(0));
    ofStrings = StringSizeVector(StringNewMatrix(5, 6));
  }));
  ASSERT_EQ(sizes.ndims, 1);
  EXPECT_EQ(sizes.dims[0], 3);
  EXPECT_EQ(std::vector<int32_t>(sizes.data, sizes.data + 3), (std::vector<int32_t>{2, 0, 4}));
  EXPECT_EQ(sizes.dims, before.place.Sizebuffer);
  EXPECT_EQ(sizes.data, before.place.Integerbuffer);
  EXPECT_NE(sizes.data, a.dims);
  EXPECT_EQ(ofScalar.ndims, 1);
  EXPECT_EQ(ofScalar.dims[0], 0);
  EXPECT_EQ(std::vector<int32_t>(ofStrings.data, ofStrings.data + 2), (std::vector<int32_t>{5, 6}));
}

TEST(ArrayAssign, CopiesEqualShapesIntoTheTargetsOwnStorage) {
  RealArray target{}, source{};
  double* storage = nullptr;
  int32_t* dims = nullptr;
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    target = RealNewMatrix(2, 3);
    storage = target.data;
    dims = target.dims;
    source = Real23();
    RealAssign(target, source);
    RealAssign(target, target);  // onto itself
  }));
  EXPECT_EQ(target.data, storage);
  EXPECT_EQ(target.dims, dims);
  EXPECT_EQ(ElementsOf(target), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST(ArrayAssign, StorageSharedWithTheSourceReadsAsBefore) {
  // The target starts one element after the source in the same C array.
  double c[] = {1, 2, 3, 4, 5};
  int32_t dims[] = {4};
  RealArray source{1, dims, c};
  RealArray target{1, dims, c + 1};
  ExpectNoFailure(GuardedCall([&] { RealAssign(target, source); }));
  EXPECT_EQ(std::vector<double>(c, c + 5), (std::vector<double>{1, 1, 2, 3, 4}));
}

TEST(ArrayAssign, ShapesThatDoNotMatchFailNamingTheFamily) {
  static RealArray real23, real32;
  static IntegerArray int23, int6;
  static StringArray str2, str3;
  ExpectNoFailure(GuardedCall([] {
    MarkReset();
    real23 = Real23();
    real32 = RealNewMatrix(3, 2);
    for (int k = 0; k < 6; ++k) real32.data[k] = 0;
    int23 = IntegerNewMatrix(2, 3);
    int6 = IntegerNewVector(6);
    str2 = StringNewVector(2);
    str3 = StringNewVector(3);
  }));
  struct Case {
    const char* name;
    void (*call)(void);
    const char* condition;
  } cases[] = {
      {"Real 2x3 := 3x2", [] { RealAssign(real23, real32); }, "RealMatchingSizes(a,b)"},
      {"Integer 2x3 := 6", [] { IntegerAssign(int23, int6); }, "IntegerMatchingSizes(a,b)"},
      {"String 2 := 3", [] { StringAssign(str2, str3); }, "StringMatchingSizes(a,b)"},
      {"Real 2x3 := scalar", [] { RealAssign(real23, RealNew(0)); }, "RealMatchingSizes(a,b)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall(c.call), c.condition, matchMessage);
  }
  EXPECT_EQ(ElementsOf(real23), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST(ArrayAssign, StringsShareTheirCharactersWithTheSource) {
  char first[] = "first";
  char second[] = "second";
  StringArray source{}, target{}, copy{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    source = StringNewVector(2);
    source.data[0] = first;
    source.data[1] = second;
    target = StringNewVector(2);
    StringAssign(target, source);
    copy = StringCopy(source);
  }));
  first[0] = 'F';
  EXPECT_STREQ(target.data[0], "First");
  EXPECT_EQ(target.data[1], second);
  EXPECT_STREQ(copy.data[0], "First");
  EXPECT_NE(copy.data, source.data);
}

TEST(ArrayCopy, CopySharesNothingAndCopyDataSharesOnlyTheSizes) {
  RealArray a{}, copy{}, data{};
  IntegerArray ints{}, intCopy{};
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    a = Real23();
    copy = RealCopy(a);
    data = RealCopyData(a);
    ints = IntegerNewVector(2);
    ints.data[0] = 7;
    ints.data[1] = -7;
    intCopy = IntegerCopy(ints);
  }));
  EXPECT_EQ(ElementsOf(copy), ElementsOf(a));
  EXPECT_EQ(ElementsOf(data), ElementsOf(a));
  EXPECT_NE(copy.dims, a.dims);
  EXPECT_NE(copy.data, a.data);
  EXPECT_EQ(data.dims, a.dims);
  EXPECT_NE(data.data, a.data);
  copy.data[0] = 100;
  data.data[1] = 200;
  copy.dims[0] = 9;
  EXPECT_EQ(ElementsOf(a), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(a.dims[0], 2);
  EXPECT_EQ(std::vector<int32_t>(intCopy.data, intCopy.data + 2), (std::vector<int32_t>{7, -7}));
}

TEST(ArrayCopy, AShapeOutsideTheDataModelIsRefusedBeforeAnythingIsCopied) {
  // Records over C data carry whatever sizes they were given.
  static double c[4];
  static int32_t huge[] = {65536, 65536};  // wraps to 0 elements in 32 bits
  static int32_t negative[] = {-2};
  const char* realCondition = "currentMark.place.Realbuffer<EndRealbuffer";
  struct Case {
    const char* name;
    void (*call)(void);
  } cases[] = {
      {"Copy of a count beyond int32", [] { RealCopy(RealArray{2, huge, c}); }},
      {"CopyData of a count beyond int32", [] { RealCopyData(RealArray{2, huge, c}); }},
      {"Copy of a negative size", [] { RealCopy(RealArray{1, negative, c}); }},
      {"CopyData of a negative size", [] { RealCopyData(RealArray{1, negative, c}); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    GuardedCallResult result = GuardedCall([&] {
      MarkReset();
      k.call();
    });
    ASSERT_TRUE(result.jumped);
    EXPECT_EQ(result.texts()[0], realCondition);
  }
}

TEST(ArrayPrint, SendsTheShapeThenOneLinePerElementInStorageOrder) {
  struct Case {
    const char* name;
    void (*print)(void);
    std::vector<std::string> lines;
  } cases[] = {
      {"Real 1x2",
       [] {
         RealArray a = RealNewMatrix(1, 2);
         a.data[0] = 1.5;
         a.data[1] = 2;
         RealPrint(a);
       },
       {"Dims:  2", "  1", "  2", "  [0, 1] = 1.5", "  [1, 1] = 2"}},
      {"Integer 2x1",
       [] {
         IntegerArray a = IntegerNewMatrix(2, 1);
         a.data[0] = -3;
         a.data[1] = 1000000;
         IntegerPrint(a);
       },
       {"Dims:  2", "  2", "  1", "  [0, 1] = -3", "  [1, 1] = 1E+06"}},
      {"Real scalar",
       [] {
         RealArray a = RealNew(0);
         a.data[0] = 0.25;
         RealPrint(a);
       },
       {"Dims:  0", "  [0, 1] = 0.25"}},
      {"String vector",
       [] {
         StringArray a = StringNewVector(2);
         a.data[0] = const_cast<char*>("alpha");
         a.data[1] = const_cast<char*>("");
         StringPrint(a);
       },
       {"Dims:  1", "  2", "alpha", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuardedCallResult result = GuardedCall([&] {
      MarkReset();
      c.print();
    });
    ExpectNoFailure(result);
    EXPECT_EQ(result.texts(), c.lines);
    for (int level : result.levels()) EXPECT_EQ(level, 0);
  }
}
