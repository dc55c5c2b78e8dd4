#include "amatget.h"

#include <stdlib.h>
#include <string.h>

#include "amatformat.h"
#include "clocale.h"

namespace {

bool IsRowType(AmatType type) { return type == realRowMatrix || type == doubleRowMatrix; }
bool IsNumericRequest(AmatType type) {
  return type == integerMatrix || type == realMatrix || type == doubleMatrix || IsRowType(type);
}

int NullPointer() {
  amatSetMessage("Unexpected null-pointer");
  return 4;
}

}  // namespace

int amatCheckHeader(const AmatReadFile* file, const Amatrix* h, const Amatrix* required) {
  const char* name = StringOrEmpty(h->name);
  const char* path = StringOrEmpty(file->path);
  const char* head = "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause ";
  char format[256];
  auto fail = [&](int result, const char* reason, auto... values) {
    snprintf(format, sizeof format, "%s%s", head, reason);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    amatSetMessage(format, name, h->nrow, h->ncol, path, values...);
#pragma GCC diagnostic pop
    return result;
  };
  bool storedText = h->type == charMatrix;
  if (IsNumericRequest(required->type) && storedText)
    return fail(2, "matrix should be of type \"integer\", \"real\" or \"double\"\nand not of type \"%.400s\".\n",
                amatTypeWord(h->type));
  if (required->type == charMatrix && !storedText)
    return fail(2, "matrix should be of type \"char\" and not of type \"%.400s\".\n", amatTypeWord(h->type));
  if (h->nrow < 0) {
    amatSetMessage("Wrong row dimension (= %d) of matrix \"%.400s\" on file \"%.400s\".\nDimension must be >= 0.\n",
                   h->nrow, name, path);
    return 4;
  }
  if (h->ncol < 0) {
    amatSetMessage(
        "Wrong column dimension (= %d) of matrix \"%.400s\" on file \"%.400s\".\nDimension must be >= 0.\n",
        h->ncol, name, path);
    return 4;
  }
  if (static_cast<int64_t>(h->nrow) * h->ncol == 0) return fail(1, "number of matrix elements is zero.\n");
  if (required->nrow > 0 && h->nrow != required->nrow)
    return fail(2, "row dimension = %d required.\n", required->nrow);
  if (required->ncol > 0 && h->ncol != required->ncol)
    return fail(2, "column dimension = %d required.\n", required->ncol);
  if (required->nrow < 0 && h->nrow > -static_cast<int64_t>(required->nrow))
    return fail(2, "row dimension <= %d required.\n", -required->nrow);
  if (required->ncol < 0 && h->ncol > -static_cast<int64_t>(required->ncol))
    return fail(2, "column dimension <= %d required.\n", -required->ncol);
  return 0;
}

