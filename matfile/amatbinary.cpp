// MAT-file version 4 matrices, little-endian: a 20-byte header (type code MOPT, mrows, ncols,
// imagf, namlen), the name with its NUL, the data column by column. In a binTrans file mrows and
// ncols are swapped and the data are stored row by row, so that rows can be appended.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "amatformat.h"
#include "clocale.h"
#include "platform.h"
#include "saturate.h"

namespace {

// Values move through a block of this many elements where they are converted or regrouped.
constexpr int64_t kBlock = 512;

// Reads count stored values of type T as doubles.
template <typename T>
bool ReadValues(FILE* stream, double* out, int64_t count) {
  T block[kBlock];
  while (count > 0) {
    int64_t n = count < kBlock ? count : kBlock;
    if (fread(block, sizeof(T), static_cast<size_t>(n), stream) != static_cast<size_t>(n)) return false;
    for (int64_t k = 0; k < n; ++k) out[k] = block[k];
    out += n;
    count -= n;
  }
  return true;
}

int NumericDataError(const AmatReadFile* file, const Amatrix* m) {
  amatSetMessage("Error when reading numeric data of matrix \"%.400s(%d,%d)\" from file\n\"%.400s\"\n",
                 StringOrEmpty(m->name), m->nrow, m->ncol, StringOrEmpty(file->path));
  return 4;
}

int StopError(const AmatReadFile* file) {
  amatSetMessage("Reading of file \"%.400s\" stopped by user.\n", StringOrEmpty(file->path));
  return 4;
}

bool IsRowType(AmatType type) { return type == realRowMatrix || type == doubleRowMatrix; }

AmatType ElementType(AmatType type) {
  return type == realRowMatrix ? realMatrix : type == doubleRowMatrix ? doubleMatrix : type;
}

// The numeric data of the header just read, stored as T (the element of the stored type), into
// the storage of the delivered type.
template <typename T>
int GetBinNumeric(AmatReadFile* file, Amatrix* m, AmatType stored) {
  FILE* s = file->stream;
  double values[kBlock];
  if (!file->transposed) {
    int64_t count = static_cast<int64_t>(m->nrow) * m->ncol;
    if (stored == m->type) {
      if (fread(m->data, sizeof(T), static_cast<size_t>(count), s) != static_cast<size_t>(count))
        return NumericDataError(file, m);
      return 0;
    }
    for (int64_t n = 0; n < count;) {
      int64_t chunk = count - n < kBlock ? count - n : kBlock;
      if (!ReadValues<T>(s, values, chunk)) return NumericDataError(file, m);
      for (int64_t k = 0; k < chunk; ++k, ++n) amatStoreValue(m, n % m->nrow, n / m->nrow, values[k]);
    }
    return 0;
  }
  // Transposed: the stored matrix row by row; the row types from nextRow on.
  bool rows = IsRowType(m->type);
  int64_t first = rows ? m->nextRow : 0, end = rows ? amatRowEnd(m) : m->nrow;
  bool direct = rows && stored == ElementType(m->type);
  for (int64_t i = first; i < end; ++i) {
    if (rows && stored == realMatrix && amatStopRequest && amatStopRequest()) return StopError(file);
    if (direct) {
      void* row = static_cast<void**>(m->data)[amatRowSlot(m, i)];
      if (fread(row, sizeof(T), static_cast<size_t>(m->ncol), s) != static_cast<size_t>(m->ncol))
        return NumericDataError(file, m);
    } else {
      for (int64_t j = 0; j < m->ncol;) {
        int64_t chunk = m->ncol - j < kBlock ? m->ncol - j : kBlock;
        if (!ReadValues<T>(s, values, chunk)) return NumericDataError(file, m);
        for (int64_t k = 0; k < chunk; ++k, ++j) amatStoreValue(m, i, j, values[k]);
      }
    }
    if (rows) m->nextRow = static_cast<int32_t>(i + 1);
  }
  return 0;
}

int CharReadError(const AmatReadFile* file, const Amatrix* m) {
  amatSetMessage("Error reading data of text matrix \"%.40s(%d,%d)\" from file \"%.400s\":\n%.400s\n",
                 StringOrEmpty(m->name), m->nrow, m->ncol, StringOrEmpty(file->path), amatReadError(file->stream));
  return 4;
}

// Reads count characters of the precision (5: bytes, 0: one float64 each, its low byte kept).
bool ReadChars(FILE* stream, int precision, unsigned char* out, int64_t count) {
  if (precision == 5) return fread(out, 1, static_cast<size_t>(count), stream) == static_cast<size_t>(count);
  double values[kBlock];
  for (int64_t n = 0; n < count;) {
    int64_t chunk = count - n < kBlock ? count - n : kBlock;
    if (!ReadValues<double>(stream, values, chunk)) return false;
    for (int64_t k = 0; k < chunk; ++k, ++n)
      out[n] = static_cast<unsigned char>(static_cast<uint32_t>(SaturatingInt(values[k])) & 0xFF);
  }
  return true;
}

// Makes row text from ncol characters taken with the stride: trailing white space (trim) or
// trailing NULs dropped, cut at the first NUL; null when nothing is kept. Returns false when
// storage is missing.
bool MakeRow(const unsigned char* chars, int64_t stride, int64_t ncol, int trim, char** row, int64_t* length) {
  int64_t kept = ncol;
  while (kept > 0) {
    unsigned char c = chars[(kept - 1) * stride];
    if (trim ? !isspace_c(c) : c != 0) break;
    --kept;
  }
  int64_t n = 0;
  while (n < kept && chars[n * stride] != 0) ++n;
  *length = n;
  *row = nullptr;
  if (kept == 0) return true;
  char* text = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
  if (!text) return false;
  for (int64_t k = 0; k < n; ++k) text[k] = static_cast<char>(chars[k * stride]);
  text[n] = '\0';
  *row = text;
  return true;
}

}  // namespace

