// Appending rows to a column-major table.
#include <gtest/gtest.h>

#include <stdint.h>

#include "tablerow.h"

namespace {
TEST(AppendPointerRow, FillsTheNextRowPaddedWithZerosUntilTheTableIsFull) {
  const int lda = 3, n = 3;
  double table[lda * n];
  for (double& v : table) v = -1.0;
  int32_t count = 0;
  const double shortRow[] = {1.0, 2.0};
  EXPECT_EQ(AppendPointerRow(table, lda, n, &count, shortRow, 2), n);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(table[0], 1.0);
  EXPECT_EQ(table[3], 2.0);
  EXPECT_EQ(table[6], 0.0);  // padded

  const double longRow[] = {4.0, 5.0, 6.0, 7.0};
  EXPECT_EQ(AppendPointerRow(table, lda, n, &count, longRow, 4), n);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(table[1], 4.0);
  EXPECT_EQ(table[4], 5.0);
  EXPECT_EQ(table[7], 6.0);
  EXPECT_EQ(table[2], -1.0);  // the rows below are untouched

  EXPECT_EQ(AppendPointerRow(table, lda, n, &count, longRow, 0), n);
  EXPECT_EQ(table[2], 0.0);
  EXPECT_EQ(count, 3);

  // Full: a further row would land in the next column.
  double before[lda * n];
  for (int i = 0; i < lda * n; ++i) before[i] = table[i];
  EXPECT_EQ(AppendPointerRow(table, lda, n, &count, shortRow, 2), -1);
  EXPECT_EQ(count, 3);
  for (int i = 0; i < lda * n; ++i) EXPECT_EQ(table[i], before[i]) << i;
}
}  // namespace
