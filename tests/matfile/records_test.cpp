// The matrix record operations and the message buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "matfile_fixture.h"

namespace {

char* HeapText(const char* text) {
  char* copy = static_cast<char*>(malloc(strlen(text) + 1));
  strcpy(copy, text);
  return copy;
}

void ExpectCleared(const Amatrix& m) {
  EXPECT_EQ(m.name, nullptr);
  EXPECT_EQ(m.nrow, 0);
  EXPECT_EQ(m.ncol, 0);
  EXPECT_EQ(m.type, voidMatrix);
  EXPECT_EQ(m.data, nullptr);
  EXPECT_EQ(m.capacity, 0);
  EXPECT_EQ(m.nextRow, 0);
}

TEST(Records, FreeingACharMatrixWithNullRowsClearsTheRecordAndCanBeRepeated) {
  char** rows = static_cast<char**>(malloc(3 * sizeof(char*)));
  rows[0] = HeapText("a"), rows[1] = nullptr, rows[2] = HeapText("bc");
  Amatrix m;
  amatSetMatrix(HeapText("S"), 3, 2, charMatrix, rows, &m);
  amatFreeMatrix(&m);
  ExpectCleared(m);
  amatFreeMatrix(&m);
  ExpectCleared(m);
  amatFreeMatrix(nullptr);
  amatInitMatrix(nullptr);
}

TEST(Records, FreeingARowMatrixReleasesNrowRowsNotCapacity) {
  void** rows = static_cast<void**>(malloc(10 * sizeof(void*)));
  rows[0] = malloc(8), rows[1] = malloc(8);
  // Pointers beyond nrow are never touched: freeing one of these would fail under the sanitizer.
  for (int i = 2; i < 10; ++i) rows[i] = reinterpret_cast<void*>(0x10);
  Amatrix m{nullptr, 2, 1, doubleRowMatrix, rows, 10, 2};
  amatFreeMatrix(&m);
  ExpectCleared(m);
}

TEST(Records, SetMatrixStoresAsGivenAndClearsTheRowFields) {
  Amatrix m{nullptr, 1, 1, realRowMatrix, nullptr, 17, 5};
  char name[] = "N";
  double data[2] = {};
  amatSetMatrix(name, 1, 2, doubleMatrix, data, &m);
  EXPECT_EQ(m.name, name);
  EXPECT_EQ(m.data, data);
  EXPECT_EQ(m.nrow, 1);
  EXPECT_EQ(m.ncol, 2);
  EXPECT_EQ(m.type, doubleMatrix);
  EXPECT_EQ(m.capacity, 0);
  EXPECT_EQ(m.nextRow, 0);
}

TEST(Records, FreeRowsNullsEachReleasedEntry) {
  void** rows = static_cast<void**>(malloc(2 * sizeof(void*)));
  rows[0] = malloc(4), rows[1] = nullptr;
  amatFreeRows(rows, 2);
  amatFreeRows(nullptr, 3);
}

TEST(Records, TypeNamesInMessages) {
  const AmatType types[] = {voidMatrix, integerMatrix, realMatrix, doubleMatrix, charMatrix, realRowMatrix,
                            doubleRowMatrix, 7, -1};
  const char* words[] = {"unknown", "integer", "real", "double", "char", "real", "double", "unknown", "unknown"};
  const char* members[] = {"voidMatrix",    "integerMatrix",   "realMatrix", "doubleMatrix", "charMatrix",
                           "realRowMatrix", "doubleRowMatrix", "unknown",    "unknown"};
  for (int k = 0; k < 9; ++k) {
    EXPECT_STREQ(amatTypeWord(types[k]), words[k]);
    EXPECT_STREQ(amatTypeMember(types[k]), members[k]);
  }
}

TEST(Messages, LongNamesAreCappedSoTheMessageStaysWhole) {
  // A stored name and a required name of 1,000 characters each in a file of a long path: each is
  // cut at 400, so the message keeps its end.
  std::string name(1000, 'n'), path = TestFilePath(std::string(150, 'p').c_str());
  std::vector<unsigned char> bytes = BinHeader(0, 1, 1, name.c_str());
  Append<double>(bytes, {1});
  WriteFile(path, bytes);
  ReadRecord r(path, 1, 0);
  Amatrix m{};
  std::string other(1000, 'o');
  ASSERT_EQ(r.read(&m, voidMatrix, 1, other.c_str()), 2);
  std::string text = amatMessage;
  EXPECT_LT(text.size(), static_cast<size_t>(amatMessageSize));
  EXPECT_NE(text.find(std::string(400, 'n') + "\" from"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 12), "\" required.\n");
}

}  // namespace
