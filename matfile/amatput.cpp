#include "amatput.h"

#include <stdlib.h>
#include <string.h>

#include "amatformat.h"
#include "clocale.h"

namespace {

int NullPointer() {
  amatSetMessage("Unexpected null-pointer");
  return 4;
}

int FormatError(const AmatWriteFile* file, const char* name) {
  amatSetMessage("Error should never occur when writing matrix \"%.400s\" to\nfile \"%.400s\" (file.format = %d)\n",
                 StringOrEmpty(name), StringOrEmpty(file->path), file->format);
  return 1;
}

}  // namespace

int amatRowWiseError(const AmatWriteFile* file) {
  amatSetMessage("Error when writing matrix \"%.400s\" row-wise to file \"%.400s\":\n%.400s\n",
                 StringOrEmpty(file->rowName), StringOrEmpty(file->path), amatSystemError());
  return 1;
}

int amatRowWriteError(const AmatWriteFile* file, int32_t row) {
  amatSetMessage("Error when writing row %d of matrix \"%.400s\" row-wise\nto file \"%.400s\": %.400s\n", row,
                 StringOrEmpty(file->rowName), StringOrEmpty(file->path), amatSystemError());
  return 1;
}

int amatPutOpen(const char* fileName, int32_t format, int32_t bstruct, const char* className, const char* version,
                const char* description, AmatWriteFile* file) {
  if (!file) return NullPointer();
  *file = AmatWriteFile{};
  file->format = format;
  // Any other value would give a text file whose matrices the writers put in binary.
  if (format != 0 && format != 1) {
    amatSetMessage("Error opening file \"%.400s\": format %d is neither 0 (text) nor 1 (binary)\n",
                   StringOrEmpty(fileName), format);
    return 1;
  }
  if (fileName && fileName[0]) {
    file->stream = fopen(fileName, format == 1 ? "wb" : "w");
    if (!file->stream) {
      amatSetMessage("Error opening file \"%.400s\": %.400s\n", fileName, amatSystemError());
      return 1;
    }
    file->ownsStream = 1;
    file->path = amatCopyText(fileName);
    if (!file->path) {
      amatSetMessage(
          "Not possible to allocate enough storage in order to open\nfile \"%.400s\" for writing of matrices:\n"
          "%.400s\n",
          fileName, amatSystemError());
      fclose(file->stream);
      file->stream = nullptr;
      return 1;
    }
  } else {
    file->stream = stdout;
  }
  bool ok = format != 0 || fputs("#1\n", file->stream) >= 0;
  if (ok && className && className[0]) {
    char binTrans[] = "binTrans", binNormal[] = "binNormal", blank[] = " ";
    char* rows[4] = {const_cast<char*>(className), version ? const_cast<char*>(version) : blank,
                     description ? const_cast<char*>(description) : blank, bstruct ? binTrans : binNormal};
    char name[] = "Aclass";
    Amatrix aclass;
    amatSetMatrix(name, format == 1 ? 4 : 3, 0, charMatrix, rows, &aclass);
    ok = amatPutMatrixFull(file, aclass, nullptr, nullptr, 0, ' ') == 0;
  }
  if (!ok) {
    amatSetMessage("Error writing class description of class \"%.400s\" to\nfile \"%.400s\":\n%.400s\n",
                   StringOrEmpty(className), StringOrEmpty(fileName), amatSystemError());
    amatPutClose(file);
    return 1;
  }
  file->bstruct = bstruct;
  return 0;
}

int amatPutCloseChecked(AmatWriteFile* file) {
  if (!file || !file->stream) return 0;
  // Standard output belongs to the host: it is flushed, never closed.
  int failed = file->ownsStream ? fclose(file->stream) : fflush(file->stream);
  if (failed != 0)
    amatSetMessage("Error when closing file \"%.400s\":\n%.400s\n", StringOrEmpty(file->path), amatSystemError());
  free(file->path);
  free(file->rowName);
  file->path = nullptr;
  file->rowName = nullptr;
  file->stream = nullptr;
  return failed != 0 ? 1 : 0;
}

void amatPutClose(AmatWriteFile* file) { amatPutCloseChecked(file); }

