// The reading interface: the open with its class check, the caller's requirements and the
// delivered type, caller storage, and continued reading of a row matrix while its file grows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "amatget.h"
#include "amatput.h"
#include "case_names.h"
#include "matfile_fixture.h"

namespace {

char* Text(const char* t) { return const_cast<char*>(t); }

// Writes a class matrix of the given rows (binary) and then a 1 x 1 double "x".
void WriteClassFile(const std::string& path, const char* name, std::vector<const char*> rows) {
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 0, nullptr, nullptr, nullptr, &f), 0);
  Amatrix m;
  amatSetMatrix(Text(name), static_cast<int32_t>(rows.size()), 0, charMatrix, rows.data(), &m);
  ASSERT_EQ(amatPutMatrix(&f, m), 0);
  double x = 1;
  amatSetMatrix(Text("x"), 1, 1, doubleMatrix, &x, &m);
  ASSERT_EQ(amatPutMatrix(&f, m), 0);
  amatPutClose(&f);
}

struct OpenCase {
  const char* label;
  const char* matrixName;
  std::vector<const char*> rows;
  const char* className;
  const char* version;
  int result;
  const char* messageStart;
};

const OpenCase openCases[] = {
    {"matches", "Aclass", {"C", "1.0", "d"}, "C", "1.0", 0, nullptr},
    {"old_name_any_version", "class", {"C", "1.0", "d"}, "C", nullptr, 0, nullptr},
    {"blank_rows_compare_as_empty", "Aclass", {"C", " ", " "}, "C", "", 0, nullptr},
    {"two_rows", "Aclass", {"C", "1.0"}, "C", nullptr, 5,
     "Not possible to read matrices from file \"%s\",\nbecause matrix \"Aclass\" has less than 3 rows.\n"},
    {"other_name", "Bclass", {"C", "1.0", "d"}, "C", nullptr, 2,
     "Not possible to read matrices from file \"%s\",\nbecause the first matrix on file (=\"Bclass\")\nhas not the "
     "name \"class\" or \"Aclass\".\n"},
    {"other_class", "Aclass", {"D", "1.0", "d"}, "C", nullptr, 2,
     "Not possible to read matrices from file \"%s\",\nbecause the class name (= \"D\") does not correspond to\nthe "
     "required class name (= \"C\").\n"},
    {"null_class_never_matches", "Aclass", {"C", "1.0", "d"}, nullptr, nullptr, 2,
     "Not possible to read matrices from file \"%s\",\nbecause the class name (= \"C\") does not correspond to\nthe "
     "required class name (= \"\").\n"},
    {"other_version", "Aclass", {"C", "2.0", "d"}, "C", "1.0", 3,
     "Not possible to read matrices from file \"%s\",\nbecause the version number  (= \"2.0\") does not "
     "correspond to\nthe required version number (= \"1.0\").\n"},
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.label; }

class GetOpenClass : public ::testing::TestWithParam<OpenCase> {};

