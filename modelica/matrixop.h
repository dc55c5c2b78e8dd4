// The Modelica array runtime: array records, their shapes and their construction.
//
// An array is a record of three words passed and returned by value: the number of dimensions,
// the sizes (first dimension first) and the elements in row-major order (the last subscript varies
// fastest). A record owns nothing. Its sizes and elements lie in the calling thread's work buffers
// (released together when a MarkRestore or MarkReset moves the thread's mark back below them), in
// the process-wide "Non" pools (never released), or in memory of the caller. Several records may
// share sizes or elements. Boolean arrays are IntegerArrays of 0 and 1; arrays of records are
// RealArrays whose last dimension is the record size in 8-byte words; String arrays hold pointers
// only, the characters live where their producer put them.
//
// Every operation exists once per element family, with the prefix Real, Integer or String and the
// same checks. Sizes and subscripts that follow a fixed argument are variable arguments of type
// int32_t (pass int, never size_t or long); exactly as many are read as the fixed arguments
// announce. Each variadic constructor has a companion taking an opened va_list.
//
// A failed check ends the evaluation through AssertCondition; no operation returns an error code.
// Sizes are 0 or more and an element count must fit in an int32_t: a constructor given a negative
// size, or a shape whose count does not fit, fails as an element buffer that is too small does.
#pragma once

#include <cstdarg>
#include <cstdint>

struct RealArray {
  int32_t ndims;  // 0 for a scalar held as an array
  int32_t* dims;
  double* data;
};

struct IntegerArray {
  int32_t ndims;
  int32_t* dims;
  int32_t* data;
};

struct StringArray {
  int32_t ndims;
  int32_t* dims;
  char** data;
};

// ---- Shapes --------------------------------------------------------------------------------

// 1 when ndims is 0 or less, else the product of the sizes in 32-bit arithmetic.
int32_t DimsNrElements(int32_t ndims, const int32_t* dims);
int32_t RealNrElements(RealArray a);
int32_t IntegerNrElements(IntegerArray a);
int32_t StringNrElements(StringArray a);

// The number of elements to request from an allocator for a shape: its element count, or INT_MAX
// (which no buffer grants) when a size is negative or the count does not fit in an int32_t.
int ElementsToAllocate(int32_t ndims, const int32_t* dims);

// 1 when a and b have the same ndims and equal sizes in every dimension (two arrays with the same
// ndims of 0 or less match), else 0.
int RealMatchingSizes(RealArray a, RealArray b);
int IntegerMatchingSizes(IntegerArray a, IntegerArray b);
int StringMatchingSizes(StringArray a, StringArray b);

// The 0-based row-major position of the element with the ndims 1-based subscripts that follow.
// A subscript outside 1..size fails with "(j>=1)&&(j<=dim)" and "Index out of bounds".
int32_t LinearIndex(int32_t ndims, const int32_t* dims, ...);
int32_t LinearIndexFromArgs(int32_t ndims, const int32_t* dims, va_list subscripts);

// ---- Construction from the thread's work buffers -------------------------------------------
// Sizes come from Sizebuffer (AllocateSizes), always before the elements; elements are not
// initialised.

// ndims, then ndims sizes.
RealArray RealNew(int32_t ndims, ...);
IntegerArray IntegerNew(int32_t ndims, ...);
StringArray StringNew(int32_t ndims, ...);
RealArray RealNewFromArgs(int32_t ndims, va_list sizes);
IntegerArray IntegerNewFromArgs(int32_t ndims, va_list sizes);
StringArray StringNewFromArgs(int32_t ndims, va_list sizes);

// Only ndims and the sizes; data is left for the caller to set.
RealArray RealDimsFromArgs(int32_t ndims, va_list sizes);
IntegerArray IntegerDimsFromArgs(int32_t ndims, va_list sizes);
StringArray StringDimsFromArgs(int32_t ndims, va_list sizes);

// The shape of a in fresh sizes and fresh elements; shares nothing with a.
RealArray RealNewLike(RealArray a);
IntegerArray IntegerNewLike(IntegerArray a);
StringArray StringNewLike(StringArray a);

RealArray RealNewMatrix(int32_t rows, int32_t cols);
IntegerArray IntegerNewMatrix(int32_t rows, int32_t cols);
StringArray StringNewMatrix(int32_t rows, int32_t cols);

RealArray RealNewVector(int32_t n);
IntegerArray IntegerNewVector(int32_t n);
StringArray StringNewVector(int32_t n);

// ---- Permanent construction from the "Non" pools -------------------------------------------
// As above; the storage lives until the process ends. One thread at a time.

RealArray RealNewNon(int32_t ndims, ...);
IntegerArray IntegerNewNon(int32_t ndims, ...);
StringArray StringNewNon(int32_t ndims, ...);
RealArray RealNewFromArgsNon(int32_t ndims, va_list sizes);
IntegerArray IntegerNewFromArgsNon(int32_t ndims, va_list sizes);
StringArray StringNewFromArgsNon(int32_t ndims, va_list sizes);
RealArray RealDimsFromArgsNon(int32_t ndims, va_list sizes);
IntegerArray IntegerDimsFromArgsNon(int32_t ndims, va_list sizes);
StringArray StringDimsFromArgsNon(int32_t ndims, va_list sizes);

// ---- Strings that outlive the evaluation ----------------------------------------------------

// Replaces every element by StringToPermanent of it, in the element vector a and the result
// share, and returns a.
StringArray StringArrayToPermanent(StringArray a);
