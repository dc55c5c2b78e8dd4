#include "tablerow.h"

int AppendPointerRow(double* table, int lda, int n, int32_t* count, const double* row,
                     int rowLength) {
  // A full table has no row left to write: without this bound the row lands in the next column.
  if (lda < 0 || n < 0 || *count < 0 || *count >= lda) return -1;
  int32_t r = *count;
  for (int j = 0; j < n; ++j) {
    table[r + static_cast<int64_t>(lda) * j] = j < rowLength ? row[j] : 0.0;
  }
  *count = r + 1;
  return n;
}