TEST_P(GetOpenClass, ChecksTheClassMatrix) {
  const OpenCase& c = GetParam();
  std::string path = TestFilePath(".mat");
  WriteClassFile(path, c.matrixName, c.rows);
  AmatReadFile r;
  EXPECT_EQ(amatGetOpen(path.c_str(), c.className, c.version, &r), c.result) << amatMessage;
  if (c.result == 0) {
    EXPECT_EQ(r.transposed, 0);
    EXPECT_STREQ(r.classMatrix.name, c.matrixName);
    Amatrix m{};
    EXPECT_EQ(amatGetNext(&r, &m), 0);
    EXPECT_STREQ(m.name, "x");
    amatFreeMatrix(&m);
    amatGetClose(&r);
  } else {
    std::string expected = WithPath(c.messageStart, path);
    EXPECT_EQ(std::string(amatMessage).substr(0, expected.size()), expected);
  }
  EXPECT_EQ(r.stream, nullptr);
  EXPECT_EQ(r.path, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Files, GetOpenClass, ::testing::ValuesIn(openCases),
                         quenzel_test::CaseNameFrom<&OpenCase::label>{});

TEST(GetOpen, FirstLineEmptyFileNumericFirstMatrixAndNoClass) {
  std::string path = TestFilePath(".txt");
  AmatReadFile r;
  WriteFile(path, std::string("#2\n"));
  EXPECT_EQ(amatGetOpen(path.c_str(), "C", nullptr, &r), 5);
  EXPECT_EQ(std::string(amatMessage), "Error reading format and version information in first line of \nfile \"" +
                                          path + "\": \"#1\" expected, but \"#2\" found.\n");
  WriteFile(path, std::string(""));
  EXPECT_EQ(amatGetOpen(path.c_str(), "C", nullptr, &r), 5);
  EXPECT_EQ(std::string(amatMessage),
            "Error reading first character from file \"" + path + "\":\nEnd-Of-File reached.\n");
  WriteFile(path, std::string("#"));
  EXPECT_EQ(amatGetOpen(path.c_str(), "C", nullptr, &r), 4);
  EXPECT_EQ(amatGetOpen("/nonexistent-dir/f", "C", nullptr, &r), 5);
  EXPECT_EQ(amatGetOpen(nullptr, "C", nullptr, &r), 4);

  std::string mat = TestFilePath(".mat");
  std::vector<unsigned char> bytes = BinHeader(0, 1, 1, "first");
  Append<double>(bytes, {2});
  WriteFile(mat, bytes);
  EXPECT_EQ(amatGetOpen(mat.c_str(), "C", nullptr, &r), 1);
  EXPECT_EQ(r.stream, nullptr);
  ASSERT_EQ(amatGetOpen(mat.c_str(), "NoClass", nullptr, &r), 0);
  Amatrix m{};
  ASSERT_EQ(amatGetNext(&r, &m), 0);
  EXPECT_STREQ(m.name, "first");
  amatFreeMatrix(&m);
  EXPECT_EQ(amatGetNext(&r, &m), 3);
  amatGetClose(&r);
}

// A file with a class matrix and the given matrices, in either format and orientation.
void WriteMatrices(const std::string& path, int format, int bstruct, const std::vector<Amatrix>& matrices) {
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), format, bstruct, "C", "1", "test", &f), 0);
  for (const Amatrix& m : matrices) ASSERT_EQ(amatPutMatrix(&f, m), 0) << amatMessage;
  ASSERT_EQ(amatPutCloseChecked(&f), 0);
}

class GetMatrix : public ::testing::TestWithParam<int> {  // the parameter: 0 text, 1 binary, 2 binTrans
 protected:
  std::string path = TestFilePath(".dat");
  AmatReadFile r{};
  Amatrix m{};
  void open(const std::vector<Amatrix>& matrices) {
    int p = GetParam();
    WriteMatrices(path, p == 0 ? 0 : 1, p == 2, matrices);
    ASSERT_EQ(amatGetOpen(path.c_str(), "C", "1", &r), 0) << amatMessage;
    EXPECT_EQ(r.transposed, p == 2 ? 1 : 0);
  }
  void TearDown() override {
    amatFreeMatrix(&m);
    amatGetClose(&r);
  }
  int get(const char* name, int32_t nrow, int32_t ncol, AmatType type, int32_t preferred = 0, void* data = nullptr) {
    amatFreeMatrix(&m);
    m = Amatrix{name ? Text(name) : nullptr, nrow, ncol, type, data, 0, 0};
    int result = amatGetMatrix(&r, &m, preferred, nullptr, 1);
    if (name) m.name = nullptr;
    return result;
  }
};

float floats[] = {1.5f, -2.5f, 3, 4, 5, 6};  // 2 x 3
int32_t ints[] = {1, 2, 3, 4, 5, 6};         // 3 x 2

TEST_P(GetMatrix, DeliveredTypes) {
  Amatrix f, i;
  amatSetMatrix(Text("f"), 2, 3, realMatrix, floats, &f);
  amatSetMatrix(Text("i"), 3, 2, integerMatrix, ints, &i);
  open({f, i, f, f, f});
  ASSERT_EQ(get(nullptr, 0, 0, doubleMatrix), 0) << amatMessage;
  EXPECT_EQ(m.type, realMatrix);  // float data asked for as double stay float
  EXPECT_STREQ(m.name, "f");
  EXPECT_EQ(static_cast<float*>(m.data)[1], -2.5f);
  ASSERT_EQ(get("i", 3, 2, doubleMatrix), 0) << amatMessage;
  EXPECT_EQ(m.type, doubleMatrix);
  EXPECT_EQ(static_cast<double*>(m.data)[5], 6.0);
  ASSERT_EQ(get(nullptr, 0, 0, voidMatrix, doubleMatrix), 0);
  EXPECT_EQ(m.type, GetParam() == 0 ? doubleMatrix : doubleMatrix);
  EXPECT_EQ(static_cast<double*>(m.data)[1], -2.5);
  ASSERT_EQ(get(nullptr, 0, 0, voidMatrix, integerMatrix), 0);
  EXPECT_EQ(m.type, realMatrix);
  ASSERT_EQ(get(nullptr, 0, 0, integerMatrix), 0);
  EXPECT_EQ(static_cast<int32_t*>(m.data)[1], -2);
}

