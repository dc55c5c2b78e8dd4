// The writing interface: opening with the class matrix, whole matrices through the record
// forms, row-wise writing with its in-place updates, and closing.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "amatget.h"
#include "amatput.h"
#include "matfile_fixture.h"

namespace {

TEST(PutOpen, BinaryClassMatrixHasFourRowsAndIsNeverTransposed) {
  std::string path = TestFilePath(".mat");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 1, "X", nullptr, nullptr, &f), 0) << amatMessage;
  double d[] = {1, 2};
  Amatrix m;
  amatSetMatrix(const_cast<char*>("A"), 1, 2, doubleMatrix, d, &m);
  ASSERT_EQ(amatPutMatrix(&f, m), 0);
  ASSERT_EQ(amatPutCloseChecked(&f), 0);
  EXPECT_EQ(Hex(FileBytes(path)),
            // Rows "X", " ", " ", "binTrans", character column by character column.
            "330000000400000008000000000000000700000041636c61737300"
            "58202062000000692020206e2020205420202072202020612020206e20202073"
            // A after the class matrix: stored transposed, 2 x 1.
            "000000000200000001000000000000000200000041" "00" "000000000000f03f" "0000000000000040");
}

TEST(PutOpen, TextClassMatrixHasThreeRowsAfterTheFirstLine) {
  std::string path = TestFilePath(".txt");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 0, 0, "X", nullptr, nullptr, &f), 0) << amatMessage;
  amatPutClose(&f);
  EXPECT_EQ(FileText(path), "#1\nchar Aclass(3,1)\nX\n \n \n\n");
  EXPECT_EQ(f.stream, nullptr);
}

TEST(PutOpen, FailuresLeaveTheRecordClosed) {
  AmatWriteFile f;
  EXPECT_EQ(amatPutOpen("/nonexistent-dir/x.mat", 1, 0, "X", "1", "d", &f), 1);
  EXPECT_EQ(std::string(amatMessage), std::string("Error opening file \"/nonexistent-dir/x.mat\": ") +
                                          strerror(ENOENT) + "\n");
  EXPECT_EQ(f.stream, nullptr);
  std::string path = TestFilePath(".mat");
  EXPECT_EQ(amatPutOpen(path.c_str(), 2, 0, nullptr, nullptr, nullptr, &f), 1);
  EXPECT_NE(std::string(amatMessage).find("neither 0 (text) nor 1 (binary)"), std::string::npos);
  EXPECT_EQ(f.stream, nullptr);
  EXPECT_EQ(amatPutOpen(path.c_str(), 1, 0, nullptr, nullptr, nullptr, nullptr), 4);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
}

TEST(PutOpen, StandardOutputIsFlushedButNeverClosed) {
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen("", 1, 1, nullptr, nullptr, nullptr, &f), 0);
  EXPECT_EQ(f.stream, stdout);
  EXPECT_EQ(amatPutRinit(&f, "R", 2, realMatrix), 1);
  EXPECT_STREQ(amatMessage, "Not possible to use functions amatPutRxxx, in order to write\n");
  amatPutClose(&f);
  EXPECT_EQ(f.stream, nullptr);
  EXPECT_NE(fcntl(fileno(stdout), F_GETFD), -1);
}

TEST(PutMatrix, VoidAndUnknownTypesAreRefusedInBothFormats) {
  for (int format : {0, 1}) {
    std::string path = TestFilePath(format ? ".mat" : ".txt");
    AmatWriteFile f;
    ASSERT_EQ(amatPutOpen(path.c_str(), format, 0, nullptr, nullptr, nullptr, &f), 0);
    Amatrix m;
    amatSetMatrix(const_cast<char*>("V"), 1, 1, voidMatrix, nullptr, &m);
    EXPECT_EQ(amatPutMatrix(&f, m), 1);
    EXPECT_EQ(std::string(amatMessage), "Error when writing matrix \"V(1,1)\" to file \"" + path +
                                            "\":\nThe datatype of the matrix is not specified (matrix.type = "
                                            "voidMatrix).\n");
    double d = 0;
    amatSetMatrix(const_cast<char*>("U"), 1, 1, 9, &d, &m);
    EXPECT_EQ(amatPutMatrix(&f, m), 1);
    EXPECT_NE(std::string(amatMessage).find("(matrix.type = 9)"), std::string::npos);
    amatSetMatrix(nullptr, 1, 1, doubleMatrix, &d, &m);
    EXPECT_EQ(amatPutMatrix(&f, m), 4);
    amatPutClose(&f);
  }
}

