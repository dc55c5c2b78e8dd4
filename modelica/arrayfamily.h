// What the array operations need to know of each element family, so that their logic is written
// once as templates over the record: the element type and the allocator of fresh elements.
#pragma once

#include "matrixop.h"
#include "workbuffers.h"

template <class Array>
struct ArrayFamily;

template <>
struct ArrayFamily<RealArray> {
  using Element = double;
  static double* Allocate(int n) { return AllocateReals(n); }
};

template <>
struct ArrayFamily<IntegerArray> {
  using Element = int32_t;
  static int32_t* Allocate(int n) { return AllocateIntegers(n); }
};

template <>
struct ArrayFamily<StringArray> {
  using Element = char*;
  static char** Allocate(int n) { return AllocateStrings(n); }
};

// Fresh elements from the work buffers for the shape of a, which must already have its sizes.
template <class Array>
Array WithFreshElements(Array a) {
  a.data = ArrayFamily<Array>::Allocate(AllocatableNrElements(a.ndims, a.dims));
  return a;
}