TEST_P(GetMatrix, RequirementsOnSizesNamesAndKinds) {
  float five[5] = {}, six[6] = {};
  Amatrix a, b;
  amatSetMatrix(Text("a"), 5, 1, realMatrix, five, &a);
  amatSetMatrix(Text("b"), 6, 1, realMatrix, six, &b);
  open({a, b, a});
  EXPECT_EQ(get("a", -5, 0, voidMatrix), 0) << amatMessage;
  EXPECT_EQ(get("b", -5, 0, voidMatrix), 2);
  EXPECT_EQ(std::string(amatMessage), "Error when reading matrix \"b(6,1)\" from file \"" + path +
                                          "\",\nbecause row dimension <= 5 required.\n");
  amatGetClose(&r);
  open({a, b, a});
  EXPECT_EQ(get(nullptr, 0, 2, voidMatrix), 2);
  EXPECT_NE(std::string(amatMessage).find("because column dimension = 2 required.\n"), std::string::npos);
  EXPECT_EQ(m.name, nullptr);  // the caller's record is left as it was
  amatGetClose(&r);
  open({a});
  EXPECT_EQ(get(nullptr, 0, 0, charMatrix), 2);
  EXPECT_NE(std::string(amatMessage).find("should be of type \"char\" and not of type \"real\""), std::string::npos);
}

TEST_P(GetMatrix, AnEmptyMatrixReportsNameAndTypeAndReadingGoesOn) {
  Amatrix e, x;
  amatSetMatrix(Text("e"), 0, 3, doubleMatrix, nullptr, &e);
  amatSetMatrix(Text("x"), 2, 3, realMatrix, floats, &x);
  open({e, x});
  m = Amatrix{};
  EXPECT_EQ(amatGetNext(&r, &m), 1);
  EXPECT_STREQ(m.name, "e");
  EXPECT_EQ(m.nrow, 0);
  EXPECT_EQ(m.ncol, 0);
  EXPECT_EQ(m.type, doubleMatrix);
  EXPECT_EQ(m.data, nullptr);
  EXPECT_EQ(get(nullptr, 0, 0, voidMatrix), 0);
  EXPECT_STREQ(m.name, "x");
}

TEST_P(GetMatrix, FreshRowMatricesHaveRoomForTenRows) {
  float values[12 * 2] = {};
  for (int k = 0; k < 24; ++k) values[k] = static_cast<float>(k);
  Amatrix big, small;
  amatSetMatrix(Text("big"), 12, 2, realMatrix, values, &big);
  amatSetMatrix(Text("small"), 3, 2, realMatrix, values, &small);
  open({big, small});
  ASSERT_EQ(get(nullptr, 0, 0, realRowMatrix), 0) << amatMessage;
  EXPECT_EQ(m.capacity, 12);
  EXPECT_EQ(m.nextRow, GetParam() == 1 ? 0 : 12);  // filled column by column in a binNormal file
  EXPECT_EQ(static_cast<float**>(m.data)[11][1], 23.0f);
  ASSERT_EQ(get(nullptr, 0, 0, doubleRowMatrix), 0) << amatMessage;
  EXPECT_EQ(m.capacity, 10);
  EXPECT_EQ(m.type, realRowMatrix);
}

TEST_P(GetMatrix, CallerStorageNeedsEveryPresetAndGetsTheRequestedType) {
  Amatrix f;
  amatSetMatrix(Text("f"), 2, 3, realMatrix, floats, &f);
  open({f, f});
  double storage[6] = {};
  EXPECT_EQ(get(nullptr, 0, 3, doubleMatrix, 0, storage), 4);
  EXPECT_EQ(std::string(amatMessage),
            "Programming error when reading matrix \"f(2,3)\" from file \"" + path +
                "\".\nFunction amatGetMatrix is called with storage supplied for the\nmatrix data (matrix.data != "
                "NULL), but row dimension, column dimension\nand matrix type are not all predefined\n(matrix.nrow "
                "= 0, matrix.ncol = 3, matrix.type = doubleMatrix)\n");
  EXPECT_EQ(m.data, storage);
  m.data = nullptr;
  amatGetClose(&r);
  open({f, f});
  ASSERT_EQ(get("f", 2, 3, doubleMatrix, 0, storage), 0) << amatMessage;
  EXPECT_EQ(m.type, doubleMatrix);  // widened into the caller's doubles, not float bits
  EXPECT_EQ(std::vector<double>(storage, storage + 6), (std::vector<double>{1.5, -2.5, 3, 4, 5, 6}));
  m.data = nullptr;
}

