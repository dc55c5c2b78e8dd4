// String() of Real, Integer and Boolean values.
//
// Each conversion formats its value without a field width into a small scratch buffer and pads the
// text to the width itself while copying it into the string area. The texts equal printf's "*"
// widths, but a width never reaches printf: a negative one (left adjustment) may be far larger than
// any scratch buffer, and a field that does not fit the area fails as an allocation does.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "clocale.h"
#include "errors.h"
#include "tempstrings.h"

namespace {

const char limitsCondition[] = "precision<40 && minwidth<40";
const char widthCondition[] = "minwidth<40";
const char formatCondition[] = "ValidRealFormat(format)";
const char formatLengthCondition[] = "buf[99]=='\\0'";

// Every conversion formats into this many characters before copying the text into the area.
enum { scratchSize = 100 };

// "%.*g" or "%.*d" of a checked precision: below 40, so the text stays far inside the scratch
// buffer; a negative precision counts as none, as in printf.
char* PaddedReal(double x, int leftJustified, int minimumLength, int precision) {
  AssertCondition(precision < 40 && minimumLength < 40, limitsCondition, "");
  char scratch[scratchSize];
  int length = snprintf(scratch, sizeof scratch, "%.*g", precision, x);
  return StringPadded(scratch, length, leftJustified, minimumLength);
}

char* PaddedInteger(int i, int leftJustified, int minimumLength, int precision) {
  char scratch[scratchSize];
  int length = snprintf(scratch, sizeof scratch, "%.*d", precision, i);
  return StringPadded(scratch, length, leftJustified, minimumLength);
}

// One printf conversion for a double, [flags][width][.precision]conversion. A precision of -1
// means none.
struct RealFormat {
  char flags[6];
  int width;
  int precision;
  char conversion;
};

// Digits saturate at this value. printf's result is the same for every larger width or precision
// (a double has at most 767 significant decimal digits, and any field of 100 or more characters
// fails), so saturating only keeps the numbers within an int.
enum { formatNumberLimit = 1000 };

int ParseFormatNumber(const char** at) {
  int value = 0;
  while (**at >= '0' && **at <= '9') {
    if (value < formatNumberLimit) value = value * 10 + (**at - '0');
    ++*at;
  }
  return value < formatNumberLimit ? value : formatNumberLimit;
}

bool ParseRealFormat(const char* format, RealFormat* out) {
  const char* at = format;
  int flagCount = 0;
  bool seen[5] = {};
  static const char flagCharacters[] = "-+ #0";
  while (*at && strchr(flagCharacters, *at)) {
    int k = static_cast<int>(strchr(flagCharacters, *at) - flagCharacters);
    if (!seen[k]) out->flags[flagCount++] = *at;
    seen[k] = true;
    ++at;
  }
  out->flags[flagCount] = '\0';
  out->width = ParseFormatNumber(&at);
  out->precision = -1;
  if (*at == '.') {
    ++at;
    out->precision = ParseFormatNumber(&at);
  }
  if (!*at || !strchr("eEfFgGaA", *at) || at[1] != '\0') return false;
  out->conversion = *at;
  return true;
}

}  // namespace

char* StringPadded(const char* text, size_t length, int leftJustified, int minimumLength) {
  int64_t width = minimumLength;
  if (width < 0) {
    leftJustified = 1;
    width = -width;
  }
  size_t textLength = length;
  size_t total = static_cast<size_t>(width) > textLength ? static_cast<size_t>(width) : textLength;
  char* result = StringAllocateSize(total);
  size_t pad = total - textLength;
  if (leftJustified) {
    memcpy(result, text, textLength);
    memset(result + textLength, ' ', pad);
  } else {
    memset(result, ' ', pad);
    memcpy(result + pad, text, textLength);
  }
  result[total] = '\0';
  return result;
}

char* RealToString(double x, int leftJustified, int minimumLength, int significantDigits) {
  return PaddedReal(x, leftJustified, minimumLength, significantDigits);
}

char* RealToStringDefault(double x, int leftJustified, int minimumLength) {
  return RealToString(x, leftJustified, minimumLength, 6);
}

char* RealToStringPrecision(double x, int minimumLength, int precision) {
  return PaddedReal(x, 0, minimumLength, precision);
}

char* IntegerToString(int i, int leftJustified, int minimumLength) {
  AssertCondition(minimumLength < 40, widthCondition, "");
  return PaddedInteger(i, leftJustified, minimumLength, -1);
}

char* IntegerToStringPrecision(int i, int minimumLength, int precision) {
  AssertCondition(precision < 40 && minimumLength < 40, limitsCondition, "");
  return PaddedInteger(i, 0, minimumLength, precision);
}

char* BooleanToString(int b, int leftJustified, int minimumLength) {
  AssertCondition(minimumLength < 40, widthCondition, "");
  return b ? StringPadded("true", 4, leftJustified, minimumLength)
           : StringPadded("false", 5, leftJustified, minimumLength);
}

char* RealToStringFormat(double x, const char* format) {
  // The format with its percent sign is made first and stays in the area like any temporary.
  const char* withPercent = StringConcat("%", format);
  // The caller's format never reaches printf as it stands: only one conversion for a double,
  // rebuilt from its parts, so no other argument is ever read or written.
  RealFormat parsed;
  if (!ParseRealFormat(withPercent + 1, &parsed)) {
    char message[200];
    snprintf(message, sizeof message,
             "Format \"%.60s\" is not [flags][width][.precision] followed by one of e E f F g G a A",
             StringOrEmpty(format));
    AssertCondition(0, formatCondition, message);
  }
  char printfFormat[16];
  snprintf(printfFormat, sizeof printfFormat, "%%%s*.*%c", parsed.flags, parsed.conversion);
  char scratch[scratchSize];
  int length = snprintf(scratch, sizeof scratch, printfFormat, parsed.width, parsed.precision, x);
  AssertCondition(length >= 0 && length < scratchSize, formatLengthCondition, "");
  return StringPadded(scratch, length, 0, 0);
}
