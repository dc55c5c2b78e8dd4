// What the binary and text readers share: size limits from the file, row slots and the
// conversion of a value into the delivered storage type.
#include <float.h>
#include <math.h>
#include <stdlib.h>

#include "amatformat.h"
#include "clocale.h"
#include "saturate.h"

bool amatFitsFile(FILE* stream, int64_t count, int64_t bytesPerElement) {
  if (count < 0 || bytesPerElement <= 0) return false;
  if (count > INT64_MAX / bytesPerElement) return false;
  return count * bytesPerElement <= amatRemainingBytes(stream);
}

int amatNumericStorageError(const AmatReadFile* file, const Amatrix* matrix) {
  int64_t count = static_cast<int64_t>(matrix->nrow == 0 ? 1 : matrix->nrow) * matrix->ncol;
  amatSetMessage(
      "Error when reading numeric matrix \"%.400s(%d,%d)\" from file\n\"%.400s\", since it is not possible to "
      "allocate storage for\n%d numeric elements.\n",
      StringOrEmpty(matrix->name), matrix->nrow, matrix->ncol, StringOrEmpty(file->path),
      SaturatingInt(static_cast<double>(count)));
  return 4;
}

int amatCharStorageError(const AmatReadFile* file, const Amatrix* matrix, int64_t size) {
  amatSetMessage(
      "Error when reading text matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nsince it is not possible to "
      "allocate storage for\n%d characters.\n",
      StringOrEmpty(matrix->name), matrix->nrow, matrix->ncol, StringOrEmpty(file->path),
      SaturatingInt(static_cast<double>(size)));
  return 4;
}

int64_t amatRowEnd(const Amatrix* matrix) {
  return matrix->capacity >= 0 ? matrix->nrow : -static_cast<int64_t>(matrix->capacity) - 1;
}

int64_t amatRowSlot(const Amatrix* matrix, int64_t row) {
  if (matrix->capacity >= 0) return row;
  int64_t slot = row - (amatRowEnd(matrix) - matrix->nrow);
  return slot > 0 ? slot : 0;
}

namespace {
// Rounds to float32; out-of-range values go to the infinities rather than through an undefined
// conversion.
float NarrowToFloat(double value) {
  // Halfway between FLT_MAX and 2^128 rounds (to even) to infinity.
  const double halfway = 0x1.ffffffp127;
  if (value > FLT_MAX) return value >= halfway ? INFINITY : FLT_MAX;
  if (value < -FLT_MAX) return value <= -halfway ? -INFINITY : -FLT_MAX;
  return static_cast<float>(value);
}
}  // namespace

void amatStoreValue(const Amatrix* matrix, int64_t row, int64_t column, double value) {
  int64_t at = row + column * matrix->nrow;
  switch (matrix->type) {
    case integerMatrix: static_cast<int32_t*>(matrix->data)[at] = SaturatingInt(value); break;
    case realMatrix: static_cast<float*>(matrix->data)[at] = NarrowToFloat(value); break;
    case doubleMatrix: static_cast<double*>(matrix->data)[at] = value; break;
    case realRowMatrix:
      static_cast<float**>(matrix->data)[amatRowSlot(matrix, row)][column] = NarrowToFloat(value);
      break;
    case doubleRowMatrix: static_cast<double**>(matrix->data)[amatRowSlot(matrix, row)][column] = value; break;
    default: break;
  }
}

namespace {
// Bytes of one stored element of the header just read: binary by its precision, text at least
// one character per value.
int64_t StoredElementBytes(const AmatReadFile* file, AmatType stored) {
  if (file->format == 0) return 1;
  int precision = file->pendingPrecision;
  // A bad character precision is reported by the character reader.
  if (stored == charMatrix) return precision == 0 ? 8 : 1;
  return precision == 0 ? 8 : 4;
}
}  // namespace

int amatPrepareStorage(AmatReadFile* file, Amatrix* m, AmatType stored) {
  int64_t nrow = m->nrow, ncol = m->ncol;
  int64_t rowsOrOne = nrow == 0 ? 1 : nrow;
  // Text character rows are lines: at least one character each, whatever their declared width.
  int64_t storedCount = file->format == 0 && m->type == charMatrix ? nrow : nrow * ncol;
  if (!amatFitsFile(file->stream, storedCount, StoredElementBytes(file, stored))) return amatNumericStorageError(file, m);
  switch (m->type) {
    case integerMatrix:
    case realMatrix:
    case doubleMatrix: {
      size_t width = m->type == doubleMatrix ? 8 : 4;
      m->data = malloc(static_cast<size_t>(rowsOrOne * ncol) * width);
      if (!m->data) return amatNumericStorageError(file, m);
      return 0;
    }
    case charMatrix:
      m->data = calloc(static_cast<size_t>(rowsOrOne), sizeof(char*));
      m->nextRow = 0;
      if (!m->data) return amatNumericStorageError(file, m);
      return 0;
    case realRowMatrix:
    case doubleRowMatrix: {
      int64_t capacity = nrow > 10 ? nrow : 10;
      void** rows = static_cast<void**>(calloc(static_cast<size_t>(capacity), sizeof(void*)));
      if (!rows) return amatNumericStorageError(file, m);
      size_t width = m->type == doubleRowMatrix ? 8 : 4;
      for (int64_t i = 0; i < nrow; ++i) {
        if (amatStopRequest && amatStopRequest()) {
          amatFreeRows(rows, static_cast<int32_t>(i));
          amatSetMessage("Reading of file \"%.400s\" stopped by user.\n", StringOrEmpty(file->path));
          return 4;
        }
        rows[i] = malloc(static_cast<size_t>(ncol > 0 ? ncol : 1) * width);
        if (!rows[i]) {
          amatFreeRows(rows, static_cast<int32_t>(i));
          return amatNumericStorageError(file, m);
        }
      }
      m->data = rows;
      m->capacity = static_cast<int32_t>(capacity);
      m->nextRow = 0;
      return 0;
    }
    default:
      return amatNumericStorageError(file, m);
  }
}