// Refused whole-matrix writes leave the file as it was, in both formats: a shape that cannot be
// written, elements without data, and a write while a row-wise matrix is open (the binary header
// record and the text declaration's position still belong to it).
TEST(PutMatrix, RefusalsWriteNothing) {
  struct Case {
    const char* what;
    int32_t nrow, ncol;
    bool withData, rowWiseOpen;
    int result;
    const char* message;  // the start of amatMessage; the file follows for result 1
  } cases[] = {
      {"negative row count", -1, 2, true, false, 1, "Error when writing matrix \"M(-1,2)\" to file \""},
      {"negative column count", 2, -3, true, false, 1, "Error when writing matrix \"M(2,-3)\" to file \""},
      {"elements without data", 2, 2, false, false, 4, "Unexpected null-pointer"},
      {"row-wise matrix open", 1, 2, true, true, 1, "Error when writing matrix \"M(1,2)\" to file \""},
  };
  const char* const endings[] = {"\":\nDimensions must be >= 0.\n", "\":\nDimensions must be >= 0.\n", "",
                                 "\":\nmatrix \"R\" is being written row-wise (amatPutRclose not yet called).\n"};
  for (int format : {0, 1}) {
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; ++k) {
      const Case& c = cases[k];
      SCOPED_TRACE(std::string(c.what) + (format ? ", binary" : ", text"));
      std::string path = TestFilePath(format ? ".mat" : ".txt");
      AmatWriteFile f;
      // With a class matrix, so that the reader below knows the file is transposed.
      ASSERT_EQ(amatPutOpen(path.c_str(), format, 1, "X", nullptr, nullptr, &f), 0);
      const float row[] = {1, 2};
      if (c.rowWiseOpen) {
        ASSERT_EQ(amatPutRinit(&f, "R", 2, realMatrix), 0);
        ASSERT_EQ(amatPutRrow(&f, row), 0);
      }
      fflush(f.stream);
      std::vector<unsigned char> before = FileBytes(path);
      double d[6] = {1, 2, 3, 4, 5, 6};
      Amatrix m;
      amatSetMatrix(const_cast<char*>("M"), c.nrow, c.ncol, doubleMatrix, c.withData ? d : nullptr, &m);
      EXPECT_EQ(amatPutMatrix(&f, m), c.result);
      std::string expected = c.message;
      if (c.result == 1) expected += path + endings[k];
      EXPECT_EQ(std::string(amatMessage), expected);
      fflush(f.stream);
      EXPECT_EQ(FileBytes(path), before);
      if (c.rowWiseOpen) {
        // The row-wise matrix goes on undisturbed, and whole matrices follow it once it is closed.
        EXPECT_EQ(amatPutRrow(&f, row), 0);
        EXPECT_EQ(amatPutRclose(&f), 0);
        amatSetMatrix(const_cast<char*>("M"), 1, 2, doubleMatrix, d, &m);
        EXPECT_EQ(amatPutMatrix(&f, m), 0);
      }
      amatPutClose(&f);
      if (!c.rowWiseOpen) continue;
      AmatReadFile r;
      ASSERT_EQ(amatGetOpen(path.c_str(), "X", nullptr, &r), 0) << amatMessage;
      const char* const names[] = {"R", "M"};
      const int32_t rows[] = {2, 1};
      for (int i = 0; i < 2; ++i) {
        Amatrix read;
        amatInitMatrix(&read);
        EXPECT_EQ(amatGetNext(&r, &read), 0) << amatMessage;
        EXPECT_STREQ(read.name, names[i]);
        EXPECT_EQ(read.nrow, rows[i]);
        EXPECT_EQ(read.ncol, 2);
        amatFreeMatrix(&read);
      }
      amatGetClose(&r);
    }
  }
}

TEST(PutMatrixFile, ReportsAFailedClose) {
  double d[64] = {};
  Amatrix m;
  amatSetMatrix(const_cast<char*>("A"), 8, 8, doubleMatrix, d, &m);
  // The data wait in the stream's buffer: only the close finds the disk full.
  EXPECT_EQ(amatPutMatrixFile("/dev/full", 1, m), 1);
  std::string path = TestFilePath(".mat");
  EXPECT_EQ(amatPutMatrixFile(path.c_str(), 1, m), 0);
  EXPECT_EQ(FileBytes(path).size(), 22u + 512u);
}

