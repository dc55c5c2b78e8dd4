// The "#1" text format: a declaration line "<type> <name>(<nrow>,<ncol>)", the values row by row
// (or one line per row text), an empty line; "#" comments between values. Everything is written
// and scanned in the "C" locale.
#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "amatformat.h"
#include "clocale.h"
#include "saturate.h"

namespace {

int WriteError(const AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const char* reason) {
  amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\n%.400s\n", StringOrEmpty(name),
                 nrow, ncol, StringOrEmpty(file->path), reason);
  return 1;
}

// A name the text reader could not scan back is never written.
bool NameFits(const char* name) { return strlen(name) <= amatTextNameLimit; }

// Checks the arguments and writes the comment and the declaration: 0, or the result to return.
int BeginMatrix(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const char* word,
                const char* comment) {
  if (!file || !name) {
    amatSetMessage("Unexpected null-pointer");
    return 4;
  }
  if (!NameFits(name))
    return WriteError(file, name, nrow, ncol, "the name is longer than 100 characters, which a text file cannot hold");
  bool ok = true;
  if (comment) ok = fputs(comment, file->stream) >= 0 && fputc('\n', file->stream) != EOF;
  ok = ok && fprintf_c(file->stream, "%s %s(%d,%d)\n", word, name, nrow, ncol) >= 0;
  return ok ? 0 : WriteError(file, name, nrow, ncol, amatSystemError());
}

// Ends the matrix with its empty line and reports any failed write of it.
int EndMatrix(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, bool ok) {
  ok = ok && fputc('\n', file->stream) != EOF && !ferror(file->stream);
  return ok ? 0 : WriteError(file, name, nrow, ncol, amatSystemError());
}

// A row text or row name: a newline as "\n" and a backslash as "\\".
bool PutEscaped(FILE* s, const char* text) {
  if (!strpbrk(text, "\n\\")) return fputs(text, s) >= 0;
  for (const char* c = text; *c; ++c) {
    bool ok = *c == '\n' ? fputs("\\n", s) >= 0 : *c == '\\' ? fputs("\\\\", s) >= 0 : fputc(*c, s) != EOF;
    if (!ok) return false;
  }
  return true;
}

bool PutRowEnd(FILE* s, char* const* rowNames, int64_t row, int32_t nameColumn) {
  bool ok = true;
  if (rowNames && rowNames[row]) {
    if (nameColumn > 0) {
      for (int32_t k = 1; k < nameColumn && ok; ++k) ok = fputc(' ', s) != EOF;
      ok = ok && fputs("# ", s) >= 0 && PutEscaped(s, rowNames[row]);
    } else {
      ok = fputs(rowNames[row], s) >= 0;
    }
  }
  return ok && fputc('\n', s) != EOF;
}

bool IsIntegral(double v) { return v == trunc(v); }

double Clamp(double v, double limit) { return v > limit ? limit : v < -limit ? -limit : v; }

int Digits(int64_t value) {
  int digits = 1;
  while (value >= 10) value /= 10, ++digits;
  return digits;
}

template <typename Source>
int PutReal(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const Source& source,
            const char* comment, char* const* rowNames, int32_t nameColumn) {
  int result = BeginMatrix(file, name, nrow, ncol, "float", comment);
  if (result != 0) return result;
  FILE* s = file->stream;
  bool ok = true;
  for (int64_t i = 0; i < nrow && ok; ++i) {
    for (int64_t j = 0; j < ncol && ok; ++j) {
      double v = Clamp(source.at(i, j), 3.4028234663852886e38);
      if (IsIntegral(v) && fabs(v) <= 100000)
        ok = fprintf_c(s, " %7d       ", static_cast<int>(v)) >= 0;
      else
        ok = fprintf_c(s, " %14.7E", v) >= 0;
      if (ok && (j + 1) % 5 == 0 && j + 1 < ncol) ok = fputs("\n    ", s) >= 0;
    }
    ok = ok && PutRowEnd(s, rowNames, i, nameColumn);
  }
  return EndMatrix(file, name, nrow, ncol, ok);
}

