// Filling, reshaping and transposition for the three families, and the record-array helpers.
// The logic exists once, as templates over the array record; the entry points of each family are
// stamped out at the end.
#include "reshape.h"

#include <cstdint>

#include "arrayaccess.h"
#include "arrayfamily.h"
#include "externalarrays.h"
#include "errors.h"

namespace {

template <class Array>
Array SetAll(Array a, typename Family<Array>::Element value) {
  const int32_t n = Family<Array>::NrElements(a);
  for (int32_t i = 0; i < n; ++i) a.data[i] = value;
  return a;
}

template <class Array>
Array FillArray(Array A, int k, va_list sizes) {
  // A negative k is a negative count of sizes, which the allocator refuses.
  Array res = NewShape<Array>(k < 0 ? k : k + A.ndims);
  for (int j = 0; j < k; ++j) res.dims[j] = va_arg(sizes, int);
  CopyElements(res.dims + k, A.dims, A.ndims);
  res = WithElements(res);
  const int64_t lenA = Family<Array>::NrElements(A);
  // An empty result may still have a huge number of empty blocks: nothing to visit.
  if (lenA == 0) return res;
  const int64_t c = DimsNrElements(k, res.dims);
  for (int64_t j = 0; j < c; ++j) CopyElements(res.data + j * lenA, A.data, lenA);
  return res;
}

template <class Array>
typename Family<Array>::Element ToScalar(Array a) {
  AssertCondition(Family<Array>::NrElements(a) == 1, Family<Array>::oneElement,
                  "scalar requires exactly one element");
  return a.data[0];
}

template <class Array>
Array ToVector(Array a) {
  bool found_non_one = false;
  for (int32_t j = 0; j < a.ndims; ++j) {
    if (a.dims[j] > 1) {
      AssertCondition(!found_non_one, "!found_non_one",
                      "vector requires exactly one vector non-unit dimension");
      found_non_one = true;
    }
  }
  Array res = NewShape<Array>(1);
  res.dims[0] = Family<Array>::NrElements(a);
  res.data = a.data;
  return res;
}

template <class Array>
Array ToMatrix(Array a) {
  Array res = NewShape<Array>(2);
  // A scalar has no first size to take: it becomes a 1 x 1 view.
  res.dims[0] = a.ndims >= 1 ? a.dims[0] : 1;
  res.dims[1] = a.ndims >= 2 ? a.dims[1] : 1;
  res.data = a.data;
  AssertCondition(Family<Array>::NrElements(a) == Family<Array>::NrElements(res),
                  Family<Array>::sameCountAsRes, "matrix requires size(x,i)=1 for i>2");
  return res;
}

template <class Array>
Array Transpose(Array a) {
  AssertCondition(a.ndims >= 2, "a.ndims>=2", "transpose requires ndims>=2");
  Array res = NewShape<Array>(a.ndims);
  res.dims[0] = a.dims[1];
  res.dims[1] = a.dims[0];
  CopyElements(res.dims + 2, a.dims + 2, a.ndims - 2);
  res = WithElements(res);
  const int64_t rows = a.dims[0];
  const int64_t cols = a.dims[1];
  const int64_t count = DimsNrElements(a.ndims - 2, a.dims + 2);
  if (count == 0) return res;  // the first two sizes may still be huge
  for (int64_t i = 0; i < cols; ++i)
    for (int64_t j = 0; j < rows; ++j)
      CopyElements(res.data + (i * rows + j) * count, a.data + (j * cols + i) * count, count);
  return res;
}

template <class Array>
Array Symmetric(Array a) {
  AssertCondition(a.ndims == 2, "a.ndims==2", "symmetric requires ndims==2");
  AssertCondition(a.dims[0] == a.dims[1], "a.dims[0]==a.dims[1]",
                  "symmetric requires square matrix");
  const int64_t n = a.dims[0];
  Array res = Family<Array>::NewMatrix(a.dims[0], a.dims[0]);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j)
      res.data[i * n + j] = j <= i ? a.data[j * n + i] : a.data[i * n + j];
  return res;
}

