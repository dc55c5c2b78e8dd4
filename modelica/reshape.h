// Filling arrays, converting between scalars, vectors and matrices, transposition, the symmetric
// matrix of a square matrix, the column-major copy of the matrix-file functions, and size and
// element questions about arrays of records (RealArrays whose last dimension is the record size).
//
// Which results share storage with their argument:
//   set all                         the argument itself, its elements overwritten
//   to vector, to matrix            new sizes over the argument's elements (a view)
//   to column-major, ndims <= 1     the argument itself
//   record-array element            the argument's sizes and elements, advanced (a view)
//   everything else                 new sizes and new elements
#pragma once

#include <cstdarg>

#include "matrixop.h"

// Every element of a set to value; returns a.
RealArray RealSetAll(RealArray a, double value);
IntegerArray IntegerSetAll(IntegerArray a, int value);
StringArray StringSetAll(StringArray a, const char* value);

// A new array of the ndims sizes that follow, every element value.
RealArray RealFill(double value, int ndims, ...);
IntegerArray IntegerFill(int value, int ndims, ...);
StringArray StringFill(const char* value, int ndims, ...);

// A new array of the k sizes that follow, then A's sizes; every block is a copy of A.
RealArray RealFillArray(RealArray A, int k, ...);
IntegerArray IntegerFillArray(IntegerArray A, int k, ...);
StringArray StringFillArray(StringArray A, int k, ...);

// The one element of an array of any number of dimensions holding exactly one.
double RealToScalar(RealArray a);
int IntegerToScalar(IntegerArray a);
char* StringToScalar(StringArray a);

// a as a vector; at most one of its sizes may exceed 1.
RealArray RealToVector(RealArray a);
IntegerArray IntegerToVector(IntegerArray a);
StringArray StringToVector(StringArray a);

// a as a matrix of size(a,1) x size(a,2) (x 1 for a vector, 1 x 1 for a scalar); the sizes
// beyond the second must be 1.
RealArray RealToMatrix(RealArray a);
IntegerArray IntegerToMatrix(IntegerArray a);
StringArray StringToMatrix(StringArray a);

// The first two dimensions exchanged; trailing dimensions move whole with their blocks.
RealArray RealTranspose(RealArray a);
IntegerArray IntegerTranspose(IntegerArray a);
StringArray StringTranspose(StringArray a);

// A new square matrix with a's diagonal and upper triangle, the upper triangle mirrored below.
RealArray RealSymmetric(RealArray a);
IntegerArray IntegerSymmetric(IntegerArray a);
StringArray StringSymmetric(StringArray a);

// a with its sizes reversed and its elements reordered so that the result read in row-major
// order lists a's elements in column-major order: res(i0, ..., im) = a(im, ..., i0). An argument
// of 0 or 1 dimension is returned as it is.
RealArray RealToColumnMajor(RealArray a);
IntegerArray IntegerToColumnMajor(IntegerArray a);
StringArray StringToColumnMajor(StringArray a);

// The copy behind it: res (already of the reversed shape) receives a's elements.
void RealToColumnMajorStart(RealArray res, RealArray a);
void IntegerToColumnMajorStart(IntegerArray res, IntegerArray a);
void StringToColumnMajorStart(StringArray res, StringArray a);
// One level of that copy: dimension depth of res, for the result row reached so far and a's
// elements from offset on, stride apart.
void RealStridedCopy(RealArray res, RealArray a, int depth, int row, int offset, int stride);
void IntegerStridedCopy(IntegerArray res, IntegerArray a, int depth, int row, int offset,
                        int stride);
void StringStridedCopy(StringArray res, StringArray a, int depth, int row, int offset, int stride);

// The size of dimension i (1-based) of a record array; the last one is the record size.
int RecordArraySize(RealArray a, int i);
// The view of sub-array index (0-based, row-major) under the first k dimensions of a.
RealArray RecordArrayElement(int k, int index, RealArray a);
// The sizes of a record array without the record size: {d1, ..., dm} of d1 x ... x dm x w.
IntegerArray RecordArrayShrinkSize(RealArray a);
