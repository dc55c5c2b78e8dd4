// MAT-file version 4 matrices byte for byte: what each writer stores in both orientations, what
// the reader makes of stored bytes, and how it refuses damaged headers and data.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "amatget.h"
#include "case_names.h"
#include "matfile_fixture.h"

namespace {

using namespace sample;

float realGrid[] = {1.5f, 4.0f, -2.0f, 5.0f, 0.25f, 6.0f};  // [[1.5, -2, 0.25], [4, 5, 6]] column by column

struct WriteCase {
  const char* label;
  int bstruct;
  int (*write)(AmatWriteFile*);
  const char* hex;
};

const WriteCase writeCases[] = {
    {"integer_normal", 0, [](AmatWriteFile* f) { return amatPutBinInteger(f, "I", 2, 2, ints); },
     "1400000002000000020000000000000002000000490001000000fdffffff0200000004000000"},
    {"integer_trans", 1, [](AmatWriteFile* f) { return amatPutBinInteger(f, "I", 2, 2, ints); },
     "140000000200000002000000000000000200000049000100000002000000fdffffff04000000"},
    {"real_normal", 0, [](AmatWriteFile* f) { return amatPutBinReal(f, "R", 1, 3, reals); },
     "0a0000000100000003000000000000000200000052000000c03f000000c00000803e"},
    // 2 x 3, transposed: the header names 3 rows and 2 columns, and the float32 values follow row by
    // row of the matrix (1.5, -2, 0.25, then 4, 5, 6).
    {"real_trans", 1, [](AmatWriteFile* f) { return amatPutBinReal(f, "R", 2, 3, realGrid); },
     "0a000000030000000200000000000000020000005200" "0000c03f000000c00000803e000080400000a0400000c040"},
    {"double_normal", 0, [](AmatWriteFile* f) { return amatPutBinDouble(f, "A", 2, 2, doubles); },
     "00000000020000000200000000000000020000004100000000000000f03f00000000000008400000000000000040000000"
     "0000001040"},
    {"double_trans", 1, [](AmatWriteFile* f) { return amatPutBinDouble(f, "A", 2, 2, doubles); },
     "00000000020000000200000000000000020000004100000000000000f03f00000000000000400000000000000840000000"
     "0000001040"},
    {"real_row_normal", 0, [](AmatWriteFile* f) { return amatPutBinRealRow(f, "W", 2, 2, realRows); },
     "0a0000000200000002000000000000000200000057000000803f000040400000004000008040"},
    {"double_row_trans", 1, [](AmatWriteFile* f) { return amatPutBinDoubleRow(f, "D", 2, 3, doubleRows); },
     "00000000030000000200000000000000020000004400000000000000f03f000000000000004000000000000008400000000"
     "00000104000000000000014400000000000001840"},
    // Per character column: the rows' characters, the NUL after a shorter row, then the pad.
    {"char_normal", 0, [](AmatWriteFile* f) { return amatPutBinChar(f, "S", 2, 0, charRows, 'x'); },
     "3300000002000000040000000000000002000000530061616262006378" "64"},
    {"char_trans", 1, [](AmatWriteFile* f) { return amatPutBinChar(f, "S", 2, 99, charRows, 'x'); },
     "33000000040000000200000000000000020000005300616278786162" "6364"},
    {"empty_double", 0, [](AmatWriteFile* f) { return amatPutBinDouble(f, "E", 0, 3, nullptr); },
     "000000000000000003000000000000000200000045" "00"},
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.label; }

class BinaryWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(BinaryWrite, StoresTheGoldenBytes) {
  const WriteCase& c = GetParam();
  std::string path = TestFilePath(".mat");
  {
    WriteRecord w(path, 1, c.bstruct);
    ASSERT_EQ(c.write(&w.file), 0) << amatMessage;
  }
  EXPECT_EQ(Hex(FileBytes(path)), c.hex);
}

INSTANTIATE_TEST_SUITE_P(Matrices, BinaryWrite, ::testing::ValuesIn(writeCases),
                         quenzel_test::CaseNameFrom<&WriteCase::label>{});

TEST(BinaryWrite, NullNameOrRecordIsRefused) {
  EXPECT_EQ(amatPutBinDouble(nullptr, "A", 1, 1, doubles), 4);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
  AmatWriteFile file{};
  EXPECT_EQ(amatPutBinChar(&file, nullptr, 1, 1, charRows, ' '), 4);
}

TEST(BinaryWrite, AFailedWriteReportsTheMatrixAndTheSystemError) {
  WriteRecord w("/dev/full", 1, 0);
  ASSERT_NE(w.file.stream, nullptr);
  setvbuf(w.file.stream, nullptr, _IONBF, 0);
  EXPECT_EQ(amatPutBinDouble(&w.file, "A", 2, 2, doubles), 1);
  EXPECT_EQ(std::string(amatMessage),
            std::string("Error when writing matrix \"A(2,2)\" to file \"/dev/full\":\n") + strerror(ENOSPC) + "\n");
}

// ---- Reading ---------------------------------------------------------------------------------

class BinaryRead : public ::testing::Test {
 protected:
  std::string path = TestFilePath(".mat");
  Amatrix m{};
  void TearDown() override { amatFreeMatrix(&m); }
  int read(const std::vector<unsigned char>& bytes, int transposed, AmatType type, int trim = 1,
           const char* preset = nullptr) {
    WriteFile(path, bytes);
    ReadRecord r(path, 1, transposed);
    return r.read(&m, type, trim, preset);
  }
};

TEST_F(BinaryRead, CharacterMatricesInBothOrientations) {
  std::vector<unsigned char> normal = BinHeader(51, 2, 4, "S"), trans = BinHeader(51, 4, 2, "S");
  AppendText(normal, "aabb\0cxd", 8);
  AppendText(trans, "abxxabcd", 8);
  ASSERT_EQ(read(normal, 0, voidMatrix), 0) << amatMessage;
  EXPECT_EQ(m.type, charMatrix);
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab", "abcd"}));
  EXPECT_EQ(m.ncol, 4);
  amatFreeMatrix(&m);
  ASSERT_EQ(read(trans, 1, voidMatrix), 0) << amatMessage;
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"abxx", "abcd"}));
}

