// Elementwise array arithmetic and reductions of the Real and Integer (also Boolean) families.
//
// The in-place forms take the result first, write it position by position after reading the
// same position of the arguments, and return it; the result may be one of the arguments
// (a := a + b). The New forms make the result like a and run the in-place form on it. Integer
// arithmetic is 32-bit two's complement and wraps on overflow. Elements are visited in storage
// order and the Real reductions accumulate in that order.
#pragma once

#include "matrixop.h"

RealArray RealAdd(RealArray res, RealArray a, RealArray b);
IntegerArray IntegerAdd(IntegerArray res, IntegerArray a, IntegerArray b);
RealArray RealAddNew(RealArray a, RealArray b);
IntegerArray IntegerAddNew(IntegerArray a, IntegerArray b);

RealArray RealSubtract(RealArray res, RealArray a, RealArray b);
IntegerArray IntegerSubtract(IntegerArray res, IntegerArray a, IntegerArray b);
RealArray RealSubtractNew(RealArray a, RealArray b);
IntegerArray IntegerSubtractNew(IntegerArray a, IntegerArray b);

// res[i] = s * a[i].
RealArray RealScale(RealArray res, RealArray a, double s);
IntegerArray IntegerScale(IntegerArray res, IntegerArray a, int s);
RealArray RealScaleNew(RealArray a, double s);
IntegerArray IntegerScaleNew(IntegerArray a, int s);

// res[i] = -a[i]; a Real 0 becomes -0.
RealArray RealNegate(RealArray res, RealArray a);
IntegerArray IntegerNegate(IntegerArray res, IntegerArray a);
RealArray RealNegateNew(RealArray a);
IntegerArray IntegerNegateNew(IntegerArray a);

// A new array a * (1 / t): the reciprocal is formed once, so an element may differ in the last
// bit from a[i] / t. t of either sign of zero fails.
RealArray RealScaleDiv(RealArray a, double t);

// Reductions over all elements (one for an array of 0 dimensions). An empty array gives the
// starting value: 0 for the sums, 1 for the products, -DBL_MAX / INT_MIN for the maxima and
// DBL_MAX / INT_MAX for the minima. The comparisons are strict, so max and min skip a NaN.
double RealSum(RealArray a);
int IntegerSum(IntegerArray a);
double RealSumAbs(RealArray a);
int IntegerSumAbs(IntegerArray a);
double RealMax(RealArray a);
int IntegerMax(IntegerArray a);
double RealMin(RealArray a);
int IntegerMin(IntegerArray a);
double RealProduct(RealArray a);
int IntegerProduct(IntegerArray a);

// The sum over i of abs((a[i] - b[i]) / (abs(a[i]) + 1)); a and b need the same element count,
// not the same shape.
double RealDiff(RealArray a, RealArray b);

// floor of every element, in an Integer array that shares a's ndims and sizes.
IntegerArray RealToInteger(RealArray a);
// floor(x) as an int; beyond the int range it saturates, and NaN gives 0.
int FloorToInteger(double x);
