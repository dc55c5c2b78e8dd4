// Array records: element counts, shapes, the row-major index and the constructors of the three
// families. The logic exists once, as templates over the record; the named entry points of each
// family are stamped out by ARRAY_FAMILY at the end of the file.
#include <climits>
#include <cstring>

#include "errors.h"
#include "matrixop.h"
#include "tempstrings.h"
#include "workbuffers.h"

namespace {

// The element allocators of each family, from the work buffers and from the pools.
template <class Array>
struct Storage;

template <>
struct Storage<RealArray> {
  static double* Temporary(int n) { return AllocateReals(n); }
  static double* Permanent(int n) { return AllocateRealsNon(n); }
};

template <>
struct Storage<IntegerArray> {
  static int32_t* Temporary(int n) { return AllocateIntegers(n); }
  static int32_t* Permanent(int n) { return AllocateIntegersNon(n); }
};

template <>
struct Storage<StringArray> {
  static char** Temporary(int n) { return AllocateStrings(n); }
  static char** Permanent(int n) { return AllocateStringsNon(n); }
};

// Where a constructor takes its sizes and elements.
enum Lifetime { temporary, permanent };

// A request no buffer can grant, so that the allocator refuses a shape that is outside the data
// model with its own texts.
const int unallocatable = INT_MAX;

// Size slots for ndims dimensions; a negative ndims is refused like sizes that do not fit.
int32_t* Sizes(Lifetime lifetime, int32_t ndims) {
  int n = ndims < 0 ? unallocatable : ndims;
  return lifetime == permanent ? AllocateSizesNon(n) : AllocateSizes(n);
}

template <class Array>
auto Elements(Lifetime lifetime, int n) {
  return lifetime == permanent ? Storage<Array>::Permanent(n) : Storage<Array>::Temporary(n);
}

template <class Array>
Array DimsFromArgs(Lifetime lifetime, int32_t ndims, va_list sizes) {
  Array a;
  a.ndims = ndims;
  a.dims = Sizes(lifetime, ndims);
  for (int32_t k = 0; k < ndims; ++k) a.dims[k] = va_arg(sizes, int32_t);
  a.data = nullptr;
  return a;
}

template <class Array>
Array WithElements(Lifetime lifetime, Array a) {
  a.data = Elements<Array>(lifetime, ElementsToAllocate(a.ndims, a.dims));
  return a;
}

template <class Array>
Array NewFromArgs(Lifetime lifetime, int32_t ndims, va_list sizes) {
  return WithElements(lifetime, DimsFromArgs<Array>(lifetime, ndims, sizes));
}

template <class Array>
Array NewLike(Array a) {
  Array result;
  result.ndims = a.ndims;
  result.dims = Sizes(temporary, a.ndims);
  if (a.ndims > 0) memcpy(result.dims, a.dims, sizeof(int32_t) * static_cast<size_t>(a.ndims));
  return WithElements(temporary, result);
}

template <class Array>
Array NewMatrix(int32_t rows, int32_t cols) {
  Array a;
  a.ndims = 2;
  a.dims = Sizes(temporary, 2);
  a.dims[0] = rows;
  a.dims[1] = cols;
  return WithElements(temporary, a);
}

template <class Array>
Array NewVector(int32_t n) {
  Array a;
  a.ndims = 1;
  a.dims = Sizes(temporary, 1);
  a.dims[0] = n;
  return WithElements(temporary, a);
}

template <class Array>
int MatchingSizes(Array a, Array b) {
  if (a.ndims != b.ndims) return 0;
  for (int32_t k = 0; k < a.ndims; ++k)
    if (a.dims[k] != b.dims[k]) return 0;
  return 1;
}

}  // namespace

int ElementsToAllocate(int32_t ndims, const int32_t* dims) {
  // In 32-bit arithmetic the count could wrap to a small request.
  int64_t count = 1;
  for (int32_t k = 0; k < ndims; ++k) {
    if (dims[k] < 0) return unallocatable;
    if (dims[k] == 0) count = 0;
  }
  for (int32_t k = 0; k < ndims && count != 0; ++k) {
    count *= dims[k];
    if (count > INT_MAX) return unallocatable;
  }
  return static_cast<int>(count);
}