TEST_F(BinaryRead, TrimmingDropsTrailingBlanksOnlyWithTheFlag) {
  // Rows "  " and "a ", stored with one float64 per character (precision 0).
  std::vector<unsigned char> bytes = BinHeader(1, 2, 2, "T");
  Append<double>(bytes, {' ', 'a', ' ', ' '});
  ASSERT_EQ(read(bytes, 0, charMatrix, 1), 0) << amatMessage;
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"<null>", "a"}));
  EXPECT_EQ(m.ncol, 1);
  amatFreeMatrix(&m);
  ASSERT_EQ(read(bytes, 0, charMatrix, 0), 0) << amatMessage;
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"  ", "a "}));
}

TEST_F(BinaryRead, ConversionsIntoTheRequestedType) {
  std::vector<unsigned char> floats = BinHeader(10, 1, 3, "F");
  Append<float>(floats, {2.9f, -2.9f, 3e9f});
  ASSERT_EQ(read(floats, 0, integerMatrix), 0) << amatMessage;
  int32_t* i = static_cast<int32_t*>(m.data);
  EXPECT_EQ(i[0], 2);
  EXPECT_EQ(i[1], -2);
  EXPECT_EQ(i[2], INT32_MAX);  // beyond the range: saturated, never undefined
  amatFreeMatrix(&m);

  // A transposed float64 matrix of 2 x 2 into float rows.
  std::vector<unsigned char> trans = BinHeader(0, 2, 2, "D");
  Append<double>(trans, {1.25, 2.5, 1e300, -4});
  ASSERT_EQ(read(trans, 1, realRowMatrix), 0) << amatMessage;
  float** rows = static_cast<float**>(m.data);
  EXPECT_EQ(m.capacity, 10);
  EXPECT_EQ(m.nextRow, 2);
  EXPECT_EQ(rows[0][0], 1.25f);
  EXPECT_EQ(rows[0][1], 2.5f);
  EXPECT_EQ(rows[1][0], INFINITY);
  EXPECT_EQ(rows[1][1], -4.0f);
  amatFreeMatrix(&m);

  // int32 data column by column into doubles.
  std::vector<unsigned char> integers = BinHeader(20, 2, 2, "I");
  Append<int32_t>(integers, {1, -3, 2, 4});
  ASSERT_EQ(read(integers, 0, doubleMatrix), 0) << amatMessage;
  double* d = static_cast<double*>(m.data);
  EXPECT_EQ(std::vector<double>(d, d + 4), (std::vector<double>{1, -3, 2, 4}));
}

