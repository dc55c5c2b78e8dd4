// Reading and writing matrices by name from Modelica code, in both file formats: values, sizes,
// lists and scalars, the failures with their texts, and what appending keeps.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../matfile/scipy_check.h"
#include "amatget.h"
#include "amatput.h"
#include "case_names.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "matrixfiles.h"
#include "test_files.h"
#include "workbuffers.h"

namespace {

bool Exists(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f) fclose(f);
  return f != nullptr;
}

// Matrices of every kind the readers meet; an empty one first.
float realA[] = {1.5f, 4, 2, 5, 3, 6.25f};  // A = [[1.5, 2, 3], [4, 5, 6.25]], column by column
int32_t intB[] = {1, -3, 2, 4};              // B = [[1, 2], [-3, 4]]
int32_t intV[] = {7, 8, 9};                  // V, 1 x 3
int32_t intI[] = {-42};
double doubleD[] = {2.5};
char rowAb[] = "ab  ", rowAbcd[] = "abcd", rowOne[] = "one";
char* rowsS[] = {rowAb, rowAbcd};
char* rowsT[] = {rowOne};
char nameE[] = "E", nameA[] = "A", nameB[] = "B", nameV[] = "V", nameI[] = "I", nameD[] = "D", nameS[] = "S",
     nameT[] = "T";

void WriteSampleFile(const std::string& path, int format) {
  AmatWriteFile file;
  ASSERT_EQ(amatPutOpen(path.c_str(), format, 0, nullptr, nullptr, nullptr, &file), 0) << amatMessage;
  Amatrix matrices[] = {{nameE, 0, 0, doubleMatrix, nullptr, 0, 0},  {nameA, 2, 3, realMatrix, realA, 0, 0},
                        {nameB, 2, 2, integerMatrix, intB, 0, 0},    {nameV, 1, 3, integerMatrix, intV, 0, 0},
                        {nameI, 1, 1, integerMatrix, intI, 0, 0},    {nameD, 1, 1, doubleMatrix, doubleD, 0, 0},
                        {nameS, 2, 4, charMatrix, rowsS, 0, 0},      {nameT, 1, 3, charMatrix, rowsT, 0, 0}};
  for (const Amatrix& m : matrices) ASSERT_EQ(amatPutMatrix(&file, m), 0) << amatMessage;
  ASSERT_EQ(amatPutCloseChecked(&file), 0);
}

template <class Array>
std::vector<int32_t> Dims(Array a) {
  return std::vector<int32_t>(a.dims, a.dims + a.ndims);
}
template <class Array>
auto Elements(Array a) {
  int32_t n = 1;
  for (int32_t i = 0; i < a.ndims; ++i) n *= a.dims[i];
  return std::vector<std::remove_pointer_t<decltype(a.data)>>(a.data, a.data + n);
}

class MatrixFiles : public ::testing::TestWithParam<int> {
 protected:
  // Earlier tests may leave the thread's marks anywhere, even past a buffer's end.
  void SetUp() override {
    EnsureRuntimeAttached();
    MarkReset();
  }
  void TearDown() override { MarkReset(); }
};

// Strings are kept as std::string outside the guarded frames.
std::vector<std::string> Texts(StringArray a) {
  std::vector<std::string> texts;
  for (char* s : Elements(a)) texts.push_back(s);
  return texts;
}