template <class Array>
void StridedCopy(Array res, Array a, int depth, int row, int offset, int stride) {
  // Every index stays below the element count, which fits an int; the products are formed wide.
  if (depth < res.ndims - 1) {
    const int count = res.dims[depth];
    for (int i = 0; i < count; ++i) {
      StridedCopy(res, a, depth + 1, static_cast<int>(int64_t{row} * count + i), offset,
                  static_cast<int>(int64_t{stride} * count));
      offset += stride;
    }
    return;
  }
  const int64_t d = res.dims[depth];
  for (int64_t j = 0; j < d; ++j) res.data[d * row + j] = a.data[offset + j * stride];
}

template <class Array>
void ToColumnMajorStart(Array res, Array a) {
  StridedCopy(res, a, 0, 0, 0, 1);
}

template <class Array>
Array ToColumnMajor(Array a) {
  if (a.ndims <= 1) return a;
  Array res = Family<Array>::NewLike(a);
  for (int32_t i = 0; i < a.ndims; ++i) res.dims[i] = a.dims[a.ndims - 1 - i];
  // An empty array may have huge sizes before its size 0: nothing to visit.
  if (Family<Array>::NrElements(res) > 0) ToColumnMajorStart(res, a);
  return res;
}

}  // namespace

// The entry points of one family; Scalar is the type of its fill value.
#define RESHAPE_FAMILY(Prefix, Array, Scalar)                                                \
  Array Prefix##SetAll(Array a, Scalar value) { return SetAll(a, AsElement(value)); }        \
  Array Prefix##Fill(Scalar value, int ndims, ...) {                                         \
    va_list sizes;                                                                           \
    va_start(sizes, ndims);                                                                  \
    Array res = Prefix##NewFromArgs(ndims, sizes);                                           \
    va_end(sizes);                                                                           \
    return Prefix##SetAll(res, value);                                                       \
  }                                                                                          \
  Array Prefix##FillArray(Array A, int k, ...) {                                             \
    va_list sizes;                                                                           \
    va_start(sizes, k);                                                                      \
    Array res = FillArray(A, k, sizes);                                                      \
    va_end(sizes);                                                                           \
    return res;                                                                              \
  }                                                                                          \
  Family<Array>::Element Prefix##ToScalar(Array a) { return ToScalar(a); }                   \
  Array Prefix##ToVector(Array a) { return ToVector(a); }                                    \
  Array Prefix##ToMatrix(Array a) { return ToMatrix(a); }                                    \
  Array Prefix##Transpose(Array a) { return Transpose(a); }                                  \
  Array Prefix##Symmetric(Array a) { return Symmetric(a); }                                  \
  Array Prefix##ToColumnMajor(Array a) { return ToColumnMajor(a); }                          \
  void Prefix##ToColumnMajorStart(Array res, Array a) { ToColumnMajorStart(res, a); }        \
  void Prefix##StridedCopy(Array res, Array a, int depth, int row, int offset, int stride) { \
    StridedCopy(res, a, depth, row, offset, stride);                                         \
  }

RESHAPE_FAMILY(Real, RealArray, double)
RESHAPE_FAMILY(Integer, IntegerArray, int)
RESHAPE_FAMILY(String, StringArray, const char*)

int RecordArraySize(RealArray a, int i) { return RealSize(a, i); }

RealArray RecordArrayElement(int k, int index, RealArray a) { return RealSubArray(k, index, a); }

IntegerArray RecordArrayShrinkSize(RealArray a) {
  IntegerArray b = RealSizeVector(a);
  AssertCondition(b.ndims > 0 && b.dims[0] > 0, "b.ndims>0 && b.dims[0]>0",
                  "Error in record logic");
  b.dims[0] -= 1;
  return b;
}