TEST(PutRows, TypeIsCheckedBeforeTheOrientation) {
  std::string path = TestFilePath(".mat");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 0, nullptr, nullptr, nullptr, &f), 0);
  EXPECT_EQ(amatPutRinit(&f, "R", 2, integerMatrix), 1);
  EXPECT_EQ(std::string(amatMessage), "Wrong argument \"type\" (= 1) in function amatPutRinit,\nwhen initializing "
                                      "writing of matrix \"R\" to file \"" + path +
                                          "\".\n(type = realMatrix or doubleMatrix required).\n");
  EXPECT_EQ(amatPutRinit(&f, "R", 2, realMatrix), 1);
  EXPECT_NE(std::string(amatMessage).find("\"bstruct = binTrans\" and not"), std::string::npos);
  amatPutClose(&f);
}

TEST(PutRows, TextDeclarationCountsTheRowsAfterEveryRow) {
  std::string path = TestFilePath(".txt");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 0, 1, nullptr, nullptr, nullptr, &f), 0);
  ASSERT_EQ(amatPutRinit(&f, "R", 2, realRowMatrix), 0);
  const float rows[3][2] = {{1, 2}, {3.5f, -4}, {0, 1e20f}};
  for (const auto& row : rows) ASSERT_EQ(amatPutRrow(&f, row), 0);
  std::string declaration = "#1\nfloat R(3,2)" + std::string(30, ' ') + "\n";
  std::string values = "  1.0000000E+00  2.0000000E+00\n  3.5000000E+00 -4.0000000E+00\n  0.0000000E+00  "
                       "1.0000000E+20\n";
  EXPECT_EQ(FileText(path), declaration + values);  // flushed after every row
  ASSERT_EQ(amatPutRclose(&f), 0);
  double d[] = {5};
  Amatrix m;
  amatSetMatrix(const_cast<char*>("W"), 1, 1, doubleMatrix, d, &m);
  ASSERT_EQ(amatPutMatrix(&f, m), 0);
  amatPutClose(&f);
  EXPECT_EQ(FileText(path), declaration + values + "\ndouble W(1,1)\n  5\n\n");
}

TEST(PutRows, BinaryHeaderCountsTheRowsAndDoublesAreStoredWidened) {
  std::string path = TestFilePath(".mat");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 1, nullptr, nullptr, nullptr, &f), 0);
  ASSERT_EQ(amatPutRinit(&f, "R", 2, doubleMatrix), 0);
  const float rows[3][2] = {{1, 2}, {3, 4}, {5, 6.5f}};
  for (const auto& row : rows) ASSERT_EQ(amatPutRrow(&f, row), 0);
  std::vector<unsigned char> expected = BinHeader(0, 2, 3, "R");
  Append<double>(expected, {1, 2, 3, 4, 5, 6.5});
  EXPECT_EQ(FileBytes(path), expected);
  // A whole matrix while the row-wise one is open would overwrite its header record.
  double d[] = {1};
  Amatrix m;
  amatSetMatrix(const_cast<char*>("W"), 1, 1, doubleMatrix, d, &m);
  EXPECT_EQ(amatPutMatrix(&f, m), 1);
  EXPECT_EQ(amatPutRclose(&f), 0);
  EXPECT_EQ(amatPutMatrix(&f, m), 0);
  amatPutClose(&f);
}

TEST(PutRows, AFailedHeaderUpdateKeepsTheRowResultAndIsReportedByRclose) {
  std::string path = TestFilePath(".mat");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 1, nullptr, nullptr, nullptr, &f), 0);
  ASSERT_EQ(amatPutRinit(&f, "R", 1, realMatrix), 0);
  f.rowHeaderPos = -1;  // a position the stream cannot go to
  const float row[] = {1};
  strcpy(amatMessage, "No message.");
  EXPECT_EQ(amatPutRrow(&f, row), 0);
  EXPECT_EQ(std::string(amatMessage).rfind("Error when writing matrix \"R\" row-wise to file", 0), 0u);
  EXPECT_EQ(amatPutRclose(&f), 1);
  EXPECT_EQ(f.rowName, nullptr);
  amatPutClose(&f);
}

TEST(PutRows, RcloseWithoutARowWiseMatrixLeavesTheFileAlone) {
  std::string path = TestFilePath(".mat");
  AmatWriteFile f;
  ASSERT_EQ(amatPutOpen(path.c_str(), 1, 1, "X", nullptr, nullptr, &f), 0);
  EXPECT_EQ(amatPutRclose(&f), 0);
  amatPutClose(&f);
  EXPECT_EQ(FileBytes(path).size(), 59u);  // the class matrix of rows "X", " ", " ", "binTrans"
  EXPECT_EQ(FileBytes(path)[0], 0x33);
}

}  // namespace
