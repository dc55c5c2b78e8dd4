// Element access, assignment, copies and printing of the three array families. The logic exists
// once, as templates over the record; ACCESS_FAMILY stamps out the named entry points.
#include "arrayaccess.h"

#include <cstdarg>
#include <cstring>

#include "arrayfamily.h"
#include "errors.h"
#include "messages.h"

namespace {

template <class Array>
auto* ElementAt(Array a, va_list subscripts) {
  return a.data + LinearIndexFromArgs(a.ndims, a.dims, subscripts);
}

template <class Array>
int32_t Size(Array a, int32_t i) {
  AssertCondition((i >= 1) && (i <= a.ndims), "(i>=1)&&(i<=a.ndims)",
                  "Size must be between 1 and ndims of array");
  return a.dims[i - 1];
}

template <class Array>
IntegerArray SizeVector(Array a) {
  IntegerArray sizes = IntegerNewVector(a.ndims);
  for (int32_t k = 0; k < a.ndims; ++k) sizes.data[k] = a.dims[k];
  return sizes;
}

template <class Array>
void CopyElements(typename Family<Array>::Element* to, Array from, int32_t n) {
  // memmove: source and target may share storage, also in part (arrays over C data).
  if (n > 0) memmove(to, from.data, sizeof(*to) * static_cast<size_t>(n));
}

template <class Array>
void Assign(Array a, Array b, int matching, const char* matchingText) {
  int32_t n = DimsNrElements(a.ndims, a.dims);
  AssertCondition(matching, matchingText, "Array dimensions did not match");
  CopyElements(a.data, b, n);
}

template <class Array>
Array CopyOf(Array a, Array shaped) {
  CopyElements(shaped.data, a, DimsNrElements(a.ndims, a.dims));
  return shaped;
}

template <class Array>
void PrintShape(Array a) {
  LogMessageInteger("Dims: ", a.ndims);
  for (int32_t k = 0; k < a.ndims; ++k) LogMessageInteger(" ", a.dims[k]);
}

template <class Array>
void PrintNumbers(Array a) {
  PrintShape(a);
  int32_t n = DimsNrElements(a.ndims, a.dims);
  for (int32_t k = 0; k < n; ++k) LogMessageMatrixElement("", k, 1, static_cast<double>(a.data[k]));
}

}  // namespace

#define ACCESS_FAMILY(Prefix, Array, Element)                                                   \
  Element Prefix##Get(Array a, ...) {                                                          \
    va_list subscripts;                                                                        \
    va_start(subscripts, a);                                                                   \
    Element value = *ElementAt(a, subscripts);                                                 \
    va_end(subscripts);                                                                        \
    return value;                                                                              \
  }                                                                                            \
  void Prefix##Set(Element value, Array a, ...) {                                              \
    va_list subscripts;                                                                        \
    va_start(subscripts, a);                                                                   \
    *ElementAt(a, subscripts) = value;                                                         \
    va_end(subscripts);                                                                        \
  }                                                                                            \
  int32_t Prefix##Size(Array a, int32_t i) { return Size(a, i); }                              \
  IntegerArray Prefix##SizeVector(Array a) { return SizeVector(a); }                           \
  void Prefix##Assign(Array a, Array b) {                                                      \
    Assign(a, b, Prefix##MatchingSizes(a, b), #Prefix "MatchingSizes(a,b)");                   \
  }                                                                                            \
  Array Prefix##Copy(Array a) { return CopyOf(a, Prefix##NewLike(a)); }

ACCESS_FAMILY(Real, RealArray, double)
ACCESS_FAMILY(Integer, IntegerArray, int32_t)
ACCESS_FAMILY(String, StringArray, char*)

double* RealElementAddress(RealArray a, ...) {
  va_list subscripts;
  va_start(subscripts, a);
  double* element = ElementAt(a, subscripts);
  va_end(subscripts);
  return element;
}

RealArray RealCopyData(RealArray a) {
  RealArray copy = a;
  return CopyOf(a, WithElements(copy));
}

void RealPrint(RealArray a) { PrintNumbers(a); }
void IntegerPrint(IntegerArray a) { PrintNumbers(a); }

void StringPrint(StringArray a) {
  PrintShape(a);
  int32_t n = StringNrElements(a);
  for (int32_t k = 0; k < n; ++k) LogMessage(a.data[k] ? a.data[k] : "");
}
