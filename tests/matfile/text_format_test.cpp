// The "#1" text format character for character: the number formats and line breaks of each
// writer, escapes, row names, and what the reader accepts and refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "amatget.h"
#include "case_names.h"
#include "matfile_fixture.h"

namespace {

std::string Blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }

struct TextCase {
  const char* label;
  int (*write)(AmatWriteFile*);
  std::string text;
};

int32_t mixedInts[] = {-5, 123};
float floats[] = {3.0f, 100001.0f};
float twelve[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
double column[] = {1, 20, 300};                // one column, 3 rows
double withHalf[] = {1, 2.5};                  // one column, 2 rows
double wide[] = {12345678, 0.5, 1e-3, 0.25};  // one row, 4 columns of 24 characters
double mixed[] = {7, -8, 1.5, 2};              // rows {7, -8} and {1.5, 2}: a general and an integral column
char rowNameA[] = "first", rowNameB[] = "sec\\ond\n";
char* rowNames[] = {rowNameA, rowNameB};
char escapes[] = "a\nb\\c";
char* charRows[] = {escapes, nullptr};
double* doubleRows[] = {mixed, mixed + 2};

const TextCase textCases[] = {
    // Width 4: three digits and one for the sign.
    {"integer_width", [](AmatWriteFile* f) { return amatPutTextInteger(f, "A", 1, 2, mixedInts, nullptr, nullptr, 0); },
     "int A(1,2)\n   -5  123\n\n"},
    {"float_forms", [](AmatWriteFile* f) { return amatPutTextReal(f, "F", 1, 2, floats, nullptr, nullptr, 0); },
     "float F(1,2)\n       3         1.0000100E+05\n\n"},
    {"float_twelve_per_row",
     [](AmatWriteFile* f) { return amatPutTextReal(f, "T", 1, 12, twelve, nullptr, nullptr, 0); },
     "float T(1,12)\n"
     "       1              2              3              4              5       \n    "
     "       6              7              8              9             10       \n    "
     "      11             12       \n\n"},
    {"double_integral_column",
     [](AmatWriteFile* f) { return amatPutTextDouble(f, "C", 3, 1, column, nullptr, nullptr, 0); },
     "double C(3,1)\n    1\n   20\n  300\n\n"},
    {"double_general_column",
     [](AmatWriteFile* f) { return amatPutTextDouble(f, "H", 2, 1, withHalf, nullptr, nullptr, 0); },
     "double H(2,1)\n       1" + Blanks(16) + "\n  2.5000000000000000E+00\n\n"},
    // Four values of 24 characters: the line breaks after the third (72 > 70).
    {"double_line_break", [](AmatWriteFile* f) { return amatPutTextDouble(f, "W", 1, 4, wide, nullptr, nullptr, 0); },
     "double W(1,4)\n  1.2345678000000000E+07  5.0000000000000000E-01  1.0000000000000000E-03\n  "
     "2.5000000000000000E-01\n\n"},
    {"double_rows_with_names_and_comment",
     [](AmatWriteFile* f) { return amatPutTextDoubleRow(f, "R", 2, 2, doubleRows, "# rows", rowNames, 3); },
     "# rows\ndouble R(2,2)\n       7" + Blanks(16) + " -8  # first\n  1.5000000000000000E+00  2  # sec\\\\ond\\n\n\n"},
    {"integer_names_unescaped_without_column",
     [](AmatWriteFile* f) { return amatPutTextInteger(f, "N", 2, 1, mixedInts, nullptr, rowNames, 0); },
     "int N(2,1)\n   -5first\n  123sec\\ond\n\n\n"},
    {"char_escapes_and_null_row",
     [](AmatWriteFile* f) { return amatPutTextChar(f, "S", 2, 0, charRows, nullptr); },
     "char S(2,5)\na\\nb\\\\c\n\n\n"},
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.label; }

class TextWrite : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextWrite, WritesTheGoldenText) {
  const TextCase& c = GetParam();
  std::string path = TestFilePath(".txt");
  {
    WriteRecord w(path, 0, 0);
    ASSERT_EQ(c.write(&w.file), 0) << amatMessage;
  }
  EXPECT_EQ(FileText(path), c.text);
}