TEST_F(BinaryRead, APresetNameIsComparedWhole) {
  std::string longName(150, 'n');
  std::vector<unsigned char> bytes = BinHeader(0, 1, 1, longName.c_str());
  Append<double>(bytes, {7});
  std::string prefix(100, 'n');
  EXPECT_EQ(read(bytes, 0, voidMatrix, 1, prefix.c_str()), 2);
  EXPECT_EQ(std::string(amatMessage), "Error when reading matrix \"" + longName + "\" from file \"" + path +
                                          "\",\nbecause matrix-name = \"" + prefix + "\" required.\n");
  ASSERT_EQ(read(bytes, 0, voidMatrix, 1, longName.c_str()), 0) << amatMessage;
  EXPECT_EQ(static_cast<double*>(m.data)[0], 7);
}

TEST_F(BinaryRead, AnUnterminatedNameIsTerminated) {
  std::vector<unsigned char> bytes;
  Append<int32_t>(bytes, {0, 1, 1, 0, 3});
  AppendText(bytes, "abc", 3);
  Append<double>(bytes, {1});
  ASSERT_EQ(read(bytes, 0, voidMatrix), 0) << amatMessage;
  EXPECT_STREQ(m.name, "abc");
}

struct MalformedCase {
  const char* label;
  std::vector<unsigned char> bytes;
  int result;
  const char* message;  // the message up to the file name; "%s" stands for the path
  // Refused by amatGetMatrix's check of the header: the format layers read such a header and
  // leave judging its sizes to their caller.
  bool headerCheck = false;
};

