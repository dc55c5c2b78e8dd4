// Small run-time functions behind Modelica built-ins and library conventions that generated code
// calls: animation shape and material codes, memory vectors, enumeration texts and checks, the
// smooth step with its derivatives, and the current evaluation's all-sections flag. Failed checks
// end the evaluation through AssertCondition or RaiseError.
#pragma once

#include "matrixop.h"

extern "C" {

// 101-112 for the named shapes ("box" ... "tire"/"tyre"), else 200 + the text's leading decimal
// integer (0 without one; clamped to the int range).
double ShapeCode(const char* shape);
// R·100000 + G·1000 + B·10 + S from colours and specular reflection nominally in 0..1.
double MaterialCode(double r, double g, double b, double specular);

// The 8 bytes of memory's first element; a memory of sizes 1 and 1 is no vector and fails.
double getMemory(const double* memory, int a, int b);
// Stores value into memory's first element when enable is nonzero; returns 0.
double putMemory(int enable, double* memory, int a, int b, double value);

// names[x] padded to minWidth (< 40) characters, left- or right-justified, in the string area.
const char* EnumToString(int x, int leftJustified, int minWidth, StringArray names);
// toConvert when it lies in 1..maxEnumValue; otherwise fails with message.
int EnumFromInteger(int toConvert, int maxEnumValue, const char* message);

// A smooth step from 0 (x <= -dx) to 1 (x >= dx); a negative dx mirrors it.
double SpliceStep(double x, double dx);
// The time derivative of SpliceStep(x, dx).
double SpliceStepDerivative(double x, double dx, double der_x, double der_dx);
// The time derivative of the blend s·y1 + (1 - s)·y2 with s = SpliceStep(x, dx); a derivative
// whose weight is exactly 0 is not touched.
double SpliceBlendDerivative(double y1, double y2, double x, double dx, double der_y1, double der_y2,
                             double der_x, double der_dx);

// allSections of the record the calling thread evaluates, or of the template without one.
int AllSectionsFlag(void);

}  // extern "C"
