// Cross-check with an independent MAT-file implementation: scipy.io.loadmat reads the files we
// write, and we read a file scipy.io.savemat writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "amatput.h"
#include "matfile_fixture.h"
#include "scipy_check.h"

namespace {

using namespace sample;

void WriteEveryType(const std::string& path, int bstruct) {
  WriteRecord w(path, 1, bstruct);
  ASSERT_EQ(amatPutBinInteger(&w.file, "I", 2, 2, ints), 0);
  ASSERT_EQ(amatPutBinReal(&w.file, "R", 1, 3, reals), 0);
  ASSERT_EQ(amatPutBinDouble(&w.file, "D", 2, 2, doubles), 0);
  ASSERT_EQ(amatPutBinRealRow(&w.file, "W", 2, 2, realRows), 0);
  ASSERT_EQ(amatPutBinDoubleRow(&w.file, "X", 2, 3, doubleRows), 0);
  ASSERT_EQ(amatPutBinChar(&w.file, "S", 2, 0, charRows, ' '), 0);
}

TEST(ScipyCrossCheck, ReadsEveryTypeWeWriteInBothOrientations) {
  std::string normal = TestFilePath("_normal.mat"), trans = TestFilePath("_trans.mat");
  WriteEveryType(normal, 0);
  WriteEveryType(trans, 1);
  // Values row by row. A binNormal character row shorter than the longest ends with a NUL and
  // pads; a transposed file is seen by any other reader as the transposed matrices.
  EXPECT_EQ(ScipyLoaded(normal),
            "D f8 2 2 1.0 2.0 3.0 4.0\n"
            "I i4 2 2 1.0 2.0 -3.0 4.0\n"
            "R f4 1 3 1.5 -2.0 0.25\n"
            "S U4 2 4 97 98 0 32 97 98 99 100\n"
            "W f4 2 2 1.0 2.0 3.0 4.0\n"
            "X f8 2 3 1.0 2.0 3.0 4.0 5.0 6.0\n");
  EXPECT_EQ(ScipyLoaded(trans),
            "D f8 2 2 1.0 3.0 2.0 4.0\n"
            "I i4 2 2 1.0 -3.0 2.0 4.0\n"
            "R f4 3 1 1.5 -2.0 0.25\n"
            "S U4 4 2 97 97 98 98 32 99 32 100\n"
            "W f4 2 2 1.0 3.0 2.0 4.0\n"
            "X f8 3 2 1.0 4.0 2.0 5.0 3.0 6.0\n");
}

TEST(ScipyCrossCheck, WeReadWhatScipyWrites) {
  std::string path = TestFilePath(".mat"), output;
  ASSERT_TRUE(RunScipyCheck("save", path, &output)) << output;
  ReadRecord r(path, 1, 0);
  Amatrix m{};
  // Matrices in the order scipy wrote them: d, f, i, s, then an int16 one we do not read.
  ASSERT_EQ(r.read(&m, voidMatrix), 0) << amatMessage;
  EXPECT_STREQ(m.name, "d");
  ASSERT_EQ(m.type, doubleMatrix);
  double* d = static_cast<double*>(m.data);
  EXPECT_EQ(std::vector<double>(d, d + 6), (std::vector<double>{1.5, 4, -2, 5.25, 3, -6}));
  amatFreeMatrix(&m);
  ASSERT_EQ(r.read(&m, voidMatrix), 0) << amatMessage;
  ASSERT_EQ(m.type, realMatrix);
  EXPECT_EQ(static_cast<float*>(m.data)[1], 2.0f);
  amatFreeMatrix(&m);
  ASSERT_EQ(r.read(&m, voidMatrix), 0) << amatMessage;
  ASSERT_EQ(m.type, integerMatrix);
  EXPECT_EQ(static_cast<int32_t*>(m.data)[1], -8);
  amatFreeMatrix(&m);
  ASSERT_EQ(r.read(&m, voidMatrix), 0) << amatMessage;
  ASSERT_EQ(m.type, charMatrix);
  EXPECT_EQ(RowTexts(m), (std::vector<std::string>{"ab", "cd"}));
  amatFreeMatrix(&m);
  EXPECT_EQ(r.read(&m, voidMatrix), 4);
  EXPECT_NE(std::string(amatMessage).find("Wrong precision flag (= 3) of numeric matrix \"h\""), std::string::npos);
}

TEST(ScipyCrossCheck, ReadsARowWiseMatrixAfterEveryRow) {
  // Both element types: float rows as stored, float rows into a float64 matrix widened.
  for (AmatType type : {realMatrix, doubleMatrix}) {
    std::string path = TestFilePath(type == realMatrix ? "_real.mat" : "_double.mat");
    AmatWriteFile f;
    ASSERT_EQ(amatPutOpen(path.c_str(), 1, 1, "C", "1", nullptr, &f), 0);
    ASSERT_EQ(amatPutRinit(&f, "R", 2, type), 0);
    std::string kind = type == realMatrix ? "f4" : "f8";
    for (int row = 0; row < 3; ++row) {
      const float values[2] = {row + 0.5f, -static_cast<float>(row)};
      ASSERT_EQ(amatPutRrow(&f, values), 0);
      // Stored transposed: scipy sees 2 x rows, one column per row written.
      std::string firsts, seconds;
      for (int k = 0; k <= row; ++k) firsts += " " + std::to_string(k) + ".5", seconds += " -" + std::to_string(k) + ".0";
      std::string loaded = ScipyLoaded(path);
      EXPECT_EQ(loaded.substr(loaded.find("\nR ") + 1),
                "R " + kind + " 2 " + std::to_string(row + 1) + firsts + seconds + "\n")
          << "after row " << row;
    }
    ASSERT_EQ(amatPutRclose(&f), 0);
    amatPutClose(&f);
  }
}

}  // namespace
