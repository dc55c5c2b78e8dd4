// The three element families as the templates of the array operations see them: the element
// type, the allocator, the constructors and the condition texts that name the family's own
// functions. Private to the array runtime.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>

#include "matrixop.h"
#include "workbuffers.h"

template <class Array>
struct Family;

#define ARRAY_FAMILY_TRAITS(Prefix, ArrayType, ElementType, Allocator)                         \
  template <>                                                                                  \
  struct Family<ArrayType> {                                                                   \
    using Element = ElementType;                                                               \
    static Element* Allocate(int n) { return Allocator(n); }                                   \
    static int32_t NrElements(ArrayType a) { return Prefix##NrElements(a); }                   \
    static int MatchingSizes(ArrayType a, ArrayType b) { return Prefix##MatchingSizes(a, b); } \
    static ArrayType NewLike(ArrayType a) { return Prefix##NewLike(a); }                       \
    static ArrayType NewVector(int32_t n) { return Prefix##NewVector(n); }                     \
    static ArrayType NewMatrix(int32_t rows, int32_t cols) {                                   \
      return Prefix##NewMatrix(rows, cols);                                                    \
    }                                                                                          \
    static ArrayType NewFromArgs(int32_t ndims, va_list sizes) {                               \
      return Prefix##NewFromArgs(ndims, sizes);                                                \
    }                                                                                          \
    static constexpr const char* matchingFirstNext = #Prefix "MatchingSizes(first,next)";      \
    static constexpr const char* matchingElemiElem = #Prefix "MatchingSizes(elemi,elem)";      \
    static constexpr const char* matchingAB = #Prefix "MatchingSizes(a,b)";                    \
    static constexpr const char* matchingResA = #Prefix "MatchingSizes(res,a)";                \
    static constexpr const char* oneElement = #Prefix "NrElements(a)==1";                      \
    static constexpr const char* sameCountAsRes =                                              \
        #Prefix "NrElements(a)==" #Prefix "NrElements(res)";                                   \
  };

ARRAY_FAMILY_TRAITS(Real, RealArray, double, AllocateReals)
ARRAY_FAMILY_TRAITS(Integer, IntegerArray, int32_t, AllocateIntegers)
ARRAY_FAMILY_TRAITS(String, StringArray, char*, AllocateStrings)

#undef ARRAY_FAMILY_TRAITS

// A record of ndims dimensions whose sizes come from Sizebuffer, to be filled by the caller;
// data is left unset.
template <class Array>
Array NewShape(int32_t ndims) {
  Array a;
  a.ndims = ndims;
  a.dims = AllocateSizes(ndims);
  a.data = nullptr;
  return a;
}

// The elements of a record whose sizes are set; a shape outside the data model is refused by the
// allocator.
template <class Array>
Array WithElements(Array a) {
  a.data = Family<Array>::Allocate(ElementsToAllocate(a.ndims, a.dims));
  return a;
}

// Copies n elements (pointers only, for strings); nothing for n of 0 or less.
template <class Element>
void CopyElements(Element* to, const Element* from, int64_t n) {
  if (n > 0) memcpy(to, from, static_cast<size_t>(n) * sizeof(Element));
}

// A scalar argument as the element it becomes: String arguments come as const pointers, and the
// array stores them as they are.
inline double AsElement(double value) { return value; }
inline int32_t AsElement(int value) { return value; }
inline char* AsElement(const char* value) { return const_cast<char*>(value); }