std::vector<unsigned char> Bytes(std::initializer_list<std::vector<unsigned char>> parts) {
  std::vector<unsigned char> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
std::vector<unsigned char> Ints(std::initializer_list<int32_t> v) {
  std::vector<unsigned char> b;
  Append<int32_t>(b, v);
  return b;
}

const MalformedCase malformedCases[] = {
    {"empty", {}, 3, "Error reading matrix header from file \"%s\":\nEnd-Of-File reached.\n"},
    {"truncated_header", Ints({0, 1, 1}), 3, "Error reading matrix header from file \"%s\":\nEnd-Of-File reached.\n"},
    {"big_endian", Ints({1000, 1, 1, 0, 2}), 4,
     "Cannot read matrix from file \"%s\".\nThe file has incorrect format (note that binary files must be saved "
     "with '-v4' in MATLAB).\n"},
    {"name_beyond_the_file", Ints({0, 1, 1, 0, 0x7fffffff}), 4,
     "Error reading matrix header from file \"%s\":\nEnd-Of-File reached.\n"},
    {"truncated_name", Bytes({Ints({0, 1, 1, 0, 4}), {'a', 'b'}}), 4,
     "Error reading matrix header from file \"%s\":\nEnd-Of-File reached.\n"},
    {"type_flag", Bytes({BinHeader(2, 1, 1, "M"), Ints({0, 0})}), 4,
     "Wrong type flag (= 2) of matrix \"M\" on file \"%s\".\nThe type flag must be 0 (= numeric matrix) or 1 (= "
     "character matrix).\n"},
    {"precision_int16", Bytes({BinHeader(30, 1, 1, "M"), Ints({0})}), 4,
     "Wrong precision flag (= 3) of numeric matrix \"M\" on file \"%s\"\nFlag must be 0 (= 64-bit) or 1 (32-bit).\n"},
    {"char_precision", Bytes({BinHeader(11, 1, 1, "C"), Ints({0})}), 4,
     "Wrong precision flag (= 1) of character matrix \"C(1,1)\"\non file \"%s\".\nFlag must be 0 (= 64-bit) or 5 "
     "(= 8-bit unsigned integer).\n"},
    {"truncated_data", Bytes({BinHeader(20, 2, 1, "M"), Ints({5})}), 4,
     "Error when reading numeric matrix \"M(2,1)\" from file\n\"%s\", since it is not possible to allocate "
     "storage for\n2 numeric elements.\n"},
    // 65536 x 65536 wraps to 0 in 32 bits: the size is refused, not allocated small and overrun.
    {"wrapping_size", Bytes({BinHeader(20, 65536, 65536, "M"), Ints({1, 2, 3, 4})}), 4,
     "Error when reading numeric matrix \"M(65536,65536)\" from file\n\"%s\", since it is not possible to "
     "allocate storage for\n2147483647 numeric elements.\n"},
    {"huge_char", Bytes({BinHeader(51, 0x7fffffff, 0x7fffffff, "C"), {'a'}}), 4,
     "Error when reading numeric matrix \"C(2147483647,2147483647)\" from file\n\"%s\", since it is not possible "
     "to allocate storage for\n2147483647 numeric elements.\n"},
    {"negative_rows", Bytes({BinHeader(0, -1, 2, "M"), Ints({0, 0})}), 4,
     "Wrong row dimension (= -1) of matrix \"M\" on file \"%s\".\nDimension must be >= 0.\n", true},
    {"negative_columns", Bytes({BinHeader(0, 2, -3, "M"), Ints({0, 0})}), 4,
     "Wrong column dimension (= -3) of matrix \"M\" on file \"%s\".\nDimension must be >= 0.\n", true},
    {"negative_rows_char", Bytes({BinHeader(51, -2147483647 - 1, 1, "C"), {'a'}}), 4,
     "Wrong row dimension (= -2147483648) of matrix \"C\" on file \"%s\".\nDimension must be >= 0.\n", true},
    // Both negative: their product is positive, and the rows are named first.
    {"negative_both", Bytes({BinHeader(20, -2, -2, "M"), Ints({1, 2, 3, 4})}), 4,
     "Wrong row dimension (= -2) of matrix \"M\" on file \"%s\".\nDimension must be >= 0.\n", true},
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.label; }

class BinaryMalformed : public ::testing::TestWithParam<MalformedCase> {};

// Each file read through the format layers and through amatGetMatrix: the same refusal, and
// nothing delivered.
TEST_P(BinaryMalformed, GivesTheResultAndMessage) {
  const MalformedCase& c = GetParam();
  std::string path = TestFilePath(".mat");
  WriteFile(path, c.bytes);
  ExpectRefusedEachWay(path, 1, c.headerCheck, c.result, c.message);
}

INSTANTIATE_TEST_SUITE_P(Files, BinaryMalformed, ::testing::ValuesIn(malformedCases),
                         quenzel_test::CaseNameFrom<&MalformedCase::label>{});

TEST_F(BinaryRead, ATruncatedMatrixWithinTheFileSizeFailsOnTheData) {
  // Storage prepared by the caller for one transposed row of two values, of which the file holds
  // one and a half: the reader fails on the short read.
  std::vector<unsigned char> bytes = BinHeader(0, 2, 1, "D");
  Append<double>(bytes, {1, 2});
  bytes.resize(bytes.size() - 4);
  WriteFile(path, bytes);
  ReadRecord r(path, 1, 1);
  Amatrix fresh{};
  int result = amatGetBinHeader(&r.file, &fresh, nullptr);
  ASSERT_EQ(result, 0);
  fresh.type = doubleRowMatrix;
  fresh.data = calloc(10, sizeof(double*));
  fresh.capacity = 10;
  static_cast<double**>(fresh.data)[0] = static_cast<double*>(malloc(16));
  EXPECT_EQ(amatGetBinData(&r.file, &fresh, doubleMatrix, 1), 4);
  EXPECT_EQ(std::string(amatMessage),
            "Error when reading numeric data of matrix \"D(1,2)\" from file\n\"" + path + "\"\n");
  amatFreeMatrix(&fresh);
}

int stopAlways() { return 1; }

TEST_F(BinaryRead, AStopRequestEndsARowMatrixRead) {
  std::vector<unsigned char> bytes = BinHeader(10, 1, 2, "F");
  Append<float>(bytes, {1, 2});
  amatStopRequest = stopAlways;
  int result = read(bytes, 1, doubleRowMatrix);
  amatStopRequest = nullptr;
  EXPECT_EQ(result, 4);
  EXPECT_EQ(std::string(amatMessage), "Reading of file \"" + path + "\" stopped by user.\n");
}

}  // namespace