TEST_P(GetMatrix, CharacterRowsAndTrimming) {
  char padded[] = "ab  ", blank[] = "   ";
  char* rows[] = {padded, blank};
  Amatrix s;
  amatSetMatrix(Text("s"), 2, 0, charMatrix, rows, &s);
  open({s, s});
  ASSERT_EQ(get(nullptr, 0, 0, charMatrix), 0) << amatMessage;
  if (GetParam() == 0)
    EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab  ", "   "}));  // text rows keep their blanks
  else
    // Trailing white space goes; a shorter binNormal row ends with its NUL, so its blanks stay.
    EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab", GetParam() == 1 ? "   " : "<null>"}));
  amatFreeMatrix(&m);
  m = Amatrix{};
  ASSERT_EQ(amatGetMatrix(&r, &m, 0, nullptr, 0), 0);
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab  ", GetParam() == 2 ? "    " : "   "}));
}

const char* formatName(int format) { return format == 0 ? "text" : format == 1 ? "binary" : "binTrans"; }

INSTANTIATE_TEST_SUITE_P(Formats, GetMatrix, ::testing::Values(0, 1, 2), quenzel_test::CaseNameFrom<formatName>{});

// ---- A row matrix read while its file grows --------------------------------------------------

class GrowingFile : public ::testing::TestWithParam<int> {  // 0 text, 1 binary
 protected:
  std::string path = TestFilePath(".dat");
  AmatWriteFile w{};
  AmatReadFile r{};
  Amatrix m{};
  int64_t header = 0, resume = 0;
  int written = 0;
  void SetUp() override {
    ASSERT_EQ(amatPutOpen(path.c_str(), GetParam(), 1, "C", nullptr, nullptr, &w), 0);
    ASSERT_EQ(amatPutRinit(&w, "R", 3, doubleMatrix), 0);
  }
  void TearDown() override {
    amatFreeMatrix(&m);
    amatGetClose(&r);
    amatPutClose(&w);
  }
  void writeRows(int count) {
    for (int k = 0; k < count; ++k, ++written) {
      float row[3] = {static_cast<float>(written), 0.5f, -1.0f * static_cast<float>(written)};
      ASSERT_EQ(amatPutRrow(&w, row), 0);
    }
  }
  // The first read, from the header on; remembers where the header and the next row are.
  void readFirst() {
    ASSERT_EQ(amatGetOpen(path.c_str(), "C", nullptr, &r), 0) << amatMessage;
    if (GetParam() == 0) amatSkipComments(&r);
    header = ftell(r.stream);
    m = Amatrix{nullptr, 0, 0, doubleRowMatrix, nullptr, 0, 0};
    ASSERT_EQ(amatGetMatrix(&r, &m, 0, nullptr, 1), 0) << amatMessage;
    resume = ftell(r.stream);
  }
  int readMore() {
    fseek(r.stream, header, SEEK_SET);
    int result = amatGetMatrix(&r, &m, 0, &resume, 1);
    resume = ftell(r.stream);
    return result;
  }
  double value(int row, int column) const { return static_cast<double**>(m.data)[row][column]; }
};

TEST_P(GrowingFile, ContinuedReadingKeepsTheRowsAndGrowsTheArray) {
  writeRows(4);
  readFirst();
  EXPECT_EQ(m.nrow, 4);
  EXPECT_EQ(m.capacity, 10);
  EXPECT_EQ(m.nextRow, 4);
  double* row3 = static_cast<double**>(m.data)[3];
  writeRows(21);
  ASSERT_EQ(readMore(), 0) << amatMessage;
  EXPECT_EQ(m.nrow, 25);
  EXPECT_EQ(m.capacity, 25);  // max(2 * 10, 25)
  EXPECT_EQ(m.nextRow, 25);
  EXPECT_EQ(static_cast<double**>(m.data)[3], row3);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(value(i, 0), i);
    EXPECT_EQ(value(i, 2), -i);
  }
  writeRows(1);
  ASSERT_EQ(readMore(), 0) << amatMessage;
  EXPECT_EQ(m.capacity, 50);
  EXPECT_EQ(value(25, 0), 25);
}