template <typename Source>
int PutDouble(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const Source& source,
              const char* comment, char* const* rowNames, int32_t nameColumn) {
  int result = BeginMatrix(file, name, nrow, ncol, "double", comment);
  if (result != 0) return result;
  int* widths = static_cast<int*>(malloc(static_cast<size_t>(ncol > 0 ? ncol : 1) * sizeof(int)));
  if (!widths) return WriteError(file, name, nrow, ncol, "not enough memory\n");
  // A column of integral values of at most 7 digits is written as integers of its widest width.
  for (int64_t j = 0; j < ncol; ++j) {
    int w = 0;
    for (int64_t i = 0; i < nrow; ++i) {
      double v = source.at(i, j);
      if (!IsIntegral(v) || fabs(v) >= 1e7) {
        w = 0;
        break;
      }
      int d = Digits(static_cast<int64_t>(fabs(v)));
      if (d > w) w = d;
    }
    widths[j] = w;
  }
  FILE* s = file->stream;
  bool ok = true;
  for (int64_t i = 0; i < nrow && ok; ++i) {
    int line = 0;
    for (int64_t j = 0; j < ncol && ok; ++j) {
      double v = source.at(i, j);
      if (widths[j] > 0) {
        ok = fprintf_c(s, " %*d", widths[j] + 1, static_cast<int>(v)) >= 0;
        line += widths[j] + 2;
      } else {
        v = Clamp(v, 1.7976931348623157e308);
        if (IsIntegral(v) && fabs(v) <= 100000)
          ok = fprintf_c(s, " %7d                ", static_cast<int>(v)) >= 0;
        else
          ok = fprintf_c(s, " %23.16E", v) >= 0;
        line += 24;
      }
      if (ok && line > 70 && j + 1 < ncol) {
        ok = fputc('\n', s) != EOF;
        line = 0;
      }
    }
    ok = ok && PutRowEnd(s, rowNames, i, nameColumn);
  }
  free(widths);
  return EndMatrix(file, name, nrow, ncol, ok);
}

int HeaderReadError(const AmatReadFile* file, const char* reason) {
  amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", StringOrEmpty(file->path), reason);
  return 4;
}

void ReleaseRows(char** rows, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    free(rows[i]);
    rows[i] = nullptr;
  }
}

}  // namespace

int amatSkipComments(AmatReadFile* file) {
  FILE* s = file->stream;
  for (;;) {
    int c = fgetc(s);
    if (c == EOF) {
      if (ferror(s)) return HeaderReadError(file, amatSystemError());
      HeaderReadError(file, "End-of-File reached");
      return 3;
    }
    if (isspace_c(c)) continue;
    if (c == '#') {
      while (c != EOF && c != '\n') c = fgetc(s);
      continue;
    }
    ungetc(c, s);
    return 0;
  }
}

int amatGetTextHeader(AmatReadFile* file, Amatrix* current, const char* presetName) {
  int result = amatSkipComments(file);
  if (result != 0) return result;
  char line[200];
  if (!fgets(line, sizeof line, file->stream)) {
    if (ferror(file->stream)) return HeaderReadError(file, amatSystemError());
    HeaderReadError(file, "End-Of-File reached.");
    return 3;
  }
  const char* path = StringOrEmpty(file->path);
  char word[11], name[amatTextNameLimit + 1];
  int32_t nrow = 0, ncol = 0;
  int fields = sscanf_c_fmt(line, "%10s %100[^( \t](%d,%d)", word, name, &nrow, &ncol);
  AmatType type = voidMatrix;
  if (fields == 4) {
    if (strcmp(word, "int") == 0) type = integerMatrix;
    else if (strcmp(word, "float") == 0) type = realMatrix;
    else if (strcmp(word, "double") == 0) type = doubleMatrix;
    else if (strcmp(word, "char") == 0) type = charMatrix;
  }
  if (type == voidMatrix) {
    amatSetMessage(
        "Error scanning the following declaration on file \"%.400s\":\n%.400sExpected is: <type> <name> "
        "(<row_dimension>, <column_dimension>)\nwhere <type> is \"integer\", \"real\", \"double\" or \"char\" "
        "and\n<name> is the name of the matrix.\n",
        path, line);
    return 4;
  }
  if (presetName) {
    if (strcmp(name, presetName) != 0) {
      amatSetMessage(
          "Error scanning the following declaration on file \"%.400s\":\n%.400sName of matrix is wrong, should be "
          "\"%.400s\".\n",
          path, line, presetName);
      return 2;
    }
    current->name = const_cast<char*>(presetName);
  } else {
    size_t length = strlen(name);
    char* copy = static_cast<char*>(malloc(length + 1));
    if (!copy) {
      amatSetMessage(
          "Error when reading matrix from file \"%.400s\",\nbecause it is not possible to allocate storage "
          "for\nthe matrix name (length = %d)\n:%.400s\n",
          path, static_cast<int32_t>(length + 1), amatSystemError());
      return 4;
    }
    memcpy(copy, name, length + 1);
    current->name = copy;
  }
  current->nrow = nrow;
  current->ncol = ncol;
  current->type = type;
  return 0;
}

