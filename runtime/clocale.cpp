#include "clocale.h"

#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>

#include <atomic>

namespace {
std::atomic<locale_t> cLocale{nullptr};
// Set at load and by FreeCLocale: the object has not been created yet.
std::atomic<int> cLocalePending{1};

// The C library has no locale-taking printf or scanf: the "C" object becomes the calling
// thread's locale for the duration of one standard call. Returns the locale to restore, or
// null when there is nothing to restore (no object: the call runs in the current locale).
locale_t EnterCLocale(void) {
  locale_t c = GetCLocale();
  return c ? uselocale(c) : static_cast<locale_t>(nullptr);
}

void LeaveCLocale(locale_t previous) {
  if (previous) uselocale(previous);
}

int ClampToInt(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int ScanString(const char* text, const char* format, va_list arguments) {
  locale_t previous = EnterCLocale();
  int count = vsscanf(text, format, arguments);
  LeaveCLocale(previous);
  return count;
}

int ScanStream(FILE* stream, const char* format, va_list arguments) {
  locale_t previous = EnterCLocale();
  int count = vfscanf(stream, format, arguments);
  LeaveCLocale(previous);
  return count;
}

// The scan formats of the bounded members get their widths from the buffer capacities, so a
// long field stops at the end of its buffer instead of running past it.
const int kFormatSize = 64;
}  // namespace

locale_t GetCLocale(void) {
  if (cLocalePending.load(std::memory_order_acquire)) {
    // Two threads may get here at once on first use: the one that stores first wins and the
    // other releases its own object.
    locale_t created = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    locale_t expected = nullptr;
    if (created && !cLocale.compare_exchange_strong(expected, created)) freelocale(created);
    // A failed creation is not retried: the members then use the current locale.
    cLocalePending.store(0, std::memory_order_release);
  }
  return cLocale.load(std::memory_order_acquire);
}

void FreeCLocale(void) {
  locale_t object = cLocale.exchange(nullptr);
  if (object) freelocale(object);
  cLocalePending.store(1, std::memory_order_release);
}

// ---- Formatting ------------------------------------------------------------------------------

int sprintf_c(char* buffer, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  locale_t previous = EnterCLocale();
  int written = vsprintf(buffer, format, arguments);
  LeaveCLocale(previous);
  va_end(arguments);
  return written;
}

int fprintf_c(FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int written = vfprintf_c(stream, format, arguments);
  va_end(arguments);
  return written;
}

int vfprintf_c(FILE* stream, const char* format, va_list arguments) {
  locale_t previous = EnterCLocale();
  int written = vfprintf(stream, format, arguments);
  LeaveCLocale(previous);
  return written;
}

int vsnprintf_c(char* buffer, int size, const char* format, va_list arguments) {
  if (!buffer || size <= 0) return -1;
  locale_t previous = EnterCLocale();
  int length = vsnprintf(buffer, static_cast<size_t>(size), format, arguments);
  LeaveCLocale(previous);
  buffer[size - 1] = '\0';
  // The C library returns the full length of a cut text; callers test for a negative count.
  return (length < 0 || length > size - 1) ? -1 : length;
}

// ---- Conversion, comparison, character classes -----------------------------------------------

double atof_c(const char* text) {
  locale_t c = GetCLocale();
  return c ? strtod_l(text, nullptr, c) : strtod(text, nullptr);
}

int atoi_c(const char* text) {
  locale_t c = GetCLocale();
  // strtol saturates at the range of long; the int result saturates in turn.
  return ClampToInt(c ? strtol_l(text, nullptr, 10, c) : strtol(text, nullptr, 10));
}

int atol_c(const char* text) { return atoi_c(text); }

int stricmp_c(const char* a, const char* b) {
  locale_t c = GetCLocale();
  return c ? strcasecmp_l(a, b, c) : strcasecmp(a, b);
}

// The C library's class tables are defined for EOF and the values of unsigned char only.
#define QUENZEL_CLASS_MEMBER(name)                   \
  int name##_c(int ch) {                             \
    if (ch < 0 || ch > UCHAR_MAX) return 0;          \
    locale_t c = GetCLocale();                       \
    return c ? name##_l(ch, c) : name(ch);           \
  }