int amatGetBinInteger(AmatReadFile* file, Amatrix* matrix) {
  return GetBinNumeric<int32_t>(file, matrix, integerMatrix);
}
int amatGetBinReal(AmatReadFile* file, Amatrix* matrix) { return GetBinNumeric<float>(file, matrix, realMatrix); }
int amatGetBinDouble(AmatReadFile* file, Amatrix* matrix) {
  return GetBinNumeric<double>(file, matrix, doubleMatrix);
}

int amatGetBinChar(AmatReadFile* file, Amatrix* m, int precision, int trim) {
  if (precision != 0 && precision != 5) {
    amatSetMessage(
        "Wrong precision flag (= %d) of character matrix \"%.400s(%d,%d)\"\non file \"%.400s\".\nFlag must be 0 "
        "(= 64-bit) or 5 (= 8-bit unsigned integer).\n",
        precision, StringOrEmpty(m->name), m->nrow, m->ncol, StringOrEmpty(file->path));
    return 4;
  }
  char** rows = static_cast<char**>(m->data);
  int64_t nrow = m->nrow, ncol = m->ncol;
  int64_t width = precision == 5 ? 1 : 8;
  // The characters of the whole matrix (binNormal) or of one row (binTrans).
  int64_t block = file->transposed ? ncol + 1 : (nrow * ncol > 0 ? nrow * ncol : 1);
  if (!amatFitsFile(file->stream, file->transposed ? ncol : nrow * ncol, width)) return amatCharStorageError(file, m, block);
  unsigned char* chars = static_cast<unsigned char*>(malloc(static_cast<size_t>(block)));
  if (!chars) return amatCharStorageError(file, m, block);
  for (int64_t i = 0; i < nrow; ++i) rows[i] = nullptr;
  int result = 0;
  int64_t longest = 0;
  if (!file->transposed && !ReadChars(file->stream, precision, chars, nrow * ncol)) result = CharReadError(file, m);
  for (int64_t i = 0; i < nrow && result == 0; ++i) {
    const unsigned char* first = chars + i;
    int64_t stride = nrow;
    if (file->transposed) {
      if (!ReadChars(file->stream, precision, chars, ncol)) {
        result = CharReadError(file, m);
        break;
      }
      first = chars, stride = 1;
    }
    int64_t length = 0;
    if (!MakeRow(first, stride, ncol, trim, &rows[i], &length)) result = amatCharStorageError(file, m, length + 1);
    if (length > longest) longest = length;
  }
  free(chars);
  if (result != 0) {
    for (int64_t i = 0; i < nrow; ++i) {
      free(rows[i]);
      rows[i] = nullptr;
    }
    return result;
  }
  m->ncol = static_cast<int32_t>(longest);
  return 0;
}