INSTANTIATE_TEST_SUITE_P(Matrices, TextWrite, ::testing::ValuesIn(textCases),
                         quenzel_test::CaseNameFrom<&TextCase::label>{});

TEST(TextWriteChecks, ANameTheReaderCannotScanIsRefused) {
  std::string path = TestFilePath(".txt");
  WriteRecord w(path, 0, 0);
  std::string name(101, 'n');
  EXPECT_EQ(amatPutTextDouble(&w.file, name.c_str(), 1, 1, column, nullptr, nullptr, 0), 1);
  EXPECT_NE(std::string(amatMessage).find("the name is longer than 100 characters"), std::string::npos);
  std::string fits(100, 'n');
  EXPECT_EQ(amatPutTextDouble(&w.file, fits.c_str(), 1, 1, column, nullptr, nullptr, 0), 0);
}

class TextRead : public ::testing::Test {
 protected:
  std::string path = TestFilePath(".txt");
  Amatrix m{};
  void TearDown() override { amatFreeMatrix(&m); }
  int read(const std::string& text, AmatType type = voidMatrix, const char* preset = nullptr) {
    WriteFile(path, text);
    ReadRecord r(path, 0, 0);
    return r.read(&m, type, 1, preset);
  }
  std::vector<double> doubles() const {
    const double* d = static_cast<const double*>(m.data);
    return std::vector<double>(d, d + m.nrow * m.ncol);
  }
};

TEST_F(TextRead, ValuesWithCommentsBetweenThemAndBlanksAfterTheComma) {
  ASSERT_EQ(read("#1\n# a file\ndouble M(2, 2)\n 1 2#the rest\n# a line\n 3\n4e1\n"), 0) << amatMessage;
  EXPECT_STREQ(m.name, "M");
  EXPECT_EQ(doubles(), (std::vector<double>{1, 3, 2, 40}));
}

TEST_F(TextRead, IntegersAreTruncatedAndFloatsScannedAsFloat) {
  ASSERT_EQ(read("#1\nint I(1,3)\n 2.9 -2.9 1e12\n"), 0) << amatMessage;
  int32_t* i = static_cast<int32_t*>(m.data);
  EXPECT_EQ(std::vector<int32_t>(i, i + 3), (std::vector<int32_t>{2, -2, INT32_MAX}));
  amatFreeMatrix(&m);
  ASSERT_EQ(read("#1\nfloat F(1,1)\n 0.1\n", realRowMatrix), 0) << amatMessage;
  EXPECT_EQ(static_cast<float**>(m.data)[0][0], 0.1f);
  EXPECT_EQ(m.nextRow, 1);
}

TEST_F(TextRead, CharacterRowsUndoTheEscapes) {
  ASSERT_EQ(read("#1\nchar S(3,5)\na\\nb\\\\c\n\n  x  \n"), 0) << amatMessage;
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"a\nb\\c", "", "  x  "}));
  EXPECT_EQ(m.ncol, 5);
}

TEST_F(TextRead, ALineLongerThanTheDeclaredWidthIsCutAndItsRestDropped) {
  // Declared 2 wide: a buffer of 6 characters keeps 5 of the row.
  ASSERT_EQ(read("#1\nchar S(2,2)\nab\n0123456789\nchar T(1,1)\nz\n"), 0) << amatMessage;
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab", "01234"}));
}

TEST_F(TextRead, WrittenCharacterMatricesReadBackWhole) {
  char shortRow[] = "ab", longRow[] = "0123456789", tricky[] = "x\\\n";
  char* rows[] = {shortRow, longRow, tricky};
  {
    WriteRecord w(path, 0, 0);
    fputs("#1\n", w.file.stream);
    ASSERT_EQ(amatPutTextChar(&w.file, "S", 3, 2, rows, nullptr), 0);
  }
  ReadRecord r(path, 0, 0);
  ASSERT_EQ(r.read(&m, voidMatrix), 0) << amatMessage;
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab", "0123456789", "x\\\n"}));
}

struct BadText {
  const char* label;
  const char* text;
  int result;
  const char* message;  // "%s" stands for the path
  // Refused by amatGetMatrix's check of the header: the format layers scan such a declaration and
  // leave judging its sizes to their caller.
  bool headerCheck = false;
};

