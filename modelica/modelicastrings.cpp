#include "modelicastrings.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include <uthash.h>

#include "clocale.h"
#include "modelicautilities.h"

namespace {

// Number texts longer than this are not numbers.
enum { numberTextCapacity = 100 };

// Whether index designates a character of s or its terminator.
bool ValidIndex(const char* s, int index) {
  return s && index >= 1 && static_cast<size_t>(index) - 1 <= strlen(s);
}

char At(const char* s, int index) { return s[index - 1]; }

int MatchUnsignedDigits(const char* s, int index) {
  int count = 0;
  while (isdigit_c(static_cast<unsigned char>(At(s, index + count)))) ++count;
  return count;
}

char* CopyOut(const char* from, int length) {
  char* copy = ModelicaAllocateString(static_cast<size_t>(length));
  memcpy(copy, from, static_cast<size_t>(length));
  copy[length] = '\0';
  return copy;
}

}  // namespace

extern "C" {

int ModelicaStrings_skipWhiteSpace(const char* string, int index) {
  if (!ValidIndex(string, index)) return index;
  while (At(string, index) && isspace_c(static_cast<unsigned char>(At(string, index)))) ++index;
  return index;
}

void ModelicaStrings_scanIdentifier(const char* string, int startIndex, int* nextIndex,
                                    const char** identifier) {
  *nextIndex = startIndex;
  if (!ValidIndex(string, startIndex)) {
    *identifier = ModelicaAllocateString(0);
    return;
  }
  const int i = ModelicaStrings_skipWhiteSpace(string, startIndex);
  if (!isalpha_c(static_cast<unsigned char>(At(string, i)))) {
    *identifier = ModelicaAllocateString(0);
    return;
  }
  int length = 1;
  for (char c; (c = At(string, i + length)) == '_' || isalnum_c(static_cast<unsigned char>(c));) ++length;
  *identifier = CopyOut(&string[i - 1], length);
  *nextIndex = i + length;
}

void ModelicaStrings_scanInteger(const char* string, int startIndex, int isUnsigned, int* nextIndex,
                                 int* value) {
  *nextIndex = startIndex;
  *value = 0;
  if (!ValidIndex(string, startIndex)) return;
  const int i = ModelicaStrings_skipWhiteSpace(string, startIndex);
  const char first = At(string, i);
  const int signLength = first == '+' || first == '-' ? 1 : 0;
  // Only 0 (signed) and 1 (unsigned) select a grammar; any other flag finds nothing.
  if (isUnsigned != 0 && (isUnsigned != 1 || signLength)) return;
  const int digits = MatchUnsignedDigits(string, i + signLength);
  if (digits <= 0 || signLength + digits >= numberTextCapacity) return;
  const char after = At(string, i + signLength + digits);
  if (after == '.' || after == 'e' || after == 'E') return;
  // Our own conversion: an integer beyond the range of int is not found, like one too long.
  int64_t magnitude = 0;
  const int64_t limit = first == '-' ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
  for (int k = 0; k < digits; ++k) {
    magnitude = magnitude * 10 + (At(string, i + signLength + k) - '0');
    if (magnitude > limit) return;
  }
  *value = static_cast<int>(first == '-' ? -magnitude : magnitude);
  *nextIndex = i + signLength + digits;
}

void ModelicaStrings_scanReal(const char* string, int startIndex, int isUnsigned, int* nextIndex,
                              double* value) {
  *nextIndex = startIndex;
  *value = 0.0;
  if (!ValidIndex(string, startIndex)) return;
  const int i = ModelicaStrings_skipWhiteSpace(string, startIndex);
  const char first = At(string, i);
  const int signLength = first == '+' || first == '-' ? 1 : 0;
  if (isUnsigned == 1 && signLength) return;
  int length = signLength + MatchUnsignedDigits(string, i + signLength);
  if (At(string, i + length) == '.') length += 1 + MatchUnsignedDigits(string, i + length + 1);
  const char e = At(string, i + length);
  if (e == 'e' || e == 'E') {
    int exponent = 1;
    const char sign = At(string, i + length + 1);
    if (sign == '+' || sign == '-') exponent += 1;
    const int digits = MatchUnsignedDigits(string, i + length + exponent);
    if (digits == 0) return;
    length += exponent + digits;
  }
  if (length <= 0 || length >= numberTextCapacity) return;
  char text[numberTextCapacity];
  memcpy(text, &string[i - 1], static_cast<size_t>(length));
  text[length] = '\0';
  double number = 0.0;
  if (sscanf_c_lg(text, &number) != 1) return;
  *value = number;
  *nextIndex = i + length;
}

void ModelicaStrings_scanString(const char* string, int startIndex, int* nextIndex,
                                const char** result) {
  *nextIndex = startIndex;
  *result = "";
  if (!ValidIndex(string, startIndex)) {
    *result = ModelicaAllocateString(0);
    return;
  }
  const int i = ModelicaStrings_skipWhiteSpace(string, startIndex);
  int close = 0;
  if (At(string, i) == '"') {
    for (int k = i + 1; At(string, k); ++k) {
      if (At(string, k) == '"' && At(string, k - 1) != '\\') {
        close = k;
        break;
      }
    }
  }
  if (close <= i + 1) {
    *result = ModelicaAllocateString(0);
    return;
  }
  *result = CopyOut(&string[i], close - i - 1);
  *nextIndex = close + 1;
}

int ModelicaStrings_hashString(const char* string) {
  const char* s = StringOrEmpty(string);
  unsigned hash = 0;
  HASH_JEN(s, strlen(s), hash);
  return static_cast<int>(static_cast<int32_t>(hash));
}

ModelicaScanIntegerResult ModelicaWrap_scanInteger(const char* string, int startIndex, int isUnsigned) {
  ModelicaScanIntegerResult r = {startIndex, 0};
  ModelicaStrings_scanInteger(string, startIndex, isUnsigned, &r.nextIndex, &r.value);
  return r;
}

ModelicaScanRealResult ModelicaWrap_scanReal(const char* string, int startIndex, int isUnsigned) {
  ModelicaScanRealResult r = {startIndex, 0.0};
  ModelicaStrings_scanReal(string, startIndex, isUnsigned, &r.nextIndex, &r.value);
  return r;
}

ModelicaScanStringResult ModelicaWrap_scanString(const char* string, int startIndex) {
  ModelicaScanStringResult r = {startIndex, ""};
  ModelicaStrings_scanString(string, startIndex, &r.nextIndex, &r.string);
  return r;
}

ModelicaScanStringResult ModelicaWrap_scanIdentifier(const char* string, int startIndex) {
  ModelicaScanStringResult r = {startIndex, ""};
  ModelicaStrings_scanIdentifier(string, startIndex, &r.nextIndex, &r.string);
  return r;
}

}  // extern "C"