int amatPutMatrixFull(AmatWriteFile* file, Amatrix m, const char* comment, char* const* rowNames,
                      int32_t nameColumn, char pad) {
  if (!file || !file->stream || !m.name) return NullPointer();
  bool elements = m.nrow > 0 && (m.ncol > 0 || m.type == charMatrix);
  if (elements && !m.data && m.type > voidMatrix && m.type <= doubleRowMatrix) return NullPointer();
  if (file->rowName) {
    // The binary header record holds the row-wise matrix's header until amatPutRclose.
    amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nmatrix \"%.400s\" is being "
                   "written row-wise (amatPutRclose not yet called).\n",
                   m.name, m.nrow, m.ncol, StringOrEmpty(file->path), file->rowName);
    return 1;
  }
  if (m.nrow < 0 || m.ncol < 0) {
    amatSetMessage("Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nDimensions must be >= 0.\n",
                   m.name, m.nrow, m.ncol, StringOrEmpty(file->path));
    return 1;
  }
  bool binary = file->format != 0;
  switch (m.type) {
    case integerMatrix:
      return binary ? amatPutBinInteger(file, m.name, m.nrow, m.ncol, static_cast<const int32_t*>(m.data))
                    : amatPutTextInteger(file, m.name, m.nrow, m.ncol, static_cast<const int32_t*>(m.data), comment,
                                         rowNames, nameColumn);
    case realMatrix:
      return binary ? amatPutBinReal(file, m.name, m.nrow, m.ncol, static_cast<const float*>(m.data))
                    : amatPutTextReal(file, m.name, m.nrow, m.ncol, static_cast<const float*>(m.data), comment,
                                      rowNames, nameColumn);
    case doubleMatrix:
      return binary ? amatPutBinDouble(file, m.name, m.nrow, m.ncol, static_cast<const double*>(m.data))
                    : amatPutTextDouble(file, m.name, m.nrow, m.ncol, static_cast<const double*>(m.data), comment,
                                        rowNames, nameColumn);
    case charMatrix:
      return binary ? amatPutBinChar(file, m.name, m.nrow, m.ncol, static_cast<char* const*>(m.data), pad)
                    : amatPutTextChar(file, m.name, m.nrow, m.ncol, static_cast<char* const*>(m.data), comment);
    case realRowMatrix:
      return binary ? amatPutBinRealRow(file, m.name, m.nrow, m.ncol, static_cast<float* const*>(m.data))
                    : amatPutTextRealRow(file, m.name, m.nrow, m.ncol, static_cast<float* const*>(m.data), comment,
                                         rowNames, nameColumn);
    case doubleRowMatrix:
      return binary ? amatPutBinDoubleRow(file, m.name, m.nrow, m.ncol, static_cast<double* const*>(m.data))
                    : amatPutTextDoubleRow(file, m.name, m.nrow, m.ncol, static_cast<double* const*>(m.data),
                                           comment, rowNames, nameColumn);
    case voidMatrix:
      amatSetMessage(
          "Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nThe datatype of the matrix is not "
          "specified (matrix.type = voidMatrix).\n",
          m.name, m.nrow, m.ncol, StringOrEmpty(file->path));
      return 1;
    default:
      amatSetMessage(
          "Error should never occur when writing matrix \"%.400s(%d,%d)\" to\nfile \"%.400s\" (matrix.type = %d)\n",
          m.name, m.nrow, m.ncol, StringOrEmpty(file->path), m.type);
      return 1;
  }
}

int amatPutMatrixComment(AmatWriteFile* file, Amatrix matrix, const char* comment, char* const* rowNames,
                         int32_t nameColumn) {
  return amatPutMatrixFull(file, matrix, comment, rowNames, nameColumn, ' ');
}

int amatPutMatrix(AmatWriteFile* file, Amatrix matrix) {
  return amatPutMatrixFull(file, matrix, nullptr, nullptr, 0, ' ');
}

int amatPutMatrixPad(AmatWriteFile* file, Amatrix matrix, char pad) {
  return amatPutMatrixFull(file, matrix, nullptr, nullptr, 0, pad);
}

int amatPutMatrixFile(const char* fileName, int32_t format, Amatrix matrix) {
  AmatWriteFile file;
  if (amatPutOpen(fileName, format, 0, "", "", "", &file) != 0) return 1;
  int written = amatPutMatrixFull(&file, matrix, nullptr, nullptr, 0, ' ');
  if (written != 0) {
    amatPutClose(&file);
    return 1;
  }
  return amatPutCloseChecked(&file);
}