const BadText badTexts[] = {
    {"blank_before_parenthesis", "#1\ndouble M (1,1)\n1\n", 4,
     "Error scanning the following declaration on file \"%s\":\ndouble M (1,1)\nExpected is: <type> <name> "
     "(<row_dimension>, <column_dimension>)\nwhere <type> is \"integer\", \"real\", \"double\" or \"char\" and\n"
     "<name> is the name of the matrix.\n"},
    {"unknown_type", "#1\nlong M(1,1)\n1\n", 4,
     "Error scanning the following declaration on file \"%s\":\nlong M(1,1)\nExpected is: <type> <name> "
     "(<row_dimension>, <column_dimension>)\nwhere <type> is \"integer\", \"real\", \"double\" or \"char\" and\n"
     "<name> is the name of the matrix.\n"},
    {"only_comments", "#1\n# nothing\n", 3, "Error reading matrix header from file \"%s\":\nEnd-of-File reached\n"},
    {"missing_value", "#1\ndouble M(1,2)\n 1\n", 4,
     "Error reading matrix header from file \"%s\":\nEnd-of-File reached\n"},
    {"unscannable_value", "#1\ndouble M(1,2)\n 1 x\n", 4,
     "Error when reading numeric data of matrix \"M(1,2)\" from file\n\"%s\"\n"},
    {"value_at_end", "#1\ndouble M(1,2)\n 1 -", 3,
     "Error when reading numeric data of matrix \"M(1,2)\" from file\n\"%s\"\n"},
    {"missing_row", "#1\nchar S(2,3)\nabc\n", 4,
     "Error reading data of text matrix \"S(2,3)\" from file \"%s\":\nEnd-Of-File reached.\n"},
    // Far more values than the file could hold: refused before anything is allocated.
    {"declared_beyond_the_file", "#1\ndouble M(100000,100000)\n1\n", 4,
     "Error when reading numeric matrix \"M(100000,100000)\" from file\n\"%s\", since it is not possible to "
     "allocate storage for\n2147483647 numeric elements.\n"},
    {"negative_rows", "#1\ndouble M(-1,2)\n1 2\n", 4,
     "Wrong row dimension (= -1) of matrix \"M\" on file \"%s\".\nDimension must be >= 0.\n", true},
    {"negative_columns", "#1\ndouble M(2,-3)\n1 2\n", 4,
     "Wrong column dimension (= -3) of matrix \"M\" on file \"%s\".\nDimension must be >= 0.\n", true},
    {"negative_rows_char", "#1\nchar S(-2,3)\nabc\n", 4,
     "Wrong row dimension (= -2) of matrix \"S\" on file \"%s\".\nDimension must be >= 0.\n", true},
    {"negative_columns_char", "#1\nchar S(1,-2147483648)\nabc\n", 4,
     "Wrong column dimension (= -2147483648) of matrix \"S\" on file \"%s\".\nDimension must be >= 0.\n", true},
    // Both negative: their product is positive, and the rows are named first.
    {"negative_both", "#1\ndouble M(-2,-2)\n1 2 3 4\n", 4,
     "Wrong row dimension (= -2) of matrix \"M\" on file \"%s\".\nDimension must be >= 0.\n", true},
};

void PrintTo(const BadText& c, std::ostream* os) { *os << c.label; }

class TextMalformed : public ::testing::TestWithParam<BadText> {};

// Each file read through the format layers and through amatGetMatrix: the same refusal, and
// nothing delivered.
TEST_P(TextMalformed, GivesTheResultAndMessage) {
  const BadText& c = GetParam();
  std::string path = TestFilePath(".txt");
  WriteFile(path, std::string(c.text));
  ExpectRefusedEachWay(path, 0, c.headerCheck, c.result, c.message);
}

INSTANTIATE_TEST_SUITE_P(Files, TextMalformed, ::testing::ValuesIn(badTexts),
                         quenzel_test::CaseNameFrom<&BadText::label>{});

TEST_F(TextRead, APresetNameMustMatch) {
  EXPECT_EQ(read("#1\ndouble M(1,1)\n1\n", voidMatrix, "N"), 2);
  EXPECT_EQ(std::string(amatMessage), "Error scanning the following declaration on file \"" + path +
                                          "\":\ndouble M(1,1)\nName of matrix is wrong, should be \"N\".\n");
}

}  // namespace