namespace {

// The type the data are delivered in; voidMatrix for combinations the header check refuses.
AmatType DeliveredType(AmatType requested, AmatType stored, int32_t preferred) {
  if (stored == charMatrix) return requested == voidMatrix || requested == charMatrix ? charMatrix : voidMatrix;
  switch (requested) {
    case voidMatrix:
      if (stored == integerMatrix) return integerMatrix;
      return preferred == realMatrix || preferred == doubleMatrix ? preferred : stored;
    case integerMatrix:
    case realMatrix: return requested;
    case doubleMatrix: return stored == realMatrix ? realMatrix : doubleMatrix;
    case realRowMatrix: return realRowMatrix;
    case doubleRowMatrix: return stored == realMatrix ? realRowMatrix : doubleRowMatrix;
    default: return voidMatrix;
  }
}

int ProgrammingError(const AmatReadFile* file, const Amatrix* h, const Amatrix* caller) {
  amatSetMessage(
      "Programming error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\".\nFunction amatGetMatrix is "
      "called with storage supplied for the\nmatrix data (matrix.data != NULL), but row dimension, column "
      "dimension\nand matrix type are not all predefined\n(matrix.nrow = %d, matrix.ncol = %d, matrix.type = "
      "%.400s)\n",
      StringOrEmpty(h->name), h->nrow, h->ncol, StringOrEmpty(file->path), caller->nrow, caller->ncol,
      amatTypeMember(caller->type));
  return 4;
}

bool PresetsComplete(const Amatrix* caller) {
  return caller->nrow != 0 && (caller->ncol != 0 || caller->type == charMatrix) && caller->type != voidMatrix;
}

// Takes the caller's row matrix over for continued reading: the pointer array grown to the
// stored rows, the new rows allocated. On failure the rows allocated here are released.
int ContinueRows(AmatReadFile* file, Amatrix* c, Amatrix* caller) {
  int64_t stored = c->nrow;
  void** rows = static_cast<void**>(caller->data);
  if (caller->capacity < 0) {
    c->capacity = static_cast<int32_t>(-1 - stored);
    int64_t n = caller->nrow;
    for (int64_t turn = 0; n > 1 && turn < caller->nrow - caller->nextRow; ++turn) {
      void* front = rows[0];
      memmove(rows, rows + 1, static_cast<size_t>(n - 1) * sizeof(void*));
      rows[n - 1] = front;
    }
    if (stored > caller->nrow) {
      void** grown = static_cast<void**>(realloc(rows, static_cast<size_t>(stored) * sizeof(void*)));
      if (!grown) return amatNumericStorageError(file, c);
      rows = grown;
      caller->data = rows;
    }
  } else if (stored > caller->capacity) {
    int64_t capacity = 2 * static_cast<int64_t>(caller->capacity);
    if (capacity < stored) capacity = stored;
    void** grown = static_cast<void**>(realloc(rows, static_cast<size_t>(capacity) * sizeof(void*)));
    if (!grown) return amatNumericStorageError(file, c);
    rows = grown;
    caller->data = rows;
    caller->capacity = c->capacity = static_cast<int32_t>(capacity);
  } else {
    c->capacity = caller->capacity;
  }
  c->data = rows;
  c->nextRow = caller->nextRow;
  size_t width = c->type == doubleRowMatrix ? 8 : 4;
  for (int64_t i = caller->nrow; i < stored; ++i) {
    rows[i] = malloc(static_cast<size_t>(c->ncol > 0 ? c->ncol : 1) * width);
    if (!rows[i]) {
      for (int64_t k = caller->nrow; k < i; ++k) {
        free(rows[k]);
        rows[k] = nullptr;
      }
      c->nrow = caller->nrow;
      return amatNumericStorageError(file, c);
    }
  }
  return 0;
}

// Releases the storage this read allocated: everything (fresh) or only the rows added to the
// caller's row matrix (continued).
void ReleaseStorage(Amatrix* c, bool fresh, int32_t callerRows) {
  if (fresh) {
    char* name = c->name;
    c->name = nullptr;
    amatFreeMatrix(c);
    c->name = name;
  } else if (callerRows >= 0) {
    void** rows = static_cast<void**>(c->data);
    for (int64_t i = callerRows; i < c->nrow; ++i) {
      free(rows[i]);
      rows[i] = nullptr;
    }
  }
}

}  // namespace

