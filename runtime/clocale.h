// Formatting, conversion and scanning in the "C" locale, whatever locale the host process or
// thread has set: numbers the runtime writes to its files and reads from texts always use a
// decimal point. One process-wide "C" locale object serves every call; when it cannot be
// created the functions fall back to the caller's current locale.
#pragma once

#include <locale.h>
#include <stdarg.h>
#include <stdio.h>

// ---- The locale object -----------------------------------------------------------------------
// The process-wide "C" locale object, created on first use; null when it could not be created
// (it is then not tried again until FreeCLocale).
locale_t GetCLocale(void);
// Releases the object; the next use creates a new one. Called at process detach.
void FreeCLocale(void);

// ---- Formatting ------------------------------------------------------------------------------
// Unbounded: the caller sizes `buffer` for the longest text its format can produce.
int sprintf_c(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
int fprintf_c(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int vfprintf_c(FILE* stream, const char* format, va_list arguments)
    __attribute__((format(printf, 2, 0)));
// Writes at most size - 1 characters and a terminator at buffer[size - 1] (so the text is
// terminated even when cut). Returns the length of the text, or -1 when it was cut or could not
// be formatted. A size of 0 or below writes nothing and returns -1.
int vsnprintf_c(char* buffer, int size, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// ---- Conversion, comparison, character classes -----------------------------------------------
double atof_c(const char* text);
// Integers beyond the range of int saturate at INT_MAX or INT_MIN.
int atoi_c(const char* text);
int atol_c(const char* text);
int stricmp_c(const char* a, const char* b);
// Characters outside 0..255 (EOF included) belong to no class and are returned unchanged by the
// case conversions.
int isalnum_c(int c);
int isalpha_c(int c);
int isdigit_c(int c);
int islower_c(int c);
int isupper_c(int c);
int isspace_c(int c);
int toupper_c(int c);
int tolower_c(int c);
// `text`, or "" when it is null.
const char* StringOrEmpty(const char* text);

// ---- Scanning --------------------------------------------------------------------------------
// Every scan returns the C library's count of assigned targets, negative at end of input.
// sscanf_c and fscanf_c take a literal format with numeric targets (for example "%i/%i/%i",
// " %g,", "%lg %c", " %lg %lg %lg"); a string conversion among them must carry a width that
// fits its buffer ("%255s" into 256 characters). sscanf_c_fmt is the same for a format built at
// run time.
int sscanf_c(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int sscanf_c_fmt(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int fscanf_c(FILE* stream, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// " %d"; an integer beyond the range of int saturates at INT_MAX or INT_MIN.
int sscanf_c_d(const char* text, int* value);
int sscanf_c_lg(const char* text, double* value);  // " %lg"
int fscanf_c_lg(FILE* stream, double* value);      // " %lg"
int fscanf_c_g(FILE* stream, float* value);        // " %g"

// Scans into character buffers, each given with its capacity in bytes (terminator included):
// a field stops at capacity - 1 characters, so no input writes past a buffer. A capacity
// below 2 scans nothing and returns 0.
// "%<n>s": one word, e.g. "%255s" with a capacity of 256.
int sscanf_c_word(const char* text, char* word, int capacity);
// "%<n>s%n": one word and the count of characters consumed up to its end.
int sscanf_c_word_end(const char* text, char* word, int capacity, int* consumed);
// "%lg %<n>s": a number followed by a word (e.g. "%lg %49s" with a capacity of 50).
int sscanf_c_number_word(const char* text, double* value, char* word, int capacity);
// " %[<>=] %s)": a comparison operator and the word after it, up to ')'.
int sscanf_c_relation(const char* text, char* op, int opCapacity, char* word, int wordCapacity);
// "#include \"%[^\"]\"": the quoted name of an include line.
int sscanf_c_include(const char* text, char* name, int capacity);
// "( version = \"%[^\"]\" )": the quoted version text.
int sscanf_c_version(const char* text, char* version, int capacity);
// "%<n>s" from a stream.
int fscanf_c_word(FILE* stream, char* word, int capacity);
// " %[<>=] \"%[^\"]\" %s)" from a stream: operator, quoted text and the word after it.
int fscanf_c_relation(FILE* stream, char* op, int opCapacity, char* quoted, int quotedCapacity,
                      char* word, int wordCapacity);
// "%<n>[^\\[]" (the text before the first '[' or backslash) into `text`, then "%1s" (the next
// non-blank character) into `next`; returns the count of the second scan.
int fscanf_c_until_bracket(FILE* stream, char* text, int capacity, char* next, int nextCapacity);