namespace {

// ---- Writing ---------------------------------------------------------------------------------

int WriteError(const AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol) {
  amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\n%.400s\n", StringOrEmpty(name),
                 nrow, ncol, StringOrEmpty(file->path), amatSystemError());
  return 1;
}

bool WriteBytes(FILE* stream, const void* bytes, int64_t size) {
  return size <= 0 || fwrite(bytes, 1, static_cast<size_t>(size), stream) == static_cast<size_t>(size);
}

// Assembles the header in file->header, in the orientation of the file, and writes it with the
// name.
bool WriteHeader(AmatWriteFile* file, const char* name, int32_t code, int32_t nrow, int32_t ncol) {
  size_t namlen = strlen(name) + 1;
  int32_t header[5] = {code, file->bstruct ? ncol : nrow, file->bstruct ? nrow : ncol, 0,
                       static_cast<int32_t>(namlen)};
  memcpy(file->header, header, sizeof header);
  return WriteBytes(file->stream, header, sizeof header) &&
         WriteBytes(file->stream, name, static_cast<int64_t>(namlen));
}

// Writes the elements in the order of a stored column (binNormal: j outer, i inner) or of a
// stored row (binTrans: i outer, j inner), through a block.
template <typename T, typename Source>
bool WriteElements(FILE* stream, const Source& source, int64_t nrow, int64_t ncol, bool transposed) {
  T block[kBlock];
  int64_t n = 0;
  int64_t outer = transposed ? nrow : ncol, inner = transposed ? ncol : nrow;
  for (int64_t a = 0; a < outer; ++a)
    for (int64_t b = 0; b < inner; ++b) {
      block[n++] = transposed ? source.at(a, b) : source.at(b, a);
      if (n == kBlock) {
        if (!WriteBytes(stream, block, n * static_cast<int64_t>(sizeof(T)))) return false;
        n = 0;
      }
    }
  return WriteBytes(stream, block, n * static_cast<int64_t>(sizeof(T)));
}

template <typename T>
int PutBinColumns(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const T* data, int32_t code) {
  if (!file || !name) {
    amatSetMessage("Unexpected null-pointer");
    return 4;
  }
  bool ok = WriteHeader(file, name, code, nrow, ncol);
  int64_t count = nrow > 0 && ncol > 0 ? static_cast<int64_t>(nrow) * ncol : 0;
  if (ok && count > 0) {
    if (file->bstruct)
      ok = WriteElements<T>(file->stream, amatColumns<T>{data, nrow}, nrow, ncol, true);
    else
      ok = WriteBytes(file->stream, data, count * static_cast<int64_t>(sizeof(T)));
  }
  return ok ? 0 : WriteError(file, name, nrow, ncol);
}