int32_t DimsNrElements(int32_t ndims, const int32_t* dims) {
  // The product wraps as 32-bit arithmetic does; unsigned, so that wrapping is defined.
  uint32_t count = 1;
  for (int32_t k = 0; k < ndims; ++k) count *= static_cast<uint32_t>(dims[k]);
  return static_cast<int32_t>(count);
}

int32_t LinearIndexFromArgs(int32_t ndims, const int32_t* dims, va_list subscripts) {
  uint32_t r = 0;
  for (int32_t k = 0; k < ndims; ++k) {
    int32_t j = va_arg(subscripts, int32_t);
    int32_t dim = dims[k];
    AssertCondition((j >= 1) && (j <= dim), "(j>=1)&&(j<=dim)", "Index out of bounds");
    r = r * static_cast<uint32_t>(dim) + static_cast<uint32_t>(j - 1);
  }
  return static_cast<int32_t>(r);
}

int32_t LinearIndex(int32_t ndims, const int32_t* dims, ...) {
  va_list subscripts;
  va_start(subscripts, dims);
  int32_t r = LinearIndexFromArgs(ndims, dims, subscripts);
  va_end(subscripts);
  return r;
}

StringArray StringArrayToPermanent(StringArray a) {
  int32_t n = StringNrElements(a);
  for (int32_t k = 0; k < n; ++k) a.data[k] = StringToPermanent(a.data[k]);
  return a;
}

// The entry points of one family. Generated: <Prefix>NrElements, <Prefix>MatchingSizes,
// <Prefix>New, <Prefix>NewFromArgs, <Prefix>DimsFromArgs, <Prefix>NewLike, <Prefix>NewMatrix,
// <Prefix>NewVector, <Prefix>NewNon, <Prefix>NewFromArgsNon and <Prefix>DimsFromArgsNon.
#define ARRAY_FAMILY(Prefix, Array)                                                            \
  int32_t Prefix##NrElements(Array a) { return DimsNrElements(a.ndims, a.dims); }             \
  int Prefix##MatchingSizes(Array a, Array b) { return MatchingSizes(a, b); }                 \
  Array Prefix##DimsFromArgs(int32_t ndims, va_list sizes) {                                   \
    return DimsFromArgs<Array>(temporary, ndims, sizes);                                       \
  }                                                                                            \
  Array Prefix##NewFromArgs(int32_t ndims, va_list sizes) {                                    \
    return NewFromArgs<Array>(temporary, ndims, sizes);                                        \
  }                                                                                            \
  Array Prefix##New(int32_t ndims, ...) {                                                      \
    va_list sizes;                                                                             \
    va_start(sizes, ndims);                                                                    \
    Array a = Prefix##NewFromArgs(ndims, sizes);                                               \
    va_end(sizes);                                                                             \
    return a;                                                                                  \
  }                                                                                            \
  Array Prefix##NewLike(Array a) { return NewLike(a); }                                        \
  Array Prefix##NewMatrix(int32_t rows, int32_t cols) { return NewMatrix<Array>(rows, cols); } \
  Array Prefix##NewVector(int32_t n) { return NewVector<Array>(n); }                           \
  Array Prefix##DimsFromArgsNon(int32_t ndims, va_list sizes) {                                \
    return DimsFromArgs<Array>(permanent, ndims, sizes);                                       \
  }                                                                                            \
  Array Prefix##NewFromArgsNon(int32_t ndims, va_list sizes) {                                 \
    return NewFromArgs<Array>(permanent, ndims, sizes);                                        \
  }                                                                                            \
  Array Prefix##NewNon(int32_t ndims, ...) {                                                   \
    va_list sizes;                                                                             \
    va_start(sizes, ndims);                                                                    \
    Array a = Prefix##NewFromArgsNon(ndims, sizes);                                            \
    va_end(sizes);                                                                             \
    return a;                                                                                  \
  }

ARRAY_FAMILY(Real, RealArray)
ARRAY_FAMILY(Integer, IntegerArray)
ARRAY_FAMILY(String, StringArray)
