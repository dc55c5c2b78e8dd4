#include "amat.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "clocale.h"

char amatMessage[amatMessageSize] = "No message.";
int (*amatStopRequest)(void) = nullptr;

void amatInitMatrix(Amatrix* matrix) {
  if (!matrix) return;
  *matrix = Amatrix{nullptr, 0, 0, voidMatrix, nullptr, 0, 0};
}

void amatSetMatrix(char* name, int32_t nrow, int32_t ncol, AmatType type, void* data, Amatrix* matrix) {
  if (!matrix) return;
  *matrix = Amatrix{name, nrow, ncol, type, data, 0, 0};
}

void amatFreeRows(void** rows, int32_t count) {
  if (!rows) return;
  for (int32_t i = 0; i < count; ++i) {
    free(rows[i]);
    rows[i] = nullptr;
  }
  free(rows);
}

void amatFreeMatrix(Amatrix* matrix) {
  if (!matrix) return;
  free(matrix->name);
  AmatType type = matrix->type;
  if (type == charMatrix || type == realRowMatrix || type == doubleRowMatrix)
    amatFreeRows(static_cast<void**>(matrix->data), matrix->nrow);
  else
    free(matrix->data);
  amatInitMatrix(matrix);
}

void amatSetMessage(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf_c(amatMessage, amatMessageSize, format, arguments);
  va_end(arguments);
}

char* amatCopyText(const char* text) {
  size_t length = strlen(text);
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy) memcpy(copy, text, length + 1);
  return copy;
}

const char* amatTypeWord(AmatType type) {
  switch (type) {
    case integerMatrix: return "integer";
    case realMatrix:
    case realRowMatrix: return "real";
    case doubleMatrix:
    case doubleRowMatrix: return "double";
    case charMatrix: return "char";
    default: return "unknown";
  }
}

const char* amatTypeMember(AmatType type) {
  static const char* const names[] = {"voidMatrix",  "integerMatrix", "realMatrix",     "doubleMatrix",
                                      "charMatrix", "realRowMatrix", "doubleRowMatrix"};
  return type >= 0 && type <= doubleRowMatrix ? names[type] : "unknown";
}

const char* amatSystemError(void) { return strerror(errno ? errno : EIO); }

const char* amatReadError(FILE* stream) {
  return stream && feof(stream) ? "End-Of-File reached." : amatSystemError();
}

int64_t amatRemainingBytes(FILE* stream) {
  long position = ftell(stream);
  if (position < 0 || fseek(stream, 0, SEEK_END) != 0) return INT64_MAX;
  long end = ftell(stream);
  if (fseek(stream, position, SEEK_SET) != 0 || end < 0) return INT64_MAX;
  return end > position ? end - position : 0;
}