template <typename T>
int PutBinRows(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, T* const* rows, int32_t code) {
  if (!file || !name) {
    amatSetMessage("Unexpected null-pointer");
    return 4;
  }
  bool ok = WriteHeader(file, name, code, nrow, ncol);
  if (ok && nrow > 0 && ncol > 0) {
    if (file->bstruct) {
      for (int32_t i = 0; i < nrow && ok; ++i)
        ok = WriteBytes(file->stream, rows[i], static_cast<int64_t>(ncol) * static_cast<int64_t>(sizeof(T)));
    } else {
      ok = WriteElements<T>(file->stream, amatRows<T>{rows}, nrow, ncol, false);
    }
  }
  return ok ? 0 : WriteError(file, name, nrow, ncol);
}

}  // namespace

int amatGetBinHeader(AmatReadFile* file, Amatrix* current, const char* presetName) {
  int32_t header[5];
  FILE* s = file->stream;
  const char* path = StringOrEmpty(file->path);
  if (fread(header, sizeof header, 1, s) != 1) {
    bool end = feof(s) != 0;
    amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", path, amatReadError(s));
    return end ? 3 : 4;
  }
  int32_t code = header[0];
  if (code / 1000 != 0) {
    amatSetMessage(
        "Cannot read matrix from file \"%.400s\".\nThe file has incorrect format (note that binary files must be "
        "saved with '-v4' in MATLAB).\n",
        path);
    return 4;
  }
  // The stored name, bounded by what the file still holds: a damaged length never allocates more.
  int64_t namlen = header[4] > 0 ? header[4] : 0;
  if (!amatFitsFile(s, namlen, 1)) {
    amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", path, "End-Of-File reached.");
    return 4;
  }
  char* stored = static_cast<char*>(malloc(static_cast<size_t>(namlen) + 1));
  if (!stored) {
    amatSetMessage(
        "Error when reading matrix from file \"%.400s\",\nbecause it is not possible to allocate storage for\nthe "
        "matrix name (length = %d)\n:%.400s\n",
        path, static_cast<int32_t>(namlen > 0 ? namlen : 1), amatSystemError());
    return 4;
  }
  if (namlen > 0 && fread(stored, 1, static_cast<size_t>(namlen), s) != static_cast<size_t>(namlen)) {
    amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", path, amatReadError(s));
    free(stored);
    return 4;
  }
  stored[namlen] = '\0';
  if (presetName) {
    bool equal = strcmp(stored, presetName) == 0;
    if (!equal) {
      amatSetMessage(
          "Error when reading matrix \"%.400s\" from file \"%.400s\",\nbecause matrix-name = \"%.400s\" required.\n",
          stored, path, presetName);
      free(stored);
      return 2;
    }
    free(stored);
    current->name = const_cast<char*>(presetName);
  } else {
    current->name = stored;
  }
  int32_t t = code % 10, p = (code % 100) / 10;
  AmatType type = voidMatrix;
  if (t != 0) {
    if (t == 1) type = charMatrix;
    else
      amatSetMessage(
          "Wrong type flag (= %d) of matrix \"%.400s\" on file \"%.400s\".\nThe type flag must be 0 (= numeric "
          "matrix) or 1 (= character matrix).\n",
          t, current->name, path);
  } else if (p >= 0 && p <= 2) {
    type = p == 0 ? doubleMatrix : p == 1 ? realMatrix : integerMatrix;
  } else {
    amatSetMessage(
        "Wrong precision flag (= %d) of numeric matrix \"%.400s\" on file \"%.400s\"\nFlag must be 0 (= 64-bit) "
        "or 1 (32-bit).\n",
        p, current->name, path);
  }
  if (type == voidMatrix) {
    if (!presetName) {
      free(current->name);
      current->name = nullptr;
    }
    return 4;
  }
  file->pendingPrecision = p;
  current->type = type;
  current->nrow = file->transposed ? header[2] : header[1];
  current->ncol = file->transposed ? header[1] : header[2];
  return 0;
}