int amatGetTextNumeric(AmatReadFile* file, Amatrix* m) {
  FILE* s = file->stream;
  bool rows = m->type == realRowMatrix || m->type == doubleRowMatrix;
  int64_t first = rows ? m->nextRow : 0, end = rows ? amatRowEnd(m) : m->nrow;
  for (int64_t i = first; i < end; ++i) {
    for (int64_t j = 0; j < m->ncol; ++j) {
      if (amatSkipComments(file) != 0) return 4;
      int count;
      if (m->type == realMatrix) {
        float value = 0;
        count = fscanf_c_g(s, &value);
        if (count == 1) static_cast<float*>(m->data)[i + j * m->nrow] = value;
      } else {
        double value = 0;
        count = fscanf_c_lg(s, &value);
        if (count == 1) amatStoreValue(m, i, j, value);
      }
      if (count != 1) {
        amatSetMessage("Error when reading numeric data of matrix \"%.400s(%d,%d)\" from file\n\"%.400s\"\n",
                       StringOrEmpty(m->name), m->nrow, m->ncol, StringOrEmpty(file->path));
        return feof(s) ? 3 : 4;
      }
    }
    if (rows) m->nextRow = static_cast<int32_t>(i + 1);
  }
  return 0;
}

int amatGetTextChar(AmatReadFile* file, Amatrix* m) {
  FILE* s = file->stream;
  char** rows = static_cast<char**>(m->data);
  // A row can be no longer than what is left of the file, so the buffer never needs to be
  // larger than that, whatever width the declaration claims.
  int64_t size = 2 * static_cast<int64_t>(m->ncol > 0 ? m->ncol : 0) + 2;
  int64_t limit = amatRemainingBytes(s);
  int64_t bufferSize = size - 2 <= limit ? size : limit + 2;
  if (bufferSize > INT32_MAX) bufferSize = INT32_MAX;
  char* buffer = static_cast<char*>(malloc(static_cast<size_t>(bufferSize)));
  if (!buffer) return amatCharStorageError(file, m, size);
  for (int64_t i = 0; i < m->nrow; ++i) rows[i] = nullptr;
  int64_t longest = 0;
  for (int64_t i = 0; i < m->nrow; ++i) {
    if (!fgets(buffer, static_cast<int>(bufferSize), s)) {
      amatSetMessage("Error reading data of text matrix \"%.40s(%d,%d)\" from file \"%.400s\":\n%.400s\n",
                     StringOrEmpty(m->name), m->nrow, m->ncol, StringOrEmpty(file->path), amatReadError(s));
      ReleaseRows(rows, i);
      free(buffer);
      return 4;
    }
    // The line end is taken before the escapes are undone, so that an escaped newline at the end
    // of a cut line is not mistaken for it.
    size_t length = strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n') {
      buffer[--length] = '\0';
    } else {
      int c = 0;
      while (c != EOF && c != '\n') c = fgetc(s);
    }
    size_t out = 0;
    for (size_t k = 0; k < length; ++k) {
      if (buffer[k] == '\\' && (buffer[k + 1] == 'n' || buffer[k + 1] == '\\')) {
        buffer[out++] = buffer[k + 1] == 'n' ? '\n' : '\\';
        ++k;
      } else {
        buffer[out++] = buffer[k];
      }
    }
    buffer[out] = '\0';
    char* text = static_cast<char*>(malloc(out + 1));
    if (!text) {
      amatCharStorageError(file, m, static_cast<int64_t>(out) + 1);
      ReleaseRows(rows, i);
      free(buffer);
      return 4;
    }
    memcpy(text, buffer, out + 1);
    rows[i] = text;
    if (static_cast<int64_t>(out) > longest) longest = static_cast<int64_t>(out);
  }
  free(buffer);
  m->ncol = static_cast<int32_t>(longest);
  return 0;
}

int amatGetTextData(AmatReadFile* file, Amatrix* matrix) {
  switch (matrix->type) {
    case integerMatrix:
    case realMatrix:
    case doubleMatrix:
    case realRowMatrix:
    case doubleRowMatrix: return amatGetTextNumeric(file, matrix);
    case charMatrix: return amatGetTextChar(file, matrix);
    default:
      amatSetMessage("Error should never occur when reading file \"%.400s\"\n(matrix.type = %d).\n",
                     StringOrEmpty(file->path), matrix->type);
      return 4;
  }
}

// ---- Writing ---------------------------------------------------------------------------------