int amatGetMatrix(AmatReadFile* file, Amatrix* matrix, int32_t preferredType, const int64_t* position,
                  int32_t trim) {
  if (!file || !matrix || !file->stream) return NullPointer();
  Amatrix* c = &file->current;
  *c = Amatrix{matrix->name, 0, 0, voidMatrix, matrix->data, 0, 0};
  if (position) {
    // The file has grown since the last read: what the stream holds buffered of the header and
    // the rows is stale, and a seek within the buffer would not read it again.
    long here = ftell(file->stream);
    fflush(file->stream);
    if (here >= 0) fseek(file->stream, here, SEEK_SET);
  }
  int result;
  if (file->format == 1)
    result = amatGetBinHeader(file, c, matrix->name);
  else if (file->format == 0)
    result = amatGetTextHeader(file, c, matrix->name);
  else {
    amatSetMessage("Error should never occur when reading file \"%.400s\"\n(FileFormat = %d).\n",
                   StringOrEmpty(file->path), file->format);
    return 4;
  }
  if (result != 0) return result;
  bool ownsName = matrix->name == nullptr;
  auto fail = [&](int code) {
    if (ownsName) free(c->name);
    c->name = nullptr;
    c->data = nullptr;
    return code;
  };
  AmatType stored = c->type;
  if (!position) {
    result = amatCheckHeader(file, c, matrix);
  } else {
    // Continuing trusts nothing the file says: the sizes must fit what the caller holds.
    Amatrix any = *matrix;
    any.nrow = 0, any.ncol = 0;
    result = amatCheckHeader(file, c, &any);
    if (result == 0 && IsRowType(matrix->type) && c->ncol != matrix->ncol) {
      amatSetMessage(
          "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause column dimension = %d "
          "required.\n",
          StringOrEmpty(c->name), c->nrow, c->ncol, StringOrEmpty(file->path), matrix->ncol);
      result = 2;
    }
  }
  if (result == 2 || result == 4) return fail(result);
  bool empty = result == 1;
  if (matrix->type < voidMatrix || matrix->type > doubleRowMatrix) {
    amatSetMessage(
        "Error should never occur when reading matrix \"%.400s(%d,%d)\"\nfrom file \"%.400s\" (matrix->type = %d)\n",
        StringOrEmpty(c->name), c->nrow, c->ncol, StringOrEmpty(file->path), matrix->type);
    return fail(4);
  }
  AmatType delivered = DeliveredType(matrix->type, stored, preferredType);
  if (delivered == voidMatrix) return fail(4);  // only reachable with a position: the kinds differ
  if (empty) {
    if (ownsName) matrix->name = c->name;
    matrix->nrow = 0;
    matrix->ncol = 0;
    matrix->type = delivered;
    c->name = nullptr;
    c->data = nullptr;
    return 1;
  }
  bool fresh = matrix->data == nullptr;
  int32_t addedFrom = -1;  // continued: the first row this read added
  if (fresh) {
    c->type = delivered;
    result = amatPrepareStorage(file, c, stored);
    if (result != 0) return fail(result);
  } else if (position && IsRowType(matrix->type) && matrix->type == delivered) {
    c->type = delivered;
    int32_t callerRows = matrix->nrow;
    result = ContinueRows(file, c, matrix);
    if (result != 0) return fail(result);
    addedFrom = callerRows;
    if (fseek(file->stream, static_cast<long>(*position), SEEK_SET) != 0) {
      ReleaseStorage(c, false, addedFrom);
      return fail(amatNumericStorageError(file, c));
    }
  } else {
    // The caller's storage is sized for its presets, so they must all be given; the data are
    // delivered in the caller's own type.
    if (!PresetsComplete(matrix)) return fail(ProgrammingError(file, c, matrix));
    c->type = matrix->type;
    if (IsRowType(c->type)) c->capacity = c->nrow > 10 ? c->nrow : 10, c->nextRow = 0;
    if (position && fseek(file->stream, static_cast<long>(*position), SEEK_SET) != 0)
      return fail(amatNumericStorageError(file, c));
  }
  result = file->format == 1 ? amatGetBinData(file, c, stored, trim) : amatGetTextData(file, c);
  if (result != 0) {
    ReleaseStorage(c, fresh, addedFrom);
    return fail(result == 2 || result == 3 ? result : 4);
  }
  if (ownsName) matrix->name = c->name;
  matrix->nrow = c->nrow;
  matrix->ncol = c->ncol;
  matrix->type = c->type;
  matrix->capacity = IsRowType(c->type) ? c->capacity : 0;
  matrix->nextRow = IsRowType(c->type) ? c->nextRow : 0;
  matrix->data = c->data;
  c->name = nullptr;
  c->data = nullptr;
  return 0;
}

int amatGetNext(AmatReadFile* file, Amatrix* matrix) { return amatGetMatrix(file, matrix, 0, nullptr, 1); }

void amatGetClose(AmatReadFile* file) {
  if (!file || !file->stream) return;
  fclose(file->stream);
  free(file->path);
  file->classMatrix.name = nullptr;  // a constant text
  amatFreeMatrix(&file->classMatrix);
  file->path = nullptr;
  file->stream = nullptr;
}

namespace {

int OpenError(AmatReadFile* file, int result) {
  amatGetClose(file);
  if (file->stream) fclose(file->stream);
  file->stream = nullptr;
  return result;
}

const char* ClassRow(const Amatrix* m, int row) {
  return StringOrEmpty(static_cast<char**>(m->data)[row]);
}

}  // namespace

