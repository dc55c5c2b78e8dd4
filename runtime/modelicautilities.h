// The ModelicaUtilities interface for external C functions of Modelica libraries: messages and
// warnings become pending information text of the instance being evaluated (a warning carries the
// prefix "Warning: " and a trailing newline), errors take the runtime's error path and end the
// evaluation, and strings come from the calling thread's string area (tempstrings.h).
//
// Formatted texts use the process's current locale and are cut to 3,999 characters.
#pragma once

#include <cstdarg>
#include <cstddef>

extern "C" {

void ModelicaMessage(const char* string);
void ModelicaFormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatMessage(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

void ModelicaWarning(const char* string);
void ModelicaFormatWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatWarning(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

[[noreturn]] void ModelicaError(const char* string);
[[noreturn]] void ModelicaFormatError(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void ModelicaVFormatError(const char* format, va_list args)
    __attribute__((format(printf, 1, 0)));

// Room for length characters and a terminator, the first character set to the terminator. No room
// fails through AssertCondition with "stringmark+len+1<Endsimplestring" and "Room to allocate
// string".
char* ModelicaAllocateString(size_t length);
// The same, but null when there is no room; the area is then left unchanged.
char* ModelicaAllocateStringWithErrorReturn(size_t length);

}  // extern "C"
