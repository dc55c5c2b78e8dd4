// The Modelica Standard Library's string scanners and string hash, under their published names,
// with the wrappers generated code calls. Indices are 1-based (the terminator's index is the
// length + 1); character classes and numbers follow the "C" locale. The scanners never fail: they
// report "not found" with nextIndex equal to startIndex and an empty or zero value. A start index
// outside 1..length + 1 finds nothing.
#pragma once

extern "C" {

int ModelicaStrings_skipWhiteSpace(const char* string, int index);
// A letter followed by letters, digits and underscores.
void ModelicaStrings_scanIdentifier(const char* string, int startIndex, int* nextIndex,
                                    const char** identifier);
// An optional sign (refused when isUnsigned is 1) and at most 99 characters of digits, not followed
// by ".", "e" or "E", whose value fits an int. An isUnsigned other than 0 or 1 finds nothing.
void ModelicaStrings_scanInteger(const char* string, int startIndex, int isUnsigned, int* nextIndex,
                                 int* value);
// Sign, digits, an optional point with digits, an optional exponent with at least one digit: "1.",
// ".5" and "1.e3" are numbers; ".", "-" and "1e" are not.
void ModelicaStrings_scanReal(const char* string, int startIndex, int isUnsigned, int* nextIndex,
                              double* value);
// A non-empty text between double quotes; a quote right after a backslash does not end it, and
// escapes are kept as written.
void ModelicaStrings_scanString(const char* string, int startIndex, int* nextIndex,
                                const char** result);
// Bob Jenkins' 1996 hash of the string's bytes, as a signed int (the file cache's key hash).
int ModelicaStrings_hashString(const char* string);

struct ModelicaScanIntegerResult {
  int nextIndex;
  int value;
};
struct ModelicaScanRealResult {
  int nextIndex;
  double value;
};
struct ModelicaScanStringResult {
  int nextIndex;
  const char* string;
};

ModelicaScanIntegerResult ModelicaWrap_scanInteger(const char* string, int startIndex, int isUnsigned);
ModelicaScanRealResult ModelicaWrap_scanReal(const char* string, int startIndex, int isUnsigned);
ModelicaScanStringResult ModelicaWrap_scanString(const char* string, int startIndex);
ModelicaScanStringResult ModelicaWrap_scanIdentifier(const char* string, int startIndex);

}  // extern "C"
