#include "matrixfiles.h"

#include <stdlib.h>
#include <string.h>

#include <cstdarg>
#include <cstdio>

#include "amatget.h"
#include "amatput.h"
#include "errors.h"
#include "reshape.h"
#include "tempstrings.h"
#include "workbuffers.h"

namespace {

// The matrix a read found, and the file of MatWriteItems, while their contents go into work
// buffers: a request that overflows a buffer ends the evaluation through the error jump, and
// what is held here (not in a frame) is then released by the next call.
thread_local Amatrix heldMatrix;
thread_local AmatWriteFile heldOutput;

void ReleaseHeld() {
  amatFreeMatrix(&heldMatrix);
  if (heldOutput.stream) amatPutClose(&heldOutput);
}

[[noreturn]] void FailReleasing(const char* condition, const char* message) {
  // The message may be amatMessage itself, which releasing leaves as it is.
  ReleaseHeld();
  AssertConditionFailed(condition, message);
}

void Check(bool condition, const char* conditionText, const char* message) {
  if (!condition) FailReleasing(conditionText, message);
}

bool SameName(const Amatrix& m, const char* name) { return m.name && name && strcmp(m.name, name) == 0; }

// Reads the file's matrices in order until the one named, which is left in heldMatrix; the file
// is closed. An empty matrix is passed over like any other.
void FindMatrix(const char* fileName, const char* name, bool keepBlanks) {
  ReleaseHeld();
  AmatReadFile file;
  int ret = amatGetOpen(fileName, "NoClass", nullptr, &file);
  AssertCondition(ret == 0, "ret==0", amatMessage);
  for (;;) {
    amatInitMatrix(&heldMatrix);
    ret = keepBlanks ? amatGetMatrix(&file, &heldMatrix, 0, nullptr, 0) : amatGetNext(&file, &heldMatrix);
    if (ret > 1) {
      amatGetClose(&file);
      FailReleasing("ret<=1", amatMessage);
    }
    if (SameName(heldMatrix, name)) break;
    amatFreeMatrix(&heldMatrix);
  }
  amatGetClose(&file);
}

int64_t HeldCount() {
  return heldMatrix.data ? static_cast<int64_t>(heldMatrix.nrow) * heldMatrix.ncol : 0;
}

void CheckNumeric() {
  AmatType t = heldMatrix.type;
  Check(t == doubleMatrix || t == realMatrix || t == integerMatrix,
        "amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix",
        "No string matrices allowed");
}

double HeldValue(int64_t at) {
  switch (heldMatrix.type) {
    case integerMatrix: return static_cast<const int32_t*>(heldMatrix.data)[at];
    case realMatrix: return static_cast<const float*>(heldMatrix.data)[at];
    default: return static_cast<const double*>(heldMatrix.data)[at];
  }
}

// The held numeric matrix into the row-major elements of a nrow x ncol result.
template <class T>
void CopyHeld(T* data) {
  const int64_t nrow = heldMatrix.nrow, ncol = heldMatrix.ncol;
  if (HeldCount() == 0) return;
  for (int64_t i = 0; i < nrow; ++i)
    for (int64_t j = 0; j < ncol; ++j) data[i * ncol + j] = static_cast<T>(HeldValue(i + j * nrow));
}

// The held matrix as a new array of its size, a matrix or (ndims 1) a vector.
template <class Array, class T>
Array HeldArray(int ndims, T* (*allocate)(int), Array (*toVector)(Array)) {
  Array res;
  res.ndims = 2;
  res.dims = AllocateSizes(2);
  res.dims[0] = heldMatrix.nrow;
  res.dims[1] = heldMatrix.ncol;
  res.data = allocate(ElementsToAllocate(2, res.dims));
  CopyHeld(res.data);
  ReleaseHeld();
  return ndims == 1 ? toVector(res) : res;
}

// A copy of text in the string area. When the area is full, the open file and the held matrix
// are released before the area's own failure ends the evaluation.
char* AreaCopy(const char* text, AmatReadFile* open) {
  size_t length = strlen(text);
  if (!StringFits(length)) {
    if (open) amatGetClose(open);
    ReleaseHeld();
  }
  char* copy = StringAllocateSize(length);
  memcpy(copy, text, length + 1);
  return copy;
}

const char* Kind(AmatType type) {
  switch (type) {
    case integerMatrix: return "Integer";
    case realMatrix:
    case doubleMatrix: return "Real";
    default: return "Unknown";
  }
}

// Passes over the file's matrices, empty ones included, until the end or an error: how many,
// and, with a list, the name and kind of each of the first count.
int32_t ListMatrices(const char* fileName, StringArray* list, int32_t count) {
  ReleaseHeld();
  AmatReadFile file;
  if (amatGetOpen(fileName, "NoClass", nullptr, &file) != 0) {
    AssertCondition(list != nullptr, "ret==0", amatMessage);
    return 0;
  }
  int32_t k = 0;
  for (;;) {
    amatInitMatrix(&heldMatrix);
    if (amatGetNext(&file, &heldMatrix) > 1) break;
    if (list && k < count) {
      list->data[2 * k] = AreaCopy(heldMatrix.name ? heldMatrix.name : "", &file);
      list->data[2 * k + 1] = const_cast<char*>(Kind(heldMatrix.type));
    }
    ++k;
    amatFreeMatrix(&heldMatrix);
  }
  amatFreeMatrix(&heldMatrix);
  amatGetClose(&file);
  return k;
}

// The kept matrices of an appended file, in file order.
struct KeptMatrices {
  Amatrix* items;
  int32_t count;
  int32_t capacity;
};

void FreeKept(KeptMatrices* kept) {
  for (int32_t i = 0; i < kept->count; ++i) amatFreeMatrix(&kept->items[i]);
  free(kept->items);
  *kept = KeptMatrices{};
}

// Every matrix of the file except the one named: 1, or 0 when the file could not be read whole
// (nothing kept). A file that cannot be opened keeps nothing and is no failure.
int KeepOthers(const char* fileName, const char* name, KeptMatrices* kept) {
  *kept = KeptMatrices{};
  AmatReadFile file;
  if (amatGetOpen(fileName, "NoClass", "0.0", &file) != 0) return 1;
  int ret;
  for (;;) {
    Amatrix m;
    amatInitMatrix(&m);
    // Trimming would drop the trailing blanks of character rows.
    ret = amatGetMatrix(&file, &m, 0, nullptr, 0);
    if (ret > 1) break;
    if (SameName(m, name)) {
      amatFreeMatrix(&m);
      continue;
    }
    if (kept->count == kept->capacity) {
      int32_t capacity = kept->capacity ? 2 * kept->capacity : 8;
      Amatrix* items = static_cast<Amatrix*>(realloc(kept->items, sizeof(Amatrix) * static_cast<size_t>(capacity)));
      if (!items) {
        amatFreeMatrix(&m);
        ret = 4;
        break;
      }
      kept->items = items;
      kept->capacity = capacity;
    }
    kept->items[kept->count++] = m;
  }
  amatGetClose(&file);
  // Rewriting after a damaged or unreadable matrix would lose everything from it on.
  if (ret != 3) {
    FreeKept(kept);
    return 0;
  }
  return 1;
}

// Writes the kept matrices and then the new one into a file beside the original, which it
// replaces only once everything is written and closed.
int WriteAppended(const char* fileName, const KeptMatrices& kept, Amatrix matrix) {
  size_t length = strlen(fileName);
  char* temporary = static_cast<char*>(malloc(length + sizeof ".writing"));
  if (!temporary) return 0;
  memcpy(temporary, fileName, length);
  memcpy(temporary + length, ".writing", sizeof ".writing");
  AmatWriteFile file;
  int written = 0;
  if (amatPutOpen(temporary, 1, 0, nullptr, nullptr, nullptr, &file) == 0) {
    bool ok = true;
    for (int32_t i = 0; i < kept.count && ok; ++i) ok = amatPutMatrix(&file, kept.items[i]) == 0;
    ok = ok && amatPutMatrix(&file, matrix) == 0;
    if (!ok) amatPutClose(&file);
    ok = ok && amatPutCloseChecked(&file) == 0;
    written = ok && rename(temporary, fileName) == 0;
    if (!written) remove(temporary);
  }
  free(temporary);
  return written;
}

// The item's array as a column-major matrix: a vector becomes one column.
template <class Array>
Array ColumnMajor(Array a, Array (*toMatrix)(Array), Array (*toColumnMajor)(Array), int32_t* nrow, int32_t* ncol) {
  Array m = toMatrix(a);
  *nrow = m.dims[0];
  *ncol = m.dims[1];
  return toColumnMajor(m);
}

// Writes one item whose name, type code and ndims are read; its value comes from the list.
void PutItem(const char* name, int type, int ndims, va_list* items) {
  Check(ndims >= 0 && ndims <= 2, "ndims>=0 && ndims<=2", "Current version can only write scalars, vectors and matrices");
  // The value's C type follows from the type code: nothing is read before it is known.
  Check(type == integerMatrix || type == doubleMatrix || type == charMatrix, "ret==0", "Write of matrix must succeed");
  char* itemName = const_cast<char*>(name);
  Amatrix m;
  int ret;
  if (ndims == 0) {
    int i;
    double d;
    char* text;
    if (type == integerMatrix) {
      i = va_arg(*items, int);
      amatSetMatrix(itemName, 1, 1, integerMatrix, &i, &m);
      ret = amatPutMatrix(&heldOutput, m);
    } else if (type == doubleMatrix) {
      d = va_arg(*items, double);
      amatSetMatrix(itemName, 1, 1, doubleMatrix, &d, &m);
      ret = amatPutMatrix(&heldOutput, m);
    } else {
      text = va_arg(*items, char*);
      if (!text) text = const_cast<char*>("");
      amatSetMatrix(itemName, 1, static_cast<int32_t>(strlen(text)), charMatrix, &text, &m);
      ret = amatPutMatrixPad(&heldOutput, m, '\0');
    }
  } else {
    SavedMarks marks = MarkSave();
    int32_t nrow, ncol;
    if (type == integerMatrix) {
      IntegerArray a = ColumnMajor(*va_arg(*items, const IntegerArray*), IntegerToMatrix, IntegerToColumnMajor, &nrow,
                                   &ncol);
      amatSetMatrix(itemName, nrow, ncol, integerMatrix, a.data, &m);
    } else if (type == doubleMatrix) {
      RealArray a = ColumnMajor(*va_arg(*items, const RealArray*), RealToMatrix, RealToColumnMajor, &nrow, &ncol);
      amatSetMatrix(itemName, nrow, ncol, doubleMatrix, a.data, &m);
    } else {
      // A text matrix holds one text per row: every element becomes a row, column by column.
      StringArray a = ColumnMajor(*va_arg(*items, const StringArray*), StringToMatrix, StringToColumnMajor, &nrow,
                                  &ncol);
      amatSetMatrix(itemName, nrow * ncol, 0, charMatrix, a.data, &m);
    }
    ret = amatPutMatrix(&heldOutput, m);
    MarkRestore(marks);
  }
  Check(ret == 0, "ret==0", "Write of matrix must succeed");
}

}  // namespace

