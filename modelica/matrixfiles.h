// Reading and writing matrices of matrix files (MAT-file version 4 binary or the "#1" text
// format) by matrix name, from Modelica code. Matrices are found by exact name in file order; no
// class matrix is required. Array results live in the thread's work buffers and string area like
// every array result. A failure ends the evaluation through AssertCondition (the matrix-file
// library's own text as the message where it failed); the file is closed and the matrix released
// first. RealMatWrite alone reports failure by its result.
#pragma once

#include "matrixop.h"

// The rows x cols matrix named; its stored size must be the same and it must be numeric.
RealArray RealMatReadSized(const char* fileName, const char* matrixName, int rows, int cols);
// {nrow, ncol} of the matrix named.
IntegerArray MatReadSize(const char* fileName, const char* matrixName);
// One row per matrix of the file, in file order: its name and "Integer", "Real" or "Unknown".
StringArray MatReadList(const char* fileName);
// Writes the two-dimensional matrix as a float64 matrix into a new binary file: 1 written, 0 not.
// With append the file's other matrices are kept, in their order, ahead of it (a matrix of the
// same name is replaced); the file is then replaced only once the new one is complete.
int RealMatWrite(const char* fileName, const char* matrixName, const RealArray* matrix, int append);
// The numeric matrix named, of its stored size, as a matrix (ndims 2) or a vector (ndims 1).
RealArray RealMatRead(const char* fileName, const char* matrixName, int ndims);
double RealMatReadScalar(const char* fileName, const char* matrixName);
// The same for an int32 matrix.
IntegerArray IntegerMatRead(const char* fileName, const char* matrixName, int ndims);
int IntegerMatReadScalar(const char* fileName, const char* matrixName);
// The rows of the character matrix named, as a vector (ndims must be 1). Trailing blanks stay.
StringArray StringMatRead(const char* fileName, const char* matrixName, int ndims);
char* StringMatReadScalar(const char* fileName, const char* matrixName);
// Writes n items into a new binary file, each given by four arguments: its name (const char*),
// its type code (int: 1 Integer, 3 Real, 4 String), ndims (int: 0 scalar, 1 vector, 2 matrix),
// and its value (ndims 0: an int, a double or a const char*; else the address of the
// IntegerArray, RealArray or StringArray). Vectors become one column; a String array becomes one
// text row per element, in column-major order.
void MatWriteItems(const char* fileName, int n, ...);
