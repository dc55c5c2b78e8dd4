// Appending rows to a column-major table of doubles.
#pragma once

#include <stdint.h>

// Appends `row` as row *count + 1 of `table` (leading dimension `lda`, n columns): its first
// rowLength values, then zeros up to column n, and counts the row. Returns n, or -1 without
// writing or counting when the table already holds lda rows (or lda, n or *count is negative).
int AppendPointerRow(double* table, int lda, int n, int32_t* count, const double* row,
                     int rowLength);