#define QUENZEL_CASE_MEMBER(name)                    \
  int name##_c(int ch) {                             \
    if (ch < 0 || ch > UCHAR_MAX) return ch;         \
    locale_t c = GetCLocale();                       \
    return c ? name##_l(ch, c) : name(ch);           \
  }
QUENZEL_CLASS_MEMBER(isalnum)
QUENZEL_CLASS_MEMBER(isalpha)
QUENZEL_CLASS_MEMBER(isdigit)
QUENZEL_CLASS_MEMBER(islower)
QUENZEL_CLASS_MEMBER(isupper)
QUENZEL_CLASS_MEMBER(isspace)
QUENZEL_CASE_MEMBER(toupper)
QUENZEL_CASE_MEMBER(tolower)
#undef QUENZEL_CLASS_MEMBER
#undef QUENZEL_CASE_MEMBER

const char* StringOrEmpty(const char* text) { return text ? text : ""; }

// ---- Scanning --------------------------------------------------------------------------------

int sscanf_c(const char* text, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int count = ScanString(text, format, arguments);
  va_end(arguments);
  return count;
}

int sscanf_c_fmt(const char* text, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int count = ScanString(text, format, arguments);
  va_end(arguments);
  return count;
}

int fscanf_c(FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int count = ScanStream(stream, format, arguments);
  va_end(arguments);
  return count;
}

int sscanf_c_d(const char* text, int* value) {
  // Scanned as long, whose conversion saturates, so that an overlong integer saturates too
  // instead of wrapping around.
  long wide = 0;
  int count = sscanf_c(text, " %ld", &wide);
  if (count == 1) *value = ClampToInt(wide);
  return count;
}

int sscanf_c_lg(const char* text, double* value) { return sscanf_c(text, " %lg", value); }

int fscanf_c_lg(FILE* stream, double* value) { return fscanf_c(stream, " %lg", value); }

int fscanf_c_g(FILE* stream, float* value) { return fscanf_c(stream, " %g", value); }

int sscanf_c_word(const char* text, char* word, int capacity) {
  if (capacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "%%%ds", capacity - 1);
  return sscanf_c_fmt(text, format, word);
}

int sscanf_c_word_end(const char* text, char* word, int capacity, int* consumed) {
  if (capacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "%%%ds%%n", capacity - 1);
  return sscanf_c_fmt(text, format, word, consumed);
}

int sscanf_c_number_word(const char* text, double* value, char* word, int capacity) {
  if (capacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "%%lg %%%ds", capacity - 1);
  return sscanf_c_fmt(text, format, value, word);
}

int sscanf_c_relation(const char* text, char* op, int opCapacity, char* word, int wordCapacity) {
  if (opCapacity < 2 || wordCapacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, " %%%d[<>=] %%%ds)", opCapacity - 1, wordCapacity - 1);
  return sscanf_c_fmt(text, format, op, word);
}

int sscanf_c_include(const char* text, char* name, int capacity) {
  if (capacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "#include \"%%%d[^\"]\"", capacity - 1);
  return sscanf_c_fmt(text, format, name);
}

int sscanf_c_version(const char* text, char* version, int capacity) {
  if (capacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "( version = \"%%%d[^\"]\" )", capacity - 1);
  return sscanf_c_fmt(text, format, version);
}

int fscanf_c_word(FILE* stream, char* word, int capacity) {
  if (capacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "%%%ds", capacity - 1);
  return fscanf_c(stream, format, word);
}

int fscanf_c_relation(FILE* stream, char* op, int opCapacity, char* quoted, int quotedCapacity,
                      char* word, int wordCapacity) {
  if (opCapacity < 2 || quotedCapacity < 2 || wordCapacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, " %%%d[<>=] \"%%%d[^\"]\" %%%ds)", opCapacity - 1,
           quotedCapacity - 1, wordCapacity - 1);
  return fscanf_c(stream, format, op, quoted, word);
}

int fscanf_c_until_bracket(FILE* stream, char* text, int capacity, char* next, int nextCapacity) {
  if (capacity < 2 || nextCapacity < 2) return 0;
  char format[kFormatSize];
  snprintf(format, sizeof format, "%%%d[^\\[]", capacity - 1);
  fscanf_c(stream, format, text);
  return fscanf_c(stream, "%1s", next);
}
