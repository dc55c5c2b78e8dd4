// Array records over storage they do not own: views of an array under fixed leading subscripts,
// and records that wrap plain C arrays for external C functions.
//
// Nothing here checks its arguments; keeping a view or a wrapped C array valid is the caller's
// contract. A view shares a's elements and the tail of a's sizes vector: changes through either
// show in both. A wrapped C array gets its own sizes in the thread's Sizebuffer and uses the C
// elements (double, int32_t or char*, row-major) in place; they must hold the whole shape.
#pragma once

#include <cstdint>

#include "matrixop.h"

// The j-th block (0-based, row-major) of a cut along its first k dimensions: ndims a.ndims - k,
// the sizes &a.dims[k], the elements from &a.data[j * block]. Needs 0 <= k <= a.ndims and
// 0 <= j < the product of a's first k sizes.
RealArray RealSubArray(int32_t k, int32_t j, RealArray a);
IntegerArray IntegerSubArray(int32_t k, int32_t j, IntegerArray a);
StringArray StringSubArray(int32_t k, int32_t j, StringArray a);

// A record over the C elements p with ndims and the ndims int32_t sizes that follow.
RealArray RealFromExternal(double* p, int32_t ndims, ...);
IntegerArray IntegerFromExternal(int32_t* p, int32_t ndims, ...);
StringArray StringFromExternal(char** p, int32_t ndims, ...);

// A new Integer array in the work buffers of the shape that follows, holding the C doubles p
// truncated toward zero; beyond the int32 range they saturate, NaN gives 0.
IntegerArray IntegerFromExternalReal(const double* p, int32_t ndims, ...);

// Copies a's elements in storage order to dst, which must have room for them.
void RealCopyToExternal(double* dst, RealArray a);
