// Arrays built from scalars and other arrays: the array constructor {a1, a2, ...}, the vector of
// scalars {x1, x2, ...}, cat(k, ...), promotion, a scalar seen as an array of unit dimensions, and
// the slices of one field across an array of records.
//
// Results are new records in the calling thread's work buffers; only promotion returns a view
// (new sizes over the argument's elements). String results hold the arguments' pointers.
//
// An array of records of shape d1 x ... x dm whose records take w 8-byte slots is a RealArray of
// shape d1 x ... x dm x w in all three families; record r (0-based, row-major) starts at byte
// r * w * 8. A field lies at a byte offset inside its record: a Real field is a double, an Integer
// field a 4-byte int, a String field a character pointer, and an array field a whole array record
// (three slots).
#pragma once

#include "matrixop.h"

// n arrays (first, then n - 1 more of the same family as variable arguments), all of first's
// shape, become one array of shape n x first's shape. n of 0 reads no further array.
RealArray RealArrayConstructor(int n, RealArray first, ...);
IntegerArray IntegerArrayConstructor(int n, IntegerArray first, ...);
StringArray StringArrayConstructor(int n, StringArray first, ...);

// A vector of the n scalars that follow (double, int or char* by family).
RealArray RealVectorOfScalars(int n, ...);
IntegerArray IntegerVectorOfScalars(int n, ...);
StringArray StringVectorOfScalars(int n, ...);

// The scalar field at byte fieldOffset of every record of the record array a, in an array of a's
// dimensions less the last.
RealArray RealRecordSlice(RealArray a, int fieldOffset);
IntegerArray IntegerRecordSlice(RealArray a, int fieldOffset);
StringArray StringRecordSlice(RealArray a, int fieldOffset);

// The array field at byte fieldOffset of every record of the non-empty record array a, whose
// fields must all have the same shape: a's dimensions less the last, then the field's.
RealArray RealRecordSliceArray(RealArray a, int fieldOffset);
IntegerArray IntegerRecordSliceArray(RealArray a, int fieldOffset);
StringArray StringRecordSliceArray(RealArray a, int fieldOffset);

// cat(k, first, ...): n >= 1 arrays (first, then n - 1 more) of the same number of dimensions and
// the same sizes except in dimension k (1-based) are joined along k. Every check is made before
// any element is copied.
RealArray RealCat(int k, int n, RealArray first, ...);
IntegerArray IntegerCat(int k, int n, IntegerArray first, ...);
StringArray StringCat(int k, int n, StringArray first, ...);

// A view of a with n >= a.ndims dimensions: a's sizes followed by sizes of 1, over a's elements.
RealArray RealPromote(RealArray a, int n);
IntegerArray IntegerPromote(IntegerArray a, int n);
StringArray StringPromote(StringArray a, int n);

// An array of ndims dimensions of size 1 holding the value.
RealArray RealScalarToArray(double value, int ndims);
IntegerArray IntegerScalarToArray(int value, int ndims);
StringArray StringScalarToArray(const char* value, int ndims);