int amatGetOpen(const char* fileName, const char* className, const char* version, AmatReadFile* file) {
  if (!file || !fileName) return NullPointer();
  *file = AmatReadFile{};
  FILE* s = fopen(fileName, "r");
  if (!s) {
    amatSetMessage("Not possible to open file \"%.400s\": %.400s\n", fileName, amatSystemError());
    return 5;
  }
  int c = fgetc(s);
  if (c == EOF) {
    amatSetMessage("Error reading first character from file \"%.400s\":\n%.400s\n", fileName, amatReadError(s));
    fclose(s);
    return 5;
  }
  if (c == '#') {
    int second = fgetc(s);
    if (second == EOF) {
      bool end = !ferror(s);
      amatSetMessage("Error reading matrix header from file \"%.400s\":\n%.400s\n", fileName, amatReadError(s));
      fclose(s);
      return end ? 4 : 5;
    }
    if (second != '1') {
      amatSetMessage(
          "Error reading format and version information in first line of \nfile \"%.400s\": \"#%.400s\" expected, "
          "but \"#%c\" found.\n",
          fileName, "1", second);
      fclose(s);
      return 5;
    }
    file->format = 0;
  } else {
    fclose(s);
    s = fopen(fileName, "rb");
    if (!s) {
      amatSetMessage("Not possible to open file \"%.400s\": %.400s\n", fileName, amatSystemError());
      return 5;
    }
    file->format = 1;
  }
  file->stream = s;
  size_t length = strlen(fileName);
  file->path = static_cast<char*>(malloc(length + 1));
  if (!file->path) {
    amatSetMessage("Not possible to allocate enough storage in order to open\nfile \"%.400s\" for reading of "
                   "matrices:\n%.400s\n",
                   fileName, amatSystemError());
    return OpenError(file, 5);
  }
  memcpy(file->path, fileName, length + 1);
  if (className && strcmp(className, "NoClass") == 0) return 0;

  Amatrix* m = &file->classMatrix;
  amatSetMatrix(nullptr, 0, 0, charMatrix, nullptr, m);
  int result = amatGetMatrix(file, m, 0, nullptr, 1);
  if (result != 0) {
    free(m->name);  // an empty first matrix hands its name over
    m->name = nullptr;
    m->data = nullptr;
    m->nrow = 0;
    return OpenError(file, result == 1 || result == 2 ? 1 : result == 3 ? 4 : 5);
  }
  static const char kClass[] = "class", kAclass[] = "Aclass";
  char* found = m->name;
  m->name = strcmp(found, kClass) == 0 ? const_cast<char*>(kClass)
            : strcmp(found, kAclass) == 0 ? const_cast<char*>(kAclass)
                                          : nullptr;
  if (!m->name) {
    amatSetMessage(
        "Not possible to read matrices from file \"%.400s\",\nbecause the first matrix on file (=\"%.400s\")\nhas "
        "not the name \"class\" or \"Aclass\".\n",
        fileName, found);
    free(found);
    return OpenError(file, 2);
  }
  free(found);
  if (m->nrow < 3) {
    amatSetMessage(
        "Not possible to read matrices from file \"%.400s\",\nbecause matrix \"Aclass\" has less than 3 rows.\n(in "
        "the first row the class-name, in the second row\nthe version-number and in the third row the description "
        "text\nmust be stored)\n",
        fileName);
    return OpenError(file, 5);
  }
  if (!className || strcmp(ClassRow(m, 0), className) != 0) {
    amatSetMessage(
        "Not possible to read matrices from file \"%.400s\",\nbecause the class name (= \"%.400s\") does not "
        "correspond to\nthe required class name (= \"%.400s\").\nNote, that the class name is stored in the first "
        "row\nof the first matrix \"Aclass\" on file.\n",
        fileName, ClassRow(m, 0), StringOrEmpty(className));
    return OpenError(file, 2);
  }
  if (version && strcmp(ClassRow(m, 1), version) != 0) {
    amatSetMessage(
        "Not possible to read matrices from file \"%.400s\",\nbecause the version number  (= \"%.400s\") does not "
        "correspond to\nthe required version number (= \"%.400s\").\nNote, that the version number is stored in "
        "the second row\nof the first matrix \"Aclass\" on file.\n",
        fileName, ClassRow(m, 1), version);
    return OpenError(file, 3);
  }
  if (m->nrow >= 4 && strcmp(ClassRow(m, 3), "binTrans") == 0) file->transposed = 1;
  return 0;
}
