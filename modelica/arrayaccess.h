// Element access, assignment, copies and the debug print of the array records (matrixop.h).
//
// Subscripts are 1-based, one int32_t variable argument per dimension of the array (pass int),
// and exactly ndims of them are read; an array with ndims 0 takes none and addresses its single
// element. A subscript outside its dimension fails with "(j>=1)&&(j<=dim)" and "Index out of
// bounds". String members move pointers only: the characters stay shared with the source.
#pragma once

#include <cstdint>

#include "matrixop.h"

// The element at the subscripts that follow a.
double RealGet(RealArray a, ...);
int32_t IntegerGet(IntegerArray a, ...);
char* StringGet(StringArray a, ...);

// Overwrites the element at the subscripts that follow a with value.
void RealSet(double value, RealArray a, ...);
void IntegerSet(int32_t value, IntegerArray a, ...);
void StringSet(char* value, StringArray a, ...);

// The address of the element at the subscripts that follow a, inside a's storage.
double* RealElementAddress(RealArray a, ...);

// The size of dimension i (1-based); i outside 1..ndims fails with "(i>=1)&&(i<=a.ndims)".
int32_t RealSize(RealArray a, int32_t i);
int32_t IntegerSize(IntegerArray a, int32_t i);
int32_t StringSize(StringArray a, int32_t i);

// A new Integer vector of a.ndims elements holding a's sizes in order.
IntegerArray RealSizeVector(RealArray a);
IntegerArray IntegerSizeVector(IntegerArray a);
IntegerArray StringSizeVector(StringArray a);

// a := b, element by element. The shapes must match ("RealMatchingSizes(a,b)" and kin, "Array
// dimensions did not match"); a keeps its sizes and storage. Storage shared with b, even in part,
// reads as it was before the assignment.
void RealAssign(RealArray a, RealArray b);
void IntegerAssign(IntegerArray a, IntegerArray b);
void StringAssign(StringArray a, StringArray b);

// A new array equal to a with its own sizes and elements.
RealArray RealCopy(RealArray a);
IntegerArray IntegerCopy(IntegerArray a);
StringArray StringCopy(StringArray a);

// A new array with its own elements that shares a's sizes vector.
RealArray RealCopyData(RealArray a);

// One message per line: "Dims:  <ndims>", then "  <size>" per dimension, then per element in
// storage order "  [<k>, 1] = <value by %G>" with k its 0-based position (String: the string).
void RealPrint(RealArray a);
void IntegerPrint(IntegerArray a);
void StringPrint(StringArray a);
