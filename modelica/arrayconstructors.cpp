// Array constructors, concatenation, promotion and record slices. The logic exists once, as
// templates over the array record; the entry points of each family are stamped out at the end.
#include "arrayconstructors.h"

#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "arrayfamily.h"
#include "errors.h"

namespace {

template <class Array>
Array ArrayConstructor(int n, Array first, va_list more) {
  using F = Family<Array>;
  AssertCondition(n >= 0, "n>=0", "Number of arrays in array must not be negative");
  Array res = NewShape<Array>(first.ndims + 1);
  res.dims[0] = n;
  CopyElements(res.dims + 1, first.dims, first.ndims);
  res = WithElements(res);
  const int64_t d = F::NrElements(first);
  for (int i = 0; i < n; ++i) {
    Array next = i == 0 ? first : va_arg(more, Array);
    AssertCondition(F::MatchingSizes(first, next), F::matchingFirstNext,
                    "Arrays in array must be of equal sizes");
    CopyElements(res.data + i * d, next.data, d);
  }
  return res;
}

// The byte offset of a field must leave the whole field inside its record: anything else would
// read beyond the record array.
void CheckRecordField(RealArray a, int fieldOffset, size_t fieldSize) {
  AssertCondition(a.ndims >= 1, "a.ndims>=1", "Can only make record slices of record arrays");
  const int64_t recordBytes = int64_t{8} * a.dims[a.ndims - 1];
  AssertCondition(fieldOffset >= 0 && fieldOffset + static_cast<int64_t>(fieldSize) <= recordBytes,
                  "fieldOffset>=0 && fieldOffset+fieldSize<=recordSize",
                  "Record field lies outside the record");
}

// The bytes of record i's field; read with memcpy, since record storage is double storage.
const char* RecordField(RealArray a, int64_t i, int fieldOffset) {
  const int64_t w = a.dims[a.ndims - 1];
  return reinterpret_cast<const char*>(a.data) + i * w * 8 + fieldOffset;
}

template <class Array>
Array RecordSlice(RealArray a, int fieldOffset) {
  using Element = typename Family<Array>::Element;
  CheckRecordField(a, fieldOffset, sizeof(Element));
  Array res = NewShape<Array>(a.ndims - 1);
  CopyElements(res.dims, a.dims, a.ndims - 1);
  res = WithElements(res);
  const int32_t count = Family<Array>::NrElements(res);
  for (int32_t i = 0; i < count; ++i)
    memcpy(&res.data[i], RecordField(a, i, fieldOffset), sizeof(Element));
  return res;
}

template <class Array>
Array RecordSliceArray(RealArray a, int fieldOffset) {
  using F = Family<Array>;
  AssertCondition(RealNrElements(a) > 0, "RealNrElements(a)>0",
                  "Can only make record slices of non-empty arrays");
  CheckRecordField(a, fieldOffset, sizeof(Array));
  const int32_t m = a.ndims;
  Array elem;
  memcpy(&elem, RecordField(a, 0, fieldOffset), sizeof elem);
  Array res = NewShape<Array>(m - 1 + elem.ndims);
  CopyElements(res.dims, a.dims, m - 1);
  CopyElements(res.dims + (m - 1), elem.dims, elem.ndims);
  const int64_t lenElem = F::NrElements(elem);
  const int64_t lenTemp = F::NrElements(res);
  const int64_t lenA = RealNrElements(a) / a.dims[m - 1];
  AssertCondition(lenTemp == lenA * lenElem, "lenTemp==lenA*lenElem", "Consistency");
  res = WithElements(res);
  for (int64_t i = 0; i < lenA; ++i) {
    Array elemi;
    memcpy(&elemi, RecordField(a, i, fieldOffset), sizeof elemi);
    AssertCondition(F::MatchingSizes(elemi, elem), F::matchingElemiElem,
                    "Can only slice homogenous record arrays");
    CopyElements(res.data + i * lenElem, elemi.data, lenElem);
  }
  return res;
}

template <class Array>
Array Cat(int k, int n, Array first, va_list more) {
  AssertCondition(n >= 1, "n>=1", "cat requires at least one array");
  AssertCondition(k >= 1 && k <= first.ndims, "(k>=1)&&(k<=first.ndims)",
                  "Dimension of cat must be between 1 and the number of dimensions");
  Array res = NewShape<Array>(first.ndims);
  CopyElements(res.dims, first.dims, first.ndims);
  // The joined size is summed wide: a sum beyond int32 is refused by the allocator.
  int64_t joined = first.dims[k - 1];
  va_list checks;
  va_copy(checks, more);
  for (int i = 1; i < n; ++i) {
    Array a = va_arg(checks, Array);
    AssertCondition(a.ndims == first.ndims, "a.ndims==first.ndims",
                    "Number of dimensions must match for cat");
    for (int32_t j = 0; j < a.ndims; ++j)
      if (j != k - 1)
        AssertCondition(first.dims[j] == a.dims[j], "first.dims[j]==a.dims[j]",
                        "Sizes must match for cat");
    joined += a.dims[k - 1];
  }
  va_end(checks);
  res.dims[k - 1] = joined <= INT_MAX ? static_cast<int32_t>(joined) : -1;
  res = WithElements(res);
  // An empty result may have huge sizes beside its size 0: nothing to copy.
  if (Family<Array>::NrElements(res) == 0) return res;

  int64_t outer = 1;
  for (int32_t j = 0; j < k - 1; ++j) outer *= res.dims[j];
  int64_t inner = 1;
  for (int32_t j = k; j < res.ndims; ++j) inner *= res.dims[j];
  const int64_t R = res.dims[k - 1];
  int64_t offset = 0;
  for (int i = 0; i < n; ++i) {
    Array a = i == 0 ? first : va_arg(more, Array);
    const int64_t s = a.dims[k - 1];
    // Each outer block of a is one run of s * inner elements.
    for (int64_t o = 0; o < outer; ++o)
      CopyElements(res.data + (o * R + offset) * inner, a.data + o * s * inner, s * inner);
    offset += s;
  }
  return res;
}

template <class Array>
Array Promote(Array a, int n) {
  AssertCondition(n >= a.ndims, "n>=a.ndims", "Promote cannot decrease number of dimensions");
  Array res = NewShape<Array>(n);
  CopyElements(res.dims, a.dims, a.ndims);
  for (int j = a.ndims < 0 ? 0 : a.ndims; j < n; ++j) res.dims[j] = 1;
  res.data = a.data;
  return res;
}

template <class Array>
Array ScalarToArray(typename Family<Array>::Element value, int ndims) {
  Array res = NewShape<Array>(ndims);
  for (int j = 0; j < ndims; ++j) res.dims[j] = 1;
  res.data = Family<Array>::Allocate(1);
  res.data[0] = value;
  return res;
}

}  // namespace