int amatGetBinData(AmatReadFile* file, Amatrix* matrix, AmatType storedType, int trim) {
  switch (storedType) {
    case integerMatrix: return amatGetBinInteger(file, matrix);
    case realMatrix: return amatGetBinReal(file, matrix);
    case doubleMatrix: return amatGetBinDouble(file, matrix);
    case charMatrix: return amatGetBinChar(file, matrix, file->pendingPrecision, trim);
    default:
      amatSetMessage("Error should never occur when reading file \"%.400s\"\n(matrix.type = %d).\n",
                     StringOrEmpty(file->path), storedType);
      return 4;
  }
}

int amatPutBinInteger(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const int32_t* data) {
  return PutBinColumns(file, name, nrow, ncol, data, 20);
}
int amatPutBinReal(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const float* data) {
  return PutBinColumns(file, name, nrow, ncol, data, 10);
}
int amatPutBinDouble(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const double* data) {
  return PutBinColumns(file, name, nrow, ncol, data, 0);
}
int amatPutBinRealRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, float* const* rows) {
  return PutBinRows(file, name, nrow, ncol, rows, 10);
}
int amatPutBinDoubleRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, double* const* rows) {
  return PutBinRows(file, name, nrow, ncol, rows, 0);
}

int amatPutBinChar(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, char* const* rows, char pad) {
  if (!file || !name) {
    amatSetMessage("Unexpected null-pointer");
    return 4;
  }
  int32_t shownCols = nrow == 0 ? 0 : ncol;
  int64_t count = nrow > 0 ? nrow : 0;
  size_t* lengths = static_cast<size_t*>(malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(size_t)));
  if (!lengths) {
    errno = ENOMEM;
    return WriteError(file, name, nrow, shownCols);
  }
  size_t width = 0;
  for (int64_t k = 0; k < count; ++k) {
    lengths[k] = rows[k] ? strlen(rows[k]) : 0;
    if (lengths[k] > width) width = lengths[k];
  }
  bool ok = WriteHeader(file, name, 51, static_cast<int32_t>(count), static_cast<int32_t>(width));
  char block[kBlock];
  int64_t n = 0;
  auto put = [&](char c) {
    block[n++] = c;
    if (n == kBlock) {
      ok = ok && WriteBytes(file->stream, block, n);
      n = 0;
    }
  };
  if (file->bstruct) {
    for (int64_t k = 0; k < count && ok; ++k) {
      for (size_t j = 0; j < lengths[k]; ++j) put(rows[k][j]);
      for (size_t j = lengths[k]; j < width; ++j) put(pad);
    }
  } else {
    for (size_t j = 0; j < width && ok; ++j)
      for (int64_t k = 0; k < count; ++k) put(j < lengths[k] ? rows[k][j] : j == lengths[k] ? '\0' : pad);
  }
  ok = ok && WriteBytes(file->stream, block, n);
  free(lengths);
  return ok ? 0 : WriteError(file, name, nrow, shownCols);
}

int amatPutRinitBin(AmatWriteFile* file) {
  FILE* s = file->stream;
  long at = ftell(s);
  file->rowHeaderPos = at;
  size_t namlen = strlen(file->rowName) + 1;
  int32_t header[5] = {file->rowType == doubleMatrix ? 0 : 10, file->rowNcol, 0, 0, static_cast<int32_t>(namlen)};
  memcpy(file->header, header, sizeof header);
  bool ok = at >= 0 && WriteBytes(s, header, sizeof header) &&
            WriteBytes(s, file->rowName, static_cast<int64_t>(namlen));
  return ok ? 0 : amatRowWiseError(file);
}

int amatPutRdimsBin(AmatWriteFile* file) {
  // In place, without moving the stream: the rows it holds are written first, then the header
  // (two system calls per row instead of two writes and two seeks).
  bool ok = file->rowHeaderPos >= 0 &&
            PlatformStreamWriteAt(file->stream, file->header, sizeof file->header,
                                  static_cast<uint64_t>(file->rowHeaderPos)) == 0;
  return ok ? 0 : amatRowWiseError(file);
}