TEST_P(GrowingFile, RingModeRotatesTheUnreadRowsAndUsesItsSlotFormula) {
  writeRows(4);
  readFirst();
  void** rows = static_cast<void**>(m.data);
  void* before[4] = {rows[0], rows[1], rows[2], rows[3]};
  writeRows(2);
  m.capacity = -1;
  m.nextRow = 2;  // rows 2 and 3 not taken yet: the pointers rotate twice
  resume -= 2 * (GetParam() ? 3 * 8 : 3 * 15 + 1);  // reading resumes at row 2
  ASSERT_EQ(readMore(), 0) << amatMessage;
  rows = static_cast<void**>(m.data);
  EXPECT_EQ(m.capacity, -7);  // -1 - stored rows
  EXPECT_EQ(m.nrow, 6);
  EXPECT_EQ(m.nextRow, 6);
  EXPECT_EQ(rows[0], before[2]);
  EXPECT_EQ(rows[1], before[3]);
  EXPECT_EQ(rows[2], before[0]);
  EXPECT_EQ(rows[3], before[1]);
  // With the array as long as the stored rows, row i goes to slot i.
  for (int i = 2; i < 6; ++i) EXPECT_EQ(value(i, 0), i);
}

TEST_P(GrowingFile, ContinuingRefusesAChangedRowLength) {
  writeRows(2);
  readFirst();
  m.ncol = 2;
  EXPECT_EQ(readMore(), 2);
  EXPECT_NE(std::string(amatMessage).find("because column dimension = 2 required.\n"), std::string::npos);
  m.ncol = 3;
}

INSTANTIATE_TEST_SUITE_P(Formats, GrowingFile, ::testing::Values(0, 1), quenzel_test::CaseNameFrom<formatName>{});

TEST(GrowingFile, ATextRowMatrixClosedWithoutRowsIsEmpty) {
  std::string path = TestFilePath(".txt");
  AmatWriteFile w;
  ASSERT_EQ(amatPutOpen(path.c_str(), 0, 1, nullptr, nullptr, nullptr, &w), 0);
  ASSERT_EQ(amatPutRinit(&w, "R", 4, realMatrix), 0);
  ASSERT_EQ(amatPutRclose(&w), 0);
  amatPutClose(&w);
  AmatReadFile r;
  ASSERT_EQ(amatGetOpen(path.c_str(), "NoClass", nullptr, &r), 0);
  Amatrix m{};
  EXPECT_EQ(amatGetNext(&r, &m), 1);
  EXPECT_STREQ(m.name, "R");
  amatFreeMatrix(&m);
  amatGetClose(&r);
}

}  // namespace

namespace {

// Reads that fail after their storage was allocated release all of it (the sanitizer build finds
// any leak) and leave the caller's record as it was.
TEST(GetMatrixFailure, ReleasesWhatTheReadAllocated) {
  struct Case {
    const char* text;
    AmatType type;
    int result;
  } cases[] = {
      {"#1\ndouble M(2,2)\n1 2 3\n", doubleRowMatrix, 4},
      {"#1\ndouble M(2,2)\n1 2 3 x\n", doubleMatrix, 4},
      {"#1\nchar S(3,2)\nab\ncd\n", charMatrix, 4},
      {"#1\nint I(2,2)\n1 2 3 4\n", charMatrix, 2},
  };
  std::string path = TestFilePath(".txt");
  for (const Case& c : cases) {
    WriteFile(path, std::string(c.text));
    AmatReadFile r;
    ASSERT_EQ(amatGetOpen(path.c_str(), "NoClass", nullptr, &r), 0);
    Amatrix m{nullptr, 0, 0, c.type, nullptr, 0, 0};
    EXPECT_EQ(amatGetMatrix(&r, &m, 0, nullptr, 1), c.result) << c.text;
    EXPECT_EQ(m.name, nullptr);
    EXPECT_EQ(m.data, nullptr);
    EXPECT_EQ(m.type, c.type);
    amatGetClose(&r);
  }
}

TEST(GetMatrixFailure, NullArguments) {
  Amatrix m{};
  EXPECT_EQ(amatGetMatrix(nullptr, &m, 0, nullptr, 1), 4);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
  AmatReadFile r{};
  EXPECT_EQ(amatGetNext(&r, nullptr), 4);
  amatGetClose(&r);
  amatGetClose(nullptr);
}

}  // namespace