// The entry points of one family; Scalar is the type of its variadic scalars.
#define CONSTRUCTOR_FAMILY(Prefix, Array, Scalar)                     \
  Array Prefix##ArrayConstructor(int n, Array first, ...) {           \
    va_list more;                                                     \
    va_start(more, first);                                            \
    Array res = ArrayConstructor(n, first, more);                     \
    va_end(more);                                                     \
    return res;                                                       \
  }                                                                   \
  Array Prefix##VectorOfScalars(int n, ...) {                         \
    Array res = Prefix##NewVector(n);                                 \
    va_list values;                                                   \
    va_start(values, n);                                              \
    for (int i = 0; i < n; ++i) res.data[i] = va_arg(values, Scalar); \
    va_end(values);                                                   \
    return res;                                                       \
  }                                                                   \
  Array Prefix##RecordSlice(RealArray a, int fieldOffset) {           \
    return RecordSlice<Array>(a, fieldOffset);                        \
  }                                                                   \
  Array Prefix##RecordSliceArray(RealArray a, int fieldOffset) {      \
    return RecordSliceArray<Array>(a, fieldOffset);                   \
  }                                                                   \
  Array Prefix##Cat(int k, int n, Array first, ...) {                 \
    va_list more;                                                     \
    va_start(more, first);                                            \
    Array res = Cat(k, n, first, more);                               \
    va_end(more);                                                     \
    return res;                                                       \
  }                                                                   \
  Array Prefix##Promote(Array a, int n) { return Promote(a, n); }

CONSTRUCTOR_FAMILY(Real, RealArray, double)
CONSTRUCTOR_FAMILY(Integer, IntegerArray, int)
CONSTRUCTOR_FAMILY(String, StringArray, char*)

RealArray RealScalarToArray(double value, int ndims) {
  return ScalarToArray<RealArray>(value, ndims);
}

IntegerArray IntegerScalarToArray(int value, int ndims) {
  return ScalarToArray<IntegerArray>(value, ndims);
}

StringArray StringScalarToArray(const char* value, int ndims) {
  return ScalarToArray<StringArray>(AsElement(value), ndims);
}