int amatPutTextInteger(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const int32_t* data,
                       const char* comment, char* const* rowNames, int32_t nameColumn) {
  int result = BeginMatrix(file, name, nrow, ncol, "int", comment);
  if (result != 0) return result;
  int64_t count = nrow > 0 && ncol > 0 ? static_cast<int64_t>(nrow) * ncol : 0;
  int64_t largest = 0;
  bool negative = false;
  for (int64_t k = 0; k < count; ++k) {
    int64_t v = data[k];
    if (v < 0) negative = true, v = -v;
    if (v > largest) largest = v;
  }
  int width = Digits(largest) + (negative ? 1 : 0);
  FILE* s = file->stream;
  bool ok = true;
  for (int64_t i = 0; i < nrow && ok; ++i) {
    for (int64_t j = 0; j < ncol && ok; ++j) {
      ok = fprintf_c(s, " %*d", width, data[i + j * nrow]) >= 0;
      if (ok && (j + 1) % 7 == 0 && j + 1 < ncol) ok = fputs("\n    ", s) >= 0;
    }
    ok = ok && PutRowEnd(s, rowNames, i, nameColumn);
  }
  return EndMatrix(file, name, nrow, ncol, ok);
}

int amatPutTextReal(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const float* data,
                    const char* comment, char* const* rowNames, int32_t nameColumn) {
  return PutReal(file, name, nrow, ncol, amatColumns<float>{data, nrow}, comment, rowNames, nameColumn);
}

int amatPutTextRealRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, float* const* rows,
                       const char* comment, char* const* rowNames, int32_t nameColumn) {
  return PutReal(file, name, nrow, ncol, amatRows<float>{rows}, comment, rowNames, nameColumn);
}

int amatPutTextDouble(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const double* data,
                      const char* comment, char* const* rowNames, int32_t nameColumn) {
  return PutDouble(file, name, nrow, ncol, amatColumns<double>{data, nrow}, comment, rowNames, nameColumn);
}

int amatPutTextDoubleRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, double* const* rows,
                         const char* comment, char* const* rowNames, int32_t nameColumn) {
  return PutDouble(file, name, nrow, ncol, amatRows<double>{rows}, comment, rowNames, nameColumn);
}

int amatPutTextChar(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, char* const* rows,
                    const char* comment) {
  int64_t longest = 0;
  for (int64_t k = 0; k < nrow; ++k) {
    int64_t length = rows[k] ? static_cast<int64_t>(strlen(rows[k])) : 0;
    if (length > longest) longest = length;
  }
  // Declaring fewer characters than the longest row would cut that row on reading.
  int32_t width = static_cast<int32_t>(nrow != 0 && ncol > longest ? ncol : longest);
  int result = BeginMatrix(file, name, nrow, width, "char", comment);
  if (result != 0) return result;
  bool ok = true;
  for (int64_t k = 0; k < nrow && ok; ++k)
    ok = (!rows[k] || PutEscaped(file->stream, rows[k])) && fputc('\n', file->stream) != EOF;
  return EndMatrix(file, name, nrow, width, ok);
}

int amatPutRinitText(AmatWriteFile* file) {
  FILE* s = file->stream;
  bool ok = fprintf_c(s, "%s %s", file->rowType == doubleMatrix ? "double" : "float", file->rowName) >= 0;
  // The dimensions go right after the name; the blanks leave room for the row counts to come.
  long at = ok ? ftell(s) : -1;
  ok = at >= 0 && fprintf_c(s, " (0,%d)                             \n", file->rowNcol) >= 0;
  file->rowHeaderPos = at;
  return ok ? 0 : amatRowWiseError(file);
}

int amatPutRrowText(AmatWriteFile* file, const float* row) {
  FILE* s = file->stream;
  int32_t n = file->rowNcol > 0 ? file->rowNcol : 0;
  bool ok = true;
  for (int32_t j = 0; j < n && ok; ++j) {
    ok = fprintf_c(s, " %14.7E", static_cast<double>(row[j])) >= 0;
    if (ok && (j + 1) % 5 == 0 && j + 1 < n) ok = fputs("\n    ", s) >= 0;
  }
  ok = ok && fputc('\n', s) != EOF;
  if (!ok) return amatRowWriteError(file, file->rowsWritten + 1);
  file->rowsWritten += 1;
  // The dimensions are brought up to date in place; a failure there leaves its message but not
  // the row's result (amatPutRclose repeats the update and reports it).
  amatPutRdimsText(file);
  fflush(s);
  return 0;
}

int amatPutRdimsText(AmatWriteFile* file) {
  FILE* s = file->stream;
  long end = ftell(s);
  bool ok = end >= 0 && fseek(s, static_cast<long>(file->rowHeaderPos), SEEK_SET) == 0 &&
            fprintf_c(s, "(%d,%d) ", file->rowsWritten, file->rowNcol) >= 0;
  ok = end >= 0 && fseek(s, end, SEEK_SET) == 0 && ok;
  return ok ? 0 : amatRowWiseError(file);
}