RealArray RealMatReadSized(const char* fileName, const char* matrixName, int rows, int cols) {
  RealArray res = RealNewMatrix(rows, cols);
  FindMatrix(fileName, matrixName, false);
  Check(rows == heldMatrix.nrow && cols == heldMatrix.ncol, "rows==amatrix.nrow && cols==amatrix.ncol",
        "Matrix dimension incorrect");
  CheckNumeric();
  CopyHeld(res.data);
  ReleaseHeld();
  return res;
}

IntegerArray MatReadSize(const char* fileName, const char* matrixName) {
  IntegerArray res = IntegerNewVector(2);
  FindMatrix(fileName, matrixName, false);
  res.data[0] = heldMatrix.nrow;
  res.data[1] = heldMatrix.ncol;
  ReleaseHeld();
  return res;
}

StringArray MatReadList(const char* fileName) {
  int32_t count = ListMatrices(fileName, nullptr, 0);
  StringArray res = StringSetAll(StringNewMatrix(count, 2), "");
  ListMatrices(fileName, &res, count);
  return res;
}

int RealMatWrite(const char* fileName, const char* matrixName, const RealArray* matrix, int append) {
  AssertCondition(matrix->ndims == 2, "mat.ndims==2", "Only writing of matrices");
  // The copy comes first: it may end the evaluation, and nothing is held yet.
  SavedMarks marks = MarkSave();
  RealArray columns = RealToColumnMajor(*matrix);
  Amatrix m;
  amatSetMatrix(const_cast<char*>(matrixName), matrix->dims[0], matrix->dims[1], doubleMatrix, columns.data, &m);
  int written;
  if (!append) {
    written = amatPutMatrixFile(fileName, 1, m) == 0;
  } else {
    KeptMatrices kept;
    written = KeepOthers(fileName, matrixName, &kept) && WriteAppended(fileName, kept, m);
    FreeKept(&kept);
  }
  MarkRestore(marks);
  return written;
}