TEST_P(MatrixFiles, ReadsValuesSizesAndScalarsPastAnEmptyMatrix) {
  std::string path = TestFilePath(GetParam() ? ".mat" : ".txt");
  WriteSampleFile(path, GetParam());
  const char* file = path.c_str();
  RealArray sized{}, a{}, v{};
  IntegerArray size{}, b{}, iv{};
  StringArray s{};
  double d = 0;
  int i = 0;
  char* t = nullptr;
  ExpectNoFailure(GuardedCall([&] {
    sized = RealMatReadSized(file, "A", 2, 3);
    a = RealMatRead(file, "A", 2);
    v = RealMatRead(file, "V", 1);
    size = MatReadSize(file, "A");
    b = IntegerMatRead(file, "B", 2);
    iv = IntegerMatRead(file, "V", 1);
    d = RealMatReadScalar(file, "D");
    i = IntegerMatReadScalar(file, "I");
    s = StringMatRead(file, "S", 1);
    t = StringMatReadScalar(file, "T");
  }));
  std::vector<double> rowMajorA{1.5, 2, 3, 4, 5, 6.25};
  EXPECT_EQ(Dims(sized), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(Elements(sized), rowMajorA);
  EXPECT_EQ(Dims(a), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(Elements(a), rowMajorA);
  EXPECT_EQ(Dims(v), (std::vector<int32_t>{3}));
  EXPECT_EQ(Elements(v), (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(Elements(size), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(Elements(b), (std::vector<int32_t>{1, 2, -3, 4}));
  EXPECT_EQ(Elements(iv), (std::vector<int32_t>{7, 8, 9}));
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(i, -42);
  EXPECT_EQ(Dims(s), (std::vector<int32_t>{2}));
  // Trailing blanks of a row stay.
  EXPECT_EQ(Texts(s), (std::vector<std::string>{"ab  ", "abcd"}));
  EXPECT_STREQ(t, "one");
}

TEST_P(MatrixFiles, ListsEveryMatrixWithItsKindInFileOrder) {
  std::string path = TestFilePath(GetParam() ? ".mat" : ".txt");
  WriteSampleFile(path, GetParam());
  StringArray list{};
  ExpectNoFailure(GuardedCall([&] { list = MatReadList(path.c_str()); }));
  EXPECT_EQ(Dims(list), (std::vector<int32_t>{8, 2}));
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"E", "Real", "A", "Real", "B", "Integer", "V", "Integer", "I",
                                                    "Integer", "D", "Real", "S", "Unknown", "T", "Unknown"}));
}

TEST_P(MatrixFiles, ReadFailuresReportTheirChecks) {
  static std::string path;
  path = TestFilePath(GetParam() ? ".mat" : ".txt");
  WriteSampleFile(path, GetParam());
  static std::string missing;
  missing = TestFilePath("_missing.mat");
  struct Case {
    const char* condition;
    const char* message;  // null: the matrix-file library's own text
    void (*call)();
  } cases[] = {
      {"rows==amatrix.nrow && cols==amatrix.ncol", "Matrix dimension incorrect",
       [] { RealMatReadSized(path.c_str(), "A", 3, 2); }},
      {"amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix",
       "No string matrices allowed", [] { RealMatReadSized(path.c_str(), "S", 2, 4); }},
      {"amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix",
       "No string matrices allowed", [] { RealMatRead(path.c_str(), "T", 2); }},
      {"ret<=1", nullptr, [] { RealMatReadSized(path.c_str(), "C", 2, 3); }},
      {"ret<=1", nullptr, [] { MatReadSize(path.c_str(), "a"); }},  // names are compared exactly
      {"ret==0", nullptr, [] { RealMatRead(missing.c_str(), "A", 2); }},
      {"ret==0", nullptr, [] { MatReadList(missing.c_str()); }},
      {"(ndims<=2)&&(ndims>=1)", "Current version can only read scalars, vectors, and matrices",
       [] { RealMatRead(path.c_str(), "A", 3); }},
      {"(ndims<=2)&&(ndims>=1)", "Current version can only read scalars, vectors, and matrices",
       [] { IntegerMatRead(path.c_str(), "B", 0); }},
      {"amatrix.type==integerMatrix", "Integer matrix required", [] { IntegerMatRead(path.c_str(), "A", 2); }},
      {"(ndims<=1)&&(ndims>=1)", "Current version can only read scalars and vectors",
       [] { StringMatRead(path.c_str(), "S", 2); }},
      {"amatrix.type==charMatrix", "Only string matrices allowed", [] { StringMatRead(path.c_str(), "A", 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.condition);
    GuardedCallResult result = GuardedCall(c.call);
    if (c.message) {
      ExpectFailedCheck(result, c.condition, c.message);
    } else {
      ASSERT_TRUE(result.jumped);
      EXPECT_EQ(result.texts()[0], c.condition);
      EXPECT_EQ(result.texts()[2], amatMessage);
    }
  }
  // Reading goes on normally afterwards: nothing was left open or half-read.
  IntegerArray size{};
  ExpectNoFailure(GuardedCall([&] { size = MatReadSize(path.c_str(), "B"); }));
  EXPECT_EQ(Elements(size), (std::vector<int32_t>{2, 2}));
}

const char* formatName(int binary) { return binary ? "Binary" : "Text"; }

INSTANTIATE_TEST_SUITE_P(BothFormats, MatrixFiles, ::testing::Values(0, 1), quenzel_test::CaseNameFrom<formatName>{});

class MatrixFileWriting : public ::testing::Test {
 protected:
  // Earlier tests may leave the thread's marks anywhere, even past a buffer's end.
  void SetUp() override {
    EnsureRuntimeAttached();
    MarkReset();
  }
  void TearDown() override { MarkReset(); }
};

RealArray Matrix(int32_t rows, int32_t cols, std::initializer_list<double> values) {
  RealArray m = RealNewMatrix(rows, cols);
  std::copy(values.begin(), values.end(), m.data);
  return m;
}

std::vector<std::string> ListOf(const std::string& path) {
  StringArray list{};
  EXPECT_FALSE(GuardedCall([&] { list = MatReadList(path.c_str()); }).jumped);
  std::vector<std::string> names;
  std::vector<std::string> texts = Texts(list);
  for (size_t i = 0; i < texts.size(); i += 2) names.push_back(texts[i]);
  return names;
}

int Write(const std::string& path, const char* name, RealArray m, int append) {
  int written = -1;
  EXPECT_FALSE(GuardedCall([&] { written = RealMatWrite(path.c_str(), name, &m, append); }).jumped);
  return written;
}

TEST_F(MatrixFileWriting, RealMatWriteWritesOneMatrixOrReplacesItAmongTheOthers) {
  std::string path = TestFilePath(".mat");
  RealArray c = Matrix(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(Write(path, "A", Matrix(1, 1, {9}), 0), 1);
  EXPECT_EQ(Write(path, "C", Matrix(1, 2, {0, 0}), 1), 1);
  EXPECT_EQ(Write(path, "B", Matrix(1, 1, {8}), 1), 1);
  EXPECT_EQ(Write(path, "C", c, 1), 1);  // the older C goes, the new one comes last
  EXPECT_EQ(ListOf(path), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(ScipyLoaded(path), "A f8 1 1 9.0\nB f8 1 1 8.0\nC f8 2 2 1.0 2.0 3.0 4.0\n");
  EXPECT_FALSE(Exists(path + ".writing"));
  // Without append the file holds only the matrix written.
  EXPECT_EQ(Write(path, "B", c, 0), 1);
  EXPECT_EQ(ListOf(path), (std::vector<std::string>{"B"}));
  // Append on a missing file makes one with the new matrix only.
  std::string fresh = TestFilePath("_fresh.mat");
  remove(fresh.c_str());
  EXPECT_EQ(Write(fresh, "C", c, 1), 1);
  EXPECT_EQ(ListOf(fresh), (std::vector<std::string>{"C"}));
}

TEST_F(MatrixFileWriting, AppendKeepsEveryOtherMatrixWithItsKindAndTexts) {
  std::string path = TestFilePath(".mat");
  AmatWriteFile file;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 0, nullptr, nullptr, nullptr, &file), 0);
  std::vector<std::string> expected;
  char names[25][8];
  double values[25];
  for (int k = 0; k < 25; ++k) {
    snprintf(names[k], sizeof names[k], "M%d", k);
    values[k] = k;
    Amatrix m;
    amatSetMatrix(names[k], 1, 1, doubleMatrix, &values[k], &m);
    ASSERT_EQ(amatPutMatrix(&file, m), 0);
    expected.push_back(names[k]);
    if (k == 3) {  // an empty matrix and a text matrix with trailing blanks among them
      amatSetMatrix(nameE, 0, 0, doubleMatrix, nullptr, &m);
      ASSERT_EQ(amatPutMatrix(&file, m), 0);
      expected.push_back("E");
      amatSetMatrix(nameS, 2, 4, charMatrix, rowsS, &m);
      ASSERT_EQ(amatPutMatrix(&file, m), 0);
      expected.push_back("S");
    }
  }
  ASSERT_EQ(amatPutCloseChecked(&file), 0);
  EXPECT_EQ(Write(path, "N", Matrix(1, 1, {1}), 1), 1);
  expected.push_back("N");
  EXPECT_EQ(ListOf(path), expected);
  StringArray s{};
  ExpectNoFailure(GuardedCall([&] { s = StringMatRead(path.c_str(), "S", 1); }));
  EXPECT_EQ(Texts(s), (std::vector<std::string>{"ab  ", "abcd"}));
  double last = 0;
  ExpectNoFailure(GuardedCall([&] { last = RealMatReadScalar(path.c_str(), "M24"); }));
  EXPECT_EQ(last, 24);
}

TEST_F(MatrixFileWriting, RealMatWriteFailuresLeaveTheFileAlone) {
  std::string path = TestFilePath(".mat");
  EXPECT_EQ(Write(path, "A", Matrix(1, 1, {9}), 0), 1);
  std::vector<std::string> before = ListOf(path);
  // A vector is refused before anything is read or written.
  RealArray vector = RealNewVector(2);
  ExpectFailedCheck(GuardedCall([&] { RealMatWrite(path.c_str(), "A", &vector, 1); }), "mat.ndims==2",
                    "Only writing of matrices");
  EXPECT_EQ(ListOf(path), before);
  // A file that cannot be created is no success, with or without append.
  std::string nowhere = TestFilePath("_missing/dir/x.mat");
  EXPECT_EQ(Write(nowhere, "A", Matrix(1, 1, {1}), 0), 0);
  EXPECT_EQ(Write(nowhere, "A", Matrix(1, 1, {1}), 1), 0);
  // A file whose matrices cannot all be read is not rewritten without them.
  std::string damaged = TestFilePath("_damaged.mat");
  EXPECT_EQ(Write(damaged, "A", Matrix(1, 1, {9}), 0), 1);
  FILE* f = fopen(damaged.c_str(), "ab");
  int32_t header[5] = {0, 4, 4, 0, 2};  // a header whose data is missing
  fwrite(header, sizeof header, 1, f);
  fwrite("B", 2, 1, f);
  fclose(f);
  long size = 0;
  f = fopen(damaged.c_str(), "rb");
  fseek(f, 0, SEEK_END);
  size = ftell(f);
  fclose(f);
  EXPECT_EQ(Write(damaged, "C", Matrix(1, 1, {1}), 1), 0);
  f = fopen(damaged.c_str(), "rb");
  fseek(f, 0, SEEK_END);
  EXPECT_EQ(ftell(f), size);
  fclose(f);
  EXPECT_FALSE(Exists(damaged + ".writing"));
}

TEST_F(MatrixFileWriting, MatWriteItemsWritesScalarsVectorsAndMatricesInOrder) {
  std::string path = TestFilePath(".mat");
  RealArray vector = RealNewVector(4);
  for (int k = 0; k < 4; ++k) vector.data[k] = k + 0.5;
  IntegerArray matrix = IntegerNewMatrix(2, 3);
  for (int k = 0; k < 6; ++k) matrix.data[k] = k + 1;  // [[1, 2, 3], [4, 5, 6]]
  StringArray texts = StringNewVector(2);
  texts.data[0] = const_cast<char*>("x");
  texts.data[1] = const_cast<char*>("yz");
  ExpectNoFailure(GuardedCall([&] {
    MatWriteItems(path.c_str(), 5, "i", 1, 0, 3, "v", 3, 1, &vector, "s", 4, 0, "abc", "m", 1, 2, &matrix, "t", 4, 1,
                  &texts);
  }));
  EXPECT_EQ(ListOf(path), (std::vector<std::string>{"i", "v", "s", "m", "t"}));
  EXPECT_EQ(ScipyLoaded(path),
            "i i4 1 1 3.0\n"
            "m i4 2 3 1.0 2.0 3.0 4.0 5.0 6.0\n"
            "s U4 1 3 97 98 99\n"
            "t U4 2 2 120 0 121 122\n"
            "v f8 4 1 0.5 1.5 2.5 3.5\n");
  // No items: a file without matrices.
  ExpectNoFailure(GuardedCall([&] { MatWriteItems(path.c_str(), 0); }));
  FILE* f = fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fgetc(f), EOF);
  fclose(f);
}

// A text matrix holds one text per row, so a String item of n x m elements becomes n·m rows,
// column by column, as its other items are stored; none of its texts is lost.
TEST_F(MatrixFileWriting, MatWriteItemsWritesEveryTextOfAStringMatrixAsARow) {
  struct Case {
    const char* what;
    int32_t rows, cols;
    std::vector<const char*> texts;  // row-major
    std::vector<std::string> stored;
  } cases[] = {
      {"2 x 2", 2, 2, {"a", "bb", "ccc", "d"}, {"a", "ccc", "bb", "d"}},
      {"1 x 3", 1, 3, {"x", "yz", ""}, {"x", "yz", ""}},
      {"3 x 1", 3, 1, {"p", "q", "rs"}, {"p", "q", "rs"}},
      {"2 x 3", 2, 3, {"1", "2", "3", "4", "5", "6"}, {"1", "4", "2", "5", "3", "6"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = TestFilePath(".mat");
    StringArray texts = StringNewMatrix(c.rows, c.cols);
    for (size_t k = 0; k < c.texts.size(); ++k) texts.data[k] = const_cast<char*>(c.texts[k]);
    ExpectNoFailure(GuardedCall([&] { MatWriteItems(path.c_str(), 2, "t", 4, 2, &texts, "i", 1, 0, 7); }));
    EXPECT_EQ(ListOf(path), (std::vector<std::string>{"t", "i"}));
    IntegerArray size{};
    StringArray read{};
    int following = 0;
    ExpectNoFailure(GuardedCall([&] {
      size = MatReadSize(path.c_str(), "t");
      read = StringMatRead(path.c_str(), "t", 1);
      following = IntegerMatReadScalar(path.c_str(), "i");
    }));
    EXPECT_EQ(size.data[0], c.rows * c.cols);
    EXPECT_EQ(Texts(read), c.stored);
    EXPECT_EQ(following, 7);
  }
}

TEST_F(MatrixFileWriting, MatWriteItemsFailuresReportTheirChecks) {
  static std::string path;
  path = TestFilePath(".mat");
  static std::string nowhere;
  nowhere = TestFilePath("_missing/dir/x.mat");
  struct Case {
    const char* condition;
    const char* message;
    void (*call)();
  } cases[] = {
      {"false", "failed to open output file", [] { MatWriteItems(nowhere.c_str(), 1, "i", 1, 0, 3); }},
      {"ndims>=0 && ndims<=2", "Current version can only write scalars, vectors and matrices",
       [] { MatWriteItems(path.c_str(), 1, "i", 1, 3, 3); }},
      // An unknown type code is refused before its value is taken from the list.
      {"ret==0", "Write of matrix must succeed", [] { MatWriteItems(path.c_str(), 2, "i", 1, 0, 3, "b", 2, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.condition);
    ExpectFailedCheck(GuardedCall(c.call), c.condition, c.message);
  }
  // The file of a failed call was closed: it holds what came before the failure.
  EXPECT_EQ(ListOf(path), (std::vector<std::string>{"i"}));
}

}  // namespace
