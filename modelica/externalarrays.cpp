// Views and the records over C arrays of the three array families.
#include "externalarrays.h"

#include <cassert>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "saturate.h"

namespace {

template <class Array>
Array SubArray(int32_t k, int32_t j, Array a) {
  assert(k >= 0 && k <= a.ndims);
  assert(j >= 0 && j < DimsNrElements(k, a.dims));
  Array view;
  view.ndims = a.ndims - k;
  view.dims = a.dims + k;
  // The offset in the address width: j times the block can pass the int32 range on its way.
  view.data = a.data + static_cast<ptrdiff_t>(j) * DimsNrElements(view.ndims, view.dims);
  return view;
}

}  // namespace

RealArray RealSubArray(int32_t k, int32_t j, RealArray a) { return SubArray(k, j, a); }
IntegerArray IntegerSubArray(int32_t k, int32_t j, IntegerArray a) { return SubArray(k, j, a); }
StringArray StringSubArray(int32_t k, int32_t j, StringArray a) { return SubArray(k, j, a); }

#define FROM_EXTERNAL(Prefix, Array, Element)               \
  Array Prefix##FromExternal(Element* p, int32_t ndims, ...) { \
    va_list sizes;                                          \
    va_start(sizes, ndims);                                 \
    Array a = Prefix##DimsFromArgs(ndims, sizes);           \
    va_end(sizes);                                          \
    a.data = p;                                             \
    return a;                                               \
  }

FROM_EXTERNAL(Real, RealArray, double)
FROM_EXTERNAL(Integer, IntegerArray, int32_t)
FROM_EXTERNAL(String, StringArray, char*)

IntegerArray IntegerFromExternalReal(const double* p, int32_t ndims, ...) {
  va_list sizes;
  va_start(sizes, ndims);
  IntegerArray a = IntegerNewFromArgs(ndims, sizes);
  va_end(sizes);
  int32_t n = IntegerNrElements(a);
  for (int32_t k = 0; k < n; ++k) a.data[k] = SaturatingInt(p[k]);
  return a;
}

void RealCopyToExternal(double* dst, RealArray a) {
  int32_t n = RealNrElements(a);
  if (n > 0) memcpy(dst, a.data, sizeof(double) * static_cast<size_t>(n));
}
