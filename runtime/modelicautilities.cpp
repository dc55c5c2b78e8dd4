#include "modelicautilities.h"

#include <cstdio>

#include "errors.h"
#include "clocale.h"
#include "messages.h"
#include "tempstrings.h"

namespace {

// Every formatted text is cut to formatBufferSize - 1 characters.
enum { formatBufferSize = 4000 };

void FormatInto(char (&buffer)[formatBufferSize], const char* format, va_list args) {
  if (!format || vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
  buffer[formatBufferSize - 1] = '\0';
}

}  // namespace

extern "C" {

void ModelicaMessage(const char* string) { LogInfo(StringOrEmpty(string)); }

void ModelicaFormatMessage(const char* format, ...) {
  char buffer[formatBufferSize];
  va_list args;
  va_start(args, format);
  FormatInto(buffer, format, args);
  va_end(args);
  LogInfo(buffer);
}

void ModelicaVFormatMessage(const char* format, va_list args) {
  char buffer[formatBufferSize];
  FormatInto(buffer, format, args);
  ModelicaFormatMessage("%s", buffer);
}

void ModelicaWarning(const char* string) { ModelicaFormatWarning("%s", StringOrEmpty(string)); }

void ModelicaFormatWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatWarning(format, args);
  va_end(args);
}

void ModelicaVFormatWarning(const char* format, va_list args) {
  char buffer[formatBufferSize];
  FormatInto(buffer, format, args);
  ModelicaFormatMessage("Warning: %s\n", buffer);
}

void ModelicaError(const char* string) { RaiseError(StringOrEmpty(string)); }

void ModelicaFormatError(const char* format, ...) {
  char buffer[formatBufferSize];
  va_list args;
  va_start(args, format);
  FormatInto(buffer, format, args);
  va_end(args);
  RaiseError(buffer);
}

void ModelicaVFormatError(const char* format, va_list args) {
  char buffer[formatBufferSize];
  FormatInto(buffer, format, args);
  ModelicaFormatError("%s", buffer);
}

char* ModelicaAllocateString(size_t length) {
  char* string = StringAllocateSize(length);
  string[0] = '\0';
  return string;
}

char* ModelicaAllocateStringWithErrorReturn(size_t length) {
  return StringFits(length) ? ModelicaAllocateString(length) : nullptr;
}

}  // extern "C"
