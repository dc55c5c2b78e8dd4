// Value access by value reference: decoding a reference into an array and an index of the
// instance, and the getters and setters of the four value types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fmi2.h"
#include "instance.h"

// Bits 24-27 of a value reference: which array of the instance the index refers to.
enum VariableCategory {
  categoryParameter = 1,
  categoryState = 2,
  categoryDerivative = 3,
  categoryOutput = 4,
  categoryInput = 5,
  categoryAuxiliary = 6,
  categoryString = 8,
  categoryExtra = 11,
  categoryExtra2 = 12,  // the same array as categoryExtra
};

// Highest evaluation level a reference may ask for (demandAll); higher level bits make the
// reference invalid.
constexpr int referenceLevelLimit = 3;

// Characters a String variable holds; its buffer has one more for the terminator.
constexpr int stringValueLimit = 500;

struct ValueReference {
  uint32_t index;  // bits 0-23
  int category;    // bits 24-27
  int level;       // bits 28-31: the DemandCode the model must have reached before the value is read
};

inline ValueReference fmiDecodeReference(fmi2ValueReference vr) {
  return ValueReference{vr & 0xFFFFFFu, static_cast<int>((vr >> 24) & 0xFu), static_cast<int>(vr >> 28)};
}

// The stored double a reference addresses, or null when the reference is not valid for numeric
// access: its category has no numeric array, its index is not below the category's count, or
// its level is above referenceLevelLimit. The spare element behind each array is never
// addressed.
double* fmiNumericValue(const ModelInstance* instance, fmi2ValueReference vr);

// Whether the reference addresses one of the instance's String variables (same rules, category
// categoryString).
bool fmiIsStringReference(const ModelInstance* instance, fmi2ValueReference vr);

// The setters. Values are processed in order; a refused reference ends the call with
// fmi2Warning, the values before it staying set. A null instance, or a null vr or value array
// with nvr > 0, is refused with fmi2Warning and changes nothing.
fmi2Status fmiSetReal(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]);
fmi2Status fmiSetInteger(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Integer value[]);
fmi2Status fmiSetBoolean(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Boolean value[]);
fmi2Status fmiSetString(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]);

// The getters. They evaluate the model first when the values they are asked for are not up to
// date (only up to the level the references need), and deliver the stored values. Integer and
// Boolean reads truncate toward zero and saturate at the int32 range; NaN reads as 0.
fmi2Status fmiGetReal(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]);
fmi2Status fmiGetInteger(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]);
fmi2Status fmiGetBoolean(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]);
// Delivers the addresses of the instance's string buffers, valid until the next call that
// changes that variable, restores a state, resets or frees the instance.
fmi2Status fmiGetString(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]);