RealArray RealMatRead(const char* fileName, const char* matrixName, int ndims) {
  AssertCondition((ndims <= 2) && (ndims >= 1), "(ndims<=2)&&(ndims>=1)",
                  "Current version can only read scalars, vectors, and matrices");
  FindMatrix(fileName, matrixName, false);
  CheckNumeric();
  return HeldArray(ndims, AllocateReals, RealToVector);
}

double RealMatReadScalar(const char* fileName, const char* matrixName) {
  return RealToScalar(RealMatRead(fileName, matrixName, 2));
}

IntegerArray IntegerMatRead(const char* fileName, const char* matrixName, int ndims) {
  AssertCondition((ndims <= 2) && (ndims >= 1), "(ndims<=2)&&(ndims>=1)",
                  "Current version can only read scalars, vectors, and matrices");
  FindMatrix(fileName, matrixName, false);
  Check(heldMatrix.type == integerMatrix, "amatrix.type==integerMatrix", "Integer matrix required");
  return HeldArray(ndims, AllocateIntegers, IntegerToVector);
}

int IntegerMatReadScalar(const char* fileName, const char* matrixName) {
  return IntegerToScalar(IntegerMatRead(fileName, matrixName, 2));
}

StringArray StringMatRead(const char* fileName, const char* matrixName, int ndims) {
  AssertCondition((ndims <= 1) && (ndims >= 1), "(ndims<=1)&&(ndims>=1)",
                  "Current version can only read scalars and vectors");
  FindMatrix(fileName, matrixName, true);
  Check(heldMatrix.type == charMatrix, "amatrix.type==charMatrix", "Only string matrices allowed");
  StringArray res;
  res.ndims = 1;
  res.dims = AllocateSizes(1);
  res.dims[0] = heldMatrix.nrow;
  res.data = AllocateStrings(ElementsToAllocate(1, res.dims));
  char** rows = static_cast<char**>(heldMatrix.data);
  for (int32_t i = 0; i < heldMatrix.nrow; ++i) res.data[i] = AreaCopy(rows && rows[i] ? rows[i] : "", nullptr);
  ReleaseHeld();
  return StringToVector(res);
}

char* StringMatReadScalar(const char* fileName, const char* matrixName) {
  return StringToScalar(StringMatRead(fileName, matrixName, 1));
}

void MatWriteItems(const char* fileName, int n, ...) {
  ReleaseHeld();
  AssertCondition(amatPutOpen(fileName, 1, 0, nullptr, nullptr, nullptr, &heldOutput) == 0, "false",
                  "failed to open output file");
  va_list items;
  va_start(items, n);
  for (int k = 0; k < n; ++k) {
    const char* name = va_arg(items, const char*);
    int type = va_arg(items, int);
    int ndims = va_arg(items, int);
    PutItem(name, type, ndims, &items);
  }
  va_end(items);
  int closed = amatPutCloseChecked(&heldOutput);
  AssertCondition(closed == 0, "ret==0", "Write of matrix must succeed");
}