int amatPutRinit(AmatWriteFile* file, const char* name, int32_t ncol, AmatType type) {
  if (!file || !name) return NullPointer();
  if (!file->ownsStream || !file->stream) {
    amatSetMessage("Not possible to use functions amatPutRxxx, in order to write\n");
    return 1;
  }
  if (type == realRowMatrix) type = realMatrix;
  if (type == doubleRowMatrix) type = doubleMatrix;
  if (type != realMatrix && type != doubleMatrix) {
    amatSetMessage(
        "Wrong argument \"type\" (= %d) in function amatPutRinit,\nwhen initializing writing of matrix \"%.400s\" "
        "to file \"%.400s\".\n(type = realMatrix or doubleMatrix required).\n",
        type, name, StringOrEmpty(file->path));
    return 1;
  }
  if (file->bstruct != 1) {
    amatSetMessage(
        "In order to write matrix \"%.400s\" row-wise to file \"%.400s\",\nthe file has to be opened with \"bstruct "
        "= binTrans\" and not\nwith \"bstruct = binNormal\" (function amatPutOpen).\n",
        name, StringOrEmpty(file->path));
    return 1;
  }
  if (file->format == 0 && strlen(name) > amatTextNameLimit) {
    amatSetMessage("Error when writing matrix \"%.400s\" row-wise to file \"%.400s\":\n%.400s\n", name,
                   StringOrEmpty(file->path), "the name is longer than 100 characters, which a text file cannot hold");
    return 1;
  }
  if (file->format != 0 && file->format != 1) return FormatError(file, name);
  char* copy = amatCopyText(name);
  if (!copy) {
    amatSetMessage(
        "Not possible to allocate enough storage in order to open\nfile \"%.400s\" for writing of matrix "
        "\"%.400s\":\n%.400s\n",
        StringOrEmpty(file->path), name, amatSystemError());
    return 1;
  }
  free(file->rowName);
  file->rowName = copy;
  file->rowType = type;
  file->rowNcol = ncol;
  file->rowsWritten = 0;
  return file->format == 0 ? amatPutRinitText(file) : amatPutRinitBin(file);
}

int amatPutRrow(AmatWriteFile* file, const float* row) {
  if (!file || !file->stream || (!row && file->rowNcol > 0)) return NullPointer();
  if (!file->rowName) {
    amatSetMessage("Error when writing a row to file \"%.400s\": no row-wise matrix started (amatPutRinit).\n",
                   StringOrEmpty(file->path));
    return 1;
  }
  if (file->format == 0) return amatPutRrowText(file, row);
  if (file->format != 1) return FormatError(file, file->rowName);
  FILE* s = file->stream;
  int32_t n = file->rowNcol > 0 ? file->rowNcol : 0;
  bool ok = true;
  if (file->rowType == doubleMatrix) {
    // The header declares float64: the values are stored widened.
    double block[512];
    for (int32_t j = 0; j < n && ok;) {
      int32_t chunk = n - j < 512 ? n - j : 512;
      for (int32_t k = 0; k < chunk; ++k) block[k] = row[j + k];
      ok = fwrite(block, sizeof(double), static_cast<size_t>(chunk), s) == static_cast<size_t>(chunk);
      j += chunk;
    }
  } else {
    ok = n == 0 || fwrite(row, sizeof(float), static_cast<size_t>(n), s) == static_cast<size_t>(n);
  }
  if (!ok) return amatRowWriteError(file, file->header[2] + 1);
  // The header is brought up to date in place; a failure there leaves its message but not the
  // row's result (amatPutRclose repeats the update and reports it).
  file->header[2] += 1;
  amatPutRdimsBin(file);
  fflush(s);
  return 0;
}

int amatPutRclose(AmatWriteFile* file) {
  // Without a started row-wise matrix there is nothing to bring up to date.
  if (!file || !file->stream || !file->rowName) return 0;
  int result;
  if (file->format == 1) {
    result = amatPutRdimsBin(file);
  } else if (file->format == 0) {
    result = fputc('\n', file->stream) != EOF ? amatPutRdimsText(file) : amatRowWiseError(file);
  } else {
    result = FormatError(file, file->rowName);
  }
  if (result == 0 && fflush(file->stream) != 0) result = amatRowWiseError(file);
  free(file->rowName);
  file->rowName = nullptr;
  return result;
}
